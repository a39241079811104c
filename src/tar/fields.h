// Numbers in header fields and pax records: octal, GNU base-256 for what
// octal cannot hold, and the decimal text of pax records.
#pragma once

#include <cstddef>
#include <cstdint>

// Value of an octal field, or -1 when it is not an octal number. Values of
// 2^31 and more wrap.
int32_t ReadOctal(int width, const unsigned char* field);

// The same without the wrap: a full 12-digit field reads whole.
int64_t ReadOctalWide(int width, const unsigned char* field);

// Writes `value` right-aligned in octal into field[0..n-2]: leading spaces,
// the digits and one space. field[n-1] is left alone. Digits that do not fit
// are lost at the left; a negative value fills every position.
void WriteOctal(int64_t value, int n, unsigned char* field);

// A numeric field: octal over the whole field (a full field needs no
// terminator) or base-256 (first byte 0x80 for a positive value, 0xFF for
// a negative one, then the value big-endian). False when the field holds
// neither, or a base-256 value beyond 64 bits.
bool ReadNumberField(int width, const unsigned char* field, int64_t* value);

// Writes `value` into a 12-byte field: eleven octal digits and a space where
// it fits (0 to 8 GiB - 1), base-256 otherwise (a negative time included).
void WriteNumberField(int64_t value, unsigned char* field);

// A decimal number of pax record text, `len` bytes: an optional "-" (with
// `signedValue`), digits, and with `fraction` an optional "." and digits
// (times, rounded down to whole seconds). False for anything else or a
// value past 64 bits.
bool ParseDecimal(const char* text, size_t len, bool signedValue, bool fraction,
                  int64_t* value);
