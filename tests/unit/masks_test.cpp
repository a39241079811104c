// Mask lists, the splitting of paths, upper-casing and wildcard matching.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "codepage.h"
#include "names/masks.h"

namespace {

// A list built with the module's own functions and freed at the end.
struct MaskList {
  FileMaskList list;
  MaskList() { InitFileMaskList(&list); }
  // Each mask as `spell` gives it: Windows-1252 spellings in the code page
  // the tests run under.
  explicit MaskList(std::initializer_list<const char*> masks,
                    std::string (*spell)(const std::string&) = nullptr)
      : MaskList() {
    for (const char* mask : masks) {
      std::string m = spell != nullptr ? spell(mask) : mask;
      EXPECT_EQ(1, AppendFileMask(m.c_str(), &list)) << mask;
    }
  }
  ~MaskList() { DoneFileMaskList(&list); }
};

std::string Repeat(const std::string& part, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; i++) out += part;
  return out;
}

}  // namespace

TEST(SplitPath, Table) {
  struct Row {
    int line;
    const char* path;
    const char* drive;
    const char* directory;
    const char* name;
    const char* extension;
  } rows[] = {
      {__LINE__, "C:\\DATA\\REPORT.DOC", "C:", "\\DATA\\", "REPORT", ".DOC"},
      {__LINE__, "docs/a.txt", "", "docs/", "a", ".txt"},
      {__LINE__, "ARCHIVE.TAR.GZ", "", "", "ARCHIVE.TAR", ".GZ"},
      {__LINE__, ".PROFILE", "", "", "", ".PROFILE"},
      {__LINE__, "a.b\\c", "", "a.b\\", "c", ""},  // the dot is not in the last part
      {__LINE__, "a.b/c.d\\e", "", "a.b/c.d\\", "e", ""},
      {__LINE__, "dir\\", "", "dir\\", "", ""},
      {__LINE__, "name.", "", "", "name", "."},
      {__LINE__, "C:", "C:", "", "", ""},
      {__LINE__, "C:x.txt", "C:", "", "x", ".txt"},
      {__LINE__, "C:\\", "C:", "\\", "", ""},
      {__LINE__, "ab:c", "", "", "ab:c", ""},  // a colon elsewhere is no drive
      {__LINE__, ":", "", "", ":", ""},
      {__LINE__, "", "", "", "", ""},
      {__LINE__, "\\\\srv\\share\\f", "", "\\\\srv\\share\\", "f", ""},
      {__LINE__, "d\\*.*", "", "d\\", "*", ".*"},
  };
  for (const Row& row : rows) {
    char drive[3];
    char directory[kPartSize];
    char name[kPartSize];
    char extension[kPartSize];
    memset(drive, 'Q', sizeof drive);
    SplitPath(row.path, drive, directory, name, extension);
    EXPECT_STREQ(row.drive, drive) << "line " << row.line;
    EXPECT_STREQ(row.directory, directory) << "line " << row.line;
    EXPECT_STREQ(row.name, name) << "line " << row.line;
    EXPECT_STREQ(row.extension, extension) << "line " << row.line;
    // Every output may be absent.
    SplitPath(row.path, nullptr, nullptr, nullptr, nullptr);
    SplitPath(row.path, nullptr, nullptr, name, nullptr);
    EXPECT_STREQ(row.name, name) << "line " << row.line;
  }
}

TEST(SplitPath, PartsAreCutTo255Characters) {
  // Parts far longer than the buffers: each is cut, and nothing past the
  // 256 bytes of a buffer is written.
  struct Guarded {
    char part[kPartSize];
    char guard[16];
  } directory, name, extension;
  std::string path = "C:" + std::string(300, 'd') + "\\" + std::string(400, 'n') + "." +
                     std::string(500, 'e');
  for (Guarded* g : {&directory, &name, &extension}) memset(g->guard, 'G', sizeof g->guard);
  char drive[3];
  SplitPath(path.c_str(), drive, directory.part, name.part, extension.part);
  EXPECT_STREQ("C:", drive);
  EXPECT_EQ(std::string(255, 'd'), directory.part);
  EXPECT_EQ(std::string(255, 'n'), name.part);
  EXPECT_EQ("." + std::string(254, 'e'), extension.part);
  for (Guarded* g : {&directory, &name, &extension}) {
    EXPECT_EQ(std::string(16, 'G'), std::string(g->guard, 16));
  }
}

TEST(UpperText, TheCodePagesUpperCase) {
  CLASSIC_CODE_PAGE_ONLY();
  struct Row {
    int line;
    const char* src;
    const char* want;
  } rows[] = {
      {__LINE__, "readme.txt", "README.TXT"},
      {__LINE__, "aZz09`{@[_", "AZZ09`{@[_"},  // the neighbours of a-z stay
      {__LINE__, "\xE4\xF6\xFC\xE9\xE0\xE3\xF8\xFE", "\xC4\xD6\xDC\xC9\xC0\xC3\xD8\xDE"},
      {__LINE__, "\x9A\x9C\x9E\xFF", "\x8A\x8C\x8E\x9F"},  // š œ ž ÿ
      {__LINE__, "\xDF\xF7\xC4\xD6", "\xDF\xF7\xC4\xD6"},  // ß and ÷ have no capital
      {__LINE__, "", ""},
  };
  for (const Row& row : rows) {
    char out[kPartSize];
    EXPECT_EQ(strlen(row.want), UpperText(row.src, out, sizeof out)) << "line " << row.line;
    EXPECT_STREQ(row.want, out) << "line " << row.line;
  }
  std::string longer(400, 'q');
  char out[kPartSize + 4];
  memset(out, 'G', sizeof out);
  UpperText(longer.c_str(), out, kPartSize);
  EXPECT_EQ(std::string(255, 'Q'), out);
  EXPECT_EQ(std::string(3, 'G'), std::string(out + kPartSize, 3));
}

TEST(MatchWildcard, Table) {
  struct Row {
    int line;
    const char* text;
    const char* pattern;
    bool want;
  } rows[] = {
      {__LINE__, "", "", true},
      {__LINE__, "A", "", false},
      {__LINE__, "", "*", true},
      {__LINE__, "", "?", false},
      {__LINE__, "", "*?", false},
      {__LINE__, "AB", "*?", true},
      {__LINE__, "AB", "A*", true},
      {__LINE__, "A*", "**", true},   // a "*" right after a "*" is literal
      {__LINE__, "AB", "**", false},
      {__LINE__, "A*B", "A**B", true},
      {__LINE__, "AXB", "A**B", false},
      {__LINE__, "A**", "***", true},  // star, literal star, star
      {__LINE__, "AC", "A*C", true},
      {__LINE__, "ABC", "A*C", true},
      {__LINE__, "ABD", "A*C", false},
      {__LINE__, "ABCBC", "*BC", true},
      {__LINE__, "ABCBD", "*BC", false},
      {__LINE__, "ABC", "*B*", true},
      {__LINE__, "ABC", "*C*", true},
      {__LINE__, "ABC", "*?C", true},
      {__LINE__, "ABC", "A?C", true},
      {__LINE__, "AC", "A?C", false},
      {__LINE__, "ABC", "AB", false},
      {__LINE__, "AB", "ABC", false},
      {__LINE__, "a", "A", false},     // bytes compare exactly
      {__LINE__, "\xE9", "?", true},
      {__LINE__, "\xE9", "\xC9", false},
      {__LINE__, "X?Y", "X?Y", true},
      {__LINE__, "XAY", "X?Y", true},
      {__LINE__, "AAAB", "*A?", true},
      {__LINE__, "AAAB", "*A", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.want, MatchWildcard(row.text, row.pattern))
        << "line " << row.line << ": \"" << row.text << "\" against \"" << row.pattern << "\"";
  }
}

// Patterns that make a plain recursion branch at every star. The answers
// must come without a noticeable wait; a hang times the test out.
TEST(MatchWildcard, NastyPatternsFinish) {
  std::string a255(255, 'a');
  std::string a254b = std::string(254, 'a') + "b";
  std::string stars200(200, '*');
  struct Row {
    int line;
    std::string text;
    std::string pattern;
    bool want;
  } rows[] = {
      {__LINE__, a255, Repeat("*a", 127) + "b", false},
      {__LINE__, a255, Repeat("*a", 127) + "*", true},
      {__LINE__, a254b, Repeat("*?", 127) + "b", true},
      {__LINE__, a254b, Repeat("*?", 127) + "c", false},
      {__LINE__, a255, Repeat("*?", 127) + "?", true},
      {__LINE__, std::string(126, 'a'), Repeat("*?", 127) + "*", false},
      {__LINE__, stars200, std::string(255, '*'), true},   // 127 literal stars
      {__LINE__, std::string(126, '*'), std::string(255, '*'), false},
      {__LINE__, Repeat("ab", 200), Repeat("*a", 127) + "c", false},
      {__LINE__, Repeat("ab", 200), Repeat("*a", 127) + "?", true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.want, MatchWildcard(row.text.c_str(), row.pattern.c_str()))
        << "line " << row.line;
  }
}

TEST(AppendFileMask, StoredParts) {
  struct Row {
    int line;
    const char* mask;
    const char* directory;
    const char* name;
    const char* extension;
  } rows[] = {
      {__LINE__, "DOCS/A.TXT", "DOCS\\", "A", "TXT"},
      {__LINE__, "ARCHIVE.TAR.GZ", "", "ARCHIVE.TAR", "GZ"},
      {__LINE__, ".PROFILE", "", "", "PROFILE"},
      {__LINE__, "C:\\Data\\Report.doc", "C:\\Data\\", "Report", "doc"},
      {__LINE__, "C:/x/y/*.*", "C:\\x\\y\\", "*", "*"},
      {__LINE__, "C:", "C:", "", ""},
      {__LINE__, "C:a.b", "C:", "a", "b"},
      {__LINE__, "readme", "", "readme", ""},
      {__LINE__, "name.", "", "name", ""},
      {__LINE__, "*", "", "*", ""},
      {__LINE__, "", "", "", ""},
  };
  for (const Row& row : rows) {
    MaskList masks({row.mask});
    const FileMaskEntry* e = masks.list.first;
    ASSERT_NE(nullptr, e) << "line " << row.line;
    EXPECT_EQ(e, masks.list.last) << "line " << row.line;
    EXPECT_EQ(nullptr, e->next) << "line " << row.line;
    EXPECT_STREQ(row.directory, e->directory) << "line " << row.line;
    EXPECT_STREQ(row.name, e->name) << "line " << row.line;
    EXPECT_STREQ(row.extension, e->extension) << "line " << row.line;
    // What follows the extension is zero: all 256 bytes when there is none.
    size_t len = strlen(e->extension);
    EXPECT_EQ(std::string(256 - len, '\0'), std::string(e->extension + len, 256 - len))
        << "line " << row.line;
#if UINTPTR_MAX == 0xFFFFFFFFu
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(e);
    uint32_t dirPointer;
    memcpy(&dirPointer, raw, 4);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(e->directory), dirPointer);
    EXPECT_STREQ(row.name, reinterpret_cast<const char*>(raw + 4)) << "line " << row.line;
    EXPECT_STREQ(row.extension, reinterpret_cast<const char*>(raw + 260)) << "line " << row.line;
    EXPECT_EQ(std::string(4, '\0'), std::string(reinterpret_cast<const char*>(raw + 516), 4));
#endif
  }
}

TEST(AppendFileMask, OrderDoneAndRefill) {
  FileMaskList list;
  InitFileMaskList(&list);
  EXPECT_EQ(nullptr, list.first);
  EXPECT_EQ(nullptr, list.last);
  for (const char* mask : {"one.a", "two.b", "three.c"}) ASSERT_EQ(1, AppendFileMask(mask, &list));
  ASSERT_NE(nullptr, list.first);
  EXPECT_STREQ("one", list.first->name);
  EXPECT_STREQ("two", list.first->next->name);
  EXPECT_EQ(list.last, list.first->next->next);
  EXPECT_STREQ("three", list.last->name);
  EXPECT_EQ(nullptr, list.last->next);
  DoneFileMaskList(&list);
  EXPECT_EQ(nullptr, list.first);
  EXPECT_EQ(nullptr, list.last);
  DoneFileMaskList(&list);  // an empty list only clears the head
  // Filled again without another InitFileMaskList.
  ASSERT_EQ(1, AppendFileMask("again.x", &list));
  EXPECT_EQ(list.first, list.last);
  EXPECT_STREQ("again", list.first->name);
  DoneFileMaskList(&list);
}

// Candidates as MatchFileMaskList hands them on: upper-cased, with "\".
TEST(MatchFileMask, Table) {
  struct Row {
    int line;
    const char* mask;
    const char* candidate;
    bool want;
  } rows[] = {
      {__LINE__, "*.*", "A.TXT", true},
      {__LINE__, "*.*", "DOCS\\SUB\\B.TXT", true},
      {__LINE__, "*.*", "DOCS\\", true},  // a directory member
      {__LINE__, "*.*", "README", true},
      {__LINE__, "*", "README", true},
      {__LINE__, "*", "SRC\\MAKEFILE", true},
      {__LINE__, "*", "A.TXT", false},
      {__LINE__, "*.TXT", "A.TXT", true},
      {__LINE__, "*.TXT", "DOCS\\SUB\\B.TXT", true},
      {__LINE__, "*.TXT", "A.DOC", false},
      {__LINE__, "*.TXT", "A.TXTX", false},
      {__LINE__, "?.TXT", "A.TXT", true},
      {__LINE__, "?.TXT", "DOCS\\A.TXT", false},  // narrow: no directory
      {__LINE__, "?.TXT", "AB.TXT", false},
      {__LINE__, "A*.TXT", "A.TXT", true},
      {__LINE__, "A*.TXT", "ABC.TXT", true},
      {__LINE__, "A*.TXT", "DOCS\\A.TXT", false},
      {__LINE__, "*X.TXT", "D\\AX.TXT", true},  // wide: its name starts with "*"
      {__LINE__, "DOCS\\*.*", "DOCS\\A.TXT", true},
      {__LINE__, "DOCS\\*.*", "DOCS\\SUB\\B.TXT", true},
      {__LINE__, "DOCS\\*.*", "OLD\\DOCS\\A.TXT", false},  // prefix from the start
      {__LINE__, "DOCS\\*.*", "DOCSX\\A.TXT", false},
      {__LINE__, "DOCS\\*.*", "A.TXT", false},
      {__LINE__, "DOCS\\A*.TXT", "DOCS\\AB.TXT", true},
      {__LINE__, "DOCS\\A*.TXT", "DOCS\\SUB\\AB.TXT", false},
      {__LINE__, "DOCS/A.TXT", "DOCS\\A.TXT", true},
      {__LINE__, "docs\\a.txt", "DOCS\\A.TXT", true},  // the mask is upper-cased
      {__LINE__, "readme.txt", "README.TXT", true},
      {__LINE__, "NONE.XYZ", "NONE.XYZ", true},
      {__LINE__, "NONE.XYZ", "DIR\\NONE.XYZ", false},
      {__LINE__, "NONE.XYZ", "NONE.XY", false},
      {__LINE__, "C:\\DATA\\*.DOC", "C:\\DATA\\R.DOC", true},
      {__LINE__, "C:\\DATA\\*.DOC", "DATA\\R.DOC", false},
      {__LINE__, "C:*.*", "C:X.TXT", true},
      {__LINE__, "D?CS\\*.*", "DOCS\\A.TXT", false},  // no wildcards in directories
      {__LINE__, "D?CS\\A.TXT", "D?CS\\A.TXT", true},
      {__LINE__, "*\\A.TXT", "X\\A.TXT", false},
      {__LINE__, "*.TAR.GZ", "X.TAR.GZ", true},
      {__LINE__, "*.TAR.GZ", "X.GZ", false},
      {__LINE__, ".PROFILE", ".PROFILE", true},
      {__LINE__, ".PROFILE", "X.PROFILE", false},
      {__LINE__, "name.", "NAME", true},  // a lone dot: no extension
      {__LINE__, "name.", "NAME.TXT", false},
      {__LINE__, "*.", "README", true},
      {__LINE__, "*.", "A.TXT", false},
      {__LINE__, "caf\xE9.txt", "CAF\xE9.TXT", false},  // the mask's é is raised
      {__LINE__, "caf\xE9.txt", "CAF\xC9.TXT", true},
      {__LINE__, "\xE4\xF6.txt", "\xC4\xD6.TXT", true},
  };
  for (const Row& row : rows) {
    MaskList masks({Ansi(row.mask).c_str()});
    const FileMaskEntry* e = masks.list.first;
    std::string before = std::string(e->directory) + "|" + e->name + "|" + e->extension;
    EXPECT_EQ(row.want, MatchFileMask(Ansi(row.candidate).c_str(), e))
        << "line " << row.line << ": " << row.candidate << " against " << row.mask;
    // Only copies of the mask's parts are upper-cased.
    EXPECT_EQ(before, std::string(e->directory) + "|" + e->name + "|" + e->extension)
        << "line " << row.line;
  }
}

TEST(MatchFileMaskList, ListsAndRawCandidates) {
  struct Row {
    int line;
    std::initializer_list<const char*> masks;
    const char* candidate;
    bool want;
  } rows[] = {
      {__LINE__, {}, "anything\\at all", true},  // an empty list accepts all
      {__LINE__, {}, "", true},
      {__LINE__, {"NONE.XYZ"}, "none.xyz", true},
      {__LINE__, {"NONE.XYZ"}, "NoNe.XyZ", true},
      {__LINE__, {"NONE.XYZ"}, "dir/none.xyz", false},
      {__LINE__, {"docs\\*.*"}, "docs/sub/b.txt", true},  // "/" becomes "\"
      {__LINE__, {"ReadMe.Txt"}, "readme.TXT", true},
      {__LINE__, {"a.txt", "b.txt"}, "B.TXT", true},
      {__LINE__, {"a.txt", "b.txt"}, "c.txt", false},
      {__LINE__, {"x\\*.*", "*.doc"}, "y\\r.doc", true},
      // Both sides are raised by the code page: every letter matches itself
      // in either case.
      {__LINE__, {"gr\xFC\xDF" "e.txt"}, "Gr\xFC\xDF" "e.txt", true},
      {__LINE__, {"Gr\xDC\xDF" "e.txt"}, "GR\xFC\xDF" "E.TXT", true},
      {__LINE__, {"caf\xE9.txt"}, "caf\xE9.txt", true},
      {__LINE__, {"CAF\xC9.TXT"}, "caf\xE9.txt", true},
      {__LINE__, {"\x8A" "est.txt"}, "\x9A" "est.txt", true},  // Š and š
      {__LINE__, {"\xE4.txt"}, "\xC4.TXT", true},
      {__LINE__, {"\xC4.TXT"}, "\xE4.txt", true},
      {__LINE__, {"\xF6l.txt"}, "\xD6L.TXT", true},
      {__LINE__, {"\xE4pfel\\*.*"}, "\xC4pfel\\\xD6l.txt", true},
  };
  for (const Row& row : rows) {
    MaskList masks(row.masks, Ansi);
    EXPECT_EQ(row.want, MatchFileMaskList(Ansi(row.candidate).c_str(), &masks.list))
        << "line " << row.line << ": " << row.candidate;
  }
}

// Masks and names of more than 255 bytes are cut to 255.
TEST(MatchFileMaskList, LongMasksAndNamesAreCut) {
  std::string longName = "dir\\" + std::string(300, 'a') + ".txt";
  MaskList masks({longName.c_str()});
  const FileMaskEntry* e = masks.list.first;
  EXPECT_STREQ("dir\\", e->directory);
  EXPECT_EQ(std::string(251, 'a'), e->name);  // ".txt" fell beyond the cut
  EXPECT_EQ(std::string(256, '\0'), std::string(e->extension, 256));
  // The candidate is cut the same way, so the two agree again.
  EXPECT_TRUE(MatchFileMaskList(longName.c_str(), &masks.list));
  MaskList wide({"*.txt"});
  EXPECT_FALSE(MatchFileMaskList(longName.c_str(), &wide.list));
  std::string huge(5000, '*');
  MaskList stars({huge.c_str()});
  EXPECT_EQ(std::string(255, '*'), stars.list.first->name);
  EXPECT_TRUE(MatchFileMaskList(std::string(200, '*').c_str(), &stars.list));
  EXPECT_FALSE(MatchFileMaskList(std::string(5000, 'a').c_str(), &stars.list));
}
