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
//      136    12 mtime           345   167 (unused)
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

// The stored name is read as at most 99 bytes, and a name longer than 100
// bytes is written as its first 99.
const size_t kReadNameMax = 99;

const char kOldGnuMagic[] = "ustar  ";  // written with its NUL: 8 bytes
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
