#include "tempname.h"

#include <cstdint>
#include <cstring>

#include "../base/pathbuf.h"
#include "../names/chars.h"
#include "../platform/platform.h"

// The first number comes from the clock in seconds; when its name is taken
// the generator goes on from there, so that the search does not wait for
// the clock to move.
static int DrawNumber(uint32_t* state) {
  *state = *state * 214013u + 2531011u;
  return static_cast<int>((*state >> 16) & 0x7FFF);
}

// Enough to find a free name among thousands of taken ones, few enough that
// a folder where every name is taken is given up in a moment.
static const int kTempNameTries = 4096;

// How much of a path is its folder, drive included: up to its last
// separator, or else its drive's colon. The folder is taken whole, however
// long: a part of it would name another folder.
static size_t FolderLength(const char* path) {
  const char* last = FindLastChar(AnsiCodePage(), path, "\\/");
  if (last != nullptr) return static_cast<size_t>(last - path) + 1;
  return path[0] != '\0' && path[1] == ':' ? 2 : 0;
}

bool MakeTempName(const char* path, char* result, size_t size) {
  size_t folderLen = FolderLength(path);
  const size_t kNumberAndSuffix = 5 + 4;  // up to 32767, then ".$SC"
  if (folderLen + kNumberAndSuffix + 1 > size) return false;
  memcpy(result, path, folderLen);
  char* tail = result + folderLen;
  uint32_t state = static_cast<uint32_t>(PfNow());
  for (int attempt = 0; attempt < kTempNameTries; attempt++) {
    int number = DrawNumber(&state);
    char digits[6];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + number % 10);
      number /= 10;
    } while (number > 0);
    for (int i = 0; i < n; i++) tail[i] = digits[n - 1 - i];
    memcpy(tail + n, ".$SC", 5);
    if (!FileExists(result)) return true;
  }
  result[0] = '\0';
  return false;
}

void RemoveLeftover(const char* path) {
  if (!PfRemove(path)) PfRemove(path);
}
