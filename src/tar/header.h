// The header block: octal fields, the checksum, the first-header check and
// the writing of a header for a file being added.
#pragma once

#include <cstdint>

#include "../platform/platform.h"

// Value of an octal field, or -1 when it is not an octal number. Values of
// 2^31 and more wrap.
int32_t ReadOctal(int width, const unsigned char* field);

// The same without the wrap: a full 12-digit field reads whole.
int64_t ReadOctalWide(int width, const unsigned char* field);

// Writes `value` right-aligned in octal into field[0..n-2]: leading spaces,
// the digits and one space. field[n-1] is left alone. Digits that do not fit
// are lost at the left; a negative value fills every position.
void WriteOctal(int64_t value, int n, unsigned char* field);

// Whether the stored checksum agrees with the block in its low eight bits.
// The checksum field of `block` is left as eight spaces.
bool HeaderSumOk(unsigned char* block);

// Sets the checksum field to spaces and answers the unsigned byte sum.
// Never more than 128,776 (504 bytes of 255 and eight spaces).
int32_t HeaderSum(unsigned char* block);

// Reads 512 bytes at the stream's position: are they a header block?
bool IsTarArc(PfFile* stream);

// Whether `n` bytes are all zero.
bool IsAllZero(const unsigned char* bytes, size_t n);
// Whether a block reads as a header: not all zero, and its checksum agrees.
// The block itself is left as it is.
bool ReadsAsHeader(const unsigned char* block);

// Fills `block` with the header of a regular file of the given status under
// `memberName` (ANSI; converted to OEM and cut to fit here). Sizes and times
// that octal cannot hold go in base-256. False, with the block untouched,
// for a negative size.
bool BuildTarHeader(const PfFileStatus& status, const char* memberName,
                    unsigned char* block);

// The most an entry that carries a name takes: a header and 4 KiB of data.
const size_t kNameEntryMax = 512 + 4096;

// The entry that carries the whole member name when the header cannot, into
// `out` (kNameEntryMax bytes): a pax extended header with a UTF-8 "path"
// record for a name with any character outside ASCII, a GNU long-name entry
// for a longer ASCII name, none for a name the header holds whole.
// `*length` gets the bytes of the entry (header, data and padding), 0 for
// none. False when a name that needs one is too long for it.
bool BuildNameEntry(const char* memberName, unsigned char* out, size_t* length);

// Writes the header block for a file of the given status to the output
// stream, after the entry that carries its whole name when one is needed.
// False for a negative size (nothing is written then), or when something
// was written short.
bool WriteTarHeader(const PfFileStatus& status, const char* memberName);
