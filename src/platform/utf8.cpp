#include "utf8.h"

#include <cstring>

uint32_t DecodeUtf8(const unsigned char* s, size_t len, size_t* used) {
  *used = 1;
  if (len == 0) return kNoCodePoint;
  unsigned char c = s[0];
  if (c < 0x80) return c;
  size_t need = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : 0;
  if (need == 0 || c > 0xF4 || len <= need) return kNoCodePoint;
  // The second byte's range rules out overlong forms, surrogates and
  // code points past U+10FFFF.
  unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
  unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
  if (s[1] < low || s[1] > high) return kNoCodePoint;
  uint32_t cp = c & (0x3Fu >> need);
  for (size_t k = 1; k <= need; k++) {
    if ((s[k] & 0xC0) != 0x80) return kNoCodePoint;
    cp = (cp << 6) | (s[k] & 0x3Fu);
  }
  *used = need + 1;
  return cp;
}

bool IsUtf8(const char* s, size_t len) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(s);
  for (size_t i = 0, used = 0; i < len; i += used) {
    if (DecodeUtf8(b + i, len - i, &used) == kNoCodePoint) return false;
  }
  return true;
}

size_t EncodeUtf8(uint32_t cp, char* out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  size_t n = cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
  static const unsigned char kFirst[5] = {0, 0, 0xC0, 0xE0, 0xF0};
  for (size_t k = n - 1; k > 0; k--) {
    out[k] = static_cast<char>(0x80 | (cp & 0x3F));
    cp >>= 6;
  }
  out[0] = static_cast<char>(kFirst[n] | cp);
  return n;
}

size_t KeepText(const char* src, char* dst, size_t size) {
  size_t len = strlen(src);
  if (len + 1 > size) return 0;
  memcpy(dst, src, len + 1);
  return len;
}

size_t KeepUtf8(const char* src, size_t len, char* dst, size_t size, bool* lossless) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(src);
  if (size == 0) {
    if (len > 0) *lossless = false;
    return 0;
  }
  size_t n = 0;
  for (size_t i = 0, used = 0; i < len; i += used) {
    bool valid = DecodeUtf8(s + i, len - i, &used) != kNoCodePoint;
    if (n + used + 1 > size) {
      *lossless = false;
      break;
    }
    if (valid) {
      memcpy(dst + n, src + i, used);
    } else {
      dst[n] = '_';
      *lossless = false;
    }
    n += used;
  }
  dst[n] = '\0';
  return n;
}
