// The header block: the checksum, the first-header check and the headers
// the module writes for an item being added.
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

// What a header the module writes stands for beyond the file's status.
struct MemberHead {
  char typeflag;     // kTypeRegular, kTypeDirectory, kTypeSymlink or kTypeHardLink
  const char* name;  // the member name, ANSI
  const char* link;  // a link's target (a hard link's: the member it names), ANSI; "" for none
};

// Fills `block` with the header of the given status and head. The name and
// the link target are converted to OEM and cut to fit here; only a regular
// file's header gives a size, as links and folders hold no data. Sizes and
// times that octal cannot hold go in base-256. False, with the block
// untouched, for a negative size.
bool BuildTarHeader(const PfFileStatus& status, const MemberHead& head, unsigned char* block);

// The most the entries that carry a name and a link target take: two
// entries of a header and 4 KiB of data, or one with both pax records.
const size_t kNameEntryMax = 2 * (512 + 4096);

// The entries that carry the whole member name and link target when the
// header cannot, into `out` (kNameEntryMax bytes): one pax extended header
// with a UTF-8 "path" and/or "linkpath" record for a text with any
// character outside ASCII, then a GNU long-link entry for a longer ASCII
// target and a long-name entry for a longer ASCII name. `*length` gets the
// bytes of the entries (headers, data and padding), 0 for none. False when
// a text that needs one is too long for it.
bool BuildNameEntries(const MemberHead& head, unsigned char* out, size_t* length);
