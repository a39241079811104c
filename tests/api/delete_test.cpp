// Deleting members: the archive is written again without them, with fresh
// padding and no end-of-archive marker, and removed when nothing is left.
#include <algorithm>

#include "archives.h"
#include "fixture.h"

class DeleteTest : public ModuleTest {
 protected:
  void Archive(const std::string& bytes) {
    OpenBytes("arc.tar", bytes);
    Recorder::Reset();
    RegisterRecorder(false);
  }

  uint16_t Delete(const std::vector<std::string>& masks) {
    FileMaskList* list = MaskList(masks);
    m.DeleteFileMaskListArc(list);
    return m.GetArchiveStatus();
  }

  std::string Bytes() { return ReadFile(Path("arc.tar")); }
};

TEST_F(DeleteTest, OneOfThree) {
  const TarItem a{"a.txt", Pattern(100, 1)};
  const TarItem b{"docs/b.txt", "bravo"};
  const TarItem c{"c.txt", Pattern(700, 2)};
  Archive(TarArchive({a, b, c}));
  ASSERT_EQ(StatusOk, Delete({"docs\\b.txt"}));
  EXPECT_EQ((std::vector<std::string>{
                "signal 11 3 0 3",
                "progress 33 100 1",
                "name 22 \\docs\\b.txt | \\docs\\b.txt",
                "progress 33 100 1",
            }),
            Recorder::events);
  EXPECT_TRUE(Bytes() == TarArchive({a, c}, false));  // no end-of-archive marker
  EXPECT_TRUE(TempFilesIn(dir).empty());
  ExpectPeersRead(Path("arc.tar"), {{"a.txt", a.data}, {"c.txt", c.data}});
}

TEST_F(DeleteTest, MasksThatSelectNothingChangeNothing) {
  struct Row {
    int line;
    std::string bytes;
    std::vector<std::string> masks;
  } rows[] = {
      {__LINE__, TarArchive({{"a.txt", "alpha"}, {"b.txt", "bravo"}}), {"c.txt", "docs\\*"}},
      {__LINE__, TarArchive({{"docs/a.txt", "alpha"}}), {"a.txt"}},
      // Nothing listed at all: a folder only.
      {__LINE__, TarArchive({{"dir/", "", '5'}}), {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    Archive(row.bytes);
    const std::vector<std::string> before = ListTree(dir);
    EXPECT_EQ(StatusNoEntries, Delete(row.masks));
    EXPECT_TRUE(Bytes() == row.bytes);
    EXPECT_EQ(before, ListTree(dir));
    EXPECT_TRUE(Recorder::events.empty()) << ::testing::PrintToString(Recorder::events);
  }
}

TEST_F(DeleteTest, DeletingEveryMember) {
  const std::string members = TarArchive({{"a.txt", "alpha"}, {"a.txt", "again"}, {"b.txt", ""}});
  const std::string dirEntry = TarArchive({{"dir/", "", '5', 0755}}, false);
  struct Row {
    int line;
    std::string bytes;
    std::vector<std::string> masks;
    std::string left;  // "" when no archive remains
  } rows[] = {
      {__LINE__, members, {"*.*"}, ""},
      {__LINE__, members, {}, ""},  // an empty list selects every member
      {__LINE__, members, {"b.txt", "a.txt"}, ""},
      // What the scanner does not list stays, and then the archive stays.
      {__LINE__, dirEntry + members, {"*.*"}, dirEntry},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    Archive(row.bytes);
    EXPECT_EQ(StatusOk, Delete(row.masks));
    EXPECT_EQ((std::vector<std::string>{
                  "signal 11 3 0 3",
                  "name 22 \\a.txt | \\a.txt",
                  "name 22 \\a.txt | \\a.txt",
                  "name 22 \\b.txt | \\b.txt",
              }),
              Recorder::events);
    EXPECT_TRUE(TempFilesIn(dir).empty());
    if (row.left.empty()) {
      EXPECT_FALSE(PathExists(Path("arc.tar")));
    } else {
      EXPECT_TRUE(Bytes() == row.left);
      EXPECT_TRUE(List().empty());
      EXPECT_EQ(1u, PeerListing("tar", Path("arc.tar")).size());
    }
  }
}

TEST_F(DeleteTest, TwoMembersOfTheSameName) {
  const TarItem a{"a.txt", "alpha"};
  const TarItem b{"b.txt", "bravo"};
  Archive(TarArchive({{"dup.txt", "one"}, a, {"DUP.TXT", "two"}, b, {"dup.txt", "three"}}));
  ASSERT_EQ(StatusOk, Delete({"dup.txt"}));
  EXPECT_TRUE(Bytes() == TarArchive({a, b}, false));
  EXPECT_EQ(3, std::count_if(Recorder::events.begin(), Recorder::events.end(),
                             [](const std::string& e) { return e.rfind("name", 0) == 0; }));
  ExpectPeersRead(Path("arc.tar"), {{"a.txt", "alpha"}, {"b.txt", "bravo"}});
}

TEST_F(DeleteTest, CarriedMembersGetFreshPadding) {
  const std::vector<TarItem> kept = {
      {"s0.bin", ""}, {"s1.bin", "1"}, {"s512.bin", Pattern(512, 3)}, {"s1000.bin", Pattern(1000, 4)},
      {"s70003.bin", Pattern(70003, 6)}};
  std::vector<TarItem> all = kept;
  all.insert(all.begin() + 2, {"gone.bin", Pattern(10, 5)});
  std::string bytes;
  for (const TarItem& item : all) {
    bytes += TarHeader(item) + item.data;
    bytes.append((512 - item.data.size() % 512) % 512, '\xAA');
  }
  bytes += std::string(1024, '\0');
  Archive(bytes);
  ASSERT_EQ(StatusOk, Delete({"gone.bin"}));
  EXPECT_TRUE(Bytes() == TarArchive(kept, false));
  std::vector<PeerFile> files;
  for (const TarItem& item : kept) files.push_back({item.name, item.data});
  ExpectPeersRead(Path("arc.tar"), files);
}

TEST_F(DeleteTest, StopsWhenTheHostAsks) {
  const std::string old = TarArchive({{"a.txt", "alpha"}, {"b.txt", "bravo"}, {"c.txt", "charlie"}});
  Archive(old);
  Recorder::progressAnswers = {0};
  EXPECT_EQ(StatusUserAbort, Delete({"b.txt"}));
  EXPECT_EQ((std::vector<std::string>{"signal 11 3 0 3", "progress 33 100 1"}), Recorder::events);
  EXPECT_TRUE(Bytes() == old);
  EXPECT_TRUE(TempFilesIn(dir).empty());
}

TEST_F(DeleteTest, MissingArchive) {
  Archive(TarArchive({{"a.txt", "alpha"}}));
  std::filesystem::remove(Path("arc.tar"));
  EXPECT_EQ(StatusFileError, Delete({"a.txt"}));
  EXPECT_TRUE(ListTree(dir).empty());

  OpenArchive("never.tar");
  ASSERT_EQ(StatusArchiveNotFound, m.GetArchiveStatus());
  EXPECT_EQ(StatusFileError, Delete({"a.txt"}));
  EXPECT_TRUE(ListTree(dir).empty());
}

TEST_F(DeleteTest, UnlistedEntriesStayAndTravelWithTheirMembers) {
  const std::string longName = std::string(120, 'n') + ".txt";
  const std::vector<TarItem> items = EntriesOfEveryKind("alpha", "charlie");
  auto without = [&](std::initializer_list<size_t> drop) {
    std::vector<TarItem> kept;
    for (size_t i = 0; i < items.size(); i++) {
      if (std::find(drop.begin(), drop.end(), i) == drop.end()) kept.push_back(items[i]);
    }
    return TarArchive(kept, false);
  };
  struct Row {
    int line;
    std::vector<std::string> masks;
    std::string result;
    std::vector<std::string> listed;
    std::vector<std::string> events;
    size_t peerIndex;  // of the deleted entry in what GNU tar lists
  } rows[] = {
      {__LINE__, {"b.txt"}, without({5, 6}), {"a.txt", longName, "link", "c.txt"},
       {"signal 11 5 0 3", "progress 33 100 1", "progress 33 100 1", "progress 33 100 1",
        "name 22 \\b.txt | \\b.txt", "progress 33 100 1"}, 4},
      {__LINE__, {"n*.txt"}, without({2, 3}), {"a.txt", "link", "b.txt", "c.txt"},
       {"signal 11 5 0 3", "progress 33 100 1", "name 22 \\" + longName + " | \\" + longName,
        "progress 33 100 1", "progress 33 100 1", "progress 33 100 1"}, 2},
  };
  WriteFile(Path("old.tar"), TarArchive(items));
  const std::vector<std::string> before = PeerNames("tar", Path("old.tar"));
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    Archive(TarArchive(items));
    ASSERT_EQ(StatusOk, Delete(row.masks));
    EXPECT_TRUE(Bytes() == row.result);
    EXPECT_EQ(row.events, Recorder::events);
    EXPECT_EQ(row.listed, List());
    std::vector<std::string> names = before;
    names.erase(names.begin() + row.peerIndex);
    EXPECT_EQ(names, PeerNames("tar", Path("arc.tar")));
  }
}

TEST_F(DeleteTest, GnuTarArchivesListTheSameLessTheDeleted) {
  ASSERT_TRUE(PeersAvailable());
  const std::string longName = "dir/" + std::string(110, 'n') + ".txt";
  // In the pax form every entry comes after an extended header of its own.
  for (const char* format : {"gnu", "pax"}) {
    SCOPED_TRACE(format);
    // Links are made and removed by the shell, outside the test's folder.
    std::string out;
    ASSERT_EQ(0, RunCommand("t=$(mktemp -d) && cd $t && mkdir dir && echo f > dir/f.txt && "
                            "echo long > " + longName + " && echo g > g.txt && "
                            "ln -s dir/f.txt link && ln g.txt hard && ln g.txt hard2 && tar --format=" +
                            format + " --no-recursion -cf '" + UnixPath(Path("arc.tar")) +
                            "' dir dir/f.txt " + longName + " link g.txt hard hard2; "
                            "rc=$?; cd / && rm -rf $t; exit $rc", &out)) << out;
    std::vector<std::string> before = PeerListing("tar", Path("arc.tar"));
    ASSERT_EQ(7u, before.size());
    OpenArchive("arc.tar");
    ASSERT_EQ(StatusOk, Delete({"dir\\f.txt"}));
    before.erase(before.begin() + 1);
    EXPECT_EQ(before, PeerListing("tar", Path("arc.tar")));
    // The long name must not pass to the link that follows its member.
    ASSERT_EQ(StatusOk, Delete({"dir\\n*.txt"}));
    before.erase(before.begin() + 1);
    EXPECT_EQ(before, PeerListing("tar", Path("arc.tar")));
    EXPECT_EQ(before.size(), PeerListing("bsdtar", Path("arc.tar")).size());
    EXPECT_EQ((std::vector<std::string>{"link", "g.txt", "hard", "hard2"}), List());
    // Hard links outlive the member they name: the first takes its place
    // and data, the second names the first.
    ASSERT_EQ(StatusOk, Delete({"g.txt"}));
    EXPECT_EQ((std::vector<std::string>{"link", "hard", "hard2"}), List());
    std::string peer = PeerExtract("tar", Path("arc.tar"));
    EXPECT_EQ("g\n", ReadFile(peer + "/hard"));
    EXPECT_EQ("g\n", ReadFile(peer + "/hard2"));
    RemoveTree(peer);
  }
}

TEST_F(DeleteTest, DamagedArchivesAreNotRebuilt) {
  for (const DamageCase& c : DamageCases()) {
    SCOPED_TRACE(std::string(c.label) + ", line " + std::to_string(c.line));
    Archive(c.bytes);
    if (c.damaged) {
      EXPECT_EQ(StatusFileError, Delete({"a.txt"}));
      EXPECT_TRUE(Bytes() == c.bytes);
      EXPECT_TRUE(Recorder::events.empty());
    } else {
      EXPECT_EQ(StatusOk, Delete({"a.txt"}));
      EXPECT_TRUE(Bytes() == TarArchive({{"b.txt", "bravo"}}, false));
    }
    EXPECT_TRUE(TempFilesIn(dir).empty());
  }
}
