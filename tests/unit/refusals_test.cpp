// What an update or a deletion refuses before it writes anything, and stop
// requests made from inside every phase, counted through the platform's
// fault-injection seam.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "archives.h"
#include "base/status.h"
#include "files.h"
#include "platform/platform.h"
#include "tar/scanner.h"
#include "tar/streams.h"
#include "votar.h"

namespace {

FileMaskList Masks(const std::vector<std::string>& masks) {
  FileMaskList list;
  InitFileMaskList(&list);
  for (const std::string& mask : masks) AppendFileMask(mask.c_str(), &list);
  return list;
}

// The archive t.tar of `dir` named, with items below `dir` and the output
// folder `dir`/out.
void NameArchive(const std::string& dir) {
  InitArcFile(ModPath(Join(dir, "t.tar")).c_str());
  std::vector<unsigned char> settings = CompSettings(1, "", ModPath(dir) + "\\");
  SetCompExtraFeatures(settings.data());
  SetOutputPath(ModPath(Join(dir, "out")).c_str());
}

// One operation (update, delete, list, extract) with the status it ends
// with: update adds a.txt and new.bin, the others take a.txt.
uint16_t RunOperation(char op) {
  FileMaskList masks = op == 'u' ? Masks({"a.txt", "new.bin"}) : Masks({"a.txt"});
  ArcFileList listed;
  InitArcFileList(&listed);
  switch (op) {
    case 'u': CompressFileMaskListArc(&masks); break;
    case 'd': DeleteFileMaskListArc(&masks); break;
    case 'l': BuildArcFileList(&listed, &masks); break;
    case 'x': ExtractFileMaskListArc(&masks); break;
  }
  uint16_t status = GetArchiveStatus();
  DoneArcFileList(&listed);
  DoneFileMaskList(&masks);
  return status;
}

// An archive of a.txt, big.bin and c.txt, and the files a.txt and new.bin
// beside it.
std::string MakeScene(const std::string& big) {
  std::string dir = MakeTempDir();
  WriteFile(Join(dir, "t.tar"), TarArchive({{"a.txt", "alpha"}, {"big.bin", big}, {"c.txt", "c"}}));
  WriteFile(Join(dir, "a.txt"), "on disk");
  WriteFile(Join(dir, "new.bin"), big);
  return dir;
}

// By the shell: thousands of files, and some Wine does not show.
void Discard(const std::string& dir) { RunCommand("rm -rf '" + UnixPath(dir) + "'"); }

// Another writer, a read-only archive, a folder without a free temporary
// name, an item that is a FIFO: the update and the deletion fail at once
// and change nothing, the first three before any file is made (the archive
// opened, at most); listing and extraction take no lock.
TEST(Refusals, NothingIsWrittenWhenTheArchiveCannotBeChanged) {
  PfFile* other = nullptr;
  struct Row {
    int line;
    std::function<void(const std::string& dir)> prepare;
    const char* failing;  // the operations refused; the others succeed
    const char* ops;
    bool early;  // refused before a temporary file is made
  } rows[] = {
      {__LINE__, [&](const std::string& dir) {
         other = PfOpenLocked(ModPath(Join(dir, "t.tar")).c_str());
         ASSERT_NE(nullptr, other);
       }, "ud", "udlx", true},
      {__LINE__, [](const std::string& dir) { MakeReadOnly(Join(dir, "t.tar"), true); }, "ud",
       "ud", true},
      {__LINE__, [](const std::string& dir) {
         // Every name from 0.$SC to 32767.$SC, as links to one file.
         ASSERT_EQ(0, RunCommand("cd '" + UnixPath(dir) + "' && python3 -c 'import os; "
                                 "open(\"0.$SC\", \"w\").close(); [os.link(\"0.$SC\", "
                                 "\"%d.$SC\" % i) for i in range(1, 32768)]'"));
       }, "ud", "ud", true},
      {__LINE__, [](const std::string& dir) {
         ASSERT_EQ(0, RunCommand("rm '" + UnixPath(Join(dir, "new.bin")) + "' && mkfifo '" +
                                 UnixPath(Join(dir, "new.bin")) + "'"));
       }, "u", "u", false},
  };
  for (const Row& row : rows) {
    for (const char* op = row.ops; *op != '\0'; op++) {
      SCOPED_TRACE("line " + std::to_string(row.line) + ", operation " + *op);
      std::string dir = MakeScene("bravo");
      row.prepare(dir);
      const std::string before = ReadFile(Join(dir, "t.tar"));
      size_t temps = TempFilesIn(dir).size();
      bool refused = strchr(row.failing, *op) != nullptr;
      NameArchive(dir);
      PfResetFaults();
      EXPECT_EQ(refused ? StatusFileError : StatusOk, RunOperation(*op));
      if (refused && row.early) EXPECT_LE(PfFaultCalls(kFaultOpen), 1);
      EXPECT_TRUE(ReadFile(Join(dir, "t.tar")) == before);
      EXPECT_EQ(temps, TempFilesIn(dir).size());
      PfClose(other);
      other = nullptr;
      Discard(dir);
    }
  }
}

// Reads of the platform when the host asked to stop, and after it.
int gReadsAtStop;
void AskToStop() {
  gReadsAtStop = PfFaultCalls(kFaultRead);
  SetArchiveStatus(StatusUserAbort);
}
int32_t StopOnName(int32_t, const char*, const char*) {
  AskToStop();
  return 0;
}
int32_t StopOnProgress(int32_t, int32_t, int32_t) {
  AskToStop();
  return 1;  // the answer itself asks for nothing
}
int32_t StopOnReplace(int32_t, const void*, const void*) {
  AskToStop();
  return 1;
}

// A stop asked for from inside an operation, which then sets the status
// word back to StatusOk at the start of its next copy, takes effect before
// the next chunk: the archive stays as it was, and no file is left.
TEST(Refusals, StopTakesEffectInEveryPhase) {
  struct Row {
    int line;
    char op;
    void (*ask)();
  } rows[] = {
      // Asked about a.txt, then carries big.bin over.
      {__LINE__, 'u', [] { SetOkToReplaceProc(0, StopOnReplace); }},
      // After carrying a.txt over, before big.bin.
      {__LINE__, 'd', [] { SetSetProgressProc(0, StopOnProgress); }},
      // Told about new.bin, then copies it in.
      {__LINE__, 'u', [] { SetSetFileNameProc(0, StopOnName); }},
      // Told about a.txt, then copies it out.
      {__LINE__, 'x', [] { SetSetFileNameProc(0, StopOnName); }},
  };
  const std::string big = Pattern(8 << 20, 4);  // 128 chunks of any copy
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    std::string dir = MakeScene(big);
    const std::string before = ReadFile(Join(dir, "t.tar"));
    NameArchive(dir);
    row.ask();
    PfResetFaults();
    gReadsAtStop = -1;
    RunOperation(row.op);
    EXPECT_EQ(StatusUserAbort, GetArchiveStatus());
    ASSERT_GE(gReadsAtStop, 0);
    EXPECT_LE(PfFaultCalls(kFaultRead) - gReadsAtStop, 1);
    EXPECT_TRUE(ReadFile(Join(dir, "t.tar")) == before);
    EXPECT_TRUE(TempFilesIn(dir).empty());
    EXPECT_TRUE(ListTree(Join(dir, "out")).empty());
    Discard(dir);
  }
  // The scan looks for a stop before every header.
  std::string dir = MakeScene("bravo");
  InitArcFile(ModPath(Join(dir, "t.tar")).c_str());
  TarEntryList members = {};
  FileMaskList all = Masks({"*.*"});
  ASSERT_TRUE(OpenArchiveInput());
  SetArchiveStatus(StatusUserAbort);
  ScanArchive(&members, &all, false);
  EXPECT_EQ(StatusUserAbort, GetArchiveStatus());
  EXPECT_EQ(nullptr, members.head);
  StartOperation();  // the stop asked for ends here, as with any operation
  CloseStream(&gInput);
  DoneFileMaskList(&all);
  Discard(dir);
}

}  // namespace
