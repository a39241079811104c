// Adding files: new archives, and updates of existing ones with members
// carried over, kept or replaced as the host answers.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "archives.h"
#include "fixture.h"

namespace fs = std::filesystem;

static std::string Slashed(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

// What the stored-name rule leaves of a full path: no drive, no leading
// separator.
static std::string StoredForm(const std::string& modPath) {
  if (modPath.size() > 2 && modPath[1] == ':') return modPath.substr(3);
  if (!modPath.empty() && modPath[0] == '\\') return modPath.substr(1);
  return modPath;
}

class AddTest : public ModuleTest {
 protected:
  // A module as loaded: the base path and the add-root path, once set, can
  // no longer be emptied through the exports.
  void Reload() {
    for (FileMaskList* list : lists) {
      m.DoneFileMaskList(list);
      delete list;
    }
    lists.clear();
    UnloadModule(&m);
    ASSERT_TRUE(LoadModule(&m));
  }

  void Settings(int32_t storePaths, const std::string& basePath, const std::string& addRoot) {
    std::vector<unsigned char> record = CompSettings(storePaths, basePath, addRoot);
    m.SetCompExtraFeatures(record.data());
  }

  uint16_t Compress(const std::vector<std::string>& items) {
    FileMaskList* list = MaskList(items);
    m.CompressFileMaskListArc(list);
    return m.GetArchiveStatus();
  }

  void NewArchive(const std::string& name) {
    m.CreateArcFile(Mod(name).c_str());
    ASSERT_EQ(StatusOk, m.GetArchiveStatus());
    Recorder::Reset();
    RegisterRecorder(false);
  }

  void ExistingArchive(const std::string& name, const std::string& bytes) {
    WriteFile(Path(name), bytes);
    OpenArchive(name);
    ASSERT_EQ(StatusOk, m.GetArchiveStatus());
    Recorder::Reset();
    RegisterRecorder(false);
  }

  // A file below the add-root folder "root"; answers its full path.
  std::string Source(const std::string& relative, const std::string& data) {
    WriteFile(Path("root/" + relative), data);
    return Path("root/" + relative);
  }
  std::string Root() const { return Mod("root"); }
};

using UpdateTest = AddTest;

TEST_F(AddTest, NamesByStorePathsAddRootAndBasePath) {
  const std::string data = Pattern(700, 1);
  const std::string full = ModPath(Source("docs/a.txt", data));
  const std::string relative = "docs\\a.txt";
  // A base path that leaves no room in 259 characters: with store-paths 0
  // it does not survive, and the name is still the file's.
  const std::string longBase(258, 'b');
  // Paths that do not fit the module: with store-paths 0 neither is used.
  const std::string tooLong(300, 't');
  enum Body { kRelative, kStored, kFileName };
  struct Row {
    int line;
    int32_t storePaths;
    const char* basePath;
    bool withRoot;
    bool fullItem;
    Body body;
    const char* otherRoot;  // in place of the add-root folder
  } rows[] = {
      {__LINE__, 1, "", true, false, kRelative},
      {__LINE__, 1, "set1", true, false, kRelative},
      {__LINE__, 1, "", false, true, kStored},
      {__LINE__, 1, "set1", false, true, kStored},
      {__LINE__, 0, "", true, true, kFileName},  // the add-root path is not put in front
      {__LINE__, 0, "set1", true, true, kFileName},
      {__LINE__, 0, "", false, true, kFileName},
      {__LINE__, 0, longBase.c_str(), true, true, kFileName},
      {__LINE__, 0, tooLong.c_str(), true, true, kFileName},
      {__LINE__, 0, "", true, true, kFileName, tooLong.c_str()},
      {__LINE__, 2, "", true, true, kStored},
      {__LINE__, 2, "set1", false, true, kStored},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    Reload();
    fs::remove(Path("out.tar"));
    NewArchive("out.tar");
    Settings(row.storePaths, row.basePath,
             row.otherRoot != nullptr ? row.otherRoot : row.withRoot ? Root() : "");
    std::string item = row.fullItem ? full : relative;
    std::string source = row.storePaths == 1 && row.withRoot ? Root() + "\\" + item : item;
    std::string member = row.body == kRelative ? relative
                         : row.body == kStored ? StoredForm(full)
                                               : "a.txt";
    if (row.body != kFileName && row.basePath[0] != '\0') {
      member = std::string(row.basePath) + "\\" + member;
    }
    ASSERT_EQ(StatusOk, Compress({item}));
    EXPECT_EQ((std::vector<std::string>{"name 22 " + source + " | \\" + item,
                                        "progress 33 100 700"}),
              Recorder::events);
    EXPECT_EQ(std::vector<std::string>{member}, List());
    std::vector<RawEntry> entries = RawEntries(ReadFile(Path("out.tar")));
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(Slashed(member), entries[0].name);  // "/" in the header
    ExpectPeersRead(Path("out.tar"), {{Slashed(member), data}});
  }
}

TEST_F(AddTest, SizesPaddingProgressAndEndMarker) {
  const size_t sizes[] = {0, 1, 511, 512, 513, 100000};
  std::vector<std::string> items;
  std::vector<PeerFile> files;
  std::vector<std::string> events;
  for (size_t size : sizes) {
    std::string name = "s" + std::to_string(size) + ".bin";
    std::string data = Pattern(size, static_cast<int>(size));
    items.push_back(ModPath(Source(name, data)));
    files.push_back({name, data});
    events.push_back("name 22 " + items.back() + " | \\" + items.back());
    if (size == 100000) {
      events.push_back("progress 33 65 65536");
      events.push_back("progress 33 100 34464");
    } else if (size > 0) {
      events.push_back("progress 33 100 " + std::to_string(size));
    }
  }
  NewArchive("out.tar");
  Settings(0, "", "");
  ASSERT_EQ(StatusOk, Compress(items));
  EXPECT_EQ(events, Recorder::events);

  const std::string bytes = ReadFile(Path("out.tar"));
  size_t at = 0;
  for (const PeerFile& f : files) {
    SCOPED_TRACE(f.name);
    ASSERT_LE(at + 512 + f.data.size(), bytes.size());
    std::vector<RawEntry> entry = RawEntries(bytes.substr(at, 512));
    ASSERT_EQ(1u, entry.size());
    EXPECT_EQ(f.name, entry[0].name);
    EXPECT_EQ('0', entry[0].typeflag);
    EXPECT_EQ(static_cast<int64_t>(f.data.size()), entry[0].size);
    EXPECT_EQ(FileMtime(Path("root/" + f.name)), entry[0].mtime);
    EXPECT_EQ(0, memcmp(bytes.data() + at + 257, "ustar  ", 8));  // with its NUL
    EXPECT_TRUE(bytes.compare(at + 512, f.data.size(), f.data) == 0);
    size_t pad = (512 - f.data.size() % 512) % 512;
    EXPECT_EQ(std::string(pad, '\0'), bytes.substr(at + 512 + f.data.size(), pad));
    at += 512 + f.data.size() + pad;
  }
  EXPECT_EQ(at + 1024, bytes.size());
  EXPECT_EQ(std::string(1024, '\0'), bytes.substr(std::min(at, bytes.size())));
  ExpectPeersRead(Path("out.tar"), files);
}

// The lines of "tar -tvf" as type and mode, size and name: owner and time
// left out.
static std::vector<std::string> BriefListing(const std::string& archive) {
  std::vector<std::string> lines = PeerListing("LC_ALL=C.UTF-8 tar", archive);
  for (std::string& line : lines) {
    std::istringstream in(line);
    std::string mode, owner, size, date, time, name;
    in >> mode >> owner >> size >> date >> time >> std::ws;
    std::getline(in, name);
    line = mode + " " + size + " " + name;
  }
  return lines;
}

TEST_F(AddTest, FoldersAmongItemsAreStoredWhereTheyStand) {
  fs::create_directories(Path("root/docs"));
  fs::create_directories(Path("root/sub"));
  Source("a.txt", "alpha");
  NewArchive("out.tar");
  Settings(1, "", Root());
  // "docs\" has no name: it is neither announced nor added.
  ASSERT_EQ(StatusOk, Compress({"docs", "docs\\", "a.txt", "sub"}));
  EXPECT_EQ((std::vector<std::string>{
                "name 22 " + Root() + "\\docs | \\docs",
                "name 22 " + Root() + "\\a.txt | \\a.txt",
                "progress 33 100 5",
                "name 22 " + Root() + "\\sub | \\sub",
            }),
            Recorder::events);
  EXPECT_EQ(std::vector<std::string>{"a.txt"}, List());  // folders are not listed
  std::vector<std::string> entries;  // name, typeflag and size
  for (const RawEntry& e : RawEntries(ReadFile(Path("out.tar")))) {
    entries.push_back(e.name + " " + e.typeflag + " " + std::to_string(e.size));
    EXPECT_EQ(FileMtime(Path("root/" + e.name)), e.mtime) << e.name;
  }
  EXPECT_EQ((std::vector<std::string>{"docs/ 5 0", "a.txt 0 5", "sub/ 5 0"}), entries);

  // Folders alone are stored, but not where names alone are.
  const std::vector<std::string> before = ListTree(dir);
  struct Row {
    int line;
    int32_t storePaths;
    std::vector<std::string> items;
    uint16_t status;
    std::vector<std::string> stored;
  } rows[] = {
      {__LINE__, 1, {"docs", "sub", "docs\\"}, StatusOk, {"docs/", "sub/"}},
      {__LINE__, 0, {Mod("root/docs"), Mod("root/sub")}, StatusNothingToAdd, {}},
      {__LINE__, 1, {}, StatusEmptyRequest, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    fs::remove(Path("new.tar"));
    NewArchive("new.tar");
    Settings(row.storePaths, "", row.storePaths == 1 ? Root() : "");
    EXPECT_EQ(row.status, Compress(row.items));
    if (row.status != StatusOk) {
      EXPECT_TRUE(Recorder::events.empty()) << ::testing::PrintToString(Recorder::events);
      EXPECT_EQ(before, ListTree(dir));  // no archive, no temporary file
      continue;
    }
    std::vector<std::string> stored;
    for (const RawEntry& e : RawEntries(ReadFile(Path("new.tar")))) stored.push_back(e.name);
    EXPECT_EQ(row.stored, stored);
  }
}

// What the mode says: natively the permission bits as they are; on Win32
// read and write for the owner (no write when read-only), read for all,
// and folders searchable, whatever a file's extension.
TEST_F(AddTest, ModesAsStored) {
  struct Row {
    const char* name;  // a folder's ends in "/"
    int mode;          // given natively; on Win32 read-only without owner write
    const char* native;
    const char* win32;
  } rows[] = {
      {"run.exe", 0755, "-rwxr-xr-x", "-rw-r--r--"},
      {"group.txt", 0664, "-rw-rw-r--", "-rw-r--r--"},
      {"ro.txt", 0444, "-r--r--r--", "-r--r--r--"},
      {"private/", 0700, "drwx------", "drwxr-xr-x"},
  };
  std::vector<std::string> items;
  std::vector<std::string> want;
  for (const Row& row : rows) {
    std::string name = row.name;
    bool folder = name.back() == '/';
    if (folder) {
      name.pop_back();
      fs::create_directories(Path("root/" + name));
    } else {
      Source(name, "data");
    }
#ifdef _WIN32
    ASSERT_TRUE(MakeReadOnly(Path("root/" + name), !(row.mode & 0200)));
    want.push_back(std::string(row.win32) + (folder ? " 0 " : " 4 ") + row.name);
#else
    fs::permissions(Path("root/" + name), static_cast<fs::perms>(row.mode));
    want.push_back(std::string(row.native) + (folder ? " 0 " : " 4 ") + row.name);
#endif
    items.push_back(name);
  }
  NewArchive("out.tar");
  Settings(1, "", Root());
  ASSERT_EQ(StatusOk, Compress(items));
  EXPECT_EQ(want, BriefListing(Path("out.tar")));
}

#ifndef _WIN32
// Natively a symbolic link is stored as a link with its target, whatever
// it names, and a second name of a file stored earlier in the pass as a
// hard link to the first.
TEST_F(AddTest, LinksAsTheyAre) {
  Source("f.txt", "file");
  fs::create_directories(Path("root/sub"));
  fs::create_hard_link(Path("root/f.txt"), Path("root/hard"));
  fs::create_symlink("f.txt", Path("root/flink"));
  fs::create_symlink("sub", Path("root/dlink"));
  fs::create_symlink("nothing", Path("root/dangling"));
  fs::create_symlink("caf\xC3\xA9.txt", Path("root/cafe"));
  struct Row {
    int line;
    std::vector<std::string> items;
    std::vector<std::string> listed;  // as BriefListing has it
  } rows[] = {
      {__LINE__,
       {"flink", "dlink", "dangling", "cafe"},
       {"lrwxrwxrwx 0 flink -> f.txt", "lrwxrwxrwx 0 dlink -> sub",
        "lrwxrwxrwx 0 dangling -> nothing", "lrwxrwxrwx 0 cafe -> caf\xC3\xA9.txt"}},
      // Without its first name in the pass, a second name is a file.
      {__LINE__, {"hard"}, {"-rw-r--r-- 4 hard"}},
      // The first name stored holds the data, whichever it is.
      {__LINE__, {"f.txt", "hard"}, {"-rw-r--r-- 4 f.txt", "hrw-r--r-- 0 hard link to f.txt"}},
      {__LINE__, {"hard", "f.txt"}, {"-rw-r--r-- 4 hard", "hrw-r--r-- 0 f.txt link to hard"}},
  };
  fs::permissions(Path("root/f.txt"), static_cast<fs::perms>(0644));
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    fs::remove(Path("out.tar"));
    NewArchive("out.tar");
    Settings(1, "", Root());
    ASSERT_EQ(StatusOk, Compress(row.items));
    EXPECT_EQ(row.listed, BriefListing(Path("out.tar")));
  }
}
#endif

// Changes a source file while the module copies it: at the first report of
// a full 64 KiB chunk it is cut to `cutTo` bytes, or `growBy` bytes are
// appended.
struct SourceChange {
  std::string path;
  int64_t cutTo;
  size_t growBy;
  bool done;
};
static SourceChange gChange;

static int32_t ChangeSourceOnProgress(int32_t, int32_t, int32_t delta) {
  if (gChange.done || delta != 65536) return 1;
  gChange.done = true;
  std::error_code ec;
  if (gChange.cutTo >= 0) {
    fs::resize_file(gChange.path, static_cast<uintmax_t>(gChange.cutTo), ec);
  } else {
    std::ofstream out(gChange.path, std::ios::binary | std::ios::app);
    out << std::string(gChange.growBy, 'g');
    if (!out) ec = std::make_error_code(std::errc::io_error);
  }
  EXPECT_FALSE(ec) << "cannot change " << gChange.path << ": " << ec.message();
  return 1;
}

TEST_F(AddTest, FailuresLeaveNoArchive) {
  const std::string a = ModPath(Source("a.txt", "alpha"));
  // Big enough that most of it is still unread when it shrinks after the
  // first progress report, however far the copy reads ahead.
  const std::string big = ModPath(Source("big.bin", Pattern(300000, 3)));
  const std::string b = ModPath(Source("b.txt", "bravo"));
  const std::vector<std::string> before = ListTree(dir);
  struct Row {
    int line;
    std::vector<std::string> items;
    std::vector<int> progressAnswers;
    int64_t cutTo;  // -1: the source is left alone
    const char* archive;
    uint16_t status;
  } rows[] = {
      {__LINE__, {a, Mod("root/missing.txt"), b}, {}, -1, "out.tar", StatusFileError},
      {__LINE__, {a, big, b}, {1, 1, 0}, -1, "out.tar", StatusUserAbort},  // stops in big.bin
      {__LINE__, {a, big, b}, {}, 70000, "out.tar", StatusFileError},      // big.bin shrinks
      {__LINE__, {a, b}, {}, -1, "nodir/out.tar", StatusFileError},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    WriteFile(Path("root/big.bin"), Pattern(300000, 3));
    NewArchive(row.archive);
    Settings(0, "", "");
    Recorder::progressAnswers = row.progressAnswers;
    if (row.cutTo >= 0) {
      gChange = {Path("root/big.bin"), row.cutTo, 0, false};
      m.SetSetProgressProc(0, ChangeSourceOnProgress);
    }
    EXPECT_EQ(row.status, Compress(row.items));
    EXPECT_EQ(before, ListTree(dir));
    // The pass ends at the failing item: b.txt is never looked at.
    if (row.items.size() == 3) {
      for (const std::string& e : Recorder::events) EXPECT_EQ(std::string::npos, e.find(b)) << e;
    }
  }
}

TEST_F(AddTest, GrowingSourceGivesExactlyTheSizeInItsHeader) {
  const std::string original = Pattern(100000, 5);
  const std::string big = ModPath(Source("big.bin", original));
  const std::string small = ModPath(Source("small.txt", "small data"));
  NewArchive("out.tar");
  Settings(0, "", "");
  gChange = {Path("root/big.bin"), -1, 5000, false};
  m.SetSetProgressProc(0, ChangeSourceOnProgress);
  ASSERT_EQ(StatusOk, Compress({big, small}));
  std::vector<RawEntry> entries = RawEntries(ReadFile(Path("out.tar")));
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(100000, entries[0].size);
  EXPECT_EQ(512u + 100352u, entries[1].offset);
  ExpectPeersRead(Path("out.tar"), {{"big.bin", original}, {"small.txt", "small data"}});
}

TEST_F(AddTest, SecondAddToTheNewArchiveReplacesItOrLeavesIt) {
  const std::string a = ModPath(Source("a.txt", "alpha"));
  const std::string b = ModPath(Source("b.txt", "bravo"));
  NewArchive("out.tar");
  Settings(0, "", "");
  ASSERT_EQ(StatusOk, Compress({a}));
  const std::string first = ReadFile(Path("out.tar"));

  EXPECT_EQ(StatusFileError, Compress({b, Mod("root/missing.txt")}));
  EXPECT_TRUE(ReadFile(Path("out.tar")) == first);
  EXPECT_TRUE(TempFilesIn(dir).empty());

  // The archive itself, now on disk, is not added to its successor.
  ASSERT_EQ(StatusOk, Compress({Mod("out.tar"), b}));
  EXPECT_EQ(std::vector<std::string>{"b.txt"}, List());
  ExpectPeersRead(Path("out.tar"), {{"b.txt", "bravo"}});
}

// ---------------------------------------------------------------- updates

TEST_F(UpdateTest, ReplaceAnswers) {
  const std::string charlie = Pattern(70000, 6);  // carried in several pieces
  const std::string old = TarArchive({{"b.txt", "bravo"}, {"docs/a.txt", "old"}, {"c.txt", charlie}});
  const std::string fresh = "new content";
  Source("docs/a.txt", fresh);
  struct Row {
    int line;
    bool registered;
    int answer;
    uint16_t status;
    bool replaced;
  } rows[] = {
      {__LINE__, true, 0, StatusOk, true},
      {__LINE__, true, 5, StatusOk, true},
      {__LINE__, false, 0, StatusOk, true},  // replaced without a question
      {__LINE__, true, 1, StatusOk, false},
      {__LINE__, true, 2, StatusUserAbort, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    ExistingArchive("arc.tar", old);
    if (!row.registered) m.SetOkToReplaceProc(0, nullptr);
    Settings(1, "", Root());
    ASSERT_TRUE(MakeReadOnly(Path("root/docs/a.txt"), true));
    Recorder::replaceAnswers = {row.answer};
    EXPECT_EQ(row.status, Compress({"docs\\a.txt"}));
    // Whatever the answer, the file added stays read-only.
    EXPECT_TRUE(IsReadOnly(Path("root/docs/a.txt")));
    EXPECT_TRUE(TempFilesIn(dir).empty());
    std::vector<std::string> events;
    if (row.registered) events.push_back("replace 44 docs\\a.txt");
    if (row.replaced) {
      events.push_back("name 22 " + Root() + "\\docs\\a.txt | \\docs\\a.txt");
      events.push_back("progress 33 100 11");
    }
    EXPECT_EQ(events, Recorder::events);
    if (row.registered) {
      ASSERT_EQ(1u, Recorder::replaceQueries.size());
      EXPECT_STREQ("docs\\a.txt", Recorder::replaceQueries[0].fileName);
      EXPECT_EQ(3u, Recorder::replaceQueries[0].sizeLow);
      EXPECT_STREQ("a.txt", Recorder::replaceFound[0].fileName);
      EXPECT_EQ(fresh.size(), Recorder::replaceFound[0].sizeLow);
    }
    if (!row.replaced) {
      EXPECT_TRUE(ReadFile(Path("arc.tar")) == old);
      continue;
    }
    EXPECT_EQ((std::vector<std::string>{"b.txt", "c.txt", "docs\\a.txt"}), List());
    const std::string carried = TarArchive({{"b.txt", "bravo"}, {"c.txt", charlie}}, false);
    EXPECT_TRUE(ReadFile(Path("arc.tar")).compare(0, carried.size(), carried) == 0);
    ExpectPeersRead(Path("arc.tar"),
                    {{"b.txt", "bravo"}, {"c.txt", charlie}, {"docs/a.txt", fresh}});
  }

  // Member and item correspond whatever the case of their ASCII letters.
  ExistingArchive("arc.tar", TarArchive({{"DOCS/A.TXT", "old"}, {"b.txt", "bravo"}}));
  ASSERT_EQ(StatusOk, Compress({"docs\\a.txt"}));
  EXPECT_EQ("replace 44 DOCS\\A.TXT", Recorder::events.at(0));
  EXPECT_EQ((std::vector<std::string>{"b.txt", "docs\\a.txt"}), List());
}

TEST_F(UpdateTest, StorePathsZeroComparesFileNamesAlone) {
  const std::string old = TarArchive({{"data/a.txt", "deep"}, {"a.txt", "flat"}});
  const std::string x = ModPath(Source("x/a.txt", "xxx"));
  const std::string y = ModPath(Source("y/a.txt", "yyyyy"));
  // The member a.txt corresponds to both items, data\a.txt to none; the
  // first item in list order is the one whose file is shown.
  ExistingArchive("arc.tar", old);
  Settings(0, "", "");
  Recorder::replaceAnswers = {1};
  ASSERT_EQ(StatusOk, Compress({x, y}));
  EXPECT_EQ(std::vector<std::string>{"replace 44 a.txt"}, Recorder::events);
  ASSERT_EQ(1u, Recorder::replaceFound.size());
  EXPECT_EQ(3u, Recorder::replaceFound[0].sizeLow);
  EXPECT_TRUE(ReadFile(Path("arc.tar")) == old);  // kept: neither file is added

  ExistingArchive("arc.tar", old);
  Settings(0, "", "");
  Recorder::replaceAnswers = {0};
  ASSERT_EQ(StatusOk, Compress({x, y}));
  EXPECT_EQ((std::vector<std::string>{"data\\a.txt", "a.txt", "a.txt"}), List());
  EXPECT_EQ(1u, Recorder::replaceQueries.size());

  // The archive itself is not added to its successor.
  ExistingArchive("arc.tar", old);
  Settings(0, "", "");
  ASSERT_EQ(StatusOk, Compress({Mod("arc.tar")}));
  EXPECT_TRUE(Recorder::events.empty());
  EXPECT_TRUE(ReadFile(Path("arc.tar")) == old);
}

// Members that differ only by case: the one spelt like the item is the one
// it replaces; with none spelt so, any of them corresponds, as case is
// ignored.
TEST_F(UpdateTest, CaseTellsMembersApartOnlyWhenOneIsSpeltLikeTheItem) {
  Source("d/a.txt", "new");
  struct Row {
    int line;
    std::vector<TarItem> members;
    std::vector<std::string> after;  // names, then data, in order
    size_t asked;
  } rows[] = {
      {__LINE__, {{"d/A.TXT", "upper"}, {"d/a.txt", "lower"}}, {"d\\A.TXT", "d\\a.txt"}, 1},
      {__LINE__, {{"d/A.TXT", "upper"}, {"d/a.Txt", "mixed"}}, {"d\\a.txt"}, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    ExistingArchive("arc.tar", TarArchive(row.members));
    Settings(1, "", Root() + "\\");
    ASSERT_EQ(StatusOk, Compress({"d\\a.txt"}));
    EXPECT_EQ(row.asked, Recorder::replaceQueries.size());
    EXPECT_EQ(row.after, List());
  }
  ExpectPeersRead(Path("arc.tar"), {{"d/a.txt", "new"}});
}

TEST_F(UpdateTest, ItemKeysByStorePathsAndBasePath) {
  const std::string full = ModPath(Source("docs/a.txt", "disk"));
  const std::string stored = Slashed(StoredForm(full));
  struct Row {
    int line;
    int32_t storePaths;
    const char* basePath;
    bool withRoot;
    std::string member;
    bool asked;
  } rows[] = {
      {__LINE__, 1, "", true, "docs/A.txt", true},
      {__LINE__, 1, "", true, "a.txt", false},
      {__LINE__, 1, "set1", true, "set1/docs/a.txt", true},
      {__LINE__, 1, "set1", true, "docs/a.txt", false},
      {__LINE__, 1, "", false, stored, true},
      // Any other flag compares the file name and extension alone.
      {__LINE__, 0, "", false, "a.txt", true},
      {__LINE__, 0, "", false, "docs/a.txt", false},
      {__LINE__, 0, "set1", false, "a.txt", true},
      {__LINE__, 2, "", false, "a.txt", true},
      {__LINE__, 2, "", false, stored, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    Reload();
    const std::vector<TarItem> members = {{row.member, "old"}, {"z.txt", "zulu"}};
    const std::string old = TarArchive(members);
    ExistingArchive("arc.tar", old);
    Settings(row.storePaths, row.basePath, row.withRoot ? Root() : "");
    Recorder::replaceAnswers = {1};
    ASSERT_EQ(StatusOk, Compress({row.withRoot ? "docs\\a.txt" : full}));
    if (row.asked) {
      EXPECT_EQ("replace 44 " + ModPath(row.member), Recorder::events.at(0));
      EXPECT_TRUE(ReadFile(Path("arc.tar")) == old);  // kept, and nothing added
    } else {
      ASSERT_FALSE(Recorder::events.empty());
      EXPECT_EQ(0u, Recorder::events[0].rfind("name 22 ", 0)) << Recorder::events[0];
      const std::string carried = TarArchive(members, false);
      EXPECT_TRUE(ReadFile(Path("arc.tar")).compare(0, carried.size(), carried) == 0);
      EXPECT_EQ(3u, List().size());
    }
  }
}

// Members with entries the scanner does not list between them (a folder,
// long names of a member and of a link target, a pax header and a volume
// label) and links, which it lists.
static std::vector<TarItem> MixedItems() {
  const std::string longName = std::string(120, 'n') + ".txt";
  const std::string longTarget = std::string(120, 't');
  TarItem dirEntry{"dir/", "", '5', 0755};
  TarItem link{"link", "", '2'};
  link.linkname = "a.txt";
  TarItem hard{"hard", "", '1'};
  hard.linkname = "a.txt";
  TarItem symLong{"symlong", "", '2'};
  symLong.linkname = longTarget.substr(0, 100);
  return {
      dirEntry,
      {"a.txt", "alpha"},
      {"././@LongLink", longName + std::string(1, '\0'), 'L'},
      {longName.substr(0, 100), "long member"},
      link,
      {"PaxHeaders/b.txt", "14 path=b.txt\n", 'x'},
      {"b.txt", "bravo"},
      hard,
      {"volume", "", 'V'},
      {"c.txt", "charlie"},
      {"././@LongLink", longTarget + std::string(1, '\0'), 'K'},
      symLong,
  };
}

static std::string WithoutItems(std::vector<TarItem> items, std::initializer_list<size_t> drop) {
  std::vector<TarItem> kept;
  for (size_t i = 0; i < items.size(); i++) {
    if (std::find(drop.begin(), drop.end(), i) == drop.end()) kept.push_back(items[i]);
  }
  return TarArchive(kept, false);
}

// The same bytes with every padding byte set to 'p'.
static std::string DirtyPadding(const std::vector<TarItem>& items) {
  std::string out;
  for (const TarItem& item : items) {
    out += TarHeader(item) + item.data;
    out.append((512 - item.data.size() % 512) % 512, 'p');
  }
  return out;
}

TEST_F(UpdateTest, MembersNoItemCorrespondsToAreCopiedAsStored) {
  const std::string longListed = std::string(120, 'n') + ".txt";
  const std::string stored = DirtyPadding(MixedItems());
  const std::string old = stored + std::string(1024, '\0');
  fs::create_directories(Path("root/docs"));
  const std::string data = Pattern(600, 9);
  Source("new.txt", data);
  struct Row {
    int line;
    std::vector<std::string> items;
    std::vector<std::string> events;
    std::vector<std::string> added;  // the entries after the old ones
  } rows[] = {
      {__LINE__,
       {"new.txt", "docs"},
       {"name 22 " + Root() + "\\new.txt | \\new.txt", "progress 33 100 600",
        "name 22 " + Root() + "\\docs | \\docs"},
       {"new.txt", "docs/"}},
      // A folder alone: its entry is added.
      {__LINE__, {"docs"}, {"name 22 " + Root() + "\\docs | \\docs"}, {"docs/"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    ExistingArchive("arc.tar", old);
    Settings(1, "", Root());
    ASSERT_EQ(StatusOk, Compress(row.items));
    EXPECT_EQ(row.events, Recorder::events);
    const std::string bytes = ReadFile(Path("arc.tar"));
    ASSERT_GE(bytes.size(), stored.size() + 1024);
    EXPECT_TRUE(bytes.compare(0, stored.size(), stored) == 0);
    EXPECT_EQ(std::string(1024, '\0'), bytes.substr(bytes.size() - 1024));
    std::vector<std::string> added;
    for (const RawEntry& e : RawEntries(bytes.substr(stored.size()))) added.push_back(e.name);
    EXPECT_EQ(row.added, added);
    std::vector<std::string> listed = {"a.txt", longListed, "link", "b.txt",
                                       "hard",  "c.txt",    "symlong"};
    if (row.added.size() == 2) {
      listed.push_back("new.txt");
      EXPECT_TRUE(bytes.compare(stored.size() + 512, data.size(), data) == 0);
    }
    EXPECT_EQ(listed, List());
  }
}

// A folder whose entry the archive holds keeps that entry, carried over as
// stored, and gets no second one; the item is still announced. Needs the
// scanner to name folder entries.
TEST_F(UpdateTest, FolderEntryHeldIsNotStoredAgain) {
  const std::string old = TarArchive(MixedItems());  // "dir/" comes first
  fs::create_directories(Path("root/dir"));
  fs::create_directories(Path("root/docs"));
  ExistingArchive("arc.tar", old);
  Settings(1, "", Root());
  ASSERT_EQ(StatusOk, Compress({"dir", "docs"}));
  EXPECT_EQ((std::vector<std::string>{"name 22 " + Root() + "\\dir | \\dir",
                                      "name 22 " + Root() + "\\docs | \\docs"}),
            Recorder::events);
  const std::string bytes = ReadFile(Path("arc.tar"));
  const size_t carried = old.size() - 1024;
  ASSERT_GE(bytes.size(), carried);
  EXPECT_TRUE(bytes.compare(0, carried, old, 0, carried) == 0);
  std::vector<RawEntry> added = RawEntries(bytes.substr(carried));
  ASSERT_EQ(1u, added.size());
  EXPECT_EQ("docs/", added[0].name);
}

TEST_F(UpdateTest, UnlistedEntriesTravelWithTheirMembers) {
  const std::vector<TarItem> items = MixedItems();
  const std::string longListed = std::string(120, 'n') + ".txt";
  Source(longListed, "new long");
  Source("b.txt", "new bravo");
  // Index 2 is the long name of member 3, index 5 the pax header of b.txt.
  WriteFile(Path("old.tar"), TarArchive(items));
  ExistingArchive("arc.tar", TarArchive(items));
  Settings(1, "", Root());
  Recorder::replaceAnswers = {1, 0};  // keep the long member, replace b.txt
  ASSERT_EQ(StatusOk, Compress({"b.txt", longListed}));
  EXPECT_EQ((std::vector<std::string>{"replace 44 " + longListed, "replace 44 b.txt",
                                      "name 22 " + Root() + "\\b.txt | \\b.txt",
                                      "progress 33 100 9"}),
            Recorder::events);
  const std::string carried = WithoutItems(items, {5, 6});
  const std::string bytes = ReadFile(Path("arc.tar"));
  EXPECT_TRUE(bytes.compare(0, carried.size(), carried) == 0);
  EXPECT_EQ(carried.size() + 512 + 512 + 1024, bytes.size());
  EXPECT_EQ((std::vector<std::string>{"a.txt", longListed, "link", "hard", "c.txt", "symlong",
                                      "b.txt"}),
            List());
  std::vector<std::string> names = PeerNames("tar", Path("old.tar"));
  names.erase(std::find(names.begin(), names.end(), "b.txt"));
  names.push_back("b.txt");
  EXPECT_EQ(names, PeerNames("tar", Path("arc.tar")));

  // Replacing the long member drops its long-name entry with it.
  ExistingArchive("arc.tar", TarArchive(items));
  Settings(1, "", Root());
  ASSERT_EQ(StatusOk, Compress({longListed}));
  const std::string rest = WithoutItems(items, {2, 3});
  EXPECT_TRUE(ReadFile(Path("arc.tar")).compare(0, rest.size(), rest) == 0);
  EXPECT_EQ((std::vector<std::string>{"a.txt", "link", "b.txt", "hard", "c.txt", "symlong",
                                      longListed}),
            List());
  names = PeerNames("tar", Path("old.tar"));
  names.erase(names.begin() + 2);  // the long member's full name
  names.push_back(longListed);
  EXPECT_EQ(names, PeerNames("tar", Path("arc.tar")));

  // An archive of unlisted entries alone, or of zero blocks alone, is
  // updated like any other.
  ExistingArchive("zeros.tar", std::string(1024, '\0'));
  Settings(1, "", Root());
  ASSERT_EQ(StatusOk, Compress({"b.txt"}));
  EXPECT_EQ(std::vector<std::string>{"b.txt"}, List());
  EXPECT_EQ(512u + 512u + 1024u, ReadFile(Path("zeros.tar")).size());

  const std::string dirOnly = TarArchive({items[0], items[4]});
  ExistingArchive("dirs.tar", dirOnly);
  Settings(1, "", Root());
  ASSERT_EQ(StatusOk, Compress({"b.txt"}));
  EXPECT_TRUE(ReadFile(Path("dirs.tar")).compare(0, 1024, dirOnly, 0, 1024) == 0);
  EXPECT_EQ((std::vector<std::string>{"link", "b.txt"}), List());
}

TEST_F(UpdateTest, GnuTarArchivesKeepDirectoriesLinksAndLongNames) {
  ASSERT_TRUE(PeersAvailable());
  const std::string longName = "dir/" + std::string(110, 'n') + ".txt";
  const std::string longTarget = std::string(120, 't');
  const std::string added = Pattern(3000, 4);
  Source("docs/new.txt", added);
  Source(longName, "replaced");
  // In the pax form every entry comes after an extended header of its own.
  for (const char* format : {"gnu", "pax"}) {
    SCOPED_TRACE(format);
    // Links are made and removed by the shell, outside the test's folder.
    std::string out;
    ASSERT_EQ(0, RunCommand("t=$(mktemp -d) && cd $t && mkdir dir && echo f > dir/f.txt && "
                            "echo long > " + longName + " && ln -s dir/f.txt link && "
                            "ln dir/f.txt hard && ln -s " + longTarget + " longlink && "
                            "tar --format=" + format + " --no-recursion -cf '" +
                            UnixPath(Path("arc.tar")) + "' dir dir/f.txt " + longName +
                            " link hard longlink; rc=$?; cd / && rm -rf $t; exit $rc", &out))
        << out;
    const std::vector<std::string> before = PeerListing("tar", Path("arc.tar"));
    ASSERT_EQ(6u, before.size());

    OpenArchive("arc.tar");
    ASSERT_EQ(StatusOk, m.GetArchiveStatus());
    RegisterRecorder(false);
    Settings(1, "", Root());
    ASSERT_EQ(StatusOk, Compress({"docs\\new.txt"}));
    std::vector<std::string> after = PeerListing("tar", Path("arc.tar"));
    ASSERT_EQ(before.size() + 1, after.size());
    EXPECT_EQ(before, std::vector<std::string>(after.begin(), after.end() - 1));
    EXPECT_NE(std::string::npos, after.back().find(" docs/new.txt")) << after.back();
    EXPECT_EQ(before.size() + 1, PeerListing("bsdtar", Path("arc.tar")).size());
    std::string into = MakeTempDir();
    EXPECT_EQ(0, RunCommand("tar -xf '" + UnixPath(Path("arc.tar")) + "' -C '" + UnixPath(into) +
                            "' docs/new.txt " + longName, &out)) << out;
    EXPECT_TRUE(ReadFile(Join(into, "docs/new.txt")) == added);
    EXPECT_EQ("long\n", ReadFile(Join(into, longName)));
    RemoveTree(into);

    // Replacing the long-named member takes the entry that names it away,
    // and nothing else.
    OpenArchive("arc.tar");
    RegisterRecorder(false);
    ASSERT_EQ(StatusOk, Compress({ModPath(longName)}));
    std::vector<std::string> replaced = PeerListing("tar", Path("arc.tar"));
    ASSERT_EQ(after.size(), replaced.size());
    std::vector<std::string> expected = after;
    expected.erase(expected.begin() + 2);
    EXPECT_EQ(expected, std::vector<std::string>(replaced.begin(), replaced.end() - 1));
    EXPECT_NE(std::string::npos, replaced.back().find(" " + longName)) << replaced.back();

    // Replacing the file a hard link names: the link keeps the old data.
    Source("dir/f.txt", "new f\n");
    OpenArchive("arc.tar");
    RegisterRecorder(false);
    ASSERT_EQ(StatusOk, Compress({"dir\\f.txt"}));
    into = MakeTempDir();
    EXPECT_EQ(0, RunCommand("tar -xf '" + UnixPath(Path("arc.tar")) + "' -C '" + UnixPath(into) +
                            "' hard dir/f.txt", &out)) << out;
    EXPECT_EQ("f\n", ReadFile(Join(into, "hard")));
    EXPECT_EQ("new f\n", ReadFile(Join(into, "dir/f.txt")));
    RemoveTree(into);
  }
}

// A long-name entry with nothing after it names nothing; a member added
// behind it must still be read under its own name.
TEST_F(UpdateTest, LongNameEntryAtTheEndDoesNotNameAnAddedMember) {
  const std::string longName = std::string(120, 'n') + ".txt";
  ExistingArchive("arc.tar", TarArchive({{"a.txt", "alpha"},
                                         {"././@LongLink", longName + std::string(1, '\0'), 'L'}}));
  Settings(1, "", Root());
  Source("new.txt", "new");
  ASSERT_EQ(StatusOk, Compress({"new.txt"}));
  EXPECT_EQ((std::vector<std::string>{"a.txt", "new.txt"}), List());
  ExpectPeersRead(Path("arc.tar"), {{"a.txt", "alpha"}, {"new.txt", "new"}});
}

TEST_F(UpdateTest, FailuresLeaveTheArchiveAsItWas) {
  const std::string old = TarArchive({{"a.txt", "alpha"}, {"docs/b.txt", "bravo"}});
  Source("new.txt", "new");
  Source("big.bin", Pattern(300000, 2));  // mostly unread when it shrinks
  struct Row {
    int line;
    std::vector<std::string> items;
    std::vector<int> replaceAnswers;
    std::vector<int> progressAnswers;
    int64_t cutTo;
    uint16_t status;
    bool asked;
  } rows[] = {
      {__LINE__, {"new.txt", "missing.txt"}, {}, {}, -1, StatusFileError, false},
      // A member whose file is gone is dropped unasked; the add then fails.
      {__LINE__, {"docs\\b.txt"}, {}, {}, -1, StatusFileError, false},
      {__LINE__, {"new.txt", "a.txt"}, {2}, {}, -1, StatusUserAbort, true},
      {__LINE__, {"new.txt", "big.bin"}, {}, {1, 1, 0}, -1, StatusUserAbort, false},
      {__LINE__, {"new.txt", "big.bin"}, {}, {}, 70000, StatusFileError, false},
      {__LINE__, {}, {}, {}, -1, StatusEmptyRequest, false},
  };
  Source("a.txt", "a on disk");
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    WriteFile(Path("root/big.bin"), Pattern(300000, 2));
    ExistingArchive("arc.tar", old);
    Settings(1, "", Root());
    const std::vector<std::string> before = ListTree(dir);
    Recorder::replaceAnswers = row.replaceAnswers;
    Recorder::progressAnswers = row.progressAnswers;
    if (row.cutTo >= 0) {
      gChange = {Path("root/big.bin"), row.cutTo, 0, false};
      m.SetSetProgressProc(0, ChangeSourceOnProgress);
    }
    EXPECT_EQ(row.status, Compress(row.items));
    EXPECT_TRUE(ReadFile(Path("arc.tar")) == old);
    EXPECT_EQ(before, ListTree(dir));
    EXPECT_EQ(row.asked, std::any_of(Recorder::events.begin(), Recorder::events.end(),
                                     [](const std::string& e) { return e.rfind("replace", 0) == 0; }));
  }
}

TEST_F(UpdateTest, DamagedArchivesAreNotRebuilt) {
  Source("new.txt", "new");
  for (const DamageCase& c : DamageCases()) {
    SCOPED_TRACE(std::string(c.label) + ", line " + std::to_string(c.line));
    ExistingArchive("arc.tar", c.bytes);
    Settings(1, "", Root());
    if (c.damaged) {
      EXPECT_EQ(StatusFileError, Compress({"new.txt"}));
      EXPECT_TRUE(ReadFile(Path("arc.tar")) == c.bytes);
      EXPECT_TRUE(Recorder::events.empty());
    } else {
      EXPECT_EQ(StatusOk, Compress({"new.txt"}));
      EXPECT_EQ((std::vector<std::string>{"a.txt", "b.txt", "new.txt"}), List());
      ExpectPeersRead(Path("arc.tar"), {{"a.txt", "alpha"}, {"b.txt", "bravo"}, {"new.txt", "new"}});
    }
    EXPECT_TRUE(TempFilesIn(dir).empty());
  }
}

// Many members and items, repeated names and keys, and alternating answers:
// the result must be what a walk through both lists in order gives.
TEST_F(UpdateTest, LookupsAnswerAsListOrderDoes) {
  std::vector<TarItem> members;
  for (int i = 0; i < 150; i++) {
    char name[16];
    snprintf(name, sizeof name, "f%03d.txt", i);
    members.push_back({name, "old " + std::to_string(i)});
    if (i == 40 || i == 90) members.push_back({"dup.txt", "dup " + std::to_string(i)});
  }
  std::vector<std::string> items;
  for (int i = 0; i < 150; i += 3) {
    char name[16];
    snprintf(name, sizeof name, i % 2 ? "F%03d.TXT" : "f%03d.txt", i);
    items.push_back(name);
  }
  items.push_back("f003.txt");  // a second item with the key of an earlier one
  items.push_back("dup.txt");
  for (int i = 0; i < 10; i++) items.push_back("new" + std::to_string(i) + ".txt");
  for (const std::string& item : items) Source(item, "disk " + item);

  auto upper = [](std::string s) {
    for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
  };
  std::vector<std::string> expected;
  std::vector<std::string> asked;
  std::vector<std::string> keptKeys;
  std::vector<int> answers;
  for (const TarItem& member : members) {
    bool corresponds = std::any_of(items.begin(), items.end(), [&](const std::string& item) {
      return upper(item) == upper(member.name);
    });
    if (!corresponds) {
      expected.push_back(member.name);
      continue;
    }
    int answer = asked.size() % 2 == 0 ? 1 : 0;
    asked.push_back("replace 44 " + member.name);
    answers.push_back(answer);
    if (answer == 1) {
      expected.push_back(member.name);
      keptKeys.push_back(upper(member.name));
    }
  }
  for (const std::string& item : items) {
    if (std::find(keptKeys.begin(), keptKeys.end(), upper(item)) == keptKeys.end()) {
      expected.push_back(item);
    }
  }

  ExistingArchive("arc.tar", TarArchive(members));
  m.SetSetFileNameProc(0, nullptr);
  m.SetSetProgressProc(0, nullptr);
  Settings(1, "", Root());
  Recorder::replaceAnswers = answers;
  ASSERT_EQ(StatusOk, Compress(items));
  EXPECT_EQ(asked, Recorder::events);
  EXPECT_EQ(expected, List());
}
