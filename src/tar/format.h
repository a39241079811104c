// The layout of a TAR header block, in one place: each field is one offset
// and width. The module writes the old GNU form (magic "ustar  " and a NUL);
// when reading it trusts nothing but the checksum.
//
//   offset width field        offset width field
//        0   100 name            257     8 magic and version
//      100     8 mode            265    32 uname
//      108     8 uid             297    32 gname
//      116     8 gid             329     8 devmajor
//      124    12 size            337     8 devminor
//      136    12 mtime           345   155 prefix (POSIX ustar only)
//      148     8 chksum
//      156     1 typeflag
//      157   100 linkname
#pragma once

#include <cstddef>
#include <cstdint>

const size_t kBlockSize = 512;

struct Field {
  size_t offset;
  size_t width;
};

const Field kName = {0, 100};
const Field kMode = {100, 8};
const Field kUid = {108, 8};
const Field kGid = {116, 8};
const Field kSize = {124, 12};
const Field kMtime = {136, 12};
const Field kChksum = {148, 8};
const Field kTypeflag = {156, 1};
const Field kLinkname = {157, 100};
const Field kMagic = {257, 8};
const Field kDevmajor = {329, 8};
const Field kDevminor = {337, 8};
const Field kPrefix = {345, 155};  // only where the magic is POSIX "ustar\0"

// The old GNU sparse header: four (offset, length) slots of two 12-byte
// numbers, a flag telling that extension blocks of 21 slots follow, and the
// size of the file the member stands for. Each extension block has the
// same flag at its end.
const Field kSparseSlots = {386, 4 * 24};
const Field kIsExtended = {482, 1};
const Field kRealSize = {483, 12};
const Field kExtensionSlots = {0, 21 * 24};
const Field kExtensionFlag = {504, 1};
const size_t kSparseSlotWidth = 24;  // an offset and a length, 12 bytes each

inline unsigned char* FieldIn(unsigned char* block, Field f) { return block + f.offset; }
inline const unsigned char* FieldIn(const unsigned char* block, Field f) {
  return block + f.offset;
}
inline int Width(Field f) { return static_cast<int>(f.width); }

// A name longer than 100 bytes is written as its first 99 in the header
// (an extension entry before it carries it whole).
const size_t kWrittenNameMax = 99;

const char kOldGnuMagic[] = "ustar  ";  // written with its NUL: 8 bytes
const char kPosixMagic[] = "ustar";     // compared with its NUL: 6 bytes
const char kDevNumber[] = "000000 ";    // written with its NUL: 8 bytes

// Typeflags. Files, links and devices are listed; folders are kept for
// extraction and rebuilds but not listed; every other value is skipped.
const char kTypeRegular = '0';
const char kTypeRegularOld = '\0';
const char kTypeHardLink = '1';
const char kTypeSymlink = '2';
const char kTypeDirectory = '5';
const char kTypeCharDevice = '3';
const char kTypeBlockDevice = '4';
const char kTypeFifo = '6';
const char kTypeContiguous = '7';
// Entries that describe the entry after them: long name, long link name and
// pax extended header.
const char kTypeGnuLongName = 'L';
const char kTypeGnuLongLink = 'K';
const char kTypePaxHeader = 'x';
// An old GNU sparse member: listed and extracted as the file it stands for.
const char kTypeGnuSparse = 'S';

// The names the module gives the entries that carry a long name.
const char kLongLinkName[] = "././@LongLink";
const char kPaxHeaderName[] = "././@PaxHeader";

// What is read of names from extension entries; longer ones are cut and
// never written.
const size_t kLongNameMax = 4096;
// Sparse maps longer than this are damage.
const int64_t kMaxSparseRegions = 1000000;
// The largest size the module takes from an archive; larger is damage.
const int64_t kMaxArchiveSize = int64_t{1} << 62;

// Mode bits the scanner reads.
const int kModeDirectory = 0x4000;  // octal 40000
const int kModeOwnerWrite = 0x80;   // octal 200
// The permission bits, set-user-ID, set-group-ID and sticky included: what
// a written header keeps of a mode.
const int kModePermissions = 07777;

// Rounds a data length up to whole blocks.
inline int64_t PaddedSize(int64_t size) {
  return (size + static_cast<int64_t>(kBlockSize) - 1) / static_cast<int64_t>(kBlockSize) *
         static_cast<int64_t>(kBlockSize);
}
