// The header block: the checksum, the first-header check and the headers
// the module writes for a file being added.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../base/bytes.h"
#include "../platform/platform.h"

// Whether the stored checksum is the whole sum of the block's bytes, as
// unsigned or as signed bytes. The checksum field of `block` is left as
// eight spaces.
bool HeaderSumOk(unsigned char* block);

// Sets the checksum field to spaces and answers the unsigned byte sum.
// Never more than 128,776 (504 bytes of 255 and eight spaces).
int32_t HeaderSum(unsigned char* block);

// Reads 512 bytes at the source's position: are they a header block, or
// the zero block of an archive without members?
bool IsTarArc(ByteSource* source);

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
