// Member data transfer, the rebuild frame with its temporary file, and
// extraction when the file system fails, through the fault-injection seam.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "archive/lock.h"
#include "archive/rebuild.h"
#include "archive/tempname.h"
#include "base/status.h"
#include "files.h"
#include "fixture.h"
#include "ops/progress.h"
#include "platform/platform.h"
#include "session/current.h"
#include "tar/copy.h"
#include "tar/format.h"
#include "votar.h"

namespace {

struct Fault {
  PfFault op;
  int nth;
};

// The progress reports the module made, as "percent delta".
std::vector<std::string> Reports() {
  std::vector<std::string> reports;
  for (const std::string& e : Recorder::events) {
    if (e.rfind("progress 7 ", 0) == 0) reports.push_back(e.substr(11));
  }
  return reports;
}

// The file system path of a path the module made ("\" separators).
std::string HostPath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

bool IsTempName(const std::string& name) {
  size_t digits = name.find(".$SC");
  if (digits == std::string::npos || digits + 4 != name.size()) return false;
  if (digits < 1 || digits > 5) return false;
  return std::all_of(name.begin(), name.begin() + static_cast<long>(digits),
                     [](char c) { return c >= '0' && c <= '9'; });
}

TarItem Item(const std::string& name, const std::string& data) {
  TarItem item;
  item.name = name;
  item.data = data;
  return item;
}

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeTempDir();
    PfResetFaults();
    Recorder::Reset();
    SetSetProgressProc(7, Recorder::Progress);
  }

  void TearDown() override {
    CloseStreams();
    PfResetFaults();
    SetSetProgressProc(0, nullptr);
    DoneArcFile();
    RemoveTree(dir);
  }

  std::string Path(const std::string& name) const { return Join(dir, name); }
  std::string Mod(const std::string& name) const { return ModPath(Path(name)); }

  // Opens a file of these bytes for reading, and a fresh output.
  void OpenStreams(const std::string& bytes) {
    WriteFile(Path("in"), bytes);
    std::filesystem::remove(Path("out"));
    input = PfOpenRead(Mod("in").c_str());
    output = PfCreateNew(Mod("out").c_str());
    ASSERT_NE(nullptr, input);
    ASSERT_NE(nullptr, output);
    StartFileSource(&source, input);
    StartTarWriter(&writer, output);
  }

  void CloseStreams() {
    if (input != nullptr) PfClose(input);
    if (output != nullptr) PfClose(output);
    input = output = nullptr;
  }

  std::string CloseOutput() {
    PfClose(output);
    output = nullptr;
    return ReadFile(Path("out"));
  }

  void Inject(const std::vector<Fault>& faults) {
    PfResetFaults();
    for (const Fault& f : faults) PfInjectFault(f.op, f.nth);
  }

  std::string dir;
  PfFile* input = nullptr;
  PfFile* output = nullptr;
  FileSource source;
  TarWriter writer;
};

TEST_F(TransferTest, CopyOutAndCopyIn) {
  enum Which { kOut, kIn };
  struct Row {
    int line;
    Which which;
    size_t fileSize;  // bytes in the file read
    int32_t n;
    std::vector<Fault> faults;
    std::vector<int> answers;  // of SetProgressProc
    uint16_t status;
    size_t data;   // the output is the file's first `data` bytes
    size_t zeros;  // and then this many zero bytes
    std::vector<std::string> reports;
  } rows[] = {
      {__LINE__, kOut, 100, 0, {}, {}, StatusOk, 0, 0, {}},
      {__LINE__, kOut, 100, -1, {}, {}, StatusFileError, 0, 0, {}},
      {__LINE__, kOut, 3, 3, {}, {}, StatusOk, 3, 0, {"100 3"}},
      {__LINE__, kOut, 100000, 100000, {}, {}, StatusOk, 100000, 0, {"65 65536", "100 34464"}},
      // A short archive: what it had goes out before the failure.
      {__LINE__, kOut, 70000, 100000, {}, {}, StatusFileError, 70000, 0, {"65 65536"}},
      {__LINE__, kOut, 100000, 100000, {{kFaultRead, 1}}, {}, StatusFileError, 0, 0, {}},
      // A short write still reports its chunk, then ends the copy.
      {__LINE__, kOut, 100000, 100000, {{kFaultWrite, 1}}, {}, StatusWriteError, 0, 0,
       {"65 65536"}},
      {__LINE__, kOut, 100000, 100000, {{kFaultWrite, 2}}, {}, StatusWriteError, 65536, 0,
       {"65 65536", "100 34464"}},
      {__LINE__, kOut, 100000, 100000, {}, {0}, StatusUserAbort, 65536, 0, {"65 65536"}},
      {__LINE__, kIn, 1000, 0, {}, {}, StatusOk, 0, 0, {}},
      {__LINE__, kIn, 1000, 1000, {}, {}, StatusOk, 1000, 24, {"100 1000"}},
      {__LINE__, kIn, 512, 512, {}, {}, StatusOk, 512, 0, {"100 512"}},
      {__LINE__, kIn, 513, 513, {}, {}, StatusOk, 513, 511, {"100 513"}},
      {__LINE__, kIn, 100000, 100000, {}, {}, StatusOk, 100000, 352, {"65 65536", "100 34464"}},
      // A source that shrank: what was read goes out, no padding follows.
      {__LINE__, kIn, 66000, 70000, {}, {}, StatusFileError, 66000, 0, {"93 65536"}},
      {__LINE__, kIn, 500, 1000, {}, {}, StatusFileError, 500, 0, {}},
      // The report comes before the write, which still happens.
      {__LINE__, kIn, 70000, 70000, {}, {0}, StatusUserAbort, 65536, 0, {"93 65536"}},
      {__LINE__, kIn, 1000, 1000, {{kFaultWrite, 1}}, {}, StatusWriteError, 0, 0, {"100 1000"}},
      {__LINE__, kIn, 1000, 1000, {{kFaultWrite, 2}}, {}, StatusWriteError, 1000, 0,
       {"100 1000"}},
  };
  for (const Row& row : rows) {
    std::string where = "line " + std::to_string(row.line);
    std::string bytes = Pattern(row.fileSize, row.line);
    OpenStreams(bytes);
    Recorder::Reset();
    Recorder::progressAnswers = row.answers;
    Inject(row.faults);
    // As an operation runs them: from StatusOk, which the outcome then sets.
    SetStatus(StatusOk);
    HostProgress progress;
    ProgressHook hook = StartHostProgress(&progress, row.n);
    SetStatusFor(row.which == kOut ? CopyOut(&source, &writer, row.n, hook)
                                   : CopyIn(&source, &writer, row.n, hook));
    EXPECT_EQ(row.status, gArchiveStatus) << where;
    if (row.n == 0) {
      EXPECT_EQ(0, PfFaultCalls(kFaultRead)) << where;
    }
    std::string out = CloseOutput();
    EXPECT_EQ(row.data + row.zeros, out.size()) << where;
    EXPECT_TRUE(out == bytes.substr(0, row.data) + std::string(row.zeros, '\0')) << where;
    EXPECT_EQ(row.reports, Reports()) << where;
    CloseStreams();
  }
}

TEST_F(TransferTest, CopyRawAndCopyMember) {
  // A member of 1000 bytes whose padding is not zero, one of 512 and one of
  // 100,000; then the end-of-archive marker.
  std::string archive = TarHeader(Item("a", std::string(1000, 'a'))) + Pattern(1000) +
                        std::string(24, '\xAA') + TarArchive({Item("b", Pattern(512, 1)),
                                                              Item("c", Pattern(100000, 2))});
  const int64_t kB = 1536;
  const int64_t kC = kB + 1024;
  enum Which { kRaw, kMember };
  struct Row {
    int line;
    Which which;
    int64_t offset;
    int32_t length;  // CopyRaw's length, CopyMember's size
    size_t cutAt;    // the archive ends there; 0 keeps it whole
    std::vector<Fault> faults;
    uint16_t status;
    size_t from;   // the output is the archive's bytes [from, to)
    size_t to;
    size_t zeros;  // and then this many zero bytes
  } rows[] = {
      // As stored: header, data and the member's own padding.
      {__LINE__, kRaw, 0, 1512, 0, {}, StatusOk, 0, 1536, 0},
      {__LINE__, kRaw, kB, 1024, 0, {}, StatusOk, kB, kC, 0},
      {__LINE__, kRaw, kC, 100512, 0, {}, StatusOk, kC, kC + 100864, 0},
      {__LINE__, kRaw, 0, 0, 0, {}, StatusOk, 0, 0, 0},
      {__LINE__, kRaw, 0, 1512, 1200, {}, StatusFileError, 0, 1200, 0},
      {__LINE__, kRaw, 0, 1512, 0, {{kFaultWrite, 1}}, StatusWriteError, 0, 0, 0},
      // Header and data, then fresh padding.
      {__LINE__, kMember, 0, 1000, 0, {}, StatusOk, 0, 1512, 24},
      {__LINE__, kMember, kB, 512, 0, {}, StatusOk, kB, kC, 0},
      {__LINE__, kMember, kB, 0, 0, {}, StatusOk, kB, kB + 512, 0},
      {__LINE__, kMember, kC, 100000, 0, {}, StatusOk, kC, kC + 100512, 352},
      // A failed copy gets no padding.
      {__LINE__, kMember, 0, 1000, 1200, {}, StatusFileError, 0, 1200, 0},
      {__LINE__, kMember, kC, 100000, kC + 70000, {}, StatusFileError, kC, kC + 70000, 0},
      {__LINE__, kMember, 0, 1000, 0, {{kFaultWrite, 1}}, StatusWriteError, 0, 0, 0},
      {__LINE__, kMember, 0, 1000, 0, {{kFaultWrite, 2}}, StatusWriteError, 0, 1512, 0},
      {__LINE__, kMember, kB, 512, 0, {{kFaultSeek, 1}}, StatusFileError, 0, 0, 0},
      {__LINE__, kMember, 0, -1, 0, {}, StatusFileError, 0, 0, 0},
  };
  for (const Row& row : rows) {
    std::string where = "line " + std::to_string(row.line);
    OpenStreams(row.cutAt == 0 ? archive : archive.substr(0, row.cutAt));
    Recorder::Reset();
    Inject(row.faults);
    SetStatus(StatusOk);
    if (row.which == kRaw) {
      SetStatusFor(CopyRaw(&source, &writer, row.offset, row.length));
    } else {
      int64_t length = row.length < 0 ? row.length : row.length + 512;
      SetStatusFor(CopyMember(&source, &writer, row.offset, length));
    }
    EXPECT_EQ(row.status, gArchiveStatus) << where;
    std::string out = CloseOutput();
    EXPECT_EQ(row.to - row.from + row.zeros, out.size()) << where;
    EXPECT_TRUE(out == archive.substr(row.from, row.to - row.from) + std::string(row.zeros, '\0'))
        << where;
    EXPECT_TRUE(Recorder::events.empty()) << where;  // no progress reports
    CloseStreams();
  }
}

TEST_F(TransferTest, TempNamesLieBesideTheArchiveAndAreFree) {
  char name[kFullPathSize];
  // A folder longer than any part of a path the module keeps is taken whole.
  const std::string deep = "C:\\" + std::string(300, 'd') + "\\";
  struct Row {
    int line;
    std::string archive;
    std::string prefix;  // what precedes the digits
  } rows[] = {
      {__LINE__, Mod("a.tar"), Mod("")},
      {__LINE__, Mod("sub.d/a.b.tar"), Mod("sub.d/")},
      {__LINE__, "a.tar", ""},
      {__LINE__, "C:a.tar", "C:"},
      {__LINE__, deep + "a.tar", deep},
  };
  for (const Row& row : rows) {
    ASSERT_TRUE(MakeTempName(row.archive.c_str(), name, sizeof name)) << "line " << row.line;
    std::string made = name;
    EXPECT_EQ(row.prefix, made.substr(0, row.prefix.size())) << "line " << row.line;
    EXPECT_TRUE(IsTempName(made.substr(row.prefix.size()))) << made << ", line " << row.line;
  }
  EXPECT_FALSE(MakeTempName(Mod("a.tar").c_str(), name, Mod("").size() + 5));

  // Something of that name, even a directory, makes another name be chosen.
  ASSERT_TRUE(MakeTempName(Mod("a.tar").c_str(), name, sizeof name));
  std::string first = name;
  std::filesystem::create_directory(HostPath(first));
  ASSERT_TRUE(MakeTempName(Mod("a.tar").c_str(), name, sizeof name));
  EXPECT_NE(first, std::string(name));
  EXPECT_FALSE(PathExists(HostPath(name)));
}

// BeginRebuild, then FinishRebuild or AbandonRebuild: afterwards the folder
// holds the archive alone, either the old one or the new one, whole. An
// archive that another writer replaced or wrote to meanwhile is left as
// that writer left it.
TEST_F(TransferTest, RebuildFrameSwapsInOneStepOrNotAtAll) {
  const std::string oldArchive = TarArchive({Item("x", "old")});
  const std::string newArchive = TarArchive({Item("y", "new data")});
  const std::string otherArchive = TarArchive({Item("z", "other")});
  enum Meddling { kNone, kReplaced, kAppended };
  struct Row {
    int line;
    std::vector<Fault> faults;
    bool finish;
    uint16_t status;
    bool swapped;
    Meddling meddling;
  } rows[] = {
      {__LINE__, {}, true, StatusOk, true, kNone},
      {__LINE__, {}, false, StatusOk, false, kNone},
      {__LINE__, {{kFaultReplace, 1}}, true, StatusFileError, false, kNone},
      // The temporary file is written through before the swap.
      {__LINE__, {{kFaultSync, 1}}, true, StatusWriteError, false, kNone},
      // A removal that fails once is tried again.
      {__LINE__, {{kFaultReplace, 1}, {kFaultRemove, 1}}, true, StatusFileError, false, kNone},
      {__LINE__, {{kFaultRemove, 1}}, false, StatusOk, false, kNone},
      {__LINE__, {}, true, StatusFileError, false, kReplaced},
      {__LINE__, {}, true, StatusFileError, false, kAppended},
  };
  for (const Row& row : rows) {
    // Windows puts no file in the place of one that is open.
    if (row.meddling == kReplaced && !kPfReplacesOpenFiles) continue;
    std::string where = "line " + std::to_string(row.line);
    WriteFile(Path("a.tar"), oldArchive);
    InitArcFile(Mod("a.tar").c_str());
    ASSERT_EQ(StatusOk, gArchiveStatus) << where;
    ArchiveLock lock;
    ASSERT_EQ(kDone, OpenArchiveForChange(gArchivePath, &lock)) << where;
    Rebuild rb;
    ASSERT_EQ(kDone, BeginRebuild(gArchivePath, &rb)) << where;
    std::string tempName = rb.tempPath;
    EXPECT_EQ(Mod(""), tempName.substr(0, Mod("").size())) << where;
    EXPECT_TRUE(IsTempName(tempName.substr(Mod("").size()))) << tempName << ", " << where;
    EXPECT_TRUE(PathExists(HostPath(tempName))) << where;
    ASSERT_EQ(newArchive.size(), PfWrite(rb.file, newArchive.data(), newArchive.size()));
    std::string left = row.swapped ? newArchive : oldArchive;
    if (row.meddling == kReplaced) {
      WriteFile(Path("b.tar"), otherArchive);
      ASSERT_TRUE(PfReplace(Mod("b.tar").c_str(), Mod("a.tar").c_str())) << where;
      left = otherArchive;
    } else if (row.meddling == kAppended) {
      std::ofstream(Path("a.tar"), std::ios::binary | std::ios::app) << otherArchive;
      left = oldArchive + otherArchive;
    }
    Inject(row.faults);
    if (row.finish) {
      SetStatusFor(FinishRebuild(&rb, &lock, gArchivePath));
    } else {
      AbandonRebuild(&rb);
    }
    ReleaseArchive(&lock);
    EXPECT_EQ(row.status, gArchiveStatus) << where;
    EXPECT_TRUE(ReadFile(Path("a.tar")) == left) << where;
    // No temporary file and no backup stay behind.
    EXPECT_EQ(std::vector<std::string>{"a.tar"}, ListTree(dir)) << where;
    if (row.swapped) {
      EXPECT_EQ(1, PfFaultCalls(kFaultReplace)) << where;  // one rename
    }
  }
}

// A link where the temporary file is about to be made must not be followed:
// a create that is not exclusive would make the file it points to. The link
// is made by the system's own ln, which both builds can run.
TEST_F(TransferTest, TemporaryFileIsCreatedExclusively) {
  WriteFile(Path("a.tar"), TarArchive({Item("x", "old")}));
  InitArcFile(Mod("a.tar").c_str());
  ASSERT_EQ(StatusOk, gArchiveStatus);
  for (int attempt = 0; attempt < 5; attempt++) {
    int64_t second = PfNow();
    char predicted[kPathSize];
    ASSERT_TRUE(MakeTempName(gArchivePath, predicted, sizeof predicted));
    std::string link = "'" + UnixPath(HostPath(predicted)) + "'";
    std::string output;
    ASSERT_EQ(0, RunCommand("ln -s '" + UnixPath(Path("victim")) + "' " + link, &output))
        << output;
    Rebuild rb;
    bool begun = BeginRebuild(gArchivePath, &rb) == kDone;
    std::string temp = rb.tempPath;
    if (begun) AbandonRebuild(&rb);
    bool sameSecond = PfNow() == second;
    ASSERT_EQ(0, RunCommand("rm -f " + link, &output)) << output;
    EXPECT_FALSE(PathExists(Path("victim")));
    if (!sameSecond) continue;  // the candidate may have moved on with the clock
    if (begun) {
      EXPECT_NE(std::string(predicted), temp);
    }
    EXPECT_EQ(std::vector<std::string>{"a.tar"}, ListTree(dir));
    return;
  }
  FAIL() << "the clock moved during every attempt";
}

TEST_F(TransferTest, DeleteSwapsTheRebuiltArchiveIn) {
  const std::string archive = TarArchive({Item("a", "aaa"), Item("b", "bbb")});
  FileMaskList masks;
  InitFileMaskList(&masks);
  ASSERT_EQ(1, AppendFileMask("a", &masks));
  for (bool failRename : {true, false}) {
    WriteFile(Path("arc.tar"), archive);
    InitArcFile(Mod("arc.tar").c_str());
    Inject(failRename ? std::vector<Fault>{{kFaultReplace, 1}} : std::vector<Fault>{});
    DeleteFileMaskListArc(&masks);
    EXPECT_EQ(failRename ? StatusFileError : StatusOk, gArchiveStatus) << failRename;
    std::string after = ReadFile(Path("arc.tar"));
    EXPECT_TRUE(failRename ? after == archive : after == TarArchive({Item("b", "bbb")}, false))
        << failRename;
    EXPECT_EQ(std::vector<std::string>{"arc.tar"}, ListTree(dir)) << failRename;
  }
  DoneFileMaskList(&masks);
}

// A copy that fails ends the extraction; the member's incomplete file is
// removed and the files extracted before it stay.
TEST_F(TransferTest, ExtractionStopsAtAFailedCopy) {
  WriteFile(Path("a.tar"), TarArchive({Item("a.txt", Pattern(100)),
                                       Item("big.bin", Pattern(100000)), Item("c.txt", "ccc")}));
  std::vector<unsigned char> settings(kDecompSettingsSize, 0);  // path mode 0
  FileMaskList all;
  InitFileMaskList(&all);
  // Calls counted back from the end of a clean run: -1 is the last call.
  // The copy of big.bin writes twice and reads twice, just before c.txt's
  // one read and one write; its seek comes just before c.txt's.
  auto run = [&](const std::string& out, const std::vector<Fault>& faults) {
    InitArcFile(Mod("a.tar").c_str());
    SetDecompExtraFeatures(settings.data());
    SetOutputPath(Mod(out).c_str());
    Inject(faults);
    ExtractFileMaskListArc(&all);
  };
  run("clean", {});
  ASSERT_EQ(StatusOk, gArchiveStatus);
  int calls[kFaultCount];
  for (int op = 0; op < kFaultCount; op++) calls[op] = PfFaultCalls(static_cast<PfFault>(op));
  struct Row {
    int line;
    std::vector<Fault> faults;  // nth < 0 counts back from the end
    uint16_t status;
  } rows[] = {
      {__LINE__, {{kFaultWrite, -3}}, StatusWriteError},
      {__LINE__, {{kFaultWrite, -2}}, StatusWriteError},
      {__LINE__, {{kFaultWrite, -2}, {kFaultRemove, 1}}, StatusWriteError},
      {__LINE__, {{kFaultRead, -2}}, StatusFileError},
      {__LINE__, {{kFaultSeek, -2}}, StatusFileError},
  };
  for (const Row& row : rows) {
    std::string where = "line " + std::to_string(row.line);
    std::string out = "out" + std::to_string(row.line);
    std::vector<Fault> faults = row.faults;
    for (Fault& f : faults) {
      if (f.nth < 0) f.nth += calls[f.op] + 1;
    }
    run(out, faults);
    EXPECT_EQ(row.status, gArchiveStatus) << where;
    EXPECT_EQ(std::vector<std::string>{"a.txt"}, ListTree(Path(out))) << where;
    EXPECT_TRUE(ReadFile(Path(out + "/a.txt")) == Pattern(100)) << where;
    EXPECT_EQ(1000000000, FileMtime(Path(out + "/a.txt"))) << where;
  }
  DoneFileMaskList(&all);
}

}  // namespace
