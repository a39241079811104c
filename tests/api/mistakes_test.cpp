// A host that does not follow every rule: calls from inside callbacks,
// calls from two threads at once, null pointers, and a current folder moved
// while an operation runs.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

#include "archives.h"
#include "fixture.h"

namespace fs = std::filesystem;

namespace {

const std::string kA = Pattern(3000, 1), kB = Pattern(70000, 2);

// What a callback does once, from the first call of its kind, and the status
// it reads right after.
Module* gModule;
std::function<void()> gNested;
uint16_t gSeen;

void Nest() {
  std::function<void()> once;
  once.swap(gNested);
  if (!once) return;
  once();
  gSeen = gModule->GetArchiveStatus();
}
int32_t NestOnSignal(int32_t, int32_t, int32_t, int32_t) { return Nest(), 0; }
int32_t NestOnName(int32_t, const char*, const char*) { return Nest(), 0; }
int32_t NestOnProgress(int32_t, int32_t, int32_t) { return Nest(), 1; }
int32_t NestOnReplace(int32_t, const void*, const void*) { return Nest(), 0; }

class MistakesTest : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    gModule = &m;
  }

  // A folder `name` with arc.tar (a.txt, b.txt) as the current archive,
  // other.tar beside it, root/a.txt and root/n.txt to add below the
  // add-root path (a.txt replaces its member), and out/a.txt in the way of
  // extraction.
  std::string Scene(const std::string& name) {
    std::string run = Path(name);
    WriteFile(Join(run, "arc.tar"), TarArchive({{"a.txt", kA}, {"b.txt", kB}}));
    WriteFile(Join(run, "other.tar"), TarArchive({{"o.txt", kA}}));
    WriteFile(Join(run, "root/a.txt"), "new a");
    WriteFile(Join(run, "root/n.txt"), kB);
    WriteFile(Join(run, "out/a.txt"), "old a");
    // Added members are the same bytes in every run.
    SetMtime(Join(run, "root/a.txt"), 1500000000);
    SetMtime(Join(run, "root/n.txt"), 1500000000);
    m.InitArcFile(ModPath(Join(run, "arc.tar")).c_str());
    m.SetOutputPath(ModPath(Join(run, "out")).c_str());
    std::vector<unsigned char> settings = CompSettings(1, "", ModPath(Join(run, "root")));
    m.SetCompExtraFeatures(settings.data());
    return run;
  }

  // 's' SetSignalProc, 'n' SetFileNameProc, 'p' SetProgressProc, 'r'
  // OkToReplaceProc.
  void RegisterNesting(char kind) {
    if (kind == 's') m.SetSetSignalProc(0, NestOnSignal);
    if (kind == 'n') m.SetSetFileNameProc(0, NestOnName);
    if (kind == 'p') m.SetSetProgressProc(0, NestOnProgress);
    if (kind == 'r') m.SetOkToReplaceProc(0, NestOnReplace);
  }

  // 'd' deletes a.txt, 'u' adds a.txt and n.txt (a rebuild), 'a' adds n.txt
  // (in place), 'x' extracts everything, each from the list `opList`.
  uint16_t Run(char op) {
    opList = op == 'd'   ? MaskList({"a.txt"})
             : op == 'u' ? MaskList({"a.txt", "n.txt"})
             : op == 'a' ? MaskList({"n.txt"})
                         : MaskList({});
    if (op == 'd') m.DeleteFileMaskListArc(opList);
    if (op == 'u' || op == 'a') m.CompressFileMaskListArc(opList);
    if (op == 'x') m.ExtractFileMaskListArc(opList);
    return m.GetArchiveStatus();
  }

  FileMaskList* opList = nullptr;
};

// The names and data of an archive's members, as stored.
typedef std::vector<std::pair<std::string, std::string>> Members;
Members MembersOf(const std::string& archive) {
  Members members;
  for (const RawEntry& e : RawEntries(archive)) {
    members.emplace_back(e.name, archive.substr(e.offset + 512, static_cast<size_t>(e.size)));
  }
  return members;
}

// Calls made from inside each kind of callback of a deletion, an update and
// an extraction. A refused call, and a stop asked for by another thread,
// leave every file as it was, none open, and the operation's list and the
// module's settings as they were; an allowed call leaves the operation's
// outcome as without it.
TEST_F(MistakesTest, CallsFromInsideCallbacks) {
  // The kind of callback (as RegisterNesting takes it), then the operation
  // (as Run takes it).
  const char* outers[] = {"sd", "sx", "nd", "nu", "na", "nx", "pd", "pu", "pa", "px", "ru", "rx"};
  std::string run;
  std::vector<unsigned char> decomp(kDecompSettingsSize, 0);
  ArcFileList files = {};
  FileMaskList masks = {};
  ArchiveInfo info;
  uint16_t polled = 0;
  const uint16_t kRefused = StatusNotSupported;
  struct Call {
    int line;
    uint16_t status;  // the call's, and the operation's
    std::function<void()> call;
  } calls[] = {
      {__LINE__, kRefused, [&] { m.InitArcFile(ModPath(Join(run, "other.tar")).c_str()); }},
      {__LINE__, kRefused, [&] { m.CreateArcFile(ModPath(Join(run, "new.tar")).c_str()); }},
      {__LINE__, kRefused, [&] { m.DoneArcFile(); }},
      {__LINE__, kRefused, [&] { m.SetOutputPath(ModPath(Join(run, "elsewhere")).c_str()); }},
      {__LINE__, kRefused, [&] { m.SetDecompExtraFeatures(decomp.data()); }},
      {__LINE__, kRefused, [&] { m.SetCompExtraFeatures(CompSettings(0, "b", "").data()); }},
      {__LINE__, kRefused, [&] { m.BuildArcFileList(&files, MaskList({})); }},
      {__LINE__, kRefused, [&] { m.ExtractFileMaskListArc(MaskList({})); }},
      {__LINE__, kRefused, [&] { m.CompressFileMaskListArc(MaskList({"n.txt"})); }},
      {__LINE__, kRefused, [&] { m.DeleteFileMaskListArc(MaskList({"b.txt"})); }},
      {__LINE__, kRefused, [&] { m.TestArc(); }},
      {__LINE__, kRefused, [&] { m.AppendFileMask("b.txt", opList); }},
      {__LINE__, kRefused, [&] { m.DoneFileMaskList(opList); }},
      {__LINE__, kRefused, [&] { m.InitFileMaskList(opList); }},
      {__LINE__, StatusOk, [&] { m.arOptionsOff(m.arOptionsOn(1) + m.arOptionsAreOn(1)); }},
      {__LINE__, StatusOk, [&] { m.SetCryptKey(), m.SetSkipFileProc(4, nullptr); }},
      {__LINE__, StatusOk, [&] {
         m.AppendFileMask("*.txt", m.InitFileMaskList(&masks));
         m.DoneFileMaskList(&masks);
         m.DoneArcFileList(m.InitArcFileList(&files));
         m.GetExtraInfoArc(&info);
       }},
      // Another thread polls while the operation runs, and stops it.
      {__LINE__, StatusUserAbort, [&] {
         std::thread([&] { polled = m.GetArchiveStatus(), m.SetArchiveStatus(StatusUserAbort); })
             .join();
       }},
  };
  int runs = 0;
  for (const char* outer : outers) {
    run = Scene("run" + std::to_string(++runs));
    RegisterNesting(outer[0]);
    gNested = [] {};
    ASSERT_EQ(StatusOk, Run(outer[1])) << outer;
    const auto plain = Snapshot(run);
    for (const Call& call : calls) {
      SCOPED_TRACE(std::string(outer) + ", line " + std::to_string(call.line));
      run = Scene("run" + std::to_string(++runs));
      const auto before = Snapshot(run);
      std::string elsewhere = ModPath(Join(run, "elsewhere"));
      memcpy(&decomp[kDecompOutputOffset], elsewhere.c_str(), elsewhere.size() + 1);
      RegisterNesting(outer[0]);
      gNested = call.call;
      gSeen = 0;
      polled = 0;
      EXPECT_EQ(call.status, Run(outer[1]));
      EXPECT_FALSE(gNested);  // the callback came
      EXPECT_EQ(call.status, gSeen);
      EXPECT_TRUE(Snapshot(run) == (call.status == StatusOk ? plain : before));
      EXPECT_EQ(std::vector<std::string>{}, OpenFilesBelow(run));
      if (call.status == StatusOk) continue;
      if (call.status == StatusUserAbort) {
        EXPECT_EQ(StatusOk, polled);
      }
      // The operation's list as it was: its last mask is its last item's.
      std::string last = opList->last != nullptr ? opList->last->name : "";
      EXPECT_EQ(outer[1] == 'x' ? "" : outer[1] == 'd' ? "a" : "n", last);
      EXPECT_EQ(ModPath(Join(run, "out")) + "\\", std::string(m.SetOutputPath(nullptr)));
      EXPECT_EQ((std::vector<std::string>{"a.txt", "b.txt"}), List());
    }
  }
}

// Two threads, each naming its own archive and working on it round after
// round, with nothing ordering their calls: c1.tar is listed and one.txt or
// two.txt extracted from it, dN.txt deleted from c2.tar in round N; both
// archives hold every dN.txt at first. Whichever archive is current when an
// operation starts, every call ends as in some serial order: every status
// is StatusOk, every listing is one archive's whole listing, every
// extracted file is whole, and every dN.txt is gone from exactly one
// archive.
TEST_F(MistakesTest, TwoThreadsGiveSerialResults) {
  const int kRounds = 200;
  auto name = [](int n) { return "d" + std::to_string(1000 + n) + ".txt"; };
  std::vector<TarItem> one = {{"one.txt", kA}}, two = {{"two.txt", kB}};
  for (int n = 0; n < kRounds; n++) {
    one.push_back({name(n), name(n)});
    two.push_back({name(n), name(n)});
  }
  WriteFile(Path("c1.tar"), TarArchive(one));
  WriteFile(Path("c2.tar"), TarArchive(two));
  m.SetOutputPath(Mod("out").c_str());
  std::atomic<int> faults{0};  // statuses, listings and files no serial order gives
  auto ok = [&](bool good) { faults += good ? 0 : 1; };
  auto named = [&](const char* archive, FileMaskList* masks) {
    m.InitArcFile(Mod(archive).c_str());
    ok(m.GetArchiveStatus() == StatusOk);
    m.InitFileMaskList(masks);
  };
  std::thread reader([&] {
    for (int n = 0; n < kRounds; n++) {
      FileMaskList masks;
      ArcFileList files;
      named("c1.tar", &masks);
      m.BuildArcFileList(m.InitArcFileList(&files), &masks);
      ok(m.GetArchiveStatus() == StatusOk);
      std::vector<std::string> names;
      for (ArcFileEntry* e = files.head; e != nullptr; e = e->next) names.push_back(e->name);
      m.DoneArcFileList(&files);
      // One archive's whole listing: its own member, then dNNNN.txt in order.
      ok(!names.empty() && (names[0] == "one.txt" || names[0] == "two.txt") &&
         std::is_sorted(names.begin() + 1, names.end()));
      m.AppendFileMask("one.txt", &masks), m.AppendFileMask("two.txt", &masks);
      m.ExtractFileMaskListArc(&masks);
      ok(m.GetArchiveStatus() == StatusOk);
      m.DoneFileMaskList(&masks);
      std::string a = ReadFile(Path("out/one.txt")), b = ReadFile(Path("out/two.txt"));
      ok((a.empty() || a == kA) && (b.empty() || b == kB));
    }
  });
  std::thread deleter([&] {
    for (int n = 0; n < kRounds; n++) {
      FileMaskList masks;
      named("c2.tar", &masks);
      m.AppendFileMask(name(n).c_str(), &masks);
      m.DeleteFileMaskListArc(&masks);
      ok(m.GetArchiveStatus() == StatusOk);
      m.DoneFileMaskList(&masks);
    }
  });
  reader.join();
  deleter.join();
  EXPECT_EQ(0, faults);
  Members left1 = MembersOf(ReadFile(Path("c1.tar"))), left2 = MembersOf(ReadFile(Path("c2.tar")));
  ASSERT_FALSE(left1.empty() || left2.empty());
  EXPECT_TRUE(left1[0] == Members::value_type("one.txt", kA));
  EXPECT_TRUE(left2[0] == Members::value_type("two.txt", kB));
  EXPECT_EQ(static_cast<size_t>(kRounds + 2), left1.size() + left2.size());
  for (int n = 0; n < kRounds; n++) {
    Members::value_type d(name(n), name(n));
    int copies = std::count(left1.begin(), left1.end(), d) + std::count(left2.begin(), left2.end(), d);
    EXPECT_EQ(1, copies) << name(n);
  }
  EXPECT_EQ(std::vector<std::string>{}, TempFilesIn(dir));
  EXPECT_EQ(std::vector<std::string>{}, OpenFilesBelow(dir));
}

// Each pointer argument of each export null, with an archive named and
// settings handed over: nothing crashes, nothing is selected, written or
// forgotten but the current archive on a null name, and the status is the
// one given, or the one before where the export leaves it alone.
TEST_F(MistakesTest, NullPointers) {
  const uint16_t kUnchanged = 0x4321;
  FileMaskList masks;
  ArcFileList files;
  struct Row {
    int line;
    uint16_t status;
    bool archiveNamed;  // the archive is still current afterwards
    std::function<bool()> call;  // false when the result is wrong
  } rows[] = {
      {__LINE__, StatusFileError, false, [&] { return m.InitArcFile(nullptr), true; }},
      {__LINE__, StatusFileError, false, [&] { return m.CreateArcFile(nullptr), true; }},
      {__LINE__, kUnchanged, true, [&] { return m.SetOutputPath(nullptr) != nullptr; }},
      {__LINE__, kUnchanged, true, [&] { return m.SetDecompExtraFeatures(nullptr), true; }},
      {__LINE__, kUnchanged, true, [&] { return m.SetCompExtraFeatures(nullptr), true; }},
      {__LINE__, kUnchanged, true, [&] { return m.InitFileMaskList(nullptr) == nullptr; }},
      {__LINE__, kUnchanged, true, [&] { return m.GetMainCommentArc(nullptr) == nullptr; }},
      {__LINE__, StatusFileError, true,
       [&] { return m.AppendFileMask(nullptr, &masks) == 0 && masks.first == nullptr; }},
      {__LINE__, StatusFileError, true, [&] { return m.AppendFileMask("a.txt", nullptr) == 0; }},
      {__LINE__, kUnchanged, true, [&] { return m.DoneFileMaskList(nullptr), true; }},
      {__LINE__, StatusFileError, true, [&] { return m.BuildArcFileList(nullptr, &masks) == 0; }},
      {__LINE__, StatusNoEntries, true,
       [&] { return m.BuildArcFileList(&files, nullptr) == 0 && files.head == nullptr; }},
      {__LINE__, kUnchanged, true, [&] { return m.InitArcFileList(nullptr) == nullptr; }},
      {__LINE__, kUnchanged, true, [&] { return m.DoneArcFileList(nullptr), true; }},
      {__LINE__, kUnchanged, true, [&] { return m.GetExtraInfoArc(nullptr) == nullptr; }},
      {__LINE__, StatusNoEntries, true, [&] { return m.ExtractFileMaskListArc(nullptr), true; }},
      {__LINE__, StatusEmptyRequest, true, [&] { return m.CompressFileMaskListArc(nullptr), true; }},
      {__LINE__, StatusNoEntries, true, [&] { return m.DeleteFileMaskListArc(nullptr), true; }},
      {__LINE__, kUnchanged, true, [&] {
         m.SetSetSignalProc(1, nullptr), m.SetSetWarningProc(1, nullptr);
         m.SetGetNextDiskProc(1, nullptr), m.SetSetSfxProgressProc(1, nullptr);
         m.SetSetFileNameProc(1, nullptr), m.SetSetProgressProc(1, nullptr);
         return m.SetOkToReplaceProc(1, nullptr), m.SetSkipFileProc(1, nullptr), true;
       }},
  };
  int runs = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    std::string run = Scene("run" + std::to_string(++runs));
    const auto before = Snapshot(run);
    m.InitFileMaskList(&masks);
    m.InitArcFileList(&files);
    m.SetArchiveStatus(kUnchanged);
    EXPECT_TRUE(row.call());
    EXPECT_EQ(row.status, m.GetArchiveStatus());
    EXPECT_TRUE(Snapshot(run) == before);
    EXPECT_EQ(ModPath(Join(run, "out")) + "\\", std::string(m.SetOutputPath(nullptr)));
    if (row.archiveNamed) {
      EXPECT_EQ((std::vector<std::string>{"a.txt", "b.txt"}), List());
    } else {
      List();
      EXPECT_EQ(StatusFileError, m.GetArchiveStatus());
    }
  }
}

// The names a callback is shown; the first moves the current folder away.
std::vector<std::string> gShown;
std::string gAway;
int32_t MoveAwayOnName(int32_t, const char* source, const char* destination) {
  if (gShown.empty()) fs::current_path(gAway);
  gShown.push_back(std::string(source) + " | " + destination);
  return 0;
}

// The current folder moved by a callback while an operation works on an
// archive, items and an output folder named relative to it: the operation
// ends in the folder it started in, and the host is shown the names as it
// gave them.
TEST_F(MistakesTest, CurrentFolderMovedInsideACallback) {
  struct Row {
    int line;
    char op;
    std::vector<std::string> shown;
    Members archive;  // what arc.tar holds after
    std::vector<std::string> extracted;
  } rows[] = {
      {__LINE__, 'u', {"a.txt | \\a.txt", "n.txt | \\n.txt"},
       {{"b.txt", kB}, {"a.txt", "new a"}, {"n.txt", kB}}, {}},
      {__LINE__, 'a', {"n.txt | \\n.txt"}, {{"a.txt", kA}, {"b.txt", kB}, {"n.txt", kB}}, {}},
      {__LINE__, 'd', {"\\a.txt | \\a.txt"}, {{"b.txt", kB}}, {}},
      {__LINE__, 'x', {"\\a.txt | out\\a.txt", "\\b.txt | out\\b.txt"},
       {{"a.txt", kA}, {"b.txt", kB}}, {"a.txt", "b.txt"}},
  };
  const fs::path home = fs::current_path();
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    std::string run = Path("run" + std::to_string(row.line));
    gAway = Join(run, "away");
    WriteFile(Join(run, "arc.tar"), TarArchive({{"a.txt", kA}, {"b.txt", kB}}));
    WriteFile(Join(run, "a.txt"), "new a");
    WriteFile(Join(run, "n.txt"), kB);
    // Files of the same names where the current folder goes.
    for (const char* name : {"arc.tar", "a.txt", "n.txt", "out/a.txt"}) {
      WriteFile(Join(gAway, name), "away");
    }
    const auto awayBefore = Snapshot(gAway);
    fs::current_path(run);
    m.InitArcFile("arc.tar");
    m.SetOutputPath("out");
    gShown.clear();
    m.SetSetFileNameProc(0, MoveAwayOnName);
    EXPECT_EQ(StatusOk, Run(row.op));
    fs::current_path(home);
    EXPECT_EQ(row.shown, gShown);
    EXPECT_TRUE(MembersOf(ReadFile(Join(run, "arc.tar"))) == row.archive);
    EXPECT_EQ(row.extracted, ListTree(Join(run, "out")));
    EXPECT_TRUE(Snapshot(gAway) == awayBefore);
    EXPECT_EQ(std::vector<std::string>{}, TempFilesIn(run));
  }
}

}  // namespace
