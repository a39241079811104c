#include "paths.h"

#include <cstring>

#include "../base/pathbuf.h"
#include "../platform/platform.h"
#include "chars.h"
#include "masks.h"
#include "text.h"

// Drops the first n characters, or all when there are fewer.
static void DropFront(char* text, size_t n) {
  size_t len = strlen(text);
  if (n > len) n = len;
  memmove(text, text + n, len - n + 1);
}

// For a path of `len` bytes that starts \\server\share: how many separators
// follow the server and the share (at most 2), and where the last of them
// lies.
static int UncSeparators(const char* path, size_t len, size_t* last) {
  int found = 0;
  *last = 0;
  for (size_t i = 2; i < len && found < 2; i++) {
    if (path[i] == '\\') {
      found++;
      *last = i;
    }
  }
  return found;
}

static bool StartsUnc(const char* path) { return path[0] == '\\' && path[1] == '\\'; }

void StripUncRoot(const char* src, char* dst, size_t size) {
  size_t len = strnlen(src, size - 1);
  size_t from = 0;
  if (StartsUnc(src)) {
    size_t second;
    int found = UncSeparators(src, len, &second);
    // The server name alone when no "\" follows it; nothing of
    // \\server\share; the "\" after the share stays.
    from = found == 0 ? 2 : found == 1 ? len : second;
  }
  memmove(dst, src + from, len - from);
  dst[len - from] = '\0';
}

// Step 1 of the stored-name rule; answers whether it found a UNC root.
static bool DropLeadingRoot(char* path, size_t size) {
  if (path[0] != '\\') return false;
  if (path[1] != '\\') {
    DropFront(path, 1);
    return false;
  }
  StripUncRoot(path, path, size);
  if (path[0] == '\\') DropFront(path, 1);
  return true;
}

// A drive, with the separator after it ("C:name" names a file on drive C),
// and a leading ".." component; "..name" is a name.
static void DropDriveAndDots(char* path) {
  bool letter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
  if (letter && path[1] == ':') DropFront(path, path[2] == '\\' ? 3 : 2);
  if (path[0] == '.' && path[1] == '.' && (path[2] == '\\' || path[2] == '\0')) {
    DropFront(path, path[2] == '\0' ? 2 : 3);
  }
}

void MakeStoredName(char* path, size_t size) {
  DropLeadingRoot(path, size);
  DropDriveAndDots(path);
}

void MakeStoredNameForHeader(char* path, size_t size) {
  if (!DropLeadingRoot(path, size)) DropDriveAndDots(path);
}

static bool IsSeparator(char c) { return c == '\\'; }

// Whether the `left` bytes at `at` are one superscript digit 1, 2 or 3 in
// the ANSI code page: one byte under Windows-1252, two under UTF-8.
static bool IsSuperscriptDigit(const unsigned char* at, size_t left) {
  if (AnsiCodePage().form == kUtf8) {
    if (left != 2 || at[0] != 0xC2) return false;
    at++;
  } else if (left != 1) {
    return false;
  }
  return *at == 0xB9 || *at == 0xB2 || *at == 0xB3;
}

// CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, CONIN$ and CONOUT$ name devices
// on Windows wherever they stand in a path, with any extension, in any case,
// and with spaces before the dot. COM and LPT also take the superscript
// digits 1, 2 and 3.
static bool IsDeviceName(const char* part, size_t len) {
  size_t stem = 0;
  while (stem < len && part[stem] != '.') stem++;
  while (stem > 0 && part[stem - 1] == ' ') stem--;
  char upper[8] = {};
  if (stem < 3) return false;
  for (size_t i = 0; i < stem && i < 7; i++) {
    char c = part[i];
    upper[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c;
  }
  bool numbered = strncmp(upper, "COM", 3) == 0 || strncmp(upper, "LPT", 3) == 0;
  const unsigned char* digit = reinterpret_cast<const unsigned char*>(part + 3);
  if (numbered && IsSuperscriptDigit(digit, stem - 3)) return true;
  if (stem > 7) return false;
  const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (strcmp(upper, device) == 0) return true;
  }
  return numbered && stem == 4 && upper[3] >= '1' && upper[3] <= '9';
}

static bool IsSafeComponent(const char* part, size_t len) {
  if (len == 2 && part[0] == '.' && part[1] == '.') return false;
  if (len > 0 && (part[len - 1] == '.' || part[len - 1] == ' ')) {
    // "." alone refers to the directory itself and stays inside it.
    return len == 1 && part[0] == '.';
  }
  return !IsDeviceName(part, len);
}

bool IsSafeRelativeName(const char* name) {
  if (IsSeparator(name[0]) || name[0] == '/') return false;
  CodePage cp = AnsiCodePage();
  // A colon names a drive or a stream; wildcards would make the replace
  // check look at other files; the rest cannot stand in a Windows name.
  // ("|" may be the trail byte of a double-byte character.)
  if (FindChar(cp, name, ":*?<>|\"") != nullptr) return false;
  // Control characters stand in no name a user can type or see; no trail
  // byte is one.
  for (const char* p = name; *p != '\0'; p++) {
    if (static_cast<unsigned char>(*p) < 0x20) return false;
  }
  const char* part = name;
  for (;;) {
    const char* sep = FindChar(cp, part, "\\/");
    size_t len = sep != nullptr ? static_cast<size_t>(sep - part) : strlen(part);
    if (!IsSafeComponent(part, len)) return false;
    if (sep == nullptr) return true;
    part = sep + 1;
  }
}

bool AddTrailingSeparator(const char* path, char* dst, size_t size) {
  size_t len = strnlen(path, size);
  bool needsSeparator = len > 0 && !EndsWithChar(AnsiCodePage(), path, len, "\\:");
  if (len + (needsSeparator ? 1 : 0) + 1 > size) {
    memset(dst, 0, size);
    return false;
  }
  memmove(dst, path, len);
  if (needsSeparator) dst[len++] = '\\';
  dst[len] = '\0';
  return true;
}

size_t BasePathCut(const char* name, const char* basePath) {
  char base[kPathSize];
  size_t baseLen = strnlen(basePath, sizeof base - 1);
  memcpy(base, basePath, baseLen);
  base[baseLen] = '\0';
  UseBackslashes(base);
  CodePage cp = AnsiCodePage();
  while (EndsWithChar(cp, base, baseLen, "\\")) base[--baseLen] = '\0';
  if (baseLen == 0) return 0;
  // Under UTF-8 the name may spell the base in another case at another
  // length.
  size_t cut = CaselessPrefix(name, base);
  if (cut == SIZE_MAX) return 0;
  if (name[cut] == '\0') return cut;
  return IsSeparator(name[cut]) || name[cut] == '/' ? cut + 1 : 0;
}

OutputPathResult MakeOutputPath(const char* memberName, const OutputRule& rule, char* dst) {
  const size_t kOutputSize = 256;
  char name[kPathSize];
  if (!CopyPath(name, sizeof name, memberName)) return kOutputPathTooLong;
  UseBackslashes(name);
  int32_t mode = rule.pathMode;
  if (mode == 0) {
    char base[kPartSize];
    char extension[kPartSize];
    SplitPath(name, nullptr, nullptr, base, extension);
    size_t baseLen = strlen(base);
    memcpy(name, base, baseLen);
    memcpy(name + baseLen, extension, strlen(extension) + 1);
  } else if (IsSeparator(name[0])) {
    DropFront(name, 1);
  }
  if (mode == 1 && rule.basePathTooLong) return kOutputPathTooLong;
  if (mode == 1) DropFront(name, BasePathCut(name, rule.basePath));
  // A name the base-path cut left empty would name the output directory.
  if (name[0] == '\0' || !IsSafeRelativeName(name)) return kOutputPathUnsafe;
  if (rule.outputDirTooLong) return kOutputPathTooLong;
  size_t dirLen = strlen(rule.outputDir);
  size_t nameLen = strlen(name);
  if (dirLen + nameLen + 1 > kOutputSize) return kOutputPathTooLong;
  memcpy(dst, rule.outputDir, dirLen);
  memcpy(dst + dirLen, name, nameLen + 1);
  return kOutputPathOk;
}

bool SplitUncRoot(const char* path, char* rest, char* root) {
  size_t len = strnlen(path, kFullPathSize - 1);
  if (StartsUnc(path) && len > 2) {
    size_t second;
    int found = UncSeparators(path, len, &second);
    if (found == 2) {
      memcpy(root, path, second + 1);
      root[second + 1] = '\0';
      memcpy(rest, path + second + 1, len - second - 1);
      rest[len - second - 1] = '\0';
      return true;
    }
    if (found == 1) {
      memcpy(root, path, len);
      root[len] = '\0';
      rest[0] = '\0';
      return true;
    }
  }
  memcpy(rest, path, len);
  rest[len] = '\0';
  return false;
}

// The directory to make for `built`, below the UNC root when there is one.
static bool DirectoryToMake(const char* root, const char* built, char* dir) {
  size_t rootLen = strlen(root);
  if (rootLen > 0 && IsSeparator(built[0])) rootLen--;
  size_t builtLen = strlen(built);
  if (rootLen + builtLen + 1 > kFullPathSize) return false;
  memcpy(dir, root, rootLen);
  memcpy(dir + rootLen, built, builtLen + 1);
  return true;
}

// Adds the next level of `remaining` to `built`; false when none is left or
// it does not fit.
static bool NextLevel(char* built, char* remaining) {
  const char* sep = FindChar(AnsiCodePage(), remaining, "\\");
  if (sep == nullptr) return false;
  char withSep[kFullPathSize];
  if (!AddTrailingSeparator(built, withSep, sizeof withSep)) return false;
  size_t have = strlen(withSep);
  size_t part = static_cast<size_t>(sep - remaining);
  if (have + part + 2 > kFullPathSize) return false;  // room for a "\" later
  memcpy(withSep + have, remaining, part);
  withSep[have + part] = '\0';
  memcpy(built, withSep, have + part + 1);
  DropFront(remaining, part + 1);
  return true;
}

// The levels of a path, made one at a time.
struct Levels {
  char root[kFullPathSize];
  char remaining[kFullPathSize];
  char built[kFullPathSize];
};

static void StartLevels(const char* path, Levels* l) {
  memset(l, 0, sizeof *l);
  SplitUncRoot(path, l->remaining, l->root);
}

// Makes the next level that is missing; false when none is left, or it
// cannot be made. No directory is made for a drive or a leading separator.
static bool MakeNextLevel(Levels* l, const FolderWatch* watch) {
  do {
    if (!NextLevel(l->built, l->remaining)) return false;
    size_t len = strlen(l->built);
    if (len > 0 && l->built[len - 1] != ':') break;
    l->built[len] = '\\';
    l->built[len + 1] = '\0';
  } while (true);
  char dir[kFullPathSize];
  if (!DirectoryToMake(l->root, l->built, dir)) return false;
  if (FileExists(dir)) return true;
  if (!PfMakeDir(dir)) return false;
  if (watch != nullptr) watch->made(watch->context, dir);
  return true;
}

PfFile* CreateOutputFile(const char* path, const FolderWatch* watch) {
  if (strnlen(path, kFullPathSize) == kFullPathSize) return nullptr;
  Levels levels;
  StartLevels(path, &levels);
  for (;;) {
    PfFile* file = PfCreateNew(path);
    if (file != nullptr) return file;
    if (!MakeNextLevel(&levels, watch)) return nullptr;
  }
}

bool MakeOutputFolder(const char* path, const FolderWatch* watch) {
  char withSeparator[kFullPathSize];
  if (!AddTrailingSeparator(path, withSeparator, sizeof withSeparator)) return false;
  Levels levels;
  StartLevels(withSeparator, &levels);
  while (levels.remaining[0] != '\0') {
    if (!MakeNextLevel(&levels, watch)) return false;
  }
  return IsDirectory(path);
}

bool IsDirectory(const char* path) {
  uint32_t attributes = PfGetAttributes(path);
  return attributes != kPfInvalidAttributes && (attributes & kPfAttrDirectory);
}

void MakeWritable(const char* path) {
  if (FileExists(path)) PfSetAttributes(path, kPfAttrArchive);
}
