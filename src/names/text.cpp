#include "text.h"

#include <cstdlib>
#include <cstring>

char* CopyText(const char* text) {
  size_t len = strlen(text);
  char* copy = static_cast<char*>(malloc(len + 1));
  if (copy != nullptr) memcpy(copy, text, len + 1);
  return copy;
}

void UseBackslashes(char* text) {
  for (char* p = text; *p != '\0'; p++) {
    if (*p == '/') *p = '\\';
  }
}

void DisplayName(const char* name, char* out, size_t size) {
  size_t len = strnlen(name, size - 2);
  out[0] = '\\';
  memcpy(out + 1, name, len);
  out[len + 1] = '\0';
}
