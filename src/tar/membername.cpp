#include "membername.h"

#include <cstdint>
#include <cstring>

#include "../names/chars.h"
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

// The scripts people write names in: Latin with its accents, Greek,
// Cyrillic, Armenian, Hebrew, Arabic, Thai, Hangul, the usual symbols and
// punctuation, CJK with kana, full-width forms and emoji. Latin Extended-B
// is not among them, so that the OEM bytes of names such as cp850 "ãé"
// (C6 82, U+0182) are not taken for UTF-8.
static bool InNameScript(uint32_t c) {
  static const uint32_t kRanges[][2] = {
      {0x00A0, 0x017F}, {0x0300, 0x036F}, {0x0370, 0x03FF}, {0x0400, 0x04FF},
      {0x0530, 0x06FF}, {0x0E00, 0x0E7F}, {0x1100, 0x11FF}, {0x1E00, 0x1EFF},
      {0x2000, 0x27BF}, {0x3000, 0x30FF}, {0x3400, 0x9FFF}, {0xAC00, 0xD7AF},
      {0xFF00, 0xFFEF}, {0x1F300, 0x1FAFF},
  };
  for (const auto& r : kRanges) {
    if (c >= r[0] && c <= r[1]) return true;
  }
  return false;
}

// Valid UTF-8 (no overlong forms, no surrogates) with at least one
// character of more than one byte, every such character in those scripts.
static bool IsUtf8OfNameScripts(const unsigned char* s, size_t len) {
  bool multibyte = false;
  for (size_t i = 0, used = 0; i < len; i += used) {
    uint32_t cp = DecodeUtf8(s + i, len - i, &used);
    if (cp < 0x80) continue;
    if (cp == kNoCodePoint || !InNameScript(cp)) return false;
    multibyte = true;
  }
  return multibyte;
}

// Into the ANSI code page. Under a UTF-8 code page a name that is UTF-8
// keeps its bytes, any other is taken as code page 437; under a classic
// one, pax text and UTF-8 of name scripts are converted, the rest is OEM.
static size_t ToAnsi(const char* text, size_t len, bool fromPax, char* ansi, bool* lossless) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  if (PfAnsiIsUtf8()) {
    if (IsUtf8(text, len)) return PfUtf8ToAnsi(text, len, ansi, kRawNameSize, lossless);
    return Cp437ToUtf8(text, len, ansi, kRawNameSize, lossless);
  }
  if (fromPax || IsUtf8OfNameScripts(bytes, len)) {
    return PfUtf8ToAnsi(text, len, ansi, kRawNameSize, lossless);
  }
  PfOemToAnsi(text, ansi);
  return len;
}

bool DecodeStoredText(const char* text, bool fromPax, bool tooLong, char* ansi, char* out,
                      size_t size) {
  bool lossless = true;
  size_t n = ToAnsi(text, strlen(text), fromPax, ansi, &lossless);
  // A name past the limit is kept cut at a character, and not written.
  const size_t kMax = size - 1;
  bool whole = !tooLong && lossless && n <= kMax;
  if (n > kMax) n = CharCut(AnsiCodePage(), ansi, n, kMax);
  memcpy(out, ansi, n);
  out[n] = '\0';
  return whole;
}

void DecodeMemberName(const char* text, bool fromPax, bool tooLong, char* ansi,
                      TarEntry* e) {
  e->unnameable = !DecodeStoredText(text, fromPax, tooLong, ansi, e->name, sizeof e->name);
}
