// A real full disk: a small tmpfs mounted for the test (as root; skipped
// otherwise). An update that does not fit fails and leaves the archive and
// no temporary file; an extraction that does not fit reports it and leaves no
// incomplete file.
#include "fixture.h"

namespace {

class DiskFullTest : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
#ifdef _WIN32
    GTEST_SKIP() << "the full disk is tested natively";
#else
    full = Path("full");
    std::filesystem::create_directory(full);
    if (RunCommand("mount -t tmpfs -o size=256k tmpfs '" + full + "'") != 0) {
      full.clear();
      GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    }
#endif
  }
  void TearDown() override {
    if (!full.empty()) RunCommand("umount '" + full + "'");
    ModuleTest::TearDown();
  }
  std::string full;
};

// Member names of an archive under the module's rules.
std::string ArchiveOf(size_t size) {
  return TarArchive({{"a.bin", Pattern(size, 1)}, {"b.bin", Pattern(1000, 2)}});
}

TEST_F(DiskFullTest, UpdateThatDoesNotFitLeavesTheArchive) {
  std::string archive = ArchiveOf(100 * 1024);
  WriteFile(Join(full, "t.tar"), archive);
  WriteFile(Path("big.bin"), Pattern(200 * 1024, 3));
  m.InitArcFile(ModPath(Join(full, "t.tar")).c_str());
  ASSERT_EQ(StatusOk, m.GetArchiveStatus());
  FileMaskList items = Masks({Mod("big.bin").c_str()});
  m.CompressFileMaskListArc(&items);
  uint16_t status = m.GetArchiveStatus();
  EXPECT_TRUE(status == StatusWriteError || status == StatusFileError) << status;
  EXPECT_EQ(archive, ReadFile(Join(full, "t.tar")));
  EXPECT_EQ(std::vector<std::string>{"t.tar"}, ListTree(full));
}

TEST_F(DiskFullTest, ExtractionThatDoesNotFitLeavesNoIncompleteFile) {
  // The first member fits, the second does not.
  WriteFile(Path("t.tar"), TarArchive({{"small.bin", Pattern(1000, 1)},
                                       {"large.bin", Pattern(400 * 1024, 2)}}));
  OpenArchive("t.tar");
  ASSERT_EQ(StatusOk, m.GetArchiveStatus());
  m.SetOutputPath(ModPath(full).c_str());
  FileMaskList all = Masks({});
  m.ExtractFileMaskListArc(&all);
  EXPECT_EQ(StatusWriteError, m.GetArchiveStatus());
  EXPECT_EQ(std::vector<std::string>{"small.bin"}, ListTree(full));
  EXPECT_EQ(Pattern(1000, 1), ReadFile(Join(full, "small.bin")));
}

// The member carried over moves within the one file system, where the kernel
// copies it; running out of room there is a write error like any other.
TEST_F(DiskFullTest, DeletionThatDoesNotFitLeavesTheArchive) {
  std::string archive = ArchiveOf(160 * 1024);
  WriteFile(Join(full, "t.tar"), archive);
  m.InitArcFile(ModPath(Join(full, "t.tar")).c_str());
  ASSERT_EQ(StatusOk, m.GetArchiveStatus());
  FileMaskList doomed = Masks({"b.bin"});
  m.DeleteFileMaskListArc(&doomed);
  EXPECT_EQ(StatusWriteError, m.GetArchiveStatus());
  EXPECT_EQ(archive, ReadFile(Join(full, "t.tar")));
  EXPECT_EQ(std::vector<std::string>{"t.tar"}, ListTree(full));
}

}  // namespace
