// Stored names, output paths, output files, the settings records behind them
// and the progress report.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "session/callbacks.h"
#include "session/current.h"
#include "session/settings.h"
#include "base/status.h"
#include "archives.h"
#include "files.h"
#include "names/paths.h"
#include "ops/progress.h"
#include "platform/platform.h"

namespace {

// Module-wide settings as at load, except for what a test sets.
void ResetSettings() {
  SetOutputPath("");
  std::vector<unsigned char> decomp(kDecompSettingsSize, 0);
  SetDecompExtraFeatures(decomp.data());
  memset(gBasePath, 0, sizeof gBasePath);
  memset(gAddRoot, 0, sizeof gAddRoot);
  gBasePathTooLong = false;
  gAddRootTooLong = false;
  gStorePaths = 0;
}

void SetPathMode(int32_t mode) {
  std::vector<unsigned char> decomp(kDecompSettingsSize, 0);
  memcpy(&decomp[kDecompPathModeOffset], &mode, sizeof mode);
  SetDecompExtraFeatures(decomp.data());
}

void SetBasePath(const char* base) { ASSERT_TRUE(CopyPath(gBasePath, sizeof gBasePath, base)); }

// Windows refuses to open a read-only file for writing; Wine run by root
// does not, and then there is nothing to test.
bool ReadOnlyIsHonoured(const std::string& probe) {
#ifdef _WIN32
  WriteFile(probe, "p");
  MakeReadOnly(probe, true);
  FILE* f = fopen(probe.c_str(), "wb");
  bool refused = f == nullptr;
  if (f != nullptr) fclose(f);
  MakeReadOnly(probe, false);
  std::filesystem::remove(probe);
  return refused;
#else
  (void)probe;
  return true;  // the native layer refuses them itself, also for root
#endif
}

}  // namespace

TEST(StripUncRoot, Table) {
  struct Row {
    int line;
    const char* in;
    const char* want;
  } rows[] = {
      {__LINE__, "\\\\SERVER\\SHARE\\DIR\\A.TXT", "\\DIR\\A.TXT"},
      {__LINE__, "\\\\SERVER\\SHARE\\", "\\"},
      {__LINE__, "\\\\SERVER\\SHARE", ""},
      {__LINE__, "\\\\SERVER", "SERVER"},
      {__LINE__, "\\\\", ""},
      {__LINE__, "\\DIR\\A.TXT", "\\DIR\\A.TXT"},
      {__LINE__, "C:\\A.TXT", "C:\\A.TXT"},
      {__LINE__, "", ""},
  };
  for (const Row& row : rows) {
    char out[kPathSize];
    memset(out, 'X', sizeof out);
    StripUncRoot(row.in, out, sizeof out);
    EXPECT_STREQ(row.want, out) << "line " << row.line;
    char inPlace[kPathSize];
    ASSERT_TRUE(CopyPath(inPlace, sizeof inPlace, row.in));
    StripUncRoot(inPlace, inPlace, sizeof inPlace);
    EXPECT_STREQ(row.want, inPlace) << "in place, line " << row.line;
  }
}

TEST(MakeStoredName, BothForms) {
  struct Row {
    int line;
    const char* in;
    const char* compared;  // MakeStoredName
    const char* header;    // MakeStoredNameForHeader
  } rows[] = {
      {__LINE__, "\\\\SERVER\\SHARE\\DIR\\A.TXT", "DIR\\A.TXT", "DIR\\A.TXT"},
      {__LINE__, "\\\\SERVER\\SHARE", "", ""},
      {__LINE__, "\\\\SERVER", "SERVER", "SERVER"},
      {__LINE__, "\\DIR\\A.TXT", "DIR\\A.TXT", "DIR\\A.TXT"},
      {__LINE__, "C:\\DIR\\A.TXT", "DIR\\A.TXT", "DIR\\A.TXT"},
      {__LINE__, "\\C:\\A.TXT", "A.TXT", "A.TXT"},
      {__LINE__, "C:A.TXT", "A.TXT", "A.TXT"},  // on drive C
      {__LINE__, "..\\A.TXT", "A.TXT", "A.TXT"},
      {__LINE__, "..\\..\\A.TXT", "..\\A.TXT", "..\\A.TXT"},  // only one ".."
      {__LINE__, "C:\\..\\A.TXT", "A.TXT", "A.TXT"},
      {__LINE__, "\\..\\A.TXT", "A.TXT", "A.TXT"},
      {__LINE__, "..FOO\\A.TXT", "..FOO\\A.TXT", "..FOO\\A.TXT"},  // a name
      {__LINE__, "C:", "", ""},
      {__LINE__, "..", "", ""},
      {__LINE__, "\\", "", ""},
      {__LINE__, "A", "A", "A"},
      {__LINE__, "", "", ""},
      {__LINE__, "DIR/A.TXT", "DIR/A.TXT", "DIR/A.TXT"},  // "/" is no separator here
      // After a server and share the header form stops.
      {__LINE__, "\\\\SERVER\\SHARE\\..\\A.TXT", "A.TXT", "..\\A.TXT"},
      {__LINE__, "\\\\SERVER\\SHARE\\C:\\A.TXT", "A.TXT", "C:\\A.TXT"},
      {__LINE__, "\\\\SERVER\\SHARE\\\\A.TXT", "\\A.TXT", "\\A.TXT"},
  };
  for (const Row& row : rows) {
    char compared[kPathSize];
    char header[kPathSize];
    ASSERT_TRUE(CopyPath(compared, sizeof compared, row.in));
    ASSERT_TRUE(CopyPath(header, sizeof header, row.in));
    MakeStoredName(compared, sizeof compared);
    MakeStoredNameForHeader(header, sizeof header);
    EXPECT_STREQ(row.compared, compared) << "line " << row.line;
    EXPECT_STREQ(row.header, header) << "line " << row.line;
  }
}

TEST(SplitUncRoot, Table) {
  struct Row {
    int line;
    const char* in;
    bool unc;
    const char* rest;
    const char* root;  // "?" when the caller's buffer stays as it was
  } rows[] = {
      {__LINE__, "\\\\S\\SH\\DIR\\A.TXT", true, "DIR\\A.TXT", "\\\\S\\SH\\"},
      {__LINE__, "\\\\S\\SH\\", true, "", "\\\\S\\SH\\"},
      {__LINE__, "\\\\S\\SH", true, "", "\\\\S\\SH"},
      {__LINE__, "\\\\S\\", true, "", "\\\\S\\"},
      {__LINE__, "\\\\S", false, "\\\\S", "?"},
      {__LINE__, "\\\\", false, "\\\\", "?"},
      {__LINE__, "\\DIR\\A.TXT", false, "\\DIR\\A.TXT", "?"},
      {__LINE__, "C:\\DIR\\A.TXT", false, "C:\\DIR\\A.TXT", "?"},
  };
  for (const Row& row : rows) {
    char rest[kFullPathSize] = {};
    char root[kFullPathSize] = {};
    root[0] = '?';
    EXPECT_EQ(row.unc, SplitUncRoot(row.in, rest, root)) << "line " << row.line;
    EXPECT_STREQ(row.rest, rest) << "line " << row.line;
    EXPECT_STREQ(row.root, root) << "line " << row.line;
  }
}

class OutputPathTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSettings(); }
  void TearDown() override { ResetSettings(); }
};

TEST_F(OutputPathTest, ModesBasePathAndOutputDirectory) {
  struct Row {
    int line;
    const char* outputDir;  // as handed to SetOutputPath
    const char* base;
    int32_t mode;
    const char* member;
    const char* want;
  } rows[] = {
      {__LINE__, "C:\\OUT", "DOCS", 0, "DOCS/SUB/A.TXT", "C:\\OUT\\A.TXT"},
      {__LINE__, "C:\\OUT", "DOCS", 1, "DOCS/SUB/A.TXT", "C:\\OUT\\SUB\\A.TXT"},
      {__LINE__, "C:\\OUT", "DOCS", 2, "DOCS/SUB/A.TXT", "C:\\OUT\\DOCS\\SUB\\A.TXT"},
      {__LINE__, "C:\\OUT", "DOCS", -1, "DOCS\\SUB\\A.TXT", "C:\\OUT\\DOCS\\SUB\\A.TXT"},
      // Only names below the base path lose it, compared without case; the
      // others keep their whole path.
      {__LINE__, "C:\\OUT", "DOCS", 1, "docs/sub/a.txt", "C:\\OUT\\sub\\a.txt"},
      {__LINE__, "C:\\OUT", "docs\\", 1, "DOCS/A.TXT", "C:\\OUT\\A.TXT"},
      {__LINE__, "C:\\OUT", "DOCS", 1, "README", "C:\\OUT\\README"},
      {__LINE__, "C:\\OUT", "DOCS", 1, "OTHERS\\A.TXT", "C:\\OUT\\OTHERS\\A.TXT"},
      {__LINE__, "C:\\OUT", "DOCS", 1, "DOCSX\\A.TXT", "C:\\OUT\\DOCSX\\A.TXT"},
      {__LINE__, "C:\\OUT", "", 1, "DOCS/SUB/A.TXT", "C:\\OUT\\DOCS\\SUB\\A.TXT"},
      {__LINE__, "C:\\OUT", "DOCS", 1, "\\DOCS\\A.TXT", "C:\\OUT\\A.TXT"},
      {__LINE__, "C:\\OUT", "DOCS", 2, "/DIR/A.TXT", "C:\\OUT\\DIR\\A.TXT"},  // one "\" goes
      {__LINE__, "C:\\OUT\\", "", 0, "A.TXT", "C:\\OUT\\A.TXT"},
      {__LINE__, "C:", "", 0, "DIR\\A.TXT", "C:A.TXT"},
      {__LINE__, "", "", 2, "DIR/SUB/A.TXT", "DIR\\SUB\\A.TXT"},
      {__LINE__, "", "", 0, "DIR/SUB/A.TXT", "A.TXT"},
      {__LINE__, "\\\\SRV\\SH", "", 2, "DIR/A.TXT", "\\\\SRV\\SH\\DIR\\A.TXT"},
      // Without directories nothing can climb out.
      {__LINE__, "C:\\OUT", "", 0, "../../A.TXT", "C:\\OUT\\A.TXT"},
      // Ordinary names that only look like the refused ones.
      {__LINE__, "C:\\OUT", "", 2, "a..b/..foo/x..y", "C:\\OUT\\a..b\\..foo\\x..y"},
  };
  for (const Row& row : rows) {
    SetOutputPath(row.outputDir);
    SetPathMode(row.mode);
    SetBasePath(row.base);
    char dst[256];
    memset(dst, 'X', sizeof dst);
    EXPECT_EQ(kOutputPathOk, MakeOutputPath(row.member, CurrentOutputRule(), dst)) << "line " << row.line;
    EXPECT_STREQ(row.want, dst) << "line " << row.line;
  }
}

TEST_F(OutputPathTest, NamesThatWouldLeaveTheOutputDirectoryAreRefused) {
  struct Row {
    int line;
    int32_t mode;
    const char* member;
    OutputPathResult want;
  } rows[] = {
      {__LINE__, 2, "A.TXT", kOutputPathOk},
      {__LINE__, 2, "a..b", kOutputPathOk},
      {__LINE__, 2, "..foo/b", kOutputPathOk},
      {__LINE__, 2, "COM0", kOutputPathOk},
      {__LINE__, 2, "COM10.TXT", kOutputPathOk},
      {__LINE__, 2, "CONX", kOutputPathOk},
      {__LINE__, 2, "NULL.TXT", kOutputPathOk},
      {__LINE__, 2, "A.CON", kOutputPathOk},
      {__LINE__, 2, "DIR/LPT", kOutputPathOk},
      {__LINE__, 2, "../A", kOutputPathUnsafe},
      {__LINE__, 2, "DIR/../A", kOutputPathUnsafe},
      {__LINE__, 2, "DIR\\..\\..\\A", kOutputPathUnsafe},
      {__LINE__, 2, "DIR/..", kOutputPathUnsafe},
      {__LINE__, 2, "//A", kOutputPathUnsafe},  // one separator goes, one stays
      {__LINE__, 2, "C:A", kOutputPathUnsafe},
      {__LINE__, 2, "C:/A", kOutputPathUnsafe},
      {__LINE__, 2, "DIR/A.TXT:stream", kOutputPathUnsafe},
      {__LINE__, 2, "CON", kOutputPathUnsafe},
      {__LINE__, 2, "con", kOutputPathUnsafe},
      {__LINE__, 2, "Aux.txt", kOutputPathUnsafe},
      {__LINE__, 2, "DIR/NUL.TAR.GZ", kOutputPathUnsafe},
      {__LINE__, 2, "prn.X", kOutputPathUnsafe},
      {__LINE__, 2, "COM1", kOutputPathUnsafe},
      {__LINE__, 2, "lpt9.log", kOutputPathUnsafe},
      {__LINE__, 2, "COM5/A.TXT", kOutputPathUnsafe},
      // Windows drops the spaces at the end of the stem before it looks for
      // a device: "NUL .TXT" is the null device.
      {__LINE__, 2, "NUL .TXT", kOutputPathUnsafe},
      {__LINE__, 2, "DIR/com1 .log", kOutputPathUnsafe},
      {__LINE__, 2, "A.", kOutputPathUnsafe},
      {__LINE__, 2, "A ", kOutputPathUnsafe},
      {__LINE__, 2, "x..", kOutputPathUnsafe},
      {__LINE__, 2, "...", kOutputPathUnsafe},
      {__LINE__, 2, "DIR./A", kOutputPathUnsafe},
      {__LINE__, 2, "DIR /A", kOutputPathUnsafe},
      {__LINE__, 0, "DIR/CON.TXT", kOutputPathUnsafe},
      {__LINE__, 0, "DIR/A.", kOutputPathUnsafe},
      {__LINE__, 0, "DIR/A:B", kOutputPathUnsafe},
      {__LINE__, 1, "DOCS/../A", kOutputPathUnsafe},  // ".." is left after the cut
      {__LINE__, 1, "docs", kOutputPathUnsafe},       // the base path itself: nothing
      {__LINE__, 1, "DOCS//A", kOutputPathUnsafe},
  };
  SetOutputPath("C:\\OUT");
  SetBasePath("DOCS");
  for (const Row& row : rows) {
    SetPathMode(row.mode);
    char dst[256] = {};
    EXPECT_EQ(row.want, MakeOutputPath(row.member, CurrentOutputRule(), dst)) << "line " << row.line
                                                          << ": " << row.member;
  }
}

TEST_F(OutputPathTest, PathsThatDoNotFitAreRefusedNotCut) {
  SetPathMode(2);
  std::string dir = "C:\\" + std::string(200, 'd');  // 204 characters with its "\"
  SetOutputPath(dir.c_str());
  struct Row {
    int line;
    size_t nameLength;
    OutputPathResult want;
  } rows[] = {
      {__LINE__, 51, kOutputPathOk},  // 255 bytes and the terminator
      {__LINE__, 52, kOutputPathTooLong},
      {__LINE__, 255, kOutputPathTooLong},
  };
  for (const Row& row : rows) {
    std::string member(row.nameLength, 'n');
    char dst[256 + 8];
    memset(dst, 'X', sizeof dst);
    EXPECT_EQ(row.want, MakeOutputPath(member.c_str(), CurrentOutputRule(), dst)) << "line " << row.line;
    if (row.want == kOutputPathOk) {
      EXPECT_EQ(dir + "\\" + member, dst) << "line " << row.line;
    }
    EXPECT_EQ(std::string(8, 'X'), std::string(dst + 256, 8)) << "line " << row.line;
  }
  // An output directory that did not fit is not cut either: nothing goes
  // anywhere until the host names one that fits.
  std::string tooLong = "C:\\" + std::string(300, 'd');
  SetOutputPath(tooLong.c_str());
  char dst[256];
  EXPECT_EQ(kOutputPathTooLong, MakeOutputPath("A.TXT", CurrentOutputRule(), dst));
  SetOutputPath("C:\\OUT");
  EXPECT_EQ(kOutputPathOk, MakeOutputPath("A.TXT", CurrentOutputRule(), dst));
  EXPECT_STREQ("C:\\OUT\\A.TXT", dst);
}

TEST_F(OutputPathTest, SettingsRecordsFillTheModuleSettings) {
  // The add-root path gets its backslash by length alone.
  struct RootRow {
    int line;
    const char* in;
    const char* want;
  } roots[] = {
      {__LINE__, "C:\\", "C:\\"},
      {__LINE__, "ABC", "ABC"},
      {__LINE__, "D:\\src", "D:\\src\\"},
      {__LINE__, "D:\\src\\", "D:\\src\\\\"},
      {__LINE__, "src/", "src/\\"},
      {__LINE__, "", "src/\\"},  // empty: the earlier one stays
  };
  for (const RootRow& row : roots) {
    SetCompExtraFeatures(CompSettings(1, "", row.in).data());
    EXPECT_STREQ(row.want, gAddRoot) << "line " << row.line;
  }

  // One base path for both records; an empty one keeps it. The store-paths
  // flag is replaced at every call.
  SetCompExtraFeatures(CompSettings(1, "docs", "").data());
  EXPECT_STREQ("docs", gBasePath);
  EXPECT_EQ(1, gStorePaths);
  SetDecompExtraFeatures(DecompSettings(1, "", "").data());
  EXPECT_STREQ("docs", gBasePath);
  SetDecompExtraFeatures(DecompSettings(1, "arc", "").data());
  EXPECT_STREQ("arc", gBasePath);
  SetCompExtraFeatures(CompSettings(0, "", "").data());
  EXPECT_STREQ("arc", gBasePath);
  EXPECT_EQ(0, gStorePaths);
  SetCompExtraFeatures(CompSettings(7, "", "").data());
  EXPECT_EQ(7, gStorePaths);
}

TEST_F(OutputPathTest, RecordsWithoutTerminatorsAreReadWithinTheirBounds) {
  // Every byte of both records is text: the module must stay inside them
  // (the sanitizer build sees any read past their end).
  std::vector<unsigned char> decomp(kDecompSettingsSize, 'x');
  SetDecompExtraFeatures(decomp.data());
  char dst[256];
  EXPECT_EQ(kOutputPathTooLong, MakeOutputPath("A.TXT", CurrentOutputRule(), dst));
  std::vector<unsigned char> comp(1484, 'y');
  SetCompExtraFeatures(comp.data());
  EXPECT_LT(strlen(gAddRoot), sizeof gAddRoot);
  EXPECT_LT(strlen(gBasePath), sizeof gBasePath);
  // Neither is cut to fit: both are refused, and so is what would use them.
  EXPECT_TRUE(gBasePathTooLong);
  EXPECT_TRUE(gAddRootTooLong);
  int32_t mode = 1;
  memcpy(decomp.data() + kDecompPathModeOffset, &mode, sizeof mode);
  decomp[kDecompBasePathOffset] = 0;
  decomp[kDecompOutputOffset] = 0;
  SetDecompExtraFeatures(decomp.data());
  EXPECT_EQ(kOutputPathTooLong, MakeOutputPath("DOCS\\A.TXT", CurrentOutputRule(), dst));
  FileMaskList items = {};
  CompressFileMaskListArc(&items);
  EXPECT_EQ(StatusFileError, GetArchiveStatus());
}

// ------------------------------------------------------------ files on disk

// The file the last CreateOutput made, and the status extraction sets from
// it.
PfFile* gOutput = nullptr;
void CreateOutput(const char* path) {
  gOutput = CreateOutputFile(path);
  SetStatus(gOutput != nullptr ? StatusOk : StatusFileError);
}

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeTempDir();
    PfResetFaults();
    SetStatus(StatusOk);
  }
  void TearDown() override {
    if (gOutput != nullptr) PfClose(gOutput);
    gOutput = nullptr;
    PfResetFaults();
    RemoveTree(dir);
  }
  std::string Path(const std::string& name) const { return Join(dir, name); }
  std::string Mod(const std::string& name) const { return ModPath(Path(name)); }

  // Writes `text` through the open output stream and closes it.
  void WriteAndClose(const std::string& text) {
    ASSERT_NE(nullptr, gOutput);
    EXPECT_EQ(text.size(), PfWrite(gOutput, text.data(), text.size()));
    EXPECT_TRUE(PfClose(gOutput));
    gOutput = nullptr;
  }

  std::string dir;
};

TEST_F(OutputFileTest, MissingLevelsAreMadeOneByOne) {
  // A folder where the file should be cannot be opened at any level: the
  // open is tried once more for every level above it, and nothing is made.
  ASSERT_TRUE(std::filesystem::create_directory(Path("TAKEN")));
  CreateOutput(Mod("TAKEN").c_str());
  EXPECT_EQ(StatusFileError, gArchiveStatus);
  EXPECT_EQ(nullptr, gOutput);
  EXPECT_EQ(std::vector<std::string>{"TAKEN/"}, ListTree(dir));
  int levelsOfDir = PfFaultCalls(kFaultOpen) - 1;
  EXPECT_GE(levelsOfDir, 1);

  // Two levels are missing: one more attempt after each is made.
  PfResetFaults();
  SetStatus(StatusUserAbort);
  CreateOutput(Mod("NEW/SUB/A.TXT").c_str());
  EXPECT_EQ(StatusOk, gArchiveStatus);
  EXPECT_EQ(1 + levelsOfDir + 2, PfFaultCalls(kFaultOpen));
  WriteAndClose("data");
  EXPECT_EQ("data", ReadFile(Path("NEW/SUB/A.TXT")));

  // The file exists: it is never opened again, nor emptied.
  PfResetFaults();
  CreateOutput(Mod("NEW/SUB/A.TXT").c_str());
  EXPECT_EQ(StatusFileError, gArchiveStatus);
  EXPECT_EQ(nullptr, gOutput);
  EXPECT_EQ("data", ReadFile(Path("NEW/SUB/A.TXT")));

  // A file where a folder should be: the level below cannot be made.
  WriteFile(Path("FILE"), "f");
  CreateOutput(Mod("FILE/SUB/A.TXT").c_str());
  EXPECT_EQ(StatusFileError, gArchiveStatus);
  EXPECT_EQ(nullptr, gOutput);
  EXPECT_EQ("f", ReadFile(Path("FILE")));
}

TEST_F(OutputFileTest, ReadOnlyFileIsNotOpened) {
  if (!ReadOnlyIsHonoured(Path("PROBE"))) GTEST_SKIP() << "read-only files are writable here";
  ASSERT_TRUE(std::filesystem::create_directory(Path("TAKEN")));
  CreateOutput(Mod("TAKEN").c_str());
  int attemptsPerLevel = PfFaultCalls(kFaultOpen);
  WriteFile(Path("RO.TXT"), "keep");
  ASSERT_TRUE(MakeReadOnly(Path("RO.TXT"), true));
  PfResetFaults();
  SetStatus(StatusOk);
  CreateOutput(Mod("RO.TXT").c_str());
  EXPECT_EQ(StatusFileError, gArchiveStatus);
  EXPECT_EQ(nullptr, gOutput);
  EXPECT_EQ(attemptsPerLevel, PfFaultCalls(kFaultOpen));  // once per level
  EXPECT_EQ("keep", ReadFile(Path("RO.TXT")));
  EXPECT_EQ((std::vector<std::string>{"RO.TXT", "TAKEN/"}), ListTree(dir));
}

TEST_F(OutputFileTest, RelativePathsStartAtTheCurrentDirectory) {
  std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  CreateOutput("REL\\SUB\\A.TXT");
  uint16_t nested = gArchiveStatus;
  if (gOutput != nullptr) WriteAndClose("rel");
  CreateOutput("TOP.TXT");
  uint16_t top = gArchiveStatus;
  if (gOutput != nullptr) WriteAndClose("top");
  std::filesystem::current_path(saved);
  EXPECT_EQ(StatusOk, nested);
  EXPECT_EQ(StatusOk, top);
  EXPECT_EQ("rel", ReadFile(Path("REL/SUB/A.TXT")));
  EXPECT_EQ("top", ReadFile(Path("TOP.TXT")));
}

#ifndef _WIN32
// The native build reaches \\server\share\ as /server/share/: the levels
// below the share are made, the server and share never are.
TEST_F(OutputFileTest, ServerAndShareAreNeverMade) {
  std::string server = "votar-unc-" + std::to_string(getpid());
  std::string unc = "\\\\" + server + "\\SHARE\\";
  CreateOutput((unc + "NEW\\A.TXT").c_str());
  EXPECT_EQ(StatusFileError, gArchiveStatus);
  EXPECT_FALSE(PathExists("/" + server));
  std::error_code ec;
  if (!std::filesystem::create_directories("/" + server + "/SHARE", ec)) {
    GTEST_SKIP() << "cannot make /" << server;
  }
  CreateOutput((unc + "NEW\\A.TXT").c_str());
  EXPECT_EQ(StatusOk, gArchiveStatus);
  if (gOutput != nullptr) WriteAndClose("unc");
  CreateOutput((unc + "\\TWO\\A.TXT").c_str());  // a level with a leading "\"
  EXPECT_EQ(StatusOk, gArchiveStatus);
  if (gOutput != nullptr) WriteAndClose("two");
  EXPECT_EQ("unc", ReadFile("/" + server + "/SHARE/NEW/A.TXT"));
  EXPECT_EQ("two", ReadFile("/" + server + "/SHARE/TWO/A.TXT"));
  RemoveTree("/" + server);
}
#endif

TEST_F(OutputFileTest, IsDirectoryAndMakeWritable) {
  WriteFile(Path("RO.TXT"), "r");
  ASSERT_TRUE(MakeReadOnly(Path("RO.TXT"), true));
  EXPECT_TRUE(IsDirectory(ModPath(dir).c_str()));
  EXPECT_FALSE(IsDirectory(Mod("RO.TXT").c_str()));
  EXPECT_FALSE(IsDirectory(Mod("MISSING").c_str()));
  MakeWritable(Mod("RO.TXT").c_str());
  EXPECT_FALSE(IsReadOnly(Path("RO.TXT")));
  MakeWritable(Mod("MISSING").c_str());
  MakeWritable("");
  EXPECT_EQ(std::vector<std::string>{"RO.TXT"}, ListTree(dir));
}

// --------------------------------------------------------------- progress

namespace {

struct Report {
  int32_t user;
  int32_t percent;
  int32_t delta;
  bool operator==(const Report& o) const {
    return user == o.user && percent == o.percent && delta == o.delta;
  }
};
std::ostream& operator<<(std::ostream& os, const Report& r) {
  return os << "{" << r.user << ", " << r.percent << ", " << r.delta << "}";
}

std::vector<Report> gReports;
int32_t gProgressAnswer = 1;

int32_t CaptureProgress(int32_t user, int32_t percent, int32_t delta) {
  gReports.push_back({user, percent, delta});
  return gProgressAnswer;
}

// One transfer's progress through the hook the copies are given.
HostProgress gProgress;
ProgressHook gHook;
void StartProgress(int64_t total) { gHook = StartHostProgress(&gProgress, total); }
void ReportProgress(int64_t done) { gHook.report(gHook.context, done, kDone); }

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gReports.clear();
    gProgressAnswer = 1;
    SetStatus(StatusOk);
    SetSetProgressProc(5, CaptureProgress);
  }
  void TearDown() override { SetSetProgressProc(0, nullptr); }
};

}  // namespace

TEST_F(ProgressTest, PercentagesAndDeltas) {
  struct Row {
    int line;
    int32_t total;
    std::vector<int32_t> done;
    std::vector<Report> want;
  } rows[] = {
      {__LINE__, 100000, {65536, 100000}, {{5, 65, 65536}, {5, 100, 34464}}},
      {__LINE__, 3, {3}, {{5, 100, 3}}},
      // Past 20 MiB both figures are halved until done * 100 fits.
      {__LINE__, 104857600, {31457280, 104857600}, {{5, 30, 31457280}, {5, 100, 73400320}}},
      {__LINE__, 0x1400000, {0x13FFFFF, 0x1400000}, {{5, 99, 0x13FFFFF}, {5, 100, 1}}},
      {__LINE__, 0x2800001, {0x2800000}, {{5, 100, 0x2800000}}},  // shifted twice
      {__LINE__, 0x7FFFFFFF, {65536, 0x7FFFFFFF}, {{5, 0, 65536}, {5, 100, 0x7FFFFFFF - 65536}}},
      // A divisor of 0 passes the total as it came.
      {__LINE__, 1, {0x1400000}, {{5, 1, 0x1400000}}},
      {__LINE__, 0, {5}, {{5, 0, 5}}},
  };
  for (const Row& row : rows) {
    gReports.clear();
    StartProgress(row.total);
    for (int32_t done : row.done) ReportProgress(done);
    EXPECT_EQ(row.want, gReports) << "line " << row.line;
    EXPECT_EQ(StatusOk, gArchiveStatus) << "line " << row.line;
  }
}

TEST_F(ProgressTest, AnswerZeroAsksToStop) {
  StartProgress(100000);
  gProgressAnswer = 0;
  ReportProgress(65536);
  EXPECT_EQ(StatusUserAbort, gArchiveStatus);
  EXPECT_EQ(1u, gReports.size());

  // Without a procedure there is neither a report nor a stop.
  SetStatus(StatusOk);
  SetSetProgressProc(0, CaptureProgress);
  SetSetProgressProc(9, nullptr);
  StartProgress(100000);
  ReportProgress(65536);
  EXPECT_EQ(StatusOk, gArchiveStatus);
  EXPECT_EQ(1u, gReports.size());
}
