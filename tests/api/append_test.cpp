// Updates that only add grow the archive in place: the same bytes and the
// same callbacks as a rebuild, the archive's own file kept; everything else
// is rebuilt.
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstring>
#include <filesystem>

#include "archives.h"
#include "fixture.h"

namespace {

const std::string kBase = TarArchive({{"a.txt", Pattern(3000, 1)}, {"b.txt", Pattern(100, 2)}},
                                     false);

// As GNU tar leaves it: the end marker and zeros up to 10 KiB.
std::string Padded(const std::string& entries) {
  std::string out = entries + std::string(1024, '\0');
  out.resize((out.size() + 10239) / 10240 * 10240, '\0');
  return out;
}

// Bytes after the zeros that are no header: outside the archive, which
// only a rebuild leaves out.
std::string WithOutsideBytes(const std::string& archive) {
  return archive + std::string(1024, '\0') + std::string(512, 'z');
}

// The disk name of a name the module takes in the ANSI code page.
std::string OnDisk(const std::string& ansi) {
#ifdef _WIN32
  return ansi;
#else
  if (TestsUnderUtf8()) return ansi;
  std::string out;
  for (unsigned char c : ansi) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
#endif
}

class AppendTest : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    WriteFile(Path("root/n1.bin"), Pattern(2000, 3));
    WriteFile(Path("root/n2.bin"), Pattern(70000, 4));
    WriteFile(Path("root/" + std::string(120, 'l') + ".bin"), Pattern(600, 5));
    WriteFile(Path("root/" + OnDisk(Ansi("caf\xE9.bin"))), Pattern(700, 6));
    WriteFile(Path("root/zeros.bin"), std::string(512, '\0') + "after");
    WriteFile(Path("root/inner.tar"), TarArchive({{"x.txt", "x"}}));
    WriteFile(Path("root/empty.bin"), "");
    WriteFile(Path("root/a.txt"), "a on disk");
    std::filesystem::create_directories(Path("root/dir"));
  }

  // Adds the items to the archive `name` holding `bytes`; answers the status.
  uint16_t Update(const std::string& name, const std::string& bytes,
                  const std::vector<std::string>& items, std::vector<int> answers = {}) {
    WriteFile(Path(name), bytes);
    OpenArchive(name);
    Recorder::Reset();
    RegisterRecorder(false);
    Recorder::replaceAnswers = answers;
    m.SetCompExtraFeatures(CompSettings(1, "", Mod("root")).data());
    m.CompressFileMaskListArc(MaskList(items));
    return m.GetArchiveStatus();
  }
};

}  // namespace

TEST_F(AppendTest, InPlaceGivesTheBytesAndCallbacksOfARebuild) {
  struct Row {
    int line;
    std::string archive;
    std::vector<std::string> items;
    std::vector<int> answers;
  } rows[] = {
      {__LINE__, Padded(kBase), {"n1.bin"}, {}},
      {__LINE__, Padded(kBase), {"n1.bin", "dir", "n2.bin"}, {}},
      {__LINE__, kBase, {"n2.bin"}, {}},  // no end marker, as a deletion leaves it
      {__LINE__, std::string(1024, '\0'), {"n1.bin"}, {}},
      {__LINE__, Padded(kBase), {std::string(120, 'l') + ".bin"}, {}},  // a long-name entry first
      {__LINE__, Padded(kBase), {Ansi("caf\xE9.bin")}, {}},                    // a pax header first
      {__LINE__, Padded(kBase), {"a.txt", "n1.bin"}, {1}},  // a.txt kept: no member replaced
      {__LINE__, kBase, {"a.txt"}, {1}},                    // nothing added: the marker only
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    WriteFile(Path("arc.tar"), "");
    const std::string before = FileIdentity(Path("arc.tar"));
    ASSERT_EQ(StatusOk, Update("arc.tar", row.archive, row.items, row.answers));
    const std::vector<std::string> inPlace = Recorder::events;
    EXPECT_EQ(before, FileIdentity(Path("arc.tar")));
    ASSERT_EQ(StatusOk, Update("twin.tar", WithOutsideBytes(row.archive), row.items, row.answers));
    EXPECT_TRUE(ReadFile(Path("arc.tar")) == ReadFile(Path("twin.tar")));
    EXPECT_EQ(Recorder::events, inPlace);
    EXPECT_TRUE(TempFilesIn(dir).empty());
  }
}

TEST_F(AppendTest, EverythingElseIsRebuilt) {
  const std::string cut = kBase.substr(0, kBase.size() - 512);  // b.txt's data is gone
  struct Row {
    int line;
    std::string archive;
    std::vector<std::string> items;
    std::vector<int> answers;
    std::vector<std::string> listed;  // afterwards; empty: unchanged
  } rows[] = {
      {__LINE__, Padded(kBase), {"a.txt"}, {0}, {"b.txt", "a.txt"}},  // a member replaced
      {__LINE__, Padded(kBase), {"zeros.bin"}, {}, {"a.txt", "b.txt", "zeros.bin"}},
      {__LINE__, Padded(kBase), {"inner.tar"}, {}, {"a.txt", "b.txt", "inner.tar"}},
      {__LINE__, Padded(kBase), {"empty.bin", "n1.bin"}, {}, {"a.txt", "b.txt", "empty.bin", "n1.bin"}},
      {__LINE__, TarArchive({{"a.txt", "a"}}) + TarArchive({{"b.txt", "b"}}), {"n1.bin"}, {},
       {"a.txt", "b.txt", "n1.bin"}},  // zeros between entries
      {__LINE__, Padded(kBase + TarArchive({{"././@LongLink", std::string("x\0", 2), 'L'}}, false)), {"n1.bin"}, {},
       {"a.txt", "b.txt", "n1.bin"}},
      {__LINE__, Padded(kBase + TarArchive({{"PaxHeader", "12 path=x\n", 'x'}}, false)),
       {"n1.bin"}, {}, {"a.txt", "b.txt", "n1.bin"}},
      {__LINE__, WithOutsideBytes(Padded(kBase)), {"n1.bin"}, {}, {"a.txt", "b.txt", "n1.bin"}},
      {__LINE__, cut, {"n1.bin"}, {}, {}},  // the last entry cut off: refused as before
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    WriteFile(Path("arc.tar"), "");
    const std::string before = FileIdentity(Path("arc.tar"));
    uint16_t status = Update("arc.tar", row.archive, row.items, row.answers);
    if (row.listed.empty()) {
      EXPECT_EQ(StatusFileError, status);
      EXPECT_TRUE(ReadFile(Path("arc.tar")) == row.archive);
      continue;
    }
    EXPECT_EQ(StatusOk, status);
    EXPECT_NE(before, FileIdentity(Path("arc.tar")));
    OpenArchive("arc.tar");
    EXPECT_EQ(row.listed, List());
    const std::string bytes = ReadFile(Path("arc.tar"));
    EXPECT_EQ(std::string(1024, '\0'), bytes.substr(bytes.size() - 1024));
  }
}

// The archive stays its own file when it grows in place: links to it see
// the change, and its permissions and owner stay. A rebuild gives the new
// file the old one's permissions, attributes and, where it may, owner.
TEST_F(AppendTest, TheArchivesFileAndItsPermissions) {
  WriteFile(Path("arc.tar"), Padded(kBase));
#ifdef _WIN32
  ASSERT_TRUE(SetFileAttributesA(Path("arc.tar").c_str(), FILE_ATTRIBUTE_HIDDEN));
#else
  ASSERT_EQ(0, chmod(Path("arc.tar").c_str(), 0640));
  std::filesystem::create_hard_link(Path("arc.tar"), Path("link.tar"));
#endif
  ASSERT_EQ(StatusOk, Update("arc.tar", ReadFile(Path("arc.tar")), {"n1.bin"}));
#ifndef _WIN32
  EXPECT_TRUE(ReadFile(Path("link.tar")) == ReadFile(Path("arc.tar")));
  bool mayChown = chown(Path("arc.tar").c_str(), 1234, 5678) == 0;
#endif
  OpenArchive("arc.tar");
  RegisterRecorder(false);
  m.SetCompExtraFeatures(CompSettings(1, "", Mod("root")).data());
  m.CompressFileMaskListArc(MaskList({"n1.bin"}));  // replaced: a rebuild
  ASSERT_EQ(StatusOk, m.GetArchiveStatus());
#ifdef _WIN32
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN),
            GetFileAttributesA(Path("arc.tar").c_str()) & FILE_ATTRIBUTE_HIDDEN);
#else
  struct stat st;
  ASSERT_EQ(0, stat(Path("arc.tar").c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  if (mayChown) {
    EXPECT_EQ(1234u, st.st_uid);
    EXPECT_EQ(5678u, st.st_gid);
  }
#endif
}
