// What an update or a deletion refuses before it writes anything, and stop
// requests made from inside every phase, counted through the platform's
// fault-injection seam.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "archives.h"
#include "base/status.h"
#include "files.h"
#include "platform/platform.h"
#include "votar.h"

namespace {

// The archive t.tar (c.txt, a.txt, big.bin) with the files a.txt and new.bin
// beside it, named as the current archive, items below its folder. `op`
// then updates with a.txt and new.bin, deletes, lists or extracts a.txt.
std::string Scene(const std::string& big) {
  std::string dir = MakeTempDir();
  WriteFile(Join(dir, "t.tar"), TarArchive({{"c.txt", "c"}, {"a.txt", "alpha"}, {"big.bin", big}}));
  WriteFile(Join(dir, "a.txt"), "on disk");
  WriteFile(Join(dir, "new.bin"), big);
  InitArcFile(ModPath(Join(dir, "t.tar")).c_str());
  std::vector<unsigned char> settings = CompSettings(1, "", ModPath(dir) + "\\");
  SetCompExtraFeatures(settings.data());
  SetOutputPath(ModPath(Join(dir, "out")).c_str());
  return dir;
}

uint16_t RunOperation(char op) {
  FileMaskList masks;
  InitFileMaskList(&masks);
  AppendFileMask("a.txt", &masks);
  if (op == 'u') AppendFileMask("new.bin", &masks);
  ArcFileList listed;
  InitArcFileList(&listed);
  if (op == 'u') CompressFileMaskListArc(&masks);
  if (op == 'd') DeleteFileMaskListArc(&masks);
  if (op == 'l') BuildArcFileList(&listed, &masks);
  if (op == 'x') ExtractFileMaskListArc(&masks);
  DoneArcFileList(&listed);
  DoneFileMaskList(&masks);
  return GetArchiveStatus();
}

// By the shell: thousands of files, and links Wine does not show.
void Discard(const std::string& dir) { RunCommand("rm -rf '" + UnixPath(dir) + "'"); }

// Another writer holding the lock, a read-only archive, a folder where every
// temporary name is taken, an item that is a FIFO: the update and the
// deletion fail and change nothing, the first three before they make any
// file; listing and extraction take no lock.
TEST(Refusals, NothingIsWrittenWhenTheArchiveCannotBeChanged) {
  struct Row {
    int line;
    const char* shell;    // run in the scene's folder first
    bool lockHeld;
    const char* failing;  // of the operations tried, those refused
    const char* ops;
    bool early;  // refused with the archive opened at most
  } rows[] = {
      {__LINE__, "true", true, "ud", "udlx", true},
      {__LINE__, "chmod a-w t.tar", false, "ud", "ud", true},
      {__LINE__, "python3 -c 'import os; open(\"0.$SC\", \"w\").close(); "
                 "[os.link(\"0.$SC\", \"%d.$SC\" % i) for i in range(1, 32768)]'", false, "ud",
       "ud", true},
      {__LINE__, "rm new.bin && mkfifo new.bin", false, "u", "u", false},
  };
  for (const Row& row : rows) {
    for (const char* op = row.ops; *op != '\0'; op++) {
      SCOPED_TRACE("line " + std::to_string(row.line) + ", operation " + *op);
      std::string dir = Scene("bravo");
      ASSERT_EQ(0, RunCommand("cd '" + UnixPath(dir) + "' && " + row.shell));
      PfFile* other = row.lockHeld ? PfOpenLocked(ModPath(Join(dir, "t.tar")).c_str()) : nullptr;
      const std::string before = ReadFile(Join(dir, "t.tar"));
      size_t temps = TempFilesIn(dir).size();
      bool refused = strchr(row.failing, *op) != nullptr;
      PfResetFaults();
      EXPECT_EQ(refused ? StatusFileError : StatusOk, RunOperation(*op));
      if (refused && row.early) {
        EXPECT_LE(PfFaultCalls(kFaultOpen), 1);
      }
      EXPECT_TRUE(ReadFile(Join(dir, "t.tar")) == before);
      EXPECT_EQ(temps, TempFilesIn(dir).size());
      PfClose(other);
      Discard(dir);
    }
  }
}

// Reads of the platform when the host asked to stop.
int gReadsAtStop;
void AskToStop() {
  gReadsAtStop = PfFaultCalls(kFaultRead);
  SetArchiveStatus(StatusUserAbort);
}
int32_t StopOnName(int32_t, const char*, const char*) { return AskToStop(), 0; }
int32_t StopOnProgress(int32_t, int32_t, int32_t) { return AskToStop(), 1; }
int32_t StopOnReplace(int32_t, const void*, const void*) { return AskToStop(), 1; }

// A stop asked for from inside an operation, which may set the status back
// to StatusOk at the start of its next copy, takes effect before the next
// chunk: the archive stays as it was and no file is left.
TEST(Refusals, StopTakesEffectInEveryPhase) {
  struct Row {
    int line;
    char op;
    void (*ask)();
  } rows[] = {
      // Asked about a.txt, then carries big.bin over.
      {__LINE__, 'u', [] { SetOkToReplaceProc(0, StopOnReplace); }},
      // After carrying c.txt over, before big.bin.
      {__LINE__, 'd', [] { SetSetProgressProc(0, StopOnProgress); }},
      // Told about a.txt, then copies it in.
      {__LINE__, 'u', [] { SetSetFileNameProc(0, StopOnName); }},
      // Told about a.txt, then copies it out.
      {__LINE__, 'x', [] { SetSetFileNameProc(0, StopOnName); }},
  };
  const std::string big = Pattern(8 << 20, 4);  // 128 chunks of any copy
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    std::string dir = Scene(big);
    const std::string before = ReadFile(Join(dir, "t.tar"));
    row.ask();
    PfResetFaults();
    gReadsAtStop = -1;
    EXPECT_EQ(StatusUserAbort, RunOperation(row.op));
    ASSERT_GE(gReadsAtStop, 0);
    EXPECT_LE(PfFaultCalls(kFaultRead) - gReadsAtStop, 1);
    EXPECT_TRUE(ReadFile(Join(dir, "t.tar")) == before);
    EXPECT_TRUE(TempFilesIn(dir).empty());
    EXPECT_TRUE(ListTree(Join(dir, "out")).empty());
    Discard(dir);
    StartOperation();  // lets the stop go, as the next operation would
  }
}

}  // namespace
