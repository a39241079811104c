// The header block: octal fields, the checksum, the first-header check and
// the writing of a header for a file being added.
#pragma once

#include <cstdint>

#include "../platform/platform.h"

// Value of an octal field, or -1 when it is not an octal number. Values of
// 2^31 and more wrap.
int32_t ReadOctal(int width, const unsigned char* field);

// The same without the wrap, for fields that must be checked for range.
int64_t ReadOctalWide(int width, const unsigned char* field);

// Writes `value` right-aligned in octal into field[0..n-2]: leading spaces,
// the digits and one space. field[n-1] is left alone. Digits that do not fit
// are lost at the left; a negative value fills every position.
void WriteOctal(int32_t value, int n, unsigned char* field);

// Whether the stored checksum agrees with the block in its low eight bits.
// The checksum field of `block` is left as eight spaces.
bool HeaderSumOk(unsigned char* block);

// Sets the checksum field to spaces and answers the unsigned byte sum.
// Never more than 128,776 (504 bytes of 255 and eight spaces).
int32_t HeaderSum(unsigned char* block);

// Reads 512 bytes at the stream's position: are they a header block?
bool IsTarArc(PfFile* stream);

// Files of this size and more do not fit the 32-bit size field.
const int64_t kMaxMemberSize = 0x7FFFFFFF;

// Fills `block` with the header of a regular file of the given status under
// `memberName` (ANSI; converted to OEM and cut to fit here). False, with the
// block untouched, for a file too large for the size field.
bool BuildTarHeader(const PfFileStatus& status, const char* memberName,
                    unsigned char* block);

// Writes the header block for a file of the given status to the output
// stream. False when it is 2 GiB or larger (nothing is written then), or
// when the block was written short.
bool WriteTarHeader(const PfFileStatus& status, const char* memberName);
