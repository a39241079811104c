#include "pathbuf.h"

#include <cstring>

#include "../platform/platform.h"

bool FileExists(const char* path) { return path[0] != '\0' && PfExists(path); }

bool CopyPath(char* dst, size_t size, const char* src) {
  size_t len = strnlen(src, size);
  if (len == size) {
    memset(dst, 0, size);
    return false;
  }
  memcpy(dst, src, len + 1);
  return true;
}

// "" when the current folder could not be told.
static char gOperationFolder[kPathSize];

void FixCurrentFolder() {
  if (!PfCurrentFolder(gOperationFolder, sizeof gOperationFolder)) gOperationFolder[0] = '\0';
}

bool FullPath(const char* path, char* out, size_t size) {
  return PfFullPath(gOperationFolder, path, out, size);
}
