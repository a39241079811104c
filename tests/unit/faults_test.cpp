// Every operation against every failure the platform can report: for each
// kind of call (open, read, write, seek, flush, rename, remove) and each k
// that a clean run reaches, the k-th such call fails. Each run must end with
// a failure status or with exactly the clean result; an existing archive
// stays byte for byte as it was, and neither a temporary file nor an
// incomplete output file is left.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "votar.h"
#include "files.h"
#include "platform/platform.h"

namespace {

const char* const kFaultNames[kFaultCount] = {"open", "read", "write", "seek",
                                              "flush", "rename", "remove"};
int gInjected = 0;

struct Scene {
  std::string dir;
  std::string ext;  // of the archives: ".tar", or one that compresses
  std::string Arc(const char* stem) const { return Mod(stem + ext); }
  std::string Path(const std::string& name) const { return Join(dir, name); }
  std::string Mod(const std::string& name) const { return ModPath(Path(name)); }
};

// Contents of every file below `dir`, by relative name.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const std::string& name : ListTree(dir)) {
    if (name.back() != '/') files[name] = ReadFile(Join(dir, name));
  }
  return files;
}

bool HasTempFile(const std::map<std::string, std::string>& files) {
  for (const auto& f : files) {
    if (f.first.size() > 4 && f.first.compare(f.first.size() - 4, 4, ".$SC") == 0) return true;
  }
  return false;
}

void SetFileTimes(const std::string& path) {
  // The same header bytes in every run.
  ASSERT_TRUE(SetMtime(path, 1000000000));
}

void Prepare(const Scene& s) {
  WriteFile(s.Path("src/a.txt"), Pattern(1000, 1));
  WriteFile(s.Path("src/b.bin"), Pattern(70000, 2));
  WriteFile(s.Path("src/c.txt"), "");
  for (const char* f : {"src/a.txt", "src/b.bin", "src/c.txt"}) SetFileTimes(s.Path(f));
}

// Items are named below the scene's folder, so that member names do not
// depend on where it lies.
void SetStorePaths(const Scene& s) {
  std::vector<unsigned char> comp(1484, 0);
  int32_t storePaths = 1;
  memcpy(comp.data() + kCompStorePathsOffset, &storePaths, sizeof storePaths);
  std::string root = ModPath(s.dir);
  memcpy(comp.data() + kCompAddRootOffset, root.c_str(), root.size());
  SetCompExtraFeatures(comp.data());
}

void AddFiles(const Scene& s, std::initializer_list<const char*> names) {
  SetStorePaths(s);
  FileMaskList items;
  InitFileMaskList(&items);
  for (const char* n : names) AppendFileMask(ModPath(n).c_str(), &items);
  CompressFileMaskListArc(&items);
  DoneFileMaskList(&items);
}

// The archive every operation below starts from, made without faults.
void MakeArchive(const Scene& s) {
  InitArcFile(s.Arc("t").c_str());
  CreateArcFile(s.Arc("t").c_str());
  AddFiles(s, {"src/a.txt", "src/b.bin", "src/c.txt"});
  ASSERT_EQ(StatusOk, GetArchiveStatus());
}

struct Operation {
  std::string name;
  bool startsWithArchive;  // an existing archive must survive a failure
  std::function<void(const Scene&)> run;
  std::string ext;
};

std::vector<Operation> Operations() {
  std::vector<Operation> ops = {
      {"extract", true,
       [](const Scene& s) {
         InitArcFile(s.Arc("t").c_str());
         SetOutputPath(s.Mod("out").c_str());
         FileMaskList masks;
         InitFileMaskList(&masks);
         ExtractFileMaskListArc(&masks);
       }},
      {"add to a new archive", false,
       [](const Scene& s) {
         InitArcFile(s.Arc("n").c_str());
         CreateArcFile(s.Arc("n").c_str());
         AddFiles(s, {"src/a.txt", "src/b.bin"});
       }},
      {"update", true,
       [](const Scene& s) {
         InitArcFile(s.Arc("t").c_str());
         AddFiles(s, {"src/a.txt", "src/new.txt"});
       }},
      {"delete", true,
       [](const Scene& s) {
         InitArcFile(s.Arc("t").c_str());
         FileMaskList masks;
         InitFileMaskList(&masks);
         AppendFileMask("*.bin", &masks);
         DeleteFileMaskListArc(&masks);
         DoneFileMaskList(&masks);
       }},
  };
  // The same through a compressor and back, with two threads for zstd.
  size_t plain = ops.size();
  for (const char* ext : {".tar", ".tgz", ".tzst"}) {
    for (size_t i = 0; i < plain; i++) {
      Operation op = ops[i];
      op.ext = ext;
      op.name += std::string(" ") + ext;
      ops.push_back(op);
    }
  }
  ops.erase(ops.begin(), ops.begin() + static_cast<long>(plain));
  return ops;
}

// A fresh scene for one run of `op`.
Scene Setup(const Operation& op) {
  Scene s;
  s.dir = MakeTempDir();
  s.ext = op.ext;
  Prepare(s);
  WriteFile(s.Path("src/new.txt"), Pattern(600, 3));
  SetFileTimes(s.Path("src/new.txt"));
  if (op.startsWithArchive) MakeArchive(s);
  return s;
}

// Outcome of a clean run: the files it leaves, and the calls it makes.
struct Clean {
  std::map<std::string, std::string> files;
  int calls[kFaultCount];
};

Clean RunClean(const Operation& op) {
  Clean clean;
  Scene s = Setup(op);
  PfResetFaults();
  op.run(s);
  for (int f = 0; f < kFaultCount; f++) clean.calls[f] = PfFaultCalls(static_cast<PfFault>(f));
  EXPECT_EQ(StatusOk, GetArchiveStatus()) << op.name << ": clean run";
  clean.files = Snapshot(s.dir);
  RemoveTree(s.dir);
  return clean;
}

void CheckFaultyRun(const Operation& op, const Clean& clean, PfFault fault, int k) {
  Scene s = Setup(op);
  std::map<std::string, std::string> before = Snapshot(s.dir);
  PfResetFaults();
  PfInjectFault(fault, k);
  op.run(s);
  PfResetFaults();
  gInjected++;
  uint16_t status = GetArchiveStatus();
  std::map<std::string, std::string> after = Snapshot(s.dir);
  std::string label = std::string(op.name) + ", " + kFaultNames[fault] + " #" +
                      std::to_string(k) + ", status " + std::to_string(status);
  EXPECT_FALSE(HasTempFile(after)) << label;
  if (status == StatusOk) {
    EXPECT_TRUE(after == clean.files) << label << ": success with another result";
    for (const auto& f : clean.files) {
      auto got = after.find(f.first);
      EXPECT_TRUE(got != after.end() && got->second == f.second) << label << ": " << f.first;
    }
    for (const auto& f : after) EXPECT_TRUE(clean.files.count(f.first)) << label << ": " << f.first;
  } else {
    // Every file is as before, or (extracted files) complete.
    for (const auto& f : after) {
      auto was = before.find(f.first);
      auto want = clean.files.find(f.first);
      bool unchanged = was != before.end() && was->second == f.second;
      bool complete = want != clean.files.end() && want->second == f.second;
      EXPECT_TRUE(unchanged || complete) << label << ": " << f.first << " damaged";
    }
    for (const auto& f : before) {
      if (f.first == "t" + op.ext) {
        EXPECT_TRUE(after.count(f.first)) << label << ": archive lost";
      }
    }
  }
  RemoveTree(s.dir);
}

}  // namespace

TEST(Faults, EveryOperationSurvivesEveryFailure) {
  gInjected = 0;
  for (const Operation& op : Operations()) {
    Clean clean = RunClean(op);
    for (int f = 0; f < kFaultCount; f++) {
      for (int k = 1; k <= clean.calls[f]; k++) {
        CheckFaultyRun(op, clean, static_cast<PfFault>(f), k);
      }
    }
  }
  EXPECT_GT(gInjected, 40);
  printf("injected faults: %d\n", gInjected);
}
