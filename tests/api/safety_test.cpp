// Beside other processes and links: a second writer, an archive replaced
// while it is read, a new archive made twice at once, and links below the
// output folder.
#include <cstring>
#include <functional>

#include "archives.h"
#include "fixture.h"

namespace fs = std::filesystem;

namespace {

// What another process does while the module is inside an operation: run
// once, from the first callback that comes.
std::function<void()> gMeanwhile;

void RunMeanwhile() {
  std::function<void()> once;
  once.swap(gMeanwhile);
  if (once) once();
}
int32_t NameMeanwhile(int32_t, const char*, const char*) {
  RunMeanwhile();
  return 0;
}
int32_t ProgressMeanwhile(int32_t, int32_t, int32_t) {
  RunMeanwhile();
  return 1;
}

int32_t gReplaceAnswer;
int32_t AnswerOnExtract(int32_t, const void*, const void*) { return gReplaceAnswer; }

class SafetyTest : public ModuleTest {
 protected:
  // The module's host program of this build, as a shell command.
  std::string Votar() const {
#ifdef _WIN32
    return "wine '" + std::string(VOTAR_MODULE_DIR) + "/votar.exe'";
#else
    return "'" + std::string(VOTAR_MODULE_DIR) + "/votar'";
#endif
  }

  // A file of the test folder as a Unix program sees it, and as votar does.
  std::string Unix(const std::string& name) const { return "'" + UnixPath(Path(name)) + "'"; }
  std::string Arg(const std::string& name) const {
#ifdef _WIN32
    return "'" + Mod(name) + "'";
#else
    return Unix(name);
#endif
  }

  uint16_t Run(int32_t (*op)(const FileMaskList*), std::initializer_list<const char*> masks) {
    FileMaskList list = Masks(masks);
    op(&list);
    return m.GetArchiveStatus();
  }
};

const std::string kA = Pattern(3000, 1), kB = Pattern(70000, 2), kC = Pattern(5000, 3);

// A deletion paused in its copy while another process deletes from the same
// archive: the other fails at once and changes nothing; a listing meanwhile
// is not held up.
TEST_F(SafetyTest, OverlappingDeletionsNeverBothSucceed) {
  WriteFile(Path("arc.tar"), TarArchive({{"a.txt", kA}, {"b.txt", kB}, {"c.txt", kC}}));
  OpenArchive("arc.tar");
  m.SetSetProgressProc(0, ProgressMeanwhile);
  int deleted = -1, listed = -1;
  std::string output;
  gMeanwhile = [&] {
    deleted = RunCommand(Votar() + " delete " + Arg("arc.tar") + " c.txt", &output);
    listed = RunCommand(Votar() + " list " + Arg("arc.tar"));
  };
  FileMaskList masks = Masks({"a.txt"});
  m.DeleteFileMaskListArc(&masks);
  EXPECT_EQ(StatusOk, m.GetArchiveStatus());
  EXPECT_EQ(1, deleted) << output;
  EXPECT_EQ(0, listed);
  EXPECT_TRUE(ReadFile(Path("arc.tar")) == TarArchive({{"b.txt", kB}, {"c.txt", kC}}, false));
  EXPECT_TRUE(TempFilesIn(dir).empty());
}

// Another archive renamed over the one being extracted: extraction reads
// the one it scanned, whole. (Windows renames nothing over an open file.)
TEST_F(SafetyTest, ArchiveReplacedWhileItIsExtracted) {
  WriteFile(Path("arc.tar"), TarArchive({{"a.txt", kA}, {"b.txt", kB}}));
  WriteFile(Path("other.tar"), TarArchive({{"a.txt", kC}, {"b.txt", kA + kA}}));
  OpenArchive("arc.tar");
  m.SetSetFileNameProc(0, NameMeanwhile);
  m.SetOutputPath(Mod("out").c_str());
  std::error_code ec;
  gMeanwhile = [&] { fs::rename(Path("other.tar"), Path("arc.tar"), ec); };
  EXPECT_EQ(StatusOk, Run(m.ExtractFileMaskListArc, {}));
  EXPECT_TRUE(ReadFile(Path("out/a.txt")) == kA);
  EXPECT_TRUE(ReadFile(Path("out/b.txt")) == kB);
}

// Two hosts make the same new archive: the one that finds it made fails and
// leaves it as the other made it.
TEST_F(SafetyTest, NewArchiveMadeMeanwhileIsLeftAlone) {
  WriteFile(Path("a.txt"), kA);
  const std::string theirs = TarArchive({{"theirs.txt", kB}});
  m.InitArcFile(Mod("new.tar").c_str());
  m.CreateArcFile(Mod("new.tar").c_str());
  ASSERT_EQ(StatusOk, m.GetArchiveStatus());
  m.SetSetFileNameProc(0, NameMeanwhile);
  gMeanwhile = [&] { WriteFile(Path("new.tar"), theirs); };
  EXPECT_EQ(StatusFileError, Run(m.CompressFileMaskListArc, {Mod("a.txt").c_str()}));
  EXPECT_TRUE(ReadFile(Path("new.tar")) == theirs);
  EXPECT_TRUE(TempFilesIn(dir).empty());
}

// Links below the output folder, made by the system's ln, with a sentinel
// folder outside: whatever the answer, nothing outside changes, nor the
// archive. Wine shows no dangling link, and a link to a file as the file.
TEST_F(SafetyTest, LinksBelowTheOutputFolder) {
#ifdef _WIN32
  const bool wine = true;
#else
  const bool wine = false;
#endif
  struct Row {
    int line;
    const char* member;  // also the link's name below out/
    const char* target;  // relative to out/
    int32_t answer;
    uint16_t status;
    bool replaced;  // the link gave way to the member's file
  } rows[] = {
      {__LINE__, "ld/f.txt", "../outside", 0, StatusFileError, false},
      {__LINE__, "fl.txt", "../outside/sentinel.txt", 0, StatusOk, true},
      {__LINE__, "fl.txt", "../outside/sentinel.txt", 1, StatusOk, false},
      {__LINE__, "dl.txt", "../outside/none.txt", 0, wine ? StatusFileError : StatusOk, !wine},
      {__LINE__, "dl.txt", "../outside/none.txt", 1, wine ? StatusFileError : StatusOk, false},
      {__LINE__, "al.tar", "../arc.tar", 0, wine ? StatusFileError : StatusOk, !wine},
      {__LINE__, "al.tar", "../arc.tar", 1, wine ? StatusFileError : StatusOk, false},
  };
  // Removed by the shell: Wine does not show a dangling link to remove.
  const std::string clear = "rm -rf " + Unix("out") + " " + Unix("outside");
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    ASSERT_EQ(0, RunCommand(clear));
    fs::create_directories(Path("out"));
    WriteFile(Path("outside/sentinel.txt"), "sentinel");
    const std::string archive = TarArchive({{row.member, kA}});
    WriteFile(Path("arc.tar"), archive);
    std::string link = std::string(row.member).substr(0, std::string(row.member).find('/'));
    ASSERT_EQ(0, RunCommand("ln -s '" + std::string(row.target) + "' " + Unix("out/" + link)));
    OpenArchive("arc.tar");
    m.SetOkToReplaceProc(0, AnswerOnExtract);
    gReplaceAnswer = row.answer;
    // Whole stored paths below the output folder.
    std::vector<unsigned char> settings(kDecompSettingsSize, 0);
    settings[kDecompPathModeOffset] = 2;
    std::string out = Mod("out");
    memcpy(&settings[kDecompOutputOffset], out.c_str(), out.size() + 1);
    m.SetDecompExtraFeatures(settings.data());
    EXPECT_EQ(row.status, Run(m.ExtractFileMaskListArc, {}));
    EXPECT_EQ((std::vector<std::string>{"sentinel.txt"}), ListTree(Path("outside")));
    EXPECT_EQ("sentinel", ReadFile(Path("outside/sentinel.txt")));
    EXPECT_TRUE(ReadFile(Path("arc.tar")) == archive);
    EXPECT_EQ(row.replaced, RunCommand("test -f " + Unix("out/" + link) + " && ! test -L " +
                                       Unix("out/" + link)) == 0);
    if (row.replaced) {
      EXPECT_TRUE(ReadFile(Path("out/" + link)) == kA);
    }
  }
  RunCommand(clear);
}

}  // namespace

// An archive named by a link: every change is made to the file the link
// names, beside it, and the link stays a link to the changed archive.
TEST_F(SafetyTest, ArchiveBehindALink) {
  fs::create_directories(Path("real"));
  WriteFile(Path("new.txt"), "new");
  struct Row {
    int line;
    char op;  // d delete a.txt, a add new.txt, r replace a.txt, e delete all
    std::vector<std::string> left;  // the members after; none: no archive
  } rows[] = {
      {__LINE__, 'd', {"b.txt"}},
      {__LINE__, 'a', {"a.txt", "b.txt", "new.txt"}},
      {__LINE__, 'r', {"b.txt", "a.txt"}},
      {__LINE__, 'e', {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    WriteFile(Path("real/arc.tar"), TarArchive({{"a.txt", kA}, {"b.txt", kB}}));
    WriteFile(Path("a.txt"), "disk");
    ASSERT_EQ(0, RunCommand("rm -f " + Unix("link.tar") + " && ln -s real/arc.tar " +
                            Unix("link.tar")));
    OpenArchive("link.tar");
    ASSERT_EQ(StatusOk, m.GetArchiveStatus());
    m.SetCompExtraFeatures(CompSettings(1, "", ModPath(dir) + "\\").data());
    uint16_t status = row.op == 'd'   ? Run(m.DeleteFileMaskListArc, {"a.txt"})
                      : row.op == 'e' ? Run(m.DeleteFileMaskListArc, {"*.*"})
                      : row.op == 'a' ? Run(m.CompressFileMaskListArc, {"new.txt"})
                                      : Run(m.CompressFileMaskListArc, {"a.txt"});
    EXPECT_EQ(StatusOk, status);
    std::string output;
    EXPECT_EQ(0, RunCommand("test -L " + Unix("link.tar"), &output)) << "the link stays";
    EXPECT_EQ(row.left.empty(), !PathExists(Path("real/arc.tar")));
    if (!row.left.empty()) {
      EXPECT_EQ(row.left, PeerNames("tar", Path("link.tar")));
    }
    EXPECT_TRUE(TempFilesIn(dir).empty() && TempFilesIn(Path("real")).empty());
  }
#ifndef _WIN32
  // A link to nothing is no place for a new archive. (Wine shows no such
  // link to a Windows program: it stays out of that build's rows.)
  ASSERT_EQ(0, RunCommand("ln -s nowhere.tar " + Unix("dangling.tar")));
  OpenArchive("dangling.tar");
  m.CreateArcFile(Mod("dangling.tar").c_str());
  EXPECT_EQ(StatusFileError, Run(m.CompressFileMaskListArc, {"new.txt"}));
  EXPECT_FALSE(PathExists(Path("nowhere.tar")));
#endif
}
