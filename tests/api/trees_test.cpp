// Trees on extraction: hard and symbolic links, folders with their times,
// and modes. Natively links are made as links; under Win32 a symbolic link
// the system does not make (Wine answers yes and makes nothing) becomes a
// copy of the file it names.
#include <filesystem>
#include <sys/stat.h>

#include "archives.h"
#include "fixture.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
const bool kNative = false;
#else
const bool kNative = true;
#endif

const int64_t kFolderTime = 946684800;  // 2000-01-01

TarItem Folder(const std::string& name, int mode = 0755) {
  TarItem item{name + "/", "", '5', mode};
  item.mtime = kFolderTime;
  return item;
}

TarItem Link(char type, const std::string& name, const std::string& target) {
  TarItem item{name, "", type, 0777};
  item.linkname = target;
  return item;
}

// What lies below a folder, links not followed: "name/" for a folder,
// "name->target" for a link, "name=bytes" for a file.
std::vector<std::string> Describe(const std::string& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::string rel = it->path().lexically_relative(dir).generic_string();
    if (it->is_symlink()) {
      out.push_back(rel + "->" + fs::read_symlink(it->path()).generic_string());
    } else if (it->is_directory()) {
      out.push_back(rel + "/");
    } else {
      out.push_back(rel + "=" + ReadFile(it->path().string()));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

class TreesTest : public ModuleTest {
 protected:
  uint16_t ExtractAll(const std::string& archive, const std::vector<std::string>& masks) {
    OpenArchive(archive);
    // Whole paths, the mode that keeps folders.
    std::vector<unsigned char> settings = DecompSettings(2, "", Mod("out"));
    m.SetDecompExtraFeatures(settings.data());
    m.ExtractFileMaskListArc(MaskList(masks));
    return m.GetArchiveStatus();
  }
};

TEST_F(TreesTest, LinksFoldersAndTheirRefusals) {
  const TarItem a{"a.txt", "alpha"};
  struct Row {
    int line;
    std::vector<TarItem> items;
    std::vector<std::string> masks;
    uint16_t status;
    std::vector<std::string> native;        // what the output folder holds
    std::vector<std::string> win32 = {"="};  // under Win32, where it differs
    uint16_t win32Status = 0;                // the same
  } rows[] = {
      {__LINE__, {a, Link('1', "hard", "a.txt")}, {}, StatusOk, {"a.txt=alpha", "hard=alpha"}},
      // The link alone: its target's data, though the target is not written.
      {__LINE__, {a, Link('1', "hard", "a.txt")}, {"hard"}, StatusOk, {"hard=alpha"}},
      // A hard link to nothing before it, and one that would leave the output.
      {__LINE__, {Link('1', "hard", "a.txt"), a}, {}, StatusFileError, {"a.txt=alpha"}},
      {__LINE__, {a, Link('1', "hard", "d/../../a.txt")}, {}, StatusFileError, {"a.txt=alpha"}},
      {__LINE__, {a, Link('2', "sym", "a.txt")}, {}, StatusOk, {"a.txt=alpha", "sym->a.txt"},
       {"a.txt=alpha", "sym=alpha"}},
      // A link before its file, and a link whose file is not extracted.
      {__LINE__, {Link('2', "d/sym", "../a.txt"), a}, {}, StatusOk,
       {"a.txt=alpha", "d/", "d/sym->../a.txt"}, {"a.txt=alpha", "d/", "d/sym=alpha"}},
      {__LINE__, {a, Link('2', "sym", "a.txt")}, {"sym"}, StatusOk, {"sym->a.txt"},
       {"sym=alpha"}},
      {__LINE__, {Folder("d"), {"d/x", "x"}, Link('2', "dl", "d")}, {}, StatusOk,
       {"d/", "d/x=x", "dl->d"}, {"d/", "d/x=x"}, StatusFileError},
      {__LINE__, {Link('2', "dangling", "none")}, {}, StatusOk, {"dangling->none"}, {},
       StatusFileError},
      // Targets that are absolute or lead out are never made.
      {__LINE__, {Link('2', "abs", "/etc/passwd"), Link('2', "drive", "C:\\x")}, {},
       StatusFileError, {}},
      {__LINE__, {Folder("p"), Link('2', "p/up", ".."), Link('2', "p/out", "../..")}, {},
       StatusFileError, {"p/", "p/up->.."}, {"p/"}, StatusFileError},
      // Through a link this run made: p/q/L is p, so M leads above the top.
      {__LINE__, {Folder("p/q"), Link('2', "p/q/L", ".."), Link('2', "M", "p/q/L/../..")}, {},
       StatusFileError, {"p/", "p/q/", "p/q/L->.."}, {"p/", "p/q/"}, StatusFileError},
      // Nothing is written through a link, not even one made just now.
      {__LINE__, {Folder("d"), Link('2', "dl", "d"), {"dl/x", "x"}}, {}, StatusFileError,
       {"d/", "dl->d"}, {"d/", "dl/", "dl/x=x"}},
      // Folders the masks select, empty ones too; with the rest of the tree.
      {__LINE__, {Folder("e"), Folder("f"), {"f/x", "x"}}, {"e"}, StatusOk, {"e/"}},
      {__LINE__, {Folder("e"), Folder("f"), {"f/x", "x"}}, {}, StatusOk, {"e/", "f/", "f/x=x"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    RemoveTree(Path("out"));
    WriteFile(Path("t.tar"), TarArchive(row.items));
    uint16_t status = ExtractAll("t.tar", row.masks);
    bool sameFiles = kNative || row.win32 == std::vector<std::string>{"="};
    EXPECT_EQ(kNative || row.win32Status == 0 ? row.status : row.win32Status, status);
    EXPECT_EQ(sameFiles ? row.native : row.win32, Describe(Path("out")));
  }
}

// Links whose file is not extracted are copied from its data, which a
// compressed archive gives in one more pass.
TEST_F(TreesTest, CopiesFromTheDataOfACompressedArchive) {
  WriteFile(Path("t.tar"), TarArchive({{"a.txt", "alpha"}, Link('1', "hard", "a.txt"),
                                       Link('2', "sym", "a.txt"), {"b.txt", "bravo"}}));
  std::string output;
  ASSERT_EQ(0, RunCommand("gzip -c <'" + UnixPath(Path("t.tar")) + "' >'" +
                              UnixPath(Path("t.tgz")) + "'",
                          &output))
      << output;
  ASSERT_EQ(StatusOk, ExtractAll("t.tgz", {"hard", "sym", "b.txt"}));
  EXPECT_EQ((std::vector<std::string>{"b.txt=bravo", "hard=alpha",
                                      kNative ? "sym->a.txt" : "sym=alpha"}),
            Describe(Path("out")));
}

TEST_F(TreesTest, FolderTimesModesAndHardLinksAsLinks) {
  TarItem run{"d/run.sh", "#!/bin/sh\n", '0', 0755};
  TarItem ro{"d/ro.txt", "r", '0', 0444};
  WriteFile(Path("t.tar"), TarArchive({Folder("d", 0750), Folder("d/empty"), run, ro,
                                       Link('1', "d/again.sh", "d/run.sh")}));
  ASSERT_EQ(StatusOk, ExtractAll("t.tar", {}));
  // Folders get their times once everything below them is written.
  EXPECT_EQ(kFolderTime, FileMtime(Path("out/d")));
  EXPECT_EQ(kFolderTime, FileMtime(Path("out/d/empty")));
  EXPECT_TRUE(fs::equivalent(Path("out/d/run.sh"), Path("out/d/again.sh")));
#ifndef _WIN32
  // Modes as the umask lets them, never set-user-ID and the like.
  mode_t mask = umask(0);
  umask(mask);
  auto mode = [](const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
  };
  EXPECT_EQ(0755u & ~mask, mode(Path("out/d/run.sh")));
  EXPECT_EQ(0750u & ~mask, mode(Path("out/d")));
  EXPECT_EQ(0444u, mode(Path("out/d/ro.txt")));
  RemoveTree(Path("out"));
  TarItem setuid{"s", "x", '0', 04755};
  WriteFile(Path("u.tar"), TarArchive({setuid}));
  ASSERT_EQ(StatusOk, ExtractAll("u.tar", {}));
  EXPECT_EQ(0755u & ~mask, mode(Path("out/s")));
#else
  EXPECT_FALSE(IsReadOnly(Path("out/d/ro.txt")));
#endif
}

}  // namespace
