// Settings records, output directories and the host's callbacks as the host
// sees them: what each record leaves in force and for how long, which
// registrations InitArcFile drops, and the bytes of the replace question.
#include <cstring>
#include <filesystem>

#include "archives.h"
#include "fixture.h"

namespace {

uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t Le64(const unsigned char* p) { return Le32(p) | (uint64_t{Le32(p + 4)} << 32); }

// Registered for the four procedures the module stores and never calls.
void StoredProcCalled() { Recorder::events.push_back("stored procedure called"); }

// Runs in `dir` and returns to where it was, whatever the test does.
class InDirectory {
 public:
  explicit InDirectory(const std::string& dir) : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~InDirectory() { std::filesystem::current_path(saved_); }

 private:
  std::filesystem::path saved_;
};

class SettingsPathsTest : public ModuleTest {
 protected:
  uint16_t Extract() {
    FileMaskList list = Masks({});
    m.SetArchiveStatus(77);
    m.ExtractFileMaskListArc(&list);
    return m.GetArchiveStatus();
  }

  // Names a new archive and adds the items to it.
  uint16_t AddToNew(const std::string& archive, std::initializer_list<const char*> items) {
    m.InitArcFile(Mod(archive).c_str());
    EXPECT_EQ(StatusArchiveNotFound, m.GetArchiveStatus()) << archive;
    m.CreateArcFile(Mod(archive).c_str());
    FileMaskList list = Masks(items);
    m.CompressFileMaskListArc(&list);
    return m.GetArchiveStatus();
  }
};

}  // namespace

TEST_F(SettingsPathsTest, OutputDirectoryFromBothExports) {
  struct Row {
    int line;
    const char* in;
    const char* want;
  } rows[] = {
      {__LINE__, "C:\\out", "C:\\out\\"},
      {__LINE__, "C:\\out\\", "C:\\out\\"},
      {__LINE__, "C:", "C:"},
      {__LINE__, "", ""},
      {__LINE__, "out/", "out/\\"},  // "/" is no separator to the rule
  };
  m.SetArchiveStatus(77);
  char* stored = m.SetOutputPath("X");
  for (const Row& row : rows) {
    EXPECT_EQ(stored, m.SetOutputPath(row.in)) << "line " << row.line;
    EXPECT_STREQ(row.want, stored) << "line " << row.line;
  }
  // An empty directory in the record keeps the one set before; a later
  // SetOutputPath replaces the one taken from a record.
  m.SetOutputPath("C:\\first");
  m.SetDecompExtraFeatures(DecompSettings(2, "", "").data());
  EXPECT_STREQ("C:\\first\\", stored);
  m.SetDecompExtraFeatures(DecompSettings(2, "", "D:\\rec").data());
  EXPECT_STREQ("D:\\rec\\", stored);
  m.SetCompExtraFeatures(CompSettings(1, "base", "E:\\root").data());
  EXPECT_STREQ("D:\\rec\\", stored);
  m.SetOutputPath("F:\\last");
  EXPECT_STREQ("F:\\last\\", stored);
  EXPECT_EQ(77, m.GetArchiveStatus());  // none of the settings touches it
}

TEST_F(SettingsPathsTest, ExtractionSettingsFromLoadOnward) {
  WriteFile(Path("a.tar"), TarArchive({Item("dir/sub/a.txt", "aaa")}));
  // Right after loading the path mode is 0: file names alone.
  m.SetOutputPath(Mod("out0").c_str());
  OpenArchive("a.tar");
  ASSERT_EQ(StatusOk, Extract());
  EXPECT_EQ(std::vector<std::string>{"a.txt"}, ListTree(Path("out0")));

  // The module keeps its own copy of the record: what the host does to its
  // record afterwards changes nothing, and naming or forgetting an archive
  // keeps every setting.
  std::vector<unsigned char> rec = DecompSettings(2, "", Mod("out2"));
  m.SetDecompExtraFeatures(rec.data());
  rec = DecompSettings(0, "dir", Mod("elsewhere"));
  m.DoneArcFile();
  OpenArchive("a.tar");
  ASSERT_EQ(StatusOk, Extract());
  EXPECT_EQ((std::vector<std::string>{"dir/", "dir/sub/", "dir/sub/a.txt"}),
            ListTree(Path("out2")));
  EXPECT_FALSE(PathExists(Path("elsewhere")));
}

TEST_F(SettingsPathsTest, CompressionSettingsAndTheSharedBasePath) {
  WriteFile(Path("src/sub/b.txt"), "bbb");
  // Right after loading the store-paths flag is 0: file names alone.
  ASSERT_EQ(StatusOk, AddToNew("names.tar", {Mod("src/sub/b.txt").c_str()}));
  OpenArchive("names.tar");
  EXPECT_EQ(std::vector<std::string>{"b.txt"}, List());

  // The add-root path gets its separator; the base path goes in front.
  m.SetCompExtraFeatures(CompSettings(1, "docs", Mod("src")).data());
  ASSERT_EQ(StatusOk, AddToNew("paths.tar", {"sub\\b.txt"}));
  OpenArchive("paths.tar");
  EXPECT_EQ(std::vector<std::string>{"docs\\sub\\b.txt"}, List());

  // The extraction record names no base path: the one of the compression
  // record is in force, and path mode 1 cuts it.
  m.SetDecompExtraFeatures(DecompSettings(1, "", Mod("out")).data());
  ASSERT_EQ(StatusOk, Extract());
  EXPECT_EQ((std::vector<std::string>{"sub/", "sub/b.txt"}), ListTree(Path("out")));
  EXPECT_EQ("bbb", ReadFile(Path("out/sub/b.txt")));
}

TEST_F(SettingsPathsTest, RelativeOutputDirectories) {
  WriteFile(Path("a.tar"), TarArchive({Item("dir/a.txt", "rel")}));
  OpenArchive("a.tar");
  m.SetDecompExtraFeatures(DecompSettings(2, "", "").data());
  uint16_t here;
  uint16_t below;
  {
    InDirectory in(dir);
    m.SetOutputPath("");
    here = Extract();
    m.SetOutputPath("rel\\out");
    below = Extract();
  }
  EXPECT_EQ(StatusOk, here);
  EXPECT_EQ(StatusOk, below);
  EXPECT_EQ("rel", ReadFile(Path("dir/a.txt")));
  EXPECT_EQ("rel", ReadFile(Path("rel/out/dir/a.txt")));
}

TEST_F(SettingsPathsTest, InitArcFileDropsMostRegistrations) {
  WriteFile(Path("a.tar"), TarArchive({Item("a.txt", "new")}));
  WriteFile(Path("out/a.txt"), "old");
  m.SetOutputPath(Mod("out").c_str());
  m.SetSetSignalProc(7, Recorder::Signal);
  m.SetSetWarningProc(1, StoredProcCalled);
  m.SetGetNextDiskProc(2, StoredProcCalled);
  m.SetSetSfxProgressProc(3, StoredProcCalled);
  m.SetSetFileNameProc(6, Recorder::FileName);
  m.SetSetProgressProc(5, Recorder::Progress);
  m.SetOkToReplaceProc(4, Recorder::ReplaceOnExtract);
  m.SetSkipFileProc(8, StoredProcCalled);
  OpenArchive("a.tar");
  ASSERT_EQ(StatusOk, Extract());
  // The signal procedure stays with user value 0; the file-name, progress
  // and replace procedures are gone, so the file is overwritten unasked.
  EXPECT_EQ(std::vector<std::string>{"signal 0 3 0 2"}, Recorder::events);
  EXPECT_EQ("new", ReadFile(Path("out/a.txt")));

  // Registrations made after InitArcFile hold, also past DoneArcFile; a
  // procedure of 0 unregisters.
  Recorder::Reset();
  m.SetSetProgressProc(9, Recorder::Progress);
  m.SetSetSignalProc(10, nullptr);
  ASSERT_EQ(StatusOk, Extract());
  EXPECT_EQ((std::vector<std::string>{"progress 9 100 3", "progress 9 100 0"}),
            Recorder::events);
  m.DoneArcFile();
  Recorder::Reset();
  WriteFile(Path("src.txt"), "12345");
  m.CreateArcFile(Mod("new.tar").c_str());
  FileMaskList items = Masks({Mod("src.txt").c_str()});
  m.CompressFileMaskListArc(&items);
  ASSERT_EQ(StatusOk, m.GetArchiveStatus());
  EXPECT_EQ(std::vector<std::string>{"progress 9 100 5"}, Recorder::events);
}

// The member as OkToReplaceProc sees it, byte by byte. The times assume
// TZ=UTC, which the test runner sets.
TEST_F(SettingsPathsTest, ReplaceQueryBytes) {
  const uint64_t kFiletime1970 = 116444736000000000ULL;
  struct Row {
    int line;
    TarItem item;
    const char* name;  // as the query carries it
    const char* existing;
    uint32_t attributes;
    uint64_t filetime;
    int64_t size;  // claimed by the size field
  } rows[] = {
      {__LINE__, Item("sub/a.txt", "hello", 0444, 0), "sub\\a.txt", "old", 0x01, kFiletime1970, 5},
      {__LINE__, Item("b.txt", "bb", 0644, 1000000000), "b.txt", "1234",
       0, kFiletime1970 + 1000000000ULL * 10000000ULL, 2},
      // Before 1970 and after 2038 too.
      {__LINE__, Item("c.txt", "c", 0600, -144720000), "c.txt", "", 0,
       kFiletime1970 - 144720000ULL * 10000000ULL, 1},
      {__LINE__, Item("d.txt", "d", 0600, 2379888000), "d.txt", "", 0,
       kFiletime1970 + 2379888000ULL * 10000000ULL, 1},
      // A time field that cannot be read gives no time: the times are zero.
      {__LINE__, Item("e.txt", "e", 0600, -1), "e.txt", "", 0, 0, 1},
      // The size in both halves; the data need not be there to be asked about.
      {__LINE__, Item("f.txt", "", 0600, 0), "f.txt", "", 0, kFiletime1970, (5LL << 30) + 3},
  };
  std::vector<TarItem> items;
  std::string archive;
  for (const Row& row : rows) {
    items.push_back(row.item);
    items.back().size = row.size;
    archive += TarArchive({items.back()}, false);
    WriteFile(Path("out/" + row.item.name), row.existing);
  }
  // The header of e.txt: the blocks of a, b, c and d before it.
  archive.replace(4 * 1024 + 136, 12, std::string("not a time!\0", 12));
  FixChecksum(&archive, 4 * 1024);
  WriteFile(Path("a.tar"), archive);
  m.SetDecompExtraFeatures(DecompSettings(2, "", Mod("out")).data());
  OpenArchive("a.tar");
  RegisterRecorder(true);
  Recorder::replaceAnswers = {1, 1, 1, 1, 1, 1};
  // f.txt's data is not there: every member is asked about, and then the
  // archive is found cut short.
  ASSERT_EQ(StatusFileError, Extract());
  ASSERT_EQ(6u, Recorder::replaceQueries.size());
  for (size_t i = 0; i < 6; i++) {
    const Row& row = rows[i];
    const TarItem& item = row.item;
    SCOPED_TRACE("line " + std::to_string(row.line));
    EXPECT_EQ(row.existing, ReadFile(Path("out/" + item.name)));  // skipped
    const unsigned char* q =
        reinterpret_cast<const unsigned char*>(&Recorder::replaceQueries[i]);
    EXPECT_EQ(row.attributes, Le32(q + 0));
    EXPECT_EQ(row.filetime, Le64(q + 4));
    EXPECT_EQ(row.filetime, Le64(q + 12));
    EXPECT_EQ(row.filetime, Le64(q + 20));
    EXPECT_EQ(static_cast<uint32_t>(row.size >> 32), Le32(q + 28));
    EXPECT_EQ(static_cast<uint32_t>(row.size), Le32(q + 32));
    EXPECT_EQ(0u, Le32(q + 36));
    EXPECT_EQ(0u, Le32(q + 40));
    EXPECT_STREQ(row.name, reinterpret_cast<const char*>(q + 44));
    EXPECT_EQ(std::string(14, '\0'), std::string(reinterpret_cast<const char*>(q + 304), 14));
    // The first record is the file on disk.
    const unsigned char* f =
        reinterpret_cast<const unsigned char*>(&Recorder::replaceFound[i]);
    std::string fileName = item.name.substr(item.name.rfind('/') + 1);
    EXPECT_STREQ(fileName.c_str(), reinterpret_cast<const char*>(f + 44));
    EXPECT_EQ(strlen(row.existing), Le32(f + 32));
    EXPECT_EQ(0u, Le32(f + 0) & 0x10u);
  }
}
