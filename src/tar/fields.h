// Numbers in header fields and pax records, beyond the octal of the basic
// header: 12-digit octal without a terminator, GNU base-256 for what octal
// cannot hold, and the decimal text of pax records.
#pragma once

#include <cstddef>
#include <cstdint>

// The largest size the module takes from an archive; larger is damage.
const int64_t kMaxArchiveSize = int64_t{1} << 62;

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
// that are dropped (times). False for anything else or a value past 64 bits.
bool ParseDecimal(const char* text, size_t len, bool signedValue, bool fraction,
                  int64_t* value);
