// What a host sees of the status word from inside its callbacks: every call
// logs its kind and the status at that moment, so that the points where an
// operation sets the status, and their order against the calls, are held.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archives.h"
#include "base/status.h"
#include "files.h"
#include "platform/platform.h"
#include "votar.h"

namespace {

std::string gLog;
std::vector<int> gProgressAnswers;  // consumed in order; then 1
int gReplaceAnswer = 0;
int gStopAtProgress = 0;  // this progress call asks for a stop itself

void Log(const std::string& what) {
  if (!gLog.empty()) gLog += ' ';
  gLog += what + ":" + std::to_string(GetArchiveStatus());
}

int32_t OnSignal(int32_t, int32_t, int32_t, int32_t kind) {
  Log("S" + std::to_string(kind));
  return 0;
}
int32_t OnName(int32_t, const char*, const char*) {
  Log("N");
  return 0;
}
int32_t OnProgress(int32_t, int32_t percent, int32_t) {
  Log("P" + std::to_string(percent));
  if (--gStopAtProgress == 0) SetArchiveStatus(StatusUserAbort);
  if (gProgressAnswers.empty()) return 1;
  int answer = gProgressAnswers.front();
  gProgressAnswers.erase(gProgressAnswers.begin());
  return answer;
}
int32_t OnReplace(int32_t, const void*, const void*) {
  Log("R");
  return gReplaceAnswer;
}

// Statuses as numbers: 101 a write error, 2926 the user's stop.
struct Row {
  int line;
  char op;                  // x extract, a add new, u update, d delete
  std::vector<int> answers;  // of SetProgressProc
  int stopAt;               // a progress call that asks for a stop, or 0
  int replaceAnswer;
  PfFault fault;
  int nth;                  // 0: no fault
  const char* log;
};

// The scene: t.tar holds a.txt (100 bytes), big.bin (100,000) and c.txt;
// the output folder already has c.txt; beside the archive lie a.txt and
// new.bin to add.
std::string RunRow(const Row& row) {
  std::string dir = MakeTempDir();
  std::string big = Pattern(100000, 3);
  WriteFile(Join(dir, "t.tar"),
            TarArchive({Item("a.txt", Pattern(100)), Item("big.bin", big), Item("c.txt", "ccc")}));
  WriteFile(Join(dir, "out/c.txt"), "old");
  WriteFile(Join(dir, "a.txt"), "on disk");
  WriteFile(Join(dir, "new.bin"), big);
  std::string archive = ModPath(Join(dir, row.op == 'a' ? "n.tar" : "t.tar"));
  InitArcFile(archive.c_str());
  if (row.op == 'a') CreateArcFile(archive.c_str());
  std::vector<unsigned char> comp = CompSettings(1, "", ModPath(dir) + "\\");
  SetCompExtraFeatures(comp.data());
  std::vector<unsigned char> decomp = DecompSettings(0, "", ModPath(Join(dir, "out")));
  SetDecompExtraFeatures(decomp.data());
  SetSetSignalProc(1, OnSignal);
  SetSetFileNameProc(2, OnName);
  SetSetProgressProc(3, OnProgress);
  SetOkToReplaceProc(4, OnReplace);
  gLog.clear();
  gProgressAnswers = row.answers;
  gStopAtProgress = row.stopAt;
  gReplaceAnswer = row.replaceAnswer;
  FileMaskList masks;
  InitFileMaskList(&masks);
  if (row.op == 'u' || row.op == 'a') {
    AppendFileMask("a.txt", &masks);
    AppendFileMask("new.bin", &masks);
  } else if (row.op == 'd') {
    AppendFileMask("a.txt", &masks);
  }
  PfResetFaults();
  if (row.nth > 0) PfInjectFault(row.fault, row.nth);
  if (row.op == 'x') ExtractFileMaskListArc(&masks);
  if (row.op == 'a' || row.op == 'u') CompressFileMaskListArc(&masks);
  if (row.op == 'd') DeleteFileMaskListArc(&masks);
  PfResetFaults();
  Log("end");
  StartOperation();  // lets a stop go, as the next operation would
  DoneFileMaskList(&masks);
  SetSetSignalProc(0, nullptr);
  DoneArcFile();
  RemoveTree(dir);
  return gLog;
}

TEST(StatusSeen, FromInsideEveryCallback) {
  const PfFault kNone = kFaultOpen;
  const PfFault kWrite = kFaultWrite;
  Row rows[] = {
      {__LINE__, 'x', {}, 0, 0, kNone, 0,
       "S2:0 N:0 P100:0 P100:0 N:0 P65:0 P100:0 P100:0 N:0 R:0 P100:0 P100:0 end:0"},
      // A skipped file, then an answer that ends big.bin's copy.
      {__LINE__, 'x', {1, 1, 0}, 0, 1, kNone, 0,
       "S2:0 N:0 P100:0 P100:0 N:0 P65:0 P100:2926 end:2926"},
      {__LINE__, 'x', {}, 3, 0, kNone, 0, "S2:0 N:0 P100:0 P100:0 N:0 P65:0 P100:2926 end:2926"},
      {__LINE__, 'x', {}, 0, 2, kNone, 0,
       "S2:0 N:0 P100:0 P100:0 N:0 P65:0 P100:0 P100:0 N:0 R:0 end:2926"},
      // A write that fails: the chunk is still reported, with the failure.
      {__LINE__, 'x', {}, 0, 0, kWrite, 1, "S2:0 N:0 P100:101 P100:101 end:101"},
      {__LINE__, 'x', {0}, 0, 0, kWrite, 1, "S2:0 N:0 P100:101 P100:2926 end:2926"},
      {__LINE__, 'a', {}, 0, 0, kNone, 0, "N:0 P100:0 N:0 P65:0 P100:0 end:0"},
      {__LINE__, 'a', {0}, 0, 0, kNone, 0, "N:0 P100:0 end:2926"},
      {__LINE__, 'a', {}, 0, 0, kWrite, 2, "N:0 P100:0 end:101"},
      // Replaced and appended in place; kept and rebuilt.
      {__LINE__, 'u', {}, 0, 0, kNone, 0, "R:0 N:0 P100:0 N:0 P65:0 P100:0 end:0"},
      {__LINE__, 'u', {}, 0, 1, kNone, 0, "R:0 N:0 P65:0 P100:0 end:0"},
      {__LINE__, 'u', {}, 2, 1, kNone, 0, "R:0 N:0 P65:0 P100:0 end:2926"},
      {__LINE__, 'u', {}, 0, 2, kNone, 0, "R:0 end:2926"},
      {__LINE__, 'd', {}, 0, 0, kNone, 0, "S3:0 N:0 P100:0 P100:0 end:0"},
      {__LINE__, 'd', {0}, 0, 0, kNone, 0, "S3:0 N:0 P100:0 end:2926"},
      {__LINE__, 'd', {}, 1, 0, kNone, 0, "S3:0 N:0 P100:0 end:2926"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.log, RunRow(row)) << "line " << row.line;
  }
}

}  // namespace
