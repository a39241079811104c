// The layout of a TAR header block, in one place. The module writes the old
// GNU form (magic "ustar  " and a NUL); when reading it trusts nothing but
// the checksum.
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

const size_t kBlockSize = 512;

const size_t kNameOffset = 0;
const size_t kNameWidth = 100;
const size_t kModeOffset = 100;
const size_t kUidOffset = 108;
const size_t kGidOffset = 116;
const size_t kIdWidth = 8;  // mode, uid, gid and chksum
const size_t kSizeOffset = 124;
const size_t kMtimeOffset = 136;
const size_t kNumberWidth = 12;  // size and mtime
const size_t kChksumOffset = 148;
const size_t kChksumWidth = 8;
const size_t kTypeflagOffset = 156;
const size_t kLinknameOffset = 157;
const size_t kMagicOffset = 257;
const size_t kDevmajorOffset = 329;
const size_t kDevminorOffset = 337;
const size_t kPrefixOffset = 345;  // only where the magic is POSIX "ustar\0"
const size_t kPrefixWidth = 155;

// The old GNU sparse header: four (offset, length) slots of two 12-byte
// numbers, a flag telling that extension blocks of 21 slots follow, and the
// size of the file the member stands for. Each extension block has the
// same flag at its end.
const size_t kSparseOffset = 386;
const size_t kSparseSlots = 4;
const size_t kSparseSlotWidth = 24;
const size_t kIsExtendedOffset = 482;
const size_t kRealSizeOffset = 483;
const size_t kExtensionSlots = 21;
const size_t kExtensionFlagOffset = 504;
// A name longer than 100 bytes is written as its first 99 in the header
// (an extension entry before it carries it whole).
const size_t kWrittenNameMax = 99;

const char kOldGnuMagic[] = "ustar  ";  // written with its NUL: 8 bytes
const char kPosixMagic[] = "ustar";     // compared with its NUL: 6 bytes
const char kDevNumber[] = "000000 ";    // written with its NUL: 8 bytes

// Typeflags. Only these name a member the scanner lists; every other value
// (links, directories, GNU and pax extensions) is skipped.
const char kTypeRegular = '0';
const char kTypeRegularOld = '\0';
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

// Mode bits the scanner reads.
const int kModeDirectory = 0x4000;  // octal 40000
const int kModeOwnerWrite = 0x80;   // octal 200
// What is kept of a file's mode when it is written: octal 17755, no
// group-write or other-write bits, no file-type bits but 0x1000.
const int kWrittenModeMask = 0x1FED;

// Rounds a data length up to whole blocks.
inline long long PaddedSize(long long size) {
  return (size + static_cast<long long>(kBlockSize) - 1) /
         static_cast<long long>(kBlockSize) * static_cast<long long>(kBlockSize);
}
