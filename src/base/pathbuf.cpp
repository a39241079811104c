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
