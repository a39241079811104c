// Naming and forgetting the current archive.
#include "fixture.h"

using ArchiveTest = ModuleTest;

TEST_F(ArchiveTest, InitArcFileOnFilesOfEveryKind) {
  WriteFile(Path("empty.tar"), "");
  WriteFile(Path("short.tar"), std::string(511, '\0'));
  WriteFile(Path("zeros.tar"), std::string(1024, '\0'));
  WriteFile(Path("text.tar"), std::string(600, 'x'));
  WriteFile(Path("valid.tar"), TarArchive({{"a.txt", "hello"}}));
  std::string badSum = TarArchive({{"a.txt", "hello"}});
  badSum[0] = 'b';
  WriteFile(Path("badsum.tar"), badSum);
  std::filesystem::create_directory(Path("folder"));
  struct Row {
    int line;
    const char* name;
    uint16_t status;
  } rows[] = {
      {__LINE__, "missing.tar", StatusArchiveNotFound},
      {__LINE__, "empty.tar", StatusNotTarArchive},
      {__LINE__, "short.tar", StatusNotTarArchive},
      {__LINE__, "text.tar", StatusNotTarArchive},
      {__LINE__, "badsum.tar", StatusNotTarArchive},
      {__LINE__, "zeros.tar", StatusOk},
      {__LINE__, "valid.tar", StatusOk},
      {__LINE__, "folder", StatusFileError},
  };
  for (const Row& row : rows) {
    m.SetArchiveStatus(77);
    OpenArchive(row.name);
    EXPECT_EQ(row.status, m.GetArchiveStatus()) << "line " << row.line;
  }
  m.InitArcFile("");
  EXPECT_EQ(StatusArchiveNotFound, m.GetArchiveStatus());
}

TEST_F(ArchiveTest, FailedInitLeavesNoArchiveCurrent) {
  WriteFile(Path("valid.tar"), TarArchive({{"a.txt", "hello"}}));
  WriteFile(Path("text.tar"), std::string(600, 'x'));
  OpenArchive("valid.tar");
  ASSERT_EQ(StatusOk, m.GetArchiveStatus());
  EXPECT_EQ(1u, List().size());
  OpenArchive("text.tar");
  ASSERT_EQ(StatusNotTarArchive, m.GetArchiveStatus());
  // Listing now finds no archive instead of the one named before.
  EXPECT_TRUE(List().empty());
  EXPECT_EQ(StatusFileError, m.GetArchiveStatus());
}

TEST_F(ArchiveTest, PathsLongerThanTheBufferAreRefused) {
  std::string longPath = Mod(std::string(300, 'a') + ".tar");
  m.InitArcFile(longPath.c_str());
  EXPECT_EQ(StatusFileError, m.GetArchiveStatus());
  m.CreateArcFile(longPath.c_str());
  EXPECT_EQ(StatusFileError, m.GetArchiveStatus());
}

TEST_F(ArchiveTest, CreateArcFileNamesOnlyWhatDoesNotExist) {
  WriteFile(Path("there.tar"), "x");
  m.CreateArcFile(Mod("there.tar").c_str());
  EXPECT_EQ(StatusFileError, m.GetArchiveStatus());
  m.CreateArcFile(Mod("new.tar").c_str());
  EXPECT_EQ(StatusOk, m.GetArchiveStatus());
  EXPECT_FALSE(PathExists(Path("new.tar")));  // nothing is made on disk yet
  m.SetArchiveStatus(5);
  m.DoneArcFile();
  EXPECT_EQ(StatusOk, m.GetArchiveStatus());
  // With no archive current, listing cannot open anything.
  EXPECT_TRUE(List().empty());
  EXPECT_EQ(StatusFileError, m.GetArchiveStatus());
}
