#include "masks.h"

#include <cstdlib>
#include <cstring>

#include "../base/chain.h"
#include "text.h"

// Copies at most size - 1 bytes, whole characters, and terminates.
static void CopyCut(const CodePage& cp, char* dst, size_t size, const char* src, size_t len) {
  len = CharCut(cp, src, len, size - 1);
  memcpy(dst, src, len);
  dst[len] = '\0';
}

void SplitPath(const char* path, char* drive, char* directory, char* name, char* extension,
               const CodePage* codePage) {
  CodePage cp = codePage != nullptr ? *codePage : AnsiCodePage();
  const char* rest = path;
  if (path[0] != '\0' && path[1] == ':') rest = path + 2;
  if (drive != nullptr) CopyCut(cp, drive, 3, path, static_cast<size_t>(rest - path));
  size_t afterSep = 0;
  size_t lastDot = SIZE_MAX;
  size_t i = 0;
  for (size_t n; (n = CharBytes(cp, rest + i)) != 0; i += n) {
    char c = rest[i];
    if (n == 1 && (c == '\\' || c == '/')) afterSep = i + 1;
    if (n == 1 && c == '.') lastDot = i;
  }
  size_t end = i;
  size_t nameEnd = (lastDot != SIZE_MAX && lastDot >= afterSep) ? lastDot : end;
  if (directory != nullptr) CopyCut(cp, directory, kPartSize, rest, afterSep);
  if (name != nullptr) CopyCut(cp, name, kPartSize, rest + afterSep, nameEnd - afterSep);
  if (extension != nullptr) {
    CopyCut(cp, extension, kPartSize, rest + nameEnd, end - nameEnd);
  }
}

// The recursion of the wildcard rule visits states (text position, pattern
// position); a state that failed once fails again, so each is tried once.
// That keeps the work within length(text) x length(pattern) x length(text)
// whatever the pattern, with the same answers.
struct WildcardMemo {
  CodePage cp;  // under UTF-8 the rule steps by code points, else by bytes
  const char* text;
  const char* pattern;
  size_t textLen;
  size_t patternLen;
  unsigned char* failed;  // bit per state; null: no memory, plain recursion
};

static bool Failed(const WildcardMemo& m, size_t t, size_t p) {
  if (m.failed == nullptr) return false;
  size_t bit = t * (m.patternLen + 1) + p;
  return (m.failed[bit / 8] >> (bit % 8)) & 1;
}

static void MarkFailed(const WildcardMemo& m, size_t t, size_t p) {
  if (m.failed == nullptr) return;
  size_t bit = t * (m.patternLen + 1) + p;
  m.failed[bit / 8] = static_cast<unsigned char>(m.failed[bit / 8] | (1u << (bit % 8)));
}

static bool MatchFrom(const WildcardMemo& m, size_t t, size_t p);

static size_t Step(const WildcardMemo& m, const char* at) {
  return m.cp.form == kUtf8 ? CharBytes(m.cp, at) : 1;
}

// Whether the character of the pattern at p (n bytes) matches the text's at t.
static bool SameChar(const WildcardMemo& m, size_t t, size_t p, size_t n) {
  if (m.pattern[p] == '?' && n == 1) return true;
  return Step(m, m.text + t) == n && memcmp(m.text + t, m.pattern + p, n) == 0;
}

static bool MatchStar(const WildcardMemo& m, size_t t, size_t p) {
  if (p + 1 == m.patternLen) return true;  // a final "*" takes the rest
  size_t x = Step(m, m.pattern + p + 1);
  for (size_t i = t; i < m.textLen; i += Step(m, m.text + i)) {
    if (SameChar(m, i, p + 1, x) && MatchFrom(m, i + Step(m, m.text + i), p + 1 + x)) {
      return true;
    }
  }
  return false;
}

static bool MatchFrom(const WildcardMemo& m, size_t t, size_t p) {
  if (p == m.patternLen) return t == m.textLen;
  if (Failed(m, t, p)) return false;
  bool result;
  size_t n = Step(m, m.pattern + p);
  if (m.pattern[p] == '*') {
    result = MatchStar(m, t, p);
  } else if (t == m.textLen || !SameChar(m, t, p, n)) {
    result = false;
  } else {
    result = MatchFrom(m, t + Step(m, m.text + t), p + n);
  }
  if (!result) MarkFailed(m, t, p);
  return result;
}

// Only a "*" with something after it makes the rule branch.
static bool CanBranch(const char* pattern, size_t len) {
  const char* star = static_cast<const char*>(memchr(pattern, '*', len));
  return star != nullptr && static_cast<size_t>(star - pattern) + 1 < len;
}

bool MatchWildcard(const char* text, const char* pattern, const CodePage* codePage) {
  WildcardMemo m;
  m.cp = codePage != nullptr ? *codePage : AnsiCodePage();
  m.text = text;
  m.pattern = pattern;
  m.textLen = strlen(text);
  m.patternLen = strlen(pattern);
  m.failed = nullptr;
  if (!CanBranch(pattern, m.patternLen)) return MatchFrom(m, 0, 0);
  // Parts of masks and names hold 255 bytes: their states fit here.
  unsigned char local[kPartSize * kPartSize / 8 + 1];
  size_t bytes = (m.textLen + 1) * (m.patternLen + 1) / 8 + 1;
  bool onHeap = bytes > sizeof local;
  m.failed = onHeap ? static_cast<unsigned char*>(calloc(bytes, 1)) : local;
  if (!onHeap) memset(local, 0, bytes);
  bool result = MatchFrom(m, 0, 0);
  if (onHeap) free(m.failed);
  return result;
}

struct MaskParts {
  char directory[kPartSize + 2];  // drive and directory
  char name[kPartSize];
  char extension[kPartSize];
};

static void SplitCandidate(const CodePage& cp, const char* candidate, MaskParts* parts) {
  char drive[3];
  char directory[kPartSize];
  SplitPath(candidate, drive, directory, parts->name, parts->extension, &cp);
  size_t driveLen = strlen(drive);
  memcpy(parts->directory, drive, driveLen);
  memcpy(parts->directory + driveLen, directory, strlen(directory) + 1);
  if (parts->extension[0] == '.') {
    memmove(parts->extension, parts->extension + 1, strlen(parts->extension));
  }
}

// The host's fields are read up to their size, NUL or not.
static void UpperField(const char* field, size_t width, char* out, size_t size) {
  char text[kPartSize + 2];
  size_t len = strnlen(field, width < sizeof text ? width : sizeof text - 1);
  memcpy(text, field, len);
  text[len] = '\0';
  UpperText(text, out, size);
}

static void UpperMask(const FileMaskEntry* entry, MaskParts* parts) {
  UpperField(entry->directory, sizeof parts->directory - 1, parts->directory,
             sizeof parts->directory);
  UpperField(entry->name, kPartSize - 1, parts->name, kPartSize);
  UpperField(entry->extension, kPartSize - 1, parts->extension, kPartSize);
}

// "*.*" without a directory takes every name: a final "*" takes the rest,
// and a wide mask takes all below its (empty) directory.
static bool TakesEveryName(const FileMaskEntry* entry) {
  return entry->directory[0] == '\0' && strcmp(entry->name, "*") == 0 &&
         strcmp(entry->extension, "*") == 0;
}

static bool MatchParts(const CodePage& cp, const MaskParts& name, const FileMaskEntry* entry) {
  MaskParts mask;
  UpperMask(entry, &mask);
  if (!MatchWildcard(name.extension, mask.extension, &cp)) return false;
  if (!MatchWildcard(name.name, mask.name, &cp)) return false;
  // A wide mask (its name starts with "*") takes its directory and all
  // below; a narrow one only its directory itself.
  if (mask.name[0] == '*') {
    return strncmp(name.directory, mask.directory, strlen(mask.directory)) == 0;
  }
  return strcmp(name.directory, mask.directory) == 0;
}

bool MatchFileMask(const char* candidate, const FileMaskEntry* entry) {
  CodePage cp = AnsiCodePage();
  MaskParts name;
  SplitCandidate(cp, candidate, &name);
  return MatchParts(cp, name, entry);
}

bool MatchFileMaskList(const char* candidate, const FileMaskList* list) {
  if (list->first == nullptr) return true;
  // A mask that takes every name spares the name any work at all.
  for (const FileMaskEntry* e = list->first; e != nullptr; e = e->next) {
    if (TakesEveryName(e)) return true;
  }
  CodePage cp = AnsiCodePage();
  char name[kPartSize];
  char upper[kPartSize];
  CopyCut(cp, name, sizeof name, candidate, strnlen(candidate, sizeof name - 1));
  UseBackslashes(name);
  // The same upper-casing as the masks get, so that every name matches a
  // mask that spells it, in any case.
  UpperText(name, upper, sizeof upper);
  MaskParts parts;  // split once for all masks
  SplitCandidate(cp, upper, &parts);
  for (const FileMaskEntry* e = list->first; e != nullptr; e = e->next) {
    if (MatchParts(cp, parts, e)) return true;
  }
  return false;
}

FileMaskList* InitMaskList(FileMaskList* list) {
  list->first = nullptr;
  list->last = nullptr;
  return list;
}

uint8_t AppendMask(const char* mask, FileMaskList* list) {
  CodePage cp = AnsiCodePage();
  char path[kPartSize];
  CopyCut(cp, path, sizeof path, mask, strnlen(mask, sizeof path - 1));
  UseBackslashes(path);
  MaskParts parts;
  char drive[3];
  char directory[kPartSize];
  SplitPath(path, drive, directory, parts.name, parts.extension, &cp);
  size_t driveLen = strlen(drive);
  size_t dirLen = strlen(directory);
  char* combined = static_cast<char*>(malloc(driveLen + dirLen + 1));
  FileMaskEntry* entry = static_cast<FileMaskEntry*>(calloc(1, sizeof(FileMaskEntry)));
  if (combined == nullptr || entry == nullptr) {
    free(combined);
    free(entry);
    return 0;
  }
  memcpy(combined, drive, driveLen);
  memcpy(combined + driveLen, directory, dirLen + 1);
  entry->directory = combined;
  memcpy(entry->name, parts.name, strlen(parts.name) + 1);
  // The extension is kept without its dot; none leaves the field all zero.
  if (parts.extension[0] == '.') {
    memcpy(entry->extension, parts.extension + 1, strlen(parts.extension));
  }
  AppendNode(&list->first, &list->last, entry);
  return 1;
}

static void FreeDirectory(FileMaskEntry* entry) { free(entry->directory); }

void DoneMaskList(FileMaskList* list) {
  FreeChain(list->first, FreeDirectory);
  InitMaskList(list);
}
