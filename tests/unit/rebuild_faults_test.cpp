// Rebuilds of an archive that holds entries the scanner does not list (a
// directory, links, long-name and pax headers, a volume label), with members
// kept and replaced, against every failure the platform can report: the
// k-th open, read, write, seek, flush or rename fails, for every k that a
// clean run reaches. A run ends with the clean result, or with a failure
// status, the archive byte for byte as it was and no temporary file.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "votar.h"
#include "archives.h"
#include "files.h"
#include "platform/platform.h"

namespace {

// Every piece of a.txt and c.txt spans more than one chunk of every copy.
std::vector<TarItem> MixedArchive() {
  return EntriesOfEveryKind(Pattern(40000, 1), Pattern(70000, 2));
}

// Keeps the long member, replaces every other member asked about.
int32_t KeepLongMember(int32_t, const void* query, const void*) {
  return static_cast<const FindRecord*>(query)->fileName[0] == 'n' ? 1 : 0;
}

struct Rebuild {
  const char* name;
  std::function<void(const std::string& dir)> run;
};

const std::string kLongListed = std::string(120, 'n') + ".txt";  // the long member

FileMaskList MaskList(const std::vector<std::string>& masks) {
  FileMaskList list;
  InitFileMaskList(&list);
  for (const std::string& mask : masks) AppendFileMask(mask.c_str(), &list);
  return list;
}

std::vector<Rebuild> Rebuilds() {
  return {
      {"update",
       [](const std::string& dir) {
         std::vector<unsigned char> settings = CompSettings(1, "", ModPath(dir));
         SetCompExtraFeatures(settings.data());
         InitArcFile(ModPath(Join(dir, "t.tar")).c_str());
         SetOkToReplaceProc(0, KeepLongMember);
         FileMaskList items = MaskList({"b.txt", kLongListed, "new.bin"});
         CompressFileMaskListArc(&items);
         DoneFileMaskList(&items);
       }},
      // Nothing replaced: the archive grows in place.
      {"append",
       [](const std::string& dir) {
         std::vector<unsigned char> settings = CompSettings(1, "", ModPath(dir));
         SetCompExtraFeatures(settings.data());
         InitArcFile(ModPath(Join(dir, "t.tar")).c_str());
         FileMaskList items = MaskList({"new.bin"});
         CompressFileMaskListArc(&items);
         DoneFileMaskList(&items);
       }},
      {"delete",
       [](const std::string& dir) {
         InitArcFile(ModPath(Join(dir, "t.tar")).c_str());
         FileMaskList masks = MaskList({"b.txt"});
         DeleteFileMaskListArc(&masks);
         DoneFileMaskList(&masks);
       }},
  };
}

std::string MakeScene() {
  std::string dir = MakeTempDir();
  WriteFile(Join(dir, "t.tar"), TarArchive(MixedArchive()));
  for (const std::string& name : {std::string("b.txt"), std::string("new.bin"), kLongListed}) {
    std::string path = Join(dir, name);
    WriteFile(path, Pattern(name.size() * 1000, 3));
    EXPECT_TRUE(SetMtime(path, 1000000000));
  }
  return dir;
}

}  // namespace

TEST(RebuildFaults, UnlistedEntriesSurviveEveryFailure) {
  const PfFault faults[] = {kFaultOpen, kFaultRead, kFaultWrite, kFaultSeek, kFaultSync,
                            kFaultReplace};
  const char* const names[] = {"open", "read", "write", "seek", "flush", "rename"};
  int injected = 0;
  for (const Rebuild& run : Rebuilds()) {
    std::string dir = MakeScene();
    const std::string old = ReadFile(Join(dir, "t.tar"));
    PfResetFaults();
    run.run(dir);
    int calls[kFaultCount];
    for (int f = 0; f < kFaultCount; f++) calls[f] = PfFaultCalls(static_cast<PfFault>(f));
    ASSERT_EQ(StatusOk, GetArchiveStatus()) << run.name << ": clean run";
    const std::string clean = ReadFile(Join(dir, "t.tar"));
    EXPECT_NE(old, clean);
    RemoveTree(dir);
    for (size_t f = 0; f < sizeof faults / sizeof faults[0]; f++) {
      for (int k = 1; k <= calls[faults[f]]; k++) {
        std::string label = std::string(run.name) + ", " + names[f] + " #" + std::to_string(k);
        dir = MakeScene();
        PfResetFaults();
        PfInjectFault(faults[f], k);
        run.run(dir);
        PfResetFaults();
        injected++;
        uint16_t status = GetArchiveStatus();
        const std::string now = ReadFile(Join(dir, "t.tar"));
        EXPECT_TRUE(now == (status == StatusOk ? clean : old)) << label << ", status " << status;
        EXPECT_TRUE(TempFilesIn(dir).empty()) << label;
        RemoveTree(dir);
      }
    }
  }
  EXPECT_GT(injected, 30);
}

// An append puts its first header in place only when everything after it is
// on the disk: at the first flush the block where it goes is still zero and
// the data after it is written; at the second the header is there.
namespace {
struct FlushLook {
  std::string archive;
  size_t at;  // where the first new header goes
  std::vector<std::string> blocks;  // the header's block, then the next, at each flush
};
FlushLook gLook;
void LookAtFlush(PfFault op, int) {
  if (op != kFaultSync) return;
  std::string bytes = ReadFile(gLook.archive);
  gLook.blocks.push_back(bytes.substr(gLook.at, 512));
  gLook.blocks.push_back(bytes.substr(gLook.at + 512, 512));
}
}  // namespace

TEST(RebuildFaults, AppendFlushesItsDataBeforeItsHeader) {
  std::string dir = MakeScene();
  gLook = {Join(dir, "t.tar"), TarArchive(MixedArchive(), false).size(), {}};
  PfResetFaults();
  PfWatchCalls(LookAtFlush);
  std::vector<Rebuild> runs = Rebuilds();
  runs[1].run(dir);
  PfWatchCalls(nullptr);
  ASSERT_EQ(StatusOk, GetArchiveStatus());
  ASSERT_EQ(4u, gLook.blocks.size());  // two flushes
  const std::string zero(512, '\0');
  EXPECT_EQ(zero, gLook.blocks[0]);
  EXPECT_NE(zero, gLook.blocks[1]);
  const std::string header = ReadFile(Join(dir, "t.tar")).substr(gLook.at, 512);
  EXPECT_NE(zero, header);
  EXPECT_EQ(header, gLook.blocks[2]);
  RemoveTree(dir);
}
