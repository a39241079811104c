#include "chars.h"

#include <cstring>

#include "../base/pathbuf.h"
#include "../platform/platform.h"

CodePage LeadByteCodePage(const unsigned char* ranges) {
  CodePage cp = {kOneByte, {}};
  for (size_t i = 0; ranges[i] != 0 && ranges[i + 1] != 0; i += 2) {
    for (unsigned b = ranges[i]; b <= ranges[i + 1]; b++) {
      cp.lead[b / 8] = static_cast<unsigned char>(cp.lead[b / 8] | (1u << (b % 8)));
      cp.form = kLeadBytes;
    }
  }
  return cp;
}

CodePage AnsiCodePage() {
  if (PfAnsiIsUtf8()) return Utf8CodePage();
  unsigned char ranges[kPfLeadByteRanges + 2] = {};
  PfLeadByteRanges(ranges);
  return LeadByteCodePage(ranges);
}

static bool IsLead(const CodePage& cp, unsigned char c) { return (cp.lead[c / 8] >> (c % 8)) & 1; }

size_t CharBytes(const CodePage& cp, const char* p) {
  unsigned char c = static_cast<unsigned char>(*p);
  if (c == 0) return 0;
  if (c < 0x80 || cp.form == kOneByte) return 1;
  if (cp.form == kLeadBytes) return IsLead(cp, c) && p[1] != '\0' ? 2 : 1;
  // A NUL is no continuation byte, so the decoder stops at the end.
  size_t used;
  DecodeUtf8(reinterpret_cast<const unsigned char*>(p), 4, &used);
  return used;
}

size_t CharCut(const CodePage& cp, const char* text, size_t len, size_t limit) {
  if (len <= limit) return len;
  size_t at = 0;
  while (at < len) {
    size_t n = CharBytes(cp, text + at);
    if (n == 0 || at + n > limit) break;
    at += n;
  }
  return at;
}

const char* FindChar(const CodePage& cp, const char* text, const char* set) {
  for (const char* p = text; *p != '\0'; p += CharBytes(cp, p)) {
    if (strchr(set, *p) != nullptr) return p;
  }
  return nullptr;
}

const char* FindLastChar(const CodePage& cp, const char* text, const char* set) {
  const char* last = nullptr;
  for (const char* p = text; *p != '\0'; p += CharBytes(cp, p)) {
    if (strchr(set, *p) != nullptr) last = p;
  }
  return last;
}

bool EndsWithChar(const CodePage& cp, const char* text, size_t len, const char* set) {
  size_t last = SIZE_MAX;
  for (size_t at = 0; at < len && text[at] != '\0'; at += CharBytes(cp, text + at)) last = at;
  return last != SIZE_MAX && len - last == 1 && strchr(set, text[last]) != nullptr;
}

// Code page 437 from 0x80 on.
static const uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8,
    0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2,
    0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1,
    0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD,
    0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562,
    0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534,
    0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560,
    0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393,
    0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6,
    0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0,
    0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

size_t Cp437ToUtf8(const char* src, size_t len, char* out, size_t size, bool* whole) {
  size_t n = 0;
  *whole = true;
  for (size_t i = 0; i < len; i++) {
    unsigned char c = static_cast<unsigned char>(src[i]);
    char bytes[4];
    size_t k = EncodeUtf8(c < 0x80 ? c : kCp437High[c - 0x80], bytes);
    if (n + k + 1 > size) {
      *whole = false;
      break;
    }
    memcpy(out + n, bytes, k);
    n += k;
  }
  if (size > 0) out[n] = '\0';
  return n;
}

// One UTF-8 character raised, when its upper-case form is one code point.
static uint32_t UpperCodePoint(uint32_t c) {
  if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 0x20 : c;
  return PfUpperChar(c);
}

size_t UpperText(const char* src, char* dst, size_t size) {
  if (size == 0) return 0;
  CodePage cp = AnsiCodePage();
  size_t len = strlen(src);
  if (cp.form != kUtf8) {
    // The system raises a character of a classic code page in place, at the
    // same length.
    size_t n = CharCut(cp, src, len, size - 1);
    memcpy(dst, src, n);
    dst[n] = '\0';
    PfCharUpper(dst);
    return n;
  }
  const unsigned char* s = reinterpret_cast<const unsigned char*>(src);
  size_t n = 0;
  for (size_t i = 0, used = 0; i < len; i += used) {
    uint32_t c = DecodeUtf8(s + i, len - i, &used);
    char bytes[4];
    size_t k = 1;
    if (c == kNoCodePoint) {
      bytes[0] = src[i];
    } else {
      k = EncodeUtf8(UpperCodePoint(c), bytes);
    }
    if (n + k + 1 > size) break;
    memcpy(dst + n, bytes, k);
    n += k;
  }
  dst[n] = '\0';
  return n;
}

size_t CaselessPrefix(const char* text, const char* prefix) {
  size_t prefixLen = strlen(prefix);
  if (AnsiCodePage().form != kUtf8) {
    char a[kFullPathSize];
    char b[kFullPathSize];
    if (prefixLen >= sizeof a || strnlen(text, prefixLen) < prefixLen) return SIZE_MAX;
    memcpy(a, text, prefixLen);
    a[prefixLen] = '\0';
    UpperText(a, b, sizeof b);
    UpperText(prefix, a, sizeof a);
    return strcmp(a, b) == 0 ? prefixLen : SIZE_MAX;
  }
  const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(prefix);
  size_t textLen = strlen(text);
  size_t i = 0;
  size_t j = 0;
  while (j < prefixLen) {
    if (i == textLen) return SIZE_MAX;
    size_t ti;
    size_t pj;
    uint32_t a = DecodeUtf8(t + i, textLen - i, &ti);
    uint32_t b = DecodeUtf8(p + j, prefixLen - j, &pj);
    bool same = (a == kNoCodePoint || b == kNoCodePoint)
                    ? (a == b && t[i] == p[j])
                    : UpperCodePoint(a) == UpperCodePoint(b);
    if (!same) return SIZE_MAX;
    i += ti;
    j += pj;
  }
  return i;
}
