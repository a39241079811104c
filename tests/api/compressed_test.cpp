// Compressed archives, each of gzip, xz, zstd and bzip2: listed, extracted,
// made, updated and deleted from, and refused whole when cut short, when a
// check fails, or when what they hold is no archive.
#include <cstring>
#include <random>

#include "archives.h"
#include "fixture.h"

namespace {

struct Kind {
  const char* ext;      // of a new archive's name
  const char* program;  // the codec's own program, which makes the test input
  const char* magic;    // the first bytes of what the codec writes
};
const Kind kKinds[] = {
    {"tgz", "gzip", "\x1F\x8B"},
    {"txz", "xz", "\xFD" "7zXZ"},
    {"tar.zst", "zstd -q", "\x28\xB5\x2F\xFD"},
    {"tbz2", "bzip2", "BZh9"},
};

const TarItem kA{"a.txt", Pattern(70000, 1)};
const TarItem kB{"docs/b.txt", "bravo"};

class CompressedTest : public ModuleTest {
 protected:
  // `bytes` through the codec's program, as the archive `name`.
  void Compress(const Kind& k, const std::string& bytes, const std::string& name) {
    WriteFile(Path("plain"), bytes);
    std::string output;
    ASSERT_EQ(0, RunCommand(std::string(k.program) + " -c <'" + UnixPath(Path("plain")) +
                                "' >'" + UnixPath(Path(name)) + "'",
                            &output))
        << output;
  }

  std::vector<std::string> Listed(int32_t* ratio = nullptr) {
    FileMaskList all = Masks({});
    ArcFileList files;
    m.InitArcFileList(&files);
    int32_t r = m.BuildArcFileList(&files, &all);
    if (ratio != nullptr) *ratio = r;
    std::vector<std::string> names;
    for (ArcFileEntry* e = files.head; e != nullptr; e = e->next) {
      names.push_back(std::string(e->name) + " " + std::to_string(e->size) + " " +
                      std::to_string(e->packedSize));
    }
    m.DoneArcFileList(&files);
    return names;
  }

  uint16_t ExtractTo(const std::string& out) {
    std::vector<unsigned char> settings = DecompSettings(2, "", Mod(out));
    m.SetDecompExtraFeatures(settings.data());
    FileMaskList all = Masks({});
    m.ExtractFileMaskListArc(&all);
    return m.GetArchiveStatus();
  }

  uint16_t Add(const std::vector<std::string>& names) {
    std::vector<unsigned char> settings = CompSettings(1, "", ModPath(dir) + "\\");
    m.SetCompExtraFeatures(settings.data());
    FileMaskList* items = MaskList(names);
    m.CompressFileMaskListArc(items);
    return m.GetArchiveStatus();
  }

  uint16_t Delete(const std::vector<std::string>& masks) {
    m.DeleteFileMaskListArc(MaskList(masks));
    return m.GetArchiveStatus();
  }

  bool StartsWith(const std::string& name, const char* magic) {
    return ReadFile(Path(name)).compare(0, strlen(magic), magic) == 0;
  }
};

}  // namespace

TEST_F(CompressedTest, ListExtractMakeUpdateDelete) {
  if (!PeersAvailable()) GTEST_SKIP() << "no codec programs";
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.ext);
    std::string arc = std::string("t.") + k.ext;
    Compress(k, TarArchive({kA, kB}), arc);
    OpenArchive(arc);
    ASSERT_EQ(StatusOk, m.GetArchiveStatus());
    int32_t ratio = 0;
    EXPECT_EQ((std::vector<std::string>{"a.txt 70000 70000", "docs\\b.txt 5 5"}), Listed(&ratio));
    ArchiveInfo info;
    m.GetExtraInfoArc(&info);
    EXPECT_EQ(static_cast<int64_t>(ReadFile(Path(arc)).size()), info.packedTotal);
    EXPECT_GT(ratio, 100);
    std::string out = std::string("out-") + k.ext;
    ASSERT_EQ(StatusOk, ExtractTo(out));
    EXPECT_TRUE(ReadFile(Path(out + "/a.txt")) == kA.data);
    EXPECT_EQ(kB.data, ReadFile(Path(out + "/docs/b.txt")));

    // Made, then updated and pruned, in the compression of its name.
    WriteFile(Path("a.txt"), kA.data);
    WriteFile(Path("c.txt"), "charlie");
    std::string made = std::string("n.") + k.ext;
    OpenArchive(made);
    m.CreateArcFile(Mod(made).c_str());
    ASSERT_EQ(StatusOk, Add({"a.txt"}));
    OpenArchive(made);
    ASSERT_EQ(StatusOk, Add({"c.txt"}));
    EXPECT_TRUE(StartsWith(made, k.magic));
    ExpectPeersRead(Path(made), {{"a.txt", kA.data}, {"c.txt", "charlie"}});
    OpenArchive(made);
    ASSERT_EQ(StatusOk, Delete({"a.txt"}));
    EXPECT_TRUE(StartsWith(made, k.magic));
    ExpectPeersRead(Path(made), {{"c.txt", "charlie"}});
    EXPECT_TRUE(TempFilesIn(dir).empty());
  }
}

// Damage ends the archive where it lies: what comes before is listed and
// extracted, the status says the rest is lost, and a change refuses and
// leaves the file as it was. What holds no archive is no archive.
TEST_F(CompressedTest, CutShortBadCheckNoArchive) {
  if (!PeersAvailable()) GTEST_SKIP() << "no codec programs";
  // Data no codec shrinks, so that damage lies inside it.
  std::mt19937 random(7);
  std::string noise(3000000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  const TarItem big{"big.bin", noise};
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.ext);
    Compress(k, TarArchive({kA, big, kB}), "whole");
    const std::string whole = ReadFile(Path("whole"));
    std::string cut = whole.substr(0, whole.size() * 2 / 3);
    std::string flipped = whole;
    flipped[flipped.size() / 2] ^= 0x55;
    for (const std::string& bytes : {cut, flipped}) {
      bool isCut = bytes.size() < whole.size();
      WriteFile(Path("d.tar"), bytes);
      OpenArchive("d.tar");
      ASSERT_EQ(StatusOk, m.GetArchiveStatus());
      std::vector<std::string> listed = Listed();
      EXPECT_EQ(StatusFileError, m.GetArchiveStatus());
      ASSERT_FALSE(listed.empty());
      EXPECT_EQ("a.txt 70000 70000", listed[0]);
      EXPECT_EQ(StatusFileError, ExtractTo("out-d"));
      EXPECT_TRUE(ReadFile(Path("out-d/a.txt")) == kA.data);
      // A member cut short is never left; one whose check comes only after
      // it cannot be told from a whole one.
      if (isCut) {
        EXPECT_FALSE(PathExists(Path("out-d/big.bin")));
        EXPECT_FALSE(PathExists(Path("out-d/docs/b.txt")));
      }
      EXPECT_EQ(StatusFileError, Delete({"a.txt"}));
      EXPECT_TRUE(ReadFile(Path("d.tar")) == bytes);
      RemoveTree(Path("out-d"));
    }
    // Bytes after the last stream lie outside an archive that ended with
    // its end marker, and are damage in one that did not.
    Compress(k, TarArchive({kA}, false), "open");
    for (bool ended : {true, false}) {
      WriteFile(Path("t.tar"), ReadFile(Path(ended ? "whole" : "open")) + "trailing bytes");
      OpenArchive("t.tar");
      Listed();
      EXPECT_EQ(ended ? StatusOk : StatusFileError, m.GetArchiveStatus()) << ended;
    }
    Compress(k, "hello, no archive here\n", "hello");
    OpenArchive("hello");
    EXPECT_EQ(StatusNotTarArchive, m.GetArchiveStatus());
  }
  // A stream past the decoder's memory limit cannot be read at all.
  Compress({"x", "xz --lzma2=dict=1536MiB", ""}, TarArchive({kA}), "huge.txz");
  OpenArchive("huge.txz");
  EXPECT_EQ(StatusFileError, m.GetArchiveStatus());
}
