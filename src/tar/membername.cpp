#include "membername.h"

#include <cstring>

#include "../names/text.h"
#include "../platform/platform.h"

void ReadName(const char* rawName, char* result, size_t size) {
  size_t len = strnlen(rawName, size - 1);
  memmove(result, rawName, len);
  result[len] = '\0';
  UseBackslashes(result);
  const char* p = result;
  if (p[0] == '\\') p++;
  // A drive is a letter and a colon before a separator: "a:b.txt" is a
  // name, which extraction refuses for its colon.
  bool letter = (p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z');
  if (letter && p[1] == ':' && p[2] == '\\') p += 3;
  // ".." only as a whole component: "..foo.txt" is a name.
  if (p[0] == '.' && p[1] == '.' && (p[2] == '\\' || p[2] == '\0')) p += p[2] == '\0' ? 2 : 3;
  memmove(result, p, strlen(p) + 1);
}

// Valid UTF-8 (no overlong forms, no surrogates) with at least one
// character of more than one byte.
static bool IsMultibyteUtf8(const unsigned char* s, size_t len) {
  bool multibyte = false;
  for (size_t i = 0; i < len;) {
    unsigned char c = s[i];
    if (c < 0x80) {
      i++;
      continue;
    }
    size_t need = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : 0;
    if (need == 0 || c > 0xF4 || len - i <= need) return false;
    unsigned char second = s[i + 1];
    unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    if (second < low || second > high) return false;
    for (size_t k = 2; k <= need; k++) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
    }
    multibyte = true;
    i += need + 1;
  }
  return multibyte;
}

void DecodeMemberName(const char* text, bool fromPax, bool tooLong, char* ansi,
                      TarEntry* e) {
  size_t len = strlen(text);
  bool lossless = true;
  bool utf8 = fromPax || IsMultibyteUtf8(reinterpret_cast<const unsigned char*>(text), len);
  size_t n = 0;
  if (utf8) {
    n = PfUtf8ToAnsi(text, len, ansi, kRawNameSize, &lossless);
    if (!fromPax && !lossless) utf8 = false;
  }
  if (!utf8) {
    lossless = true;
    PfOemToAnsi(text, ansi);
    n = len;
  }
  const size_t kNameMax = sizeof e->name - 1;
  e->unnameable = tooLong || !lossless || n > kNameMax;
  if (n > kNameMax) n = kNameMax;
  memcpy(e->name, ansi, n);
  e->name[n] = '\0';
}
