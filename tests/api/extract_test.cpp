// Extraction through the exports: output paths, callbacks, the replace
// question, refused names, and files compared with what GNU tar extracts.
#include <algorithm>
#include <cstring>

#include "archives.h"
#include "fixture.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

struct ReplaceRow;

class ExtractTest : public ModuleTest {
 protected:
  void CheckReplace(const ReplaceRow& row);

  // Writes the archive, names it and registers every recorder (after
  // InitArcFile, which drops the registrations).
  void Prepare(const std::string& archive, const std::vector<TarItem>& items) {
    WriteFile(Path(archive), TarArchive(items));
    OpenArchive(archive);
    ASSERT_EQ(StatusOk, m.GetArchiveStatus()) << archive;
    Recorder::Reset();
    RegisterRecorder(true);
  }

  // Hands over a DecompSettings record with these three fields.
  void SetExtraction(int32_t mode, const std::string& base, const std::string& out) {
    std::vector<unsigned char> record(kDecompSettingsSize, 0);
    memcpy(&record[kDecompPathModeOffset], &mode, sizeof mode);
    ASSERT_LT(base.size(), kDecompOutputOffset - kDecompBasePathOffset);
    ASSERT_LT(out.size(), kDecompSettingsSize - kDecompOutputOffset);
    memcpy(&record[kDecompBasePathOffset], base.c_str(), base.size() + 1);
    memcpy(&record[kDecompOutputOffset], out.c_str(), out.size() + 1);
    m.SetDecompExtraFeatures(record.data());
  }

  uint16_t Extract(std::initializer_list<const char*> masks = {}) {
    FileMaskList list = Masks(masks);
    m.SetArchiveStatus(77);
    EXPECT_EQ(0, m.ExtractFileMaskListArc(&list));
    return m.GetArchiveStatus();
  }

};

// What appeared ("+name") and what went away ("-name") between two
// listings of a folder.
std::vector<std::string> TreeChanges(const std::vector<std::string>& before,
                                     const std::vector<std::string>& after) {
  std::vector<std::string> changes;
  for (const std::string& name : after) {
    if (!std::binary_search(before.begin(), before.end(), name)) changes.push_back("+" + name);
  }
  for (const std::string& name : before) {
    if (!std::binary_search(after.begin(), after.end(), name)) changes.push_back("-" + name);
  }
  return changes;
}

TEST_F(ExtractTest, PathModesWithBasePath) {
  struct Row {
    int line;
    int32_t mode;
    std::vector<std::string> tree;  // below the output directory
    const char* aTxt;               // where docs/sub/a.txt lands
  } rows[] = {
      {__LINE__, 0, {"README", "a.txt"}, "a.txt"},
      // The base path is cut from the names below it; README, outside it,
      // keeps its whole path.
      {__LINE__, 1, {"README", "sub/", "sub/a.txt"}, "sub/a.txt"},
      {__LINE__, 2, {"README", "docs/", "docs/sub/", "docs/sub/a.txt"}, "docs/sub/a.txt"},
      {__LINE__, 7, {"README", "docs/", "docs/sub/", "docs/sub/a.txt"}, "docs/sub/a.txt"},
  };
  for (const Row& row : rows) {
    std::string tag = "m" + std::to_string(row.line);
    Prepare(tag + ".tar", {Item("docs/sub/a.txt", "AAA"), Item("README", "RRR")});
    // The output directory and its parent do not exist yet.
    std::string out = tag + "/new/out";
    SetExtraction(row.mode, "docs", Mod(out));
    EXPECT_EQ(StatusOk, Extract()) << "line " << row.line;
    EXPECT_EQ(row.tree, ListTree(Path(out))) << "line " << row.line;
    EXPECT_EQ("AAA", ReadFile(Path(out + "/" + row.aTxt))) << "line " << row.line;
    // Whatever the mode, the host is told the whole member name.
    ASSERT_EQ(2u, NameEvents().size()) << "line " << row.line;
    std::string aPath = Mod(out + "/" + row.aTxt);
    EXPECT_EQ("name 22 \\docs\\sub\\a.txt | " + aPath, NameEvents()[0]) << "line " << row.line;
  }
}

TEST_F(ExtractTest, CallbacksTimesAndAttributes) {
  std::string big = Pattern(100000, 3);
  Prepare("a.tar", {Item("docs/big.bin", big, 0644, 1234567890),
                    Item("docs/dir", "xyz", 040755),  // a file, whatever its mode says
                    Item(".profile", "12345"), Item("docs/empty", "", 0444),
                    Item("docs/three", "333")});
  m.SetOutputPath(Mod("out").c_str());
  ASSERT_EQ(StatusOk, Extract());
  std::string o = Mod("out") + "\\";
  std::vector<std::string> want = {
      // Every listed member counts, also those that are not written.
      "signal 11 100011 0 2",
      "name 22 \\docs\\big.bin | " + o + "big.bin",
      "progress 33 65 65536",
      "progress 33 100 34464",
      "progress 33 100 0",
      "name 22 \\docs\\dir | " + o + "dir",
      "progress 33 100 3",
      "progress 33 100 0",
      // A name of a dot and an extension is an ordinary file.
      "name 22 \\.profile | " + o + ".profile",
      "progress 33 100 5",
      "progress 33 100 0",
      "name 22 \\docs\\empty | " + o + "empty",
      "progress 33 100 0",
      "name 22 \\docs\\three | " + o + "three",
      "progress 33 100 3",
      "progress 33 100 0",
  };
  EXPECT_EQ(want, Recorder::events);
  EXPECT_EQ((std::vector<std::string>{".profile", "big.bin", "dir", "empty", "three"}),
            ListTree(Path("out")));
  EXPECT_EQ(big, ReadFile(Path("out/big.bin")));
  EXPECT_EQ(1234567890, FileMtime(Path("out/big.bin")));
  EXPECT_EQ(1000000000, FileMtime(Path("out/empty")));
#ifdef _WIN32
  // The member's read-only bit is not applied.
  EXPECT_FALSE(IsReadOnly(Path("out/empty")));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE),
            GetFileAttributesA(Mod("out/empty").c_str()));
#else
  // Natively the member's mode is the file's, as the umask lets it.
  EXPECT_TRUE(IsReadOnly(Path("out/empty")));
#endif

  // Masks that select nothing: no callback at all.
  Recorder::Reset();
  EXPECT_EQ(StatusNoEntries, Extract({"*.zzz"}));
  EXPECT_TRUE(Recorder::events.empty());
}

// An existing read-only a.txt, the host's answer to the replace question,
// and what becomes of a.txt and of the member b.txt after it.
struct ReplaceRow {
  int line;
  bool registered;
  int answer;
  uint16_t status;
  bool replaced;  // a.txt holds the member afterwards
  bool goesOn;    // b.txt is extracted
};

void ExtractTest::CheckReplace(const ReplaceRow& row) {
  std::string tag = "r" + std::to_string(row.line);
  std::string where = "line " + std::to_string(row.line);
  Prepare(tag + ".tar", {Item("a.txt", "new data"), Item("b.txt", "bbb")});
  if (!row.registered) m.SetOkToReplaceProc(0, nullptr);
  Recorder::replaceAnswers = {row.answer};
  WriteFile(Path(tag + "/a.txt"), "old");
  ASSERT_TRUE(MakeReadOnly(Path(tag + "/a.txt"), true));
  m.SetOutputPath(Mod(tag).c_str());
  EXPECT_EQ(row.status, Extract()) << where;
  EXPECT_EQ(row.replaced ? "new data" : "old", ReadFile(Path(tag + "/a.txt"))) << where;
  EXPECT_EQ(!row.replaced, IsReadOnly(Path(tag + "/a.txt"))) << where;
  EXPECT_EQ(row.goesOn, PathExists(Path(tag + "/b.txt"))) << where;
  if (!row.registered) return;
  // Asked once, for a.txt only: nothing exists where b.txt goes.
  ASSERT_EQ(1u, Recorder::replaceQueries.size()) << where;
  const FindRecord& query = Recorder::replaceQueries[0];
  const FindRecord& found = Recorder::replaceFound[0];
  EXPECT_STREQ("a.txt", query.fileName) << where;
  EXPECT_EQ(8u, query.sizeLow) << where;
  EXPECT_EQ(0u, query.attributes) << where;
  EXPECT_STREQ("a.txt", found.fileName) << where;
  EXPECT_EQ(3u, found.sizeLow) << where;
  EXPECT_EQ(1u, found.attributes & 1u) << where;  // read-only
  // The host hears the name before it is asked.
  ASSERT_GE(Recorder::events.size(), 3u) << where;
  EXPECT_EQ(0u, Recorder::events[1].rfind("name 22 \\a.txt | ", 0)) << where;
  EXPECT_EQ("replace 44 a.txt", Recorder::events[2]) << where;
}

TEST_F(ExtractTest, ReplaceAnswersOnReadOnlyFile) {
  const ReplaceRow rows[] = {
      {__LINE__, true, 0, StatusOk, true, true},  // made writable first
      {__LINE__, true, 1, StatusOk, false, true},  // skipped
      {__LINE__, true, 2, StatusUserAbort, false, false},
      // Only the answer that makes it writable replaces it: any other, or
      // none, stops the extraction, whatever a rename would allow.
      {__LINE__, true, 5, StatusFileError, false, false},
      {__LINE__, false, 0, StatusFileError, false, false},
  };
  for (const ReplaceRow& row : rows) CheckReplace(row);
}

// Of two members of one name the last wins, unasked; only a file that was
// there before is asked about.
TEST_F(ExtractTest, SameNameTwiceTheLastCopyWins) {
  struct Row {
    int line;
    const char* before;  // a.txt in the output folder first; null: none
    int answer;
    size_t asked;
  } rows[] = {
      {__LINE__, nullptr, 0, 0},
      {__LINE__, "old", 0, 1},
      {__LINE__, "old", 1, 2},  // kept once, then asked again of the next
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    std::string tag = "s" + std::to_string(row.line);
    Prepare(tag + ".tar", {Item("a.txt", "first", 0444), Item("a.txt", "second")});
    if (row.before != nullptr) WriteFile(Path(tag + "/a.txt"), row.before);
    Recorder::replaceAnswers = {row.answer, row.answer};
    m.SetOutputPath(Mod(tag).c_str());
    EXPECT_EQ(StatusOk, Extract());
    EXPECT_EQ(row.asked, Recorder::replaceQueries.size());
    EXPECT_EQ(row.answer == 1 ? "old" : "second", ReadFile(Path(tag + "/a.txt")));
  }
}

TEST_F(ExtractTest, StopFromProgressRemovesThePartialFile) {
  Prepare("a.tar",
          {Item("a.txt", Pattern(100)), Item("big.bin", Pattern(100000)), Item("c.txt", "c")});
  m.SetOutputPath(Mod("out").c_str());
  // a.txt: one chunk and the closing call; big.bin: stop after the first chunk.
  Recorder::progressAnswers = {1, 1, 0};
  EXPECT_EQ(StatusUserAbort, Extract());
  EXPECT_EQ(std::vector<std::string>{"a.txt"}, ListTree(Path("out")));
  EXPECT_EQ(Pattern(100), ReadFile(Path("out/a.txt")));
  EXPECT_EQ(1000000000, FileMtime(Path("out/a.txt")));
}

// Names that would leave the output directory or that Windows would not
// treat as an ordinary file. `stored` is the header's name; the read-name
// rule turns it into `member`.
TEST_F(ExtractTest, UnsafeNamesWriteNothing) {
  struct Row {
    int line;
    const char* stored;
    const char* member;
    const char* wholePath;  // written below the output directory in mode 2; "" refused
    const char* nameAlone;  // the same in mode 0
  } rows[] = {
      {__LINE__, "../../x", "..\\x", "", "x"},
      {__LINE__, "a/../../x", "a\\..\\..\\x", "", "x"},
      {__LINE__, "a/../x", "a\\..\\x", "", "x"},
      {__LINE__, "a/..", "a\\..", "", ""},
      {__LINE__, "a/...", "a\\...", "", ""},
      {__LINE__, "../C:x", "C:x", "", "x"},
      {__LINE__, "///srv/share/x", "\\\\srv\\share\\x", "", "x"},
      {__LINE__, "f.txt:s", "f.txt:s", "", ""},
      {__LINE__, "d/e:f/x", "d\\e:f\\x", "", "x"},
      {__LINE__, "CON", "CON", "", ""},
      {__LINE__, "nul.txt", "nul.txt", "", ""},
      {__LINE__, "prn.tar.gz", "prn.tar.gz", "", ""},
      {__LINE__, "d/COM1", "d\\COM1", "", ""},
      {__LINE__, "d/cOm9.x", "d\\cOm9.x", "", ""},
      {__LINE__, "nul .txt", "nul .txt", "", ""},
      {__LINE__, "d/CONIN$", "d\\CONIN$", "", ""},
      {__LINE__, "COM\xFD", "COM\xB2", "", ""},  // COM2 with a superscript two
      {__LINE__, "a*", "a*", "", ""},  // would widen the replace check's lookup
      {__LINE__, "d/b?c", "d\\b?c", "", ""},
      {__LINE__, "d/<x>/y", "d\\<x>\\y", "", "y"},
      {__LINE__, "Lpt1/x", "Lpt1\\x", "", "x"},
      {__LINE__, "aux/x", "aux\\x", "", "x"},
      {__LINE__, "x.", "x.", "", ""},
      {__LINE__, "x ", "x ", "", ""},
      {__LINE__, "d./x", "d.\\x", "", "x"},
      {__LINE__, "d /x", "d \\x", "", "x"},
      {__LINE__, "a\nb.txt", "a\nb.txt", "", ""},  // control characters
      {__LINE__, "d/t\tx", "d\\t\tx", "", ""},
      {__LINE__, "\x01/x", "\x01\\x", "", "x"},
      // Ordinary names that only look odd.
      {__LINE__, "a..b", "a..b", "a..b", "a..b"},
      {__LINE__, "../..foo", "..foo", "..foo", "..foo"},
      {__LINE__, "COM10", "COM10", "COM10", "COM10"},
      {__LINE__, "console", "console", "console", "console"},
  };
  for (const Row& row : rows) {
    for (int32_t mode : {2, 0}) {
      std::string tag = "u" + std::to_string(row.line) + "-" + std::to_string(mode);
      std::string where = "line " + std::to_string(row.line) + " mode " + std::to_string(mode);
      WriteFile(Path(tag + "/x"), "sentinel");
      std::filesystem::create_directories(Path(tag + "/out"));
      Prepare(tag + "/a.tar", {Item(row.stored, "EVIL"), Item("ok.txt", "OK")});
      ASSERT_EQ((std::vector<std::string>{Ansi(row.member), "ok.txt"}), List()) << where;
      Recorder::Reset();
      SetExtraction(mode, "", Mod(tag + "/out"));
      std::vector<std::string> before = ListTree(dir);
      std::string written = mode == 2 ? row.wholePath : row.nameAlone;
      uint16_t status = Extract();
      std::vector<std::string> changes = TreeChanges(before, ListTree(dir));
      EXPECT_EQ("sentinel", ReadFile(Path(tag + "/x"))) << where;
      EXPECT_EQ("OK", ReadFile(Path(tag + "/out/ok.txt"))) << where;  // goes on
      if (written[0] == '\0') {
        EXPECT_EQ(StatusFileError, status) << where;
        EXPECT_EQ(std::vector<std::string>{"+" + tag + "/out/ok.txt"}, changes) << where;
        // The host never hears of the refused member.
        ASSERT_EQ(1u, NameEvents().size()) << where;
        EXPECT_NE(std::string::npos, NameEvents()[0].find("ok.txt")) << where;
      } else {
        EXPECT_EQ(StatusOk, status) << where;
        std::vector<std::string> made = {"+" + tag + "/out/" + written, "+" + tag + "/out/ok.txt"};
        std::sort(made.begin(), made.end());
        EXPECT_EQ(made, changes) << where;
        EXPECT_EQ("EVIL", ReadFile(Path(tag + "/out/" + written))) << where;
      }
      RemoveTree(Path(tag));
    }
  }
  // A failure after a refused name is the one the host learns of.
  WriteFile(Path("p/out/ok.txt"), "old");
  Prepare("p/a.tar", {Item("../../x", "EVIL"), Item("ok.txt", "OK")});
  Recorder::replaceAnswers = {2};
  SetExtraction(2, "", Mod("p/out"));
  EXPECT_EQ(StatusUserAbort, Extract());
  EXPECT_EQ("old", ReadFile(Path("p/out/ok.txt")));
}

TEST_F(ExtractTest, OutputPathsLongerThanTheBufferAreRefused) {
  // An output directory that leaves room for exactly 255 bytes with a
  // member name of 99, the longest a header holds.
  std::string base = Mod("");  // ends in "\"
  ASSERT_LT(base.size() + 2 + 99, 255u);
  std::string folder = "o/" + std::string(255 - 99 - base.size() - 3, 'p');
  std::string fits = std::string(98, 'n') + "f";
  ASSERT_EQ(255u, Mod(folder).size() + 1 + fits.size());
  struct Row {
    int line;
    std::string outDir;  // below the test folder, or as it stands when long
    uint16_t status;
  } rows[] = {
      {__LINE__, folder, StatusOk},
      {__LINE__, folder + "q", StatusFileError},  // one character too many
      {__LINE__, std::string(300, 'w'), StatusFileError},  // the folder alone
  };
  std::filesystem::create_directories(Path(folder));
  for (const Row& row : rows) {
    Prepare("a.tar", {Item("d/" + fits.substr(2), "data")});
    bool inside = row.outDir.size() < 300;
    SetExtraction(2, "", inside ? Mod(row.outDir) : row.outDir);
    std::vector<std::string> before = ListTree(dir);
    EXPECT_EQ(row.status, Extract()) << "line " << row.line;
    std::vector<std::string> changes = TreeChanges(before, ListTree(dir));
    if (row.status == StatusOk) {
      EXPECT_EQ("data", ReadFile(Path(row.outDir + "/d/" + fits.substr(2))))
          << "line " << row.line;
    } else {
      EXPECT_EQ(std::vector<std::string>{}, changes) << "line " << row.line;
    }
  }
}

// A member whose output file is the archive being read would truncate it
// and lose it: it is refused like an unsafe name, however the path is spelt.
TEST_F(ExtractTest, ArchiveItselfIsNeverOverwritten) {
  struct Row {
    int line;
    std::string outDir;  // below the test folder
    std::string member;
    bool hardLink;  // the member's name is a second link to the archive
  } rows[] = {
      {__LINE__, "", "self.tar", false},
      {__LINE__, "sub/..", "self.tar", false},
      {__LINE__, "", "other.tar", true},
  };
  std::filesystem::create_directory(Path("sub"));
  for (const Row& row : rows) {
    std::string where = "line " + std::to_string(row.line);
    Prepare("self.tar", {Item("a.txt", "first"), Item(row.member, Pattern(70000))});
    std::string archive = ReadFile(Path("self.tar"));
    if (row.hardLink) std::filesystem::create_hard_link(Path("self.tar"), Path(row.member));
    m.SetOutputPath(Mod(row.outDir).c_str());
    EXPECT_EQ(StatusFileError, Extract()) << where;
    EXPECT_TRUE(ReadFile(Path("self.tar")) == archive) << where;
    EXPECT_EQ("first", ReadFile(Path("a.txt"))) << where;
    EXPECT_EQ(1u, NameEvents().size()) << where;
    std::filesystem::remove(Path("a.txt"));
    if (row.hardLink) std::filesystem::remove(Path(row.member));
  }
}

// Files GNU tar and the module extract from the same archive are equal,
// byte for byte and in their times.
TEST_F(ExtractTest, SameFilesAsGnuTar) {
  if (!PeersAvailable()) GTEST_SKIP() << "GNU tar, bsdtar or python3 missing";
  const size_t sizes[] = {0, 1, 511, 512, 513, 100000};
  std::string names;
  for (size_t size : sizes) {
    std::string name = "f" + std::to_string(size);
    WriteFile(Path("src/d/" + name), Pattern(size, static_cast<int>(size)));
    names += " d/" + name;
  }
  for (const char* format : {"gnu", "ustar", "pax"}) {
    std::string tag = format;
    std::string command = "tar --format=" + tag + " --mtime=@1234567890 -cf '" +
                          UnixPath(Path(tag + ".tar")) + "' -C '" + UnixPath(Path("src")) +
                          "'" + names + " && mkdir '" + UnixPath(Path(tag + "-gnu")) +
                          "' && tar -xf '" + UnixPath(Path(tag + ".tar")) + "' -C '" +
                          UnixPath(Path(tag + "-gnu")) + "'";
    std::string output;
    ASSERT_EQ(0, RunCommand(command, &output)) << output;
    OpenArchive(tag + ".tar");
    SetExtraction(2, "", Mod(tag + "-mod"));
    ASSERT_EQ(StatusOk, Extract()) << tag;
    std::vector<std::string> tree = ListTree(Path(tag + "-gnu"));
    ASSERT_EQ(7u, tree.size()) << tag;
    EXPECT_EQ(tree, ListTree(Path(tag + "-mod"))) << tag;
    for (const std::string& name : tree) {
      if (name.back() == '/') continue;
      std::string gnu = Path(tag + "-gnu/" + name);
      std::string mod = Path(tag + "-mod/" + name);
      EXPECT_TRUE(ReadFile(gnu) == ReadFile(mod)) << tag << " " << name;
      EXPECT_EQ(FileMtime(gnu), FileMtime(mod)) << tag << " " << name;
    }
  }
}

}  // namespace
