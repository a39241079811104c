// Characters of the ANSI code page: how many bytes each takes, walks that
// step by them, upper-casing and comparing without regard to case.
//
// Under a single-byte code page a character is a byte; under a double-byte
// one a lead byte and the byte after it are one character; under UTF-8 the
// module decodes by itself (the system's lead-byte calls do not step UTF-8),
// and a byte that starts no valid sequence is a character of its own. ASCII
// bytes never stand inside a character under UTF-8, but a trail byte of a
// double-byte character may look like "\" or "|".
#pragma once

#include <cstddef>
#include <cstdint>

#include "../platform/utf8.h"

enum CharForm : uint8_t {
  kOneByte,    // every character one byte
  kLeadBytes,  // a lead byte starts a character of two
  kUtf8,
};

struct CodePage {
  CharForm form;
  unsigned char lead[32];  // kLeadBytes: the lead bytes, one bit each
};

// The process's ANSI code page as it is now.
CodePage AnsiCodePage();
// A double-byte code page whose lead bytes are the ranges given as pairs
// of first and last byte, ended by a 0 (as the system reports them).
CodePage LeadByteCodePage(const unsigned char* ranges);
inline CodePage Utf8CodePage() { return CodePage{kUtf8, {}}; }

// Bytes of the character at `p`: 0 at the NUL, 1 or more otherwise. A
// lead byte before the NUL stands alone.
size_t CharBytes(const CodePage& cp, const char* p);

// The longest beginning of `text` (`len` bytes) of at most `limit` bytes
// that ends where a character ends.
size_t CharCut(const CodePage& cp, const char* text, size_t len, size_t limit);

// The first character of `text` that is one of `set` (ASCII), or null.
const char* FindChar(const CodePage& cp, const char* text, const char* set);
// The last character of `text` that is one of `set` (ASCII), or null.
const char* FindLastChar(const CodePage& cp, const char* text, const char* set);
// Whether the last character of `text` (`len` bytes) is one of `set`.
bool EndsWithChar(const CodePage& cp, const char* text, size_t len, const char* set);

// ------------------------------------------------------------------ UTF-8

// Decoding and encoding: platform/utf8.h.

// Code page 437 as UTF-8, into `out` of `size` bytes with its NUL, cut at
// a character; answers the length, `*whole` whether all of it fitted.
size_t Cp437ToUtf8(const char* src, size_t len, char* out, size_t size, bool* whole);

// ------------------------------------------------------------------- case

// `src` in upper case into `dst` (another buffer) of `size` bytes, cut at a
// character when the upper-case form does not fit. Under UTF-8 each
// character is raised through UTF-16 and may change its length; bytes that
// are no UTF-8 stay as they are. Answers the length.
size_t UpperText(const char* src, char* dst, size_t size);

// How many bytes of `text` spell `prefix` without regard to case, whole
// characters; SIZE_MAX when it does not begin so.
size_t CaselessPrefix(const char* text, const char* prefix);
