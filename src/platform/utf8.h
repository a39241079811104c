// UTF-8 as the module reads and keeps it, alike on every system: shared by
// the two platform files and the name rules.
#pragma once

#include <cstddef>
#include <cstdint>

const uint32_t kNoCodePoint = 0xFFFFFFFF;

// The code point at `s`, of at most `len` bytes; `*used` its length. No
// overlong forms, no surrogates, nothing past U+10FFFF: kNoCodePoint, with
// `*used` 1.
uint32_t DecodeUtf8(const unsigned char* s, size_t len, size_t* used);
bool IsUtf8(const char* s, size_t len);
// Writes the code point's 1 to 4 bytes; answers how many.
size_t EncodeUtf8(uint32_t cp, char* out);

// `src` whole into `dst` of `size` bytes with its NUL; answers the length,
// or 0 when it does not fit.
size_t KeepText(const char* src, char* dst, size_t size);
// `len` bytes of UTF-8 kept as they are in `dst` of `size` bytes with its
// NUL, cut to fit at a character; a byte that is no UTF-8 becomes "_".
// `*lossless` turns false when one did or when not everything fitted.
size_t KeepUtf8(const char* src, size_t len, char* dst, size_t size, bool* lossless);
