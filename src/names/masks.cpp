#include "masks.h"

#include <cstdlib>
#include <cstring>

#include "../base/chain.h"
#include "../platform/platform.h"
#include "text.h"

// Copies at most size - 1 bytes and terminates.
static void CopyCut(char* dst, size_t size, const char* src, size_t len) {
  if (len > size - 1) len = size - 1;
  memcpy(dst, src, len);
  dst[len] = '\0';
}

void SplitPath(const char* path, char* drive, char* directory, char* name,
               char* extension) {
  const char* rest = path;
  if (path[0] != '\0' && path[1] == ':') rest = path + 2;
  if (drive != nullptr) CopyCut(drive, 3, path, static_cast<size_t>(rest - path));
  size_t afterSep = 0;
  size_t lastDot = SIZE_MAX;
  size_t i = 0;
  while (rest[i] != '\0') {
    unsigned char c = static_cast<unsigned char>(rest[i]);
    if (PfIsLeadByte(c) && rest[i + 1] != '\0') {
      i += 2;
      continue;
    }
    if (c == '\\' || c == '/') afterSep = i + 1;
    if (c == '.') lastDot = i;
    i++;
  }
  size_t end = i;
  size_t nameEnd = (lastDot != SIZE_MAX && lastDot >= afterSep) ? lastDot : end;
  if (directory != nullptr) CopyCut(directory, kPartSize, rest, afterSep);
  if (name != nullptr) CopyCut(name, kPartSize, rest + afterSep, nameEnd - afterSep);
  if (extension != nullptr) {
    CopyCut(extension, kPartSize, rest + nameEnd, end - nameEnd);
  }
}

char* UpcaseName(const char* src, char* dst, size_t size) {
  size_t len = strnlen(src, size - 1);
  memmove(dst, src, len);
  dst[len] = '\0';
  // The same upper-casing as the masks get, so that every name matches a
  // mask that spells it, in any case.
  PfCharUpper(dst);
  return dst;
}

// The recursion of the wildcard rule visits states (text position, pattern
// position); a state that failed once fails again, so each is tried once.
// That keeps the work within length(text) x length(pattern) x length(text)
// whatever the pattern, with the same answers.
struct WildcardMemo {
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

static bool MatchStar(const WildcardMemo& m, size_t t, size_t p) {
  if (p + 1 == m.patternLen) return true;  // a final "*" takes the rest
  char x = m.pattern[p + 1];
  for (size_t i = t; i < m.textLen; i++) {
    if ((m.text[i] == x || x == '?') && MatchFrom(m, i + 1, p + 2)) return true;
  }
  return false;
}

static bool MatchFrom(const WildcardMemo& m, size_t t, size_t p) {
  if (p == m.patternLen) return t == m.textLen;
  if (Failed(m, t, p)) return false;
  bool result;
  char c = m.pattern[p];
  if (c == '*') {
    result = MatchStar(m, t, p);
  } else if (t == m.textLen || (c != '?' && c != m.text[t])) {
    result = false;
  } else {
    result = MatchFrom(m, t + 1, p + 1);
  }
  if (!result) MarkFailed(m, t, p);
  return result;
}

// Only a "*" with something after it makes the rule branch.
static bool CanBranch(const char* pattern, size_t len) {
  const char* star = static_cast<const char*>(memchr(pattern, '*', len));
  return star != nullptr && static_cast<size_t>(star - pattern) + 1 < len;
}

bool MatchWildcard(const char* text, const char* pattern) {
  WildcardMemo m;
  m.text = text;
  m.pattern = pattern;
  m.textLen = strlen(text);
  m.patternLen = strlen(pattern);
  m.failed = nullptr;
  if (!CanBranch(pattern, m.patternLen)) return MatchFrom(m, 0, 0);
  // Parts of masks and names hold 255 characters: their states fit here.
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

static void SplitCandidate(const char* candidate, MaskParts* parts) {
  char drive[3];
  char directory[kPartSize];
  SplitPath(candidate, drive, directory, parts->name, parts->extension);
  size_t driveLen = strlen(drive);
  memcpy(parts->directory, drive, driveLen);
  memcpy(parts->directory + driveLen, directory, strlen(directory) + 1);
  if (parts->extension[0] == '.') {
    memmove(parts->extension, parts->extension + 1, strlen(parts->extension));
  }
}

static void UpperMask(const FileMaskEntry* entry, MaskParts* parts) {
  CopyCut(parts->directory, sizeof parts->directory, entry->directory,
          strnlen(entry->directory, sizeof parts->directory - 1));
  CopyCut(parts->name, kPartSize, entry->name, strnlen(entry->name, kPartSize - 1));
  CopyCut(parts->extension, kPartSize, entry->extension,
          strnlen(entry->extension, kPartSize - 1));
  PfCharUpper(parts->directory);
  PfCharUpper(parts->name);
  PfCharUpper(parts->extension);
}

// "*.*" without a directory takes every name: a final "*" takes the rest,
// and a wide mask takes all below its (empty) directory.
static bool TakesEveryName(const FileMaskEntry* entry) {
  return entry->directory[0] == '\0' && strcmp(entry->name, "*") == 0 &&
         strcmp(entry->extension, "*") == 0;
}

static bool MatchParts(const MaskParts& name, const FileMaskEntry* entry) {
  MaskParts mask;
  UpperMask(entry, &mask);
  if (!MatchWildcard(name.extension, mask.extension)) return false;
  if (!MatchWildcard(name.name, mask.name)) return false;
  // A wide mask (its name starts with "*") takes its directory and all
  // below; a narrow one only its directory itself.
  if (mask.name[0] == '*') {
    return strncmp(name.directory, mask.directory, strlen(mask.directory)) == 0;
  }
  return strcmp(name.directory, mask.directory) == 0;
}

bool MatchFileMask(const char* candidate, const FileMaskEntry* entry) {
  MaskParts name;
  SplitCandidate(candidate, &name);
  return MatchParts(name, entry);
}

bool MatchFileMaskList(const char* candidate, const FileMaskList* list) {
  if (list->first == nullptr) return true;
  // A mask that takes every name spares the name any work at all.
  for (const FileMaskEntry* e = list->first; e != nullptr; e = e->next) {
    if (TakesEveryName(e)) return true;
  }
  char name[kPartSize];
  CopyCut(name, sizeof name, candidate, strnlen(candidate, sizeof name - 1));
  UseBackslashes(name);
  UpcaseName(name, name, sizeof name);
  MaskParts parts;  // split once for all masks
  SplitCandidate(name, &parts);
  for (const FileMaskEntry* e = list->first; e != nullptr; e = e->next) {
    if (MatchParts(parts, e)) return true;
  }
  return false;
}

FileMaskList* InitMaskList(FileMaskList* list) {
  list->first = nullptr;
  list->last = nullptr;
  return list;
}

uint8_t AppendMask(const char* mask, FileMaskList* list) {
  char path[kPartSize];
  CopyCut(path, sizeof path, mask, strnlen(mask, sizeof path - 1));
  UseBackslashes(path);
  MaskParts parts;
  char drive[3];
  char directory[kPartSize];
  SplitPath(path, drive, directory, parts.name, parts.extension);
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
