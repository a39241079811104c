// Walks over names by character under a double-byte code page (932), UTF-8
// and Windows-1252; upper-casing and stored names under the code page the
// tests run under.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "codepage.h"
#include "names/chars.h"
#include "names/masks.h"
#include "tar/membername.h"

namespace {

const unsigned char kCp932Leads[] = {0x81, 0x9F, 0xE0, 0xFC, 0};

struct Pages {
  CodePage cp932 = LeadByteCodePage(kCp932Leads);
  CodePage utf8 = Utf8CodePage();
  CodePage cp1252 = CodePage{kOneByte, {}};
};

// "表" in 932 is 95 5C: its trail byte looks like "\". "ソ" is 83 5C.
const char kHyo[] = "\x95\x5C";
const char kSo[] = "\x83\x5C";

}  // namespace

TEST(CharWalks, Table) {
  Pages p;
  struct Row {
    int line;
    const CodePage* cp;
    std::string path;
    const char* directory;
    const char* name;
    const char* extension;
    size_t cutAt7;  // CharCut to 7 bytes
    bool endsInSeparator;
  } rows[] = {
      {__LINE__, &p.cp932, std::string("d\\") + kHyo, "d\\", kHyo, "", 4, false},
      {__LINE__, &p.cp932, std::string(kHyo) + "\\" + kSo + ".t", "\x95\x5C\\", kSo, ".t", 7,
       false},
      {__LINE__, &p.cp932, std::string("ab") + kSo + kSo + kSo, "", "ab\x83\x5C\x83\x5C\x83\x5C",
       "", 6, false},
      {__LINE__, &p.cp932, std::string("x\\") + kHyo + "\\", "x\\\x95\x5C\\", "", "", 5, true},
      {__LINE__, &p.cp932, "\x95", "", "\x95", "", 1, false},  // a lead byte before the end
      {__LINE__, &p.cp1252, std::string("ab") + kSo + kSo + kSo, "ab\x83\\\x83\\\x83\\", "", "", 7,
       true},
      {__LINE__, &p.utf8, "\xC3\xA9t\xC3\xA9\\\xE4\xB8\xAD.txt", "\xC3\xA9t\xC3\xA9\\",
       "\xE4\xB8\xAD", ".txt", 6, false},
      {__LINE__, &p.utf8, "\xF0\x9F\x98\x80\xF0\x9F\x98\x80", "", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80",
       "", 4, false},
      {__LINE__, &p.utf8, "a\xFF\xC3.\\", "a\xFF\xC3.\\", "", "", 5, true},  // no UTF-8: a byte each
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    char directory[kPartSize], name[kPartSize], extension[kPartSize];
    SplitPath(row.path.c_str(), nullptr, directory, name, extension, row.cp);
    EXPECT_STREQ(row.directory, directory);
    EXPECT_STREQ(row.name, name);
    EXPECT_STREQ(row.extension, extension);
    EXPECT_EQ(row.cutAt7, CharCut(*row.cp, row.path.c_str(), row.path.size(), 7));
    EXPECT_EQ(row.endsInSeparator, EndsWithChar(*row.cp, row.path.c_str(), row.path.size(), "\\"));
    const char* last = FindLastChar(*row.cp, row.path.c_str(), "\\");
    EXPECT_EQ(strlen(row.directory), last == nullptr ? 0 : last - row.path.c_str() + 1);
  }
}

// Under UTF-8 "?" is one code point and the character after a "*" is one
// code point; under classic code pages, double-byte ones too, both are one
// byte, as they always were.
TEST(MatchWildcard, ByCharacter) {
  Pages p;
  struct Row {
    int line;
    const CodePage* cp;
    const char* text;
    const char* pattern;
    bool want;
  } rows[] = {
      {__LINE__, &p.utf8, "\xC3\x89T\xC3\x89", "?T?", true},
      {__LINE__, &p.utf8, "\xC3\x89T\xC3\x89", "??T??", false},
      {__LINE__, &p.utf8, "\xF0\x9F\x98\x80", "?", true},  // outside the BMP
      {__LINE__, &p.utf8, "\xE4\xB8\xAD\xE6\x96\x87", "*\xE6\x96\x87", true},
      {__LINE__, &p.utf8, "\xE4\xB8\xAD\xE6\x96\x87", "*?", true},
      {__LINE__, &p.utf8, "\xE4\xB8\xAD\xE6\x96\x87", "?\xE6\x96\x87", true},
      {__LINE__, &p.utf8, "\xE4\xB8\xAD\xE6\x96\x87", "?\xE6\x96", false},  // no half characters
      {__LINE__, &p.utf8, "E\xCC\x81", "?", false},  // NFD: a letter and an accent
      {__LINE__, &p.utf8, "E\xCC\x81", "??", true},
      {__LINE__, &p.cp932, kHyo, "?", false},
      {__LINE__, &p.cp932, kHyo, "??", true},
      {__LINE__, &p.cp1252, "\xC3\x89", "??", true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.want, MatchWildcard(row.text, row.pattern, row.cp)) << "line " << row.line;
  }
}

// Raised through UTF-16, each character on its own: the upper case may take
// another number of bytes, and bytes that are no UTF-8 stay.
TEST(UpperText, Utf8) {
  if (!TestsUnderUtf8()) GTEST_SKIP() << "needs a UTF-8 code page";
  struct Row {
    int line;
    const char* src;
    const char* want;
  } rows[] = {
      {__LINE__, "\xC3\xA9t\xC3\xA9.txt", "\xC3\x89T\xC3\x89.TXT"},            // été
      {__LINE__, "\xCE\xB1\xCE\xB2\xCE\xB3", "\xCE\x91\xCE\x92\xCE\x93"},      // αβγ
      {__LINE__, "\xD0\xB6\xD1\x83\xD0\xBA", "\xD0\x96\xD0\xA3\xD0\x9A"},      // жук
      {__LINE__, "\xE2\xB1\xA5x", "\xC8\xBAX"},                                  // ⱥ: 3 bytes to 2
      {__LINE__, "\xC9\x90x", "\xE2\xB1\xAFX"},                                  // ɐ: 2 bytes to 3
      {__LINE__, "\xE4\xB8\xAD\xE3\x81\x8B\xF0\x9F\x98\x80", "\xE4\xB8\xAD\xE3\x81\x8B\xF0\x9F\x98\x80"},
      {__LINE__, "e\xCC\x81", "E\xCC\x81"},                                       // NFD stays NFD
      {__LINE__, "a\xFF\xC3z", "A\xFF\xC3Z"},
  };
  for (const Row& row : rows) {
    char out[kPartSize];
    EXPECT_EQ(strlen(row.want), UpperText(row.src, out, sizeof out)) << "line " << row.line;
    EXPECT_STREQ(row.want, out) << "line " << row.line;
  }
  // A cut falls between characters.
  char small[6];
  EXPECT_EQ(4u, UpperText("\xC3\xA9\xC3\xA9\xC3\xA9", small, sizeof small));
  EXPECT_STREQ("\xC3\x89\xC3\x89", small);
  // A prefix in another case at another length.
  EXPECT_EQ(5u, CaselessPrefix("\xE2\xB1\xA5nx\\y", "\xC8\xBANX"));
  EXPECT_EQ(SIZE_MAX, CaselessPrefix("\xE2\xB1\xA5nx", "\xC8\xBANY"));
}

// Under UTF-8 a stored name that is UTF-8 keeps its bytes, any other reads
// as code page 437; pax names that are no UTF-8 too.
TEST(DecodeStoredText, Utf8) {
  if (!TestsUnderUtf8()) GTEST_SKIP() << "needs a UTF-8 code page";
  struct Row {
    int line;
    const char* stored;
    bool fromPax;
    const char* want;
  } rows[] = {
      {__LINE__, "\xCE\xB1\\\xF0\x9F\x98\x80", false, "\xCE\xB1\\\xF0\x9F\x98\x80"},
      {__LINE__, "caf\x82", false, "caf\xC3\xA9"},           // cp437 é
      {__LINE__, "\xC9\xCD\xBB", true, "\xE2\x95\x94\xE2\x95\x90\xE2\x95\x97"},  // box corners
      {__LINE__, "\xC2\xA2", false, "\xC2\xA2"},              // valid UTF-8 wins
  };
  for (const Row& row : rows) {
    char scratch[kRawNameSize];
    char out[256];
    EXPECT_TRUE(DecodeStoredText(row.stored, row.fromPax, false, scratch, out, sizeof out))
        << "line " << row.line;
    EXPECT_STREQ(row.want, out) << "line " << row.line;
  }
  // Past 255 bytes the name is cut at a character and marked.
  std::string long2(200, 'x');
  for (int i = 0; i < 30; i++) long2 += "\xE4\xB8\xAD";
  char scratch[kRawNameSize];
  char out[256];
  EXPECT_FALSE(DecodeStoredText(long2.c_str(), false, false, scratch, out, sizeof out));
  EXPECT_EQ(254u, strlen(out));
}
