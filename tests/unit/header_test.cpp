// Octal fields, checksums and the header block the module writes.
#include <gtest/gtest.h>

#include "codepage.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archives.h"
#include "files.h"
#include "tar/fields.h"
#include "tar/format.h"
#include "tar/header.h"

static const unsigned char* Bytes(const char* s) {
  return reinterpret_cast<const unsigned char*>(s);
}

TEST(ReadOctal, Table) {
  struct Row {
    int line;
    int width;
    const char* field;  // exactly `width` bytes
    int32_t want;
  } rows[] = {
      {__LINE__, 8, "   644 \0", 420},
      {__LINE__, 12, "00000001750 ", 1000},
      {__LINE__, 8, "  12\0\0\0\0", 10},
      {__LINE__, 8, "        ", -1},             // blanks only
      {__LINE__, 8, "\0\0\0\0\0\0\0\0", 0},       // NULs only
      {__LINE__, 8, "\t\n\v\f\r 7\0", 7},         // every blank is skipped
      {__LINE__, 8, "0008    ", -1},             // an 8 ends the digits
      {__LINE__, 8, "12a     ", -1},             // so does a letter
      {__LINE__, 8, "12\x80     ", -1},          // bytes >= 0x80 are no blanks
      {__LINE__, 12, "777777777777", -1},         // 12 digits, wrapped to 32 bits
      {__LINE__, 12, "377777777777", -1},
      {__LINE__, 12, "017777777777", 0x7FFFFFFF},
      {__LINE__, 12, "020000000000", INT32_MIN},  // 2^31 wraps negative
      {__LINE__, 8, "01234567", 01234567},        // width used up: no terminator
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.want, ReadOctal(row.width, Bytes(row.field))) << "line " << row.line;
  }
}

TEST(WriteOctal, Table) {
  struct Row {
    int line;
    int32_t value;
    int n;
    const char* want;  // n - 1 bytes
  } rows[] = {
      {__LINE__, 0, 8, "     0 "},
      {__LINE__, 420, 8, "   644 "},
      {__LINE__, 01234567, 8, "234567 "},         // highest digit lost
      {__LINE__, 1000, 13, "       1750 "},
      {__LINE__, 0x7FFFFFFF, 13, "17777777777 "},
      {__LINE__, -1, 8, "777777 "},               // low 18 bits of -1
      {__LINE__, -8, 13, "77777777770 "},
  };
  for (const Row& row : rows) {
    unsigned char field[16];
    memset(field, 'X', sizeof field);
    WriteOctal(row.value, row.n, field);
    EXPECT_EQ(std::string(row.want), std::string(reinterpret_cast<char*>(field), row.n - 1))
        << "line " << row.line;
    EXPECT_EQ('X', field[row.n - 1]) << "line " << row.line << ": last byte touched";
  }
}

// A block with the given name and its checksum over signed or unsigned bytes.
static void MakeBlock(unsigned char* block, bool signedSum) {
  memset(block, 0, kBlockSize);
  memcpy(block, "caf\xe9\xe9\xe9.txt", 10);
  memset(block + kChksum.offset, ' ', kChksum.width);
  int sum = 0;
  for (size_t i = 0; i < kBlockSize; i++) {
    sum += signedSum ? static_cast<signed char>(block[i]) : block[i];
  }
  char digits[12];
  snprintf(digits, sizeof digits, "%06o", sum & 0x3FFFF);
  memcpy(block + kChksum.offset, digits, 7);
}

// The whole sum must agree, over unsigned or signed bytes: damage that moves
// it by 256 is damage, and a zero block is no header.
TEST(HeaderSum, TheWholeSumOverSignedOrUnsignedBytes) {
  struct Row {
    int line;
    bool signedSum;
    int change;  // 0: none; 1: one name byte flipped; 2: the sum off by 256;
                 // 3: two name bytes moved by 128 each; 4: an unparsable field
    bool ok;
  } rows[] = {
      {__LINE__, false, 0, true}, {__LINE__, true, 0, true},   {__LINE__, false, 1, false},
      {__LINE__, false, 2, false}, {__LINE__, false, 3, false}, {__LINE__, false, 4, false},
  };
  for (const Row& row : rows) {
    unsigned char block[kBlockSize];
    MakeBlock(block, row.signedSum);
    if (row.change == 1) block[5] ^= 1;
    if (row.change == 2) {
      long sum = strtol(reinterpret_cast<char*>(block + kChksum.offset), nullptr, 8);
      snprintf(reinterpret_cast<char*>(block + kChksum.offset), 8, "%06lo", sum + 256);
    }
    if (row.change == 3) block[6] -= 128, block[7] -= 128;
    if (row.change == 4) memcpy(block + kChksum.offset, "zzzzzzzz", 8);
    EXPECT_EQ(row.ok, HeaderSumOk(block)) << "line " << row.line;
  }
  unsigned char zero[kBlockSize] = {};
  EXPECT_FALSE(HeaderSumOk(zero));
}

TEST(HeaderSum, MaximumFitsSixDigits) {
  unsigned char block[kBlockSize];
  memset(block, 255, kBlockSize);
  EXPECT_EQ(128776, HeaderSum(block));
}

TEST(BuildTarHeader, ExactBytes) {
  PfFileStatus status = {0100664, 1000, 70000, 1000, 1234567890};
  unsigned char block[kBlockSize];
  ASSERT_TRUE(BuildTarHeader(status, {kTypeRegular, "docs\\a.txt", ""}, block));
  std::string want(512, '\0');
  memcpy(&want[0], "docs/a.txt", 10);  // "/" for every other reader
  memcpy(&want[100], "   664 ", 7);     // the permission bits as they are
  memcpy(&want[108], "  1750 ", 7);     // uid
  memcpy(&want[116], " 10560 ", 7);     // gid 70000 as a 16-bit value: 4464
  memcpy(&want[124], "       1750 ", 12);
  memcpy(&want[136], "11145401322 ", 12);
  want[156] = '0';
  memcpy(&want[257], "ustar  ", 8);
  memcpy(&want[329], "000000 ", 8);
  memcpy(&want[337], "000000 ", 8);
  unsigned sum = 0;
  memset(&want[148], ' ', 8);
  for (unsigned char c : want) sum += c;
  char digits[8];
  snprintf(digits, sizeof digits, "%6o", sum);  // right-aligned, spaces
  memcpy(&want[148], digits, 6);
  want[154] = '\0';
  want[155] = ' ';
  EXPECT_EQ(want, std::string(reinterpret_cast<char*>(block), kBlockSize));
  EXPECT_TRUE(HeaderSumOk(block));
}

TEST(BuildTarHeader, NameLengthsAndModes) {
  PfFileStatus status = {0100444, 0, 0, 0, 0};
  unsigned char block[kBlockSize];
  std::string hundred(100, 'n');
  ASSERT_TRUE(BuildTarHeader(status, {kTypeRegular, hundred.c_str(), ""}, block));
  EXPECT_EQ(hundred, std::string(reinterpret_cast<char*>(block), 100));
  EXPECT_EQ(' ', block[100]);  // the mode field follows directly
  std::string longer(101, 'n');
  ASSERT_TRUE(BuildTarHeader(status, {kTypeRegular, longer.c_str(), ""}, block));
  EXPECT_EQ(std::string(99, 'n'), std::string(reinterpret_cast<char*>(block), 99));
  EXPECT_EQ(0, block[99]);
  EXPECT_EQ(0444, ReadOctal(8, block + kMode.offset));
  // The permission bits are kept whole, set-user-ID too; the type bits go.
  for (uint32_t mode : {0100777u, 0104755u, 040700u}) {
    status.mode = mode;
    ASSERT_TRUE(BuildTarHeader(status, {kTypeRegular, "x", ""}, block));
    EXPECT_EQ(static_cast<int32_t>(mode & 07777), ReadOctal(8, block + kMode.offset)) << mode;
  }
}

// Folders and links: their typeflag, no size whatever the status says, the
// target in the linkname field (OEM, cut like a name), and before the
// header the entries that carry what its fields cannot, as GNU tar reads
// them.
TEST(BuildTarHeader, FoldersAndLinks) {
  CLASSIC_CODE_PAGE_ONLY();
  ASSERT_TRUE(PeersAvailable());
  const std::string longName(120, 'n');
  const std::string longTarget = "d/" + std::string(120, 't');
  struct Row {
    int line;
    char typeflag;
    std::string name;
    std::string link;
    std::string field;    // the linkname field up to its first NUL
    const char* entries;  // the typeflags of the entries before the header
    std::string listed;   // how the member's line of "tar -tvf" ends
  } rows[] = {
      {__LINE__, kTypeDirectory, "docs\\sub\\", "", "", "", "docs/sub/"},
      {__LINE__, kTypeSymlink, "a", "..\\f.txt", "../f.txt", "", "a -> ../f.txt"},
      {__LINE__, kTypeSymlink, "a", std::string(100, 't'), std::string(100, 't'), "",
       "a -> " + std::string(100, 't')},
      {__LINE__, kTypeSymlink, "a", longTarget, longTarget.substr(0, 99), "K", "a -> " + longTarget},
      {__LINE__, kTypeSymlink, "a", "caf\xE9", "caf\x82", "x", "a -> caf\xC3\xA9"},
      {__LINE__, kTypeHardLink, longName, longTarget, longTarget.substr(0, 99), "KL",
       longName + " link to " + longTarget},
      {__LINE__, kTypeSymlink, "\xE9t\xE9", longTarget, longTarget.substr(0, 99), "xK",
       "\xC3\xA9t\xC3\xA9 -> " + longTarget},
      {__LINE__, kTypeHardLink, "caf\xE9", "\xE9t\xE9", "\x82t\x82", "x",
       "caf\xC3\xA9 link to \xC3\xA9t\xC3\xA9"},
  };
  std::string dir = MakeTempDir();
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    MemberHead head = {row.typeflag, row.name.c_str(), row.link.c_str()};
    PfFileStatus status = {0100644, 0, 0, 5, 0};
    unsigned char block[kBlockSize];
    ASSERT_TRUE(BuildTarHeader(status, head, block));
    EXPECT_EQ(row.typeflag, static_cast<char>(block[kTypeflag.offset]));
    EXPECT_EQ(0, ReadOctal(12, block + kSize.offset));
    const char* field = reinterpret_cast<const char*>(block + kLinkname.offset);
    EXPECT_EQ(row.field, std::string(field, strnlen(field, kLinkname.width)));
    unsigned char entries[kNameEntryMax];
    size_t length = 0;
    ASSERT_TRUE(BuildNameEntries(head, entries, &length));
    std::string kinds;
    for (size_t at = 0; at < length;
         at += kBlockSize + static_cast<size_t>(PaddedSize(ReadOctal(12, entries + at + kSize.offset)))) {
      kinds += static_cast<char>(entries[at + kTypeflag.offset]);
    }
    EXPECT_EQ(row.entries, kinds);
    std::string archive(reinterpret_cast<char*>(entries), length);
    archive.append(reinterpret_cast<char*>(block), kBlockSize);
    WriteFile(Join(dir, "a.tar"), archive + std::string(1024, '\0'));
    std::vector<std::string> lines = PeerListing("LC_ALL=C.UTF-8 tar", Join(dir, "a.tar"));
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(row.listed, lines[0].substr(lines[0].size() - std::min(lines[0].size(), row.listed.size())));
  }
  RemoveTree(dir);
  // A text past what one entry carries is refused, not cut.
  const std::string tooLong(kLongNameMax, 't');
  const std::string tooWide(kLongNameMax / 2, '\xE9');  // two UTF-8 bytes each
  unsigned char entries[kNameEntryMax];
  size_t length;
  EXPECT_FALSE(BuildNameEntries({kTypeSymlink, "a", tooLong.c_str()}, entries, &length));
  EXPECT_FALSE(BuildNameEntries({kTypeSymlink, "a", tooWide.c_str()}, entries, &length));
  EXPECT_TRUE(BuildNameEntries({kTypeSymlink, "a", tooLong.c_str() + 1}, entries, &length));
}

// Sizes and times: octal where eleven digits hold them, base-256 beyond,
// and every form read back; what is none reads as nothing.
TEST(NumberFields, Table) {
  struct Row {
    int line;
    int64_t value;
    const char* field;  // 12 bytes as written
  } rows[] = {
      {__LINE__, 0, "          0 "},
      {__LINE__, 0x7FFFFFFF, "17777777777 "},
      {__LINE__, (int64_t{1} << 33) - 1, "77777777777 "},
      {__LINE__, int64_t{1} << 33, "\x80\0\0\0\0\0\0\x02\0\0\0\0"},
      {__LINE__, int64_t{1} << 62, "\x80\0\0\0\x40\0\0\0\0\0\0\0"},
      {__LINE__, -1, "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"},
      {__LINE__, -144720000, "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xF7\x5F\xBF\x80"},
      {__LINE__, INT64_MIN, "\xFF\xFF\xFF\xFF\x80\0\0\0\0\0\0\0"},
  };
  for (const Row& row : rows) {
    unsigned char field[13];
    memset(field, 'Q', sizeof field);
    WriteNumberField(row.value, field);
    EXPECT_EQ(std::string(row.field, 12), std::string(reinterpret_cast<char*>(field), 12))
        << "line " << row.line;
    EXPECT_EQ('Q', field[12]) << "line " << row.line;
    int64_t back = 0;
    EXPECT_TRUE(ReadNumberField(12, field, &back)) << "line " << row.line;
    EXPECT_EQ(row.value, back) << "line " << row.line;
  }
  struct Read {
    int line;
    const char* field;  // 12 bytes
    bool ok;
    int64_t value;
  } reads[] = {
      {__LINE__, "777777777777", true, (int64_t{1} << 36) - 1},  // no terminator
      {__LINE__, "00000001750\0", true, 1000},
      {__LINE__, "\0\0\0\0\0\0\0\0\0\0\0\0", true, 0},
      {__LINE__, "            ", false, 0},
      {__LINE__, "12x         ", false, 0},
      {__LINE__, "\x80\0\0\x01\0\0\0\0\0\0\0\0", false, 0},  // 2^64: past 64 bits
      {__LINE__, "\x80\0\0\0\x80\0\0\0\0\0\0\0", false, 0},  // 2^63
      {__LINE__, "\xFF\xFF\xFF\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", false, 0},
      {__LINE__, "\x81\0\0\0\0\0\0\0\0\0\0\x01", false, 0},  // neither form
  };
  for (const Read& r : reads) {
    int64_t value = -7;
    EXPECT_EQ(r.ok, ReadNumberField(12, Bytes(r.field), &value)) << "line " << r.line;
    if (r.ok) {
      EXPECT_EQ(r.value, value) << "line " << r.line;
    }
  }
}

TEST(ParseDecimal, Table) {
  struct Row {
    int line;
    const char* text;
    bool isSigned;
    bool fraction;
    bool ok;
    int64_t value;
  } rows[] = {
      {__LINE__, "2684354560", false, false, true, 2684354560LL},
      {__LINE__, "1796720769.395921304", true, true, true, 1796720769},
      {__LINE__, "-144720000.5", true, true, true, -144720001},  // rounded down
      {__LINE__, "-5.25", true, true, true, -6},
      {__LINE__, "-5.000", true, true, true, -5},
      {__LINE__, ".5", true, true, false, 0},
      {__LINE__, "+3", true, true, false, 0},
      {__LINE__, "-5", false, false, false, 0},
      {__LINE__, "1.5", false, false, false, 0},
      {__LINE__, "", false, false, false, 0},
      {__LINE__, "-", true, false, false, 0},
      {__LINE__, "12 ", false, false, false, 0},
      {__LINE__, "9223372036854775807", false, false, true, INT64_MAX},
      {__LINE__, "9223372036854775808", false, false, false, 0},
  };
  for (const Row& row : rows) {
    int64_t value = -7;
    EXPECT_EQ(row.ok, ParseDecimal(row.text, strlen(row.text), row.isSigned, row.fraction, &value))
        << "line " << row.line;
    if (row.ok) {
      EXPECT_EQ(row.value, value) << "line " << row.line;
    }
  }
}
