// What the module reads beyond the basic header and writes beside it: whole
// names from extension entries and UTF-8, sizes and times of any width,
// sparse members, and damaged archives.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "archives.h"
#include "fixture.h"

namespace {

// A pax record, its length counting its own digits.
std::string Record(const std::string& key, const std::string& value) {
  size_t rest = key.size() + value.size() + 3;
  size_t total = rest + std::to_string(rest).size();
  if (std::to_string(total).size() != std::to_string(rest).size()) total++;
  return std::to_string(total) + " " + key + "=" + value + "\n";
}

TarItem Pax(const std::string& records) { return {"././@PaxHeader", records, 'x'}; }
TarItem LongName(const std::string& name) {
  return {"././@LongLink", name + std::string(1, '\0'), 'L'};
}

// An old GNU sparse member: header slots (up to four regions), its data and
// the real size; more regions go into extension blocks.
std::string OldGnuSparse(const std::string& name, const std::vector<std::pair<int64_t, int64_t>>& map,
                         int64_t realSize, const std::string& data) {
  auto number = [](int64_t v) {
    char field[13];
    snprintf(field, sizeof field, "%011llo", static_cast<long long>(v));
    return std::string(field, 12);
  };
  TarItem item{name, data, 'S'};
  std::string out = TarHeader(item);
  std::vector<std::string> blocks;
  for (size_t i = 0; i < map.size(); i++) {
    std::string slot = number(map[i].first) + number(map[i].second);
    if (i < 4) {
      out.replace(386 + 24 * i, 24, slot);
    } else {
      size_t k = (i - 4) / 21;
      if (k == blocks.size()) blocks.push_back(std::string(512, '\0'));
      blocks[k].replace(24 * ((i - 4) % 21), 24, slot);
    }
  }
  if (!blocks.empty()) out[482] = 1;
  for (size_t k = 0; k + 1 < blocks.size(); k++) blocks[k][504] = 1;
  out.replace(483, 12, number(realSize));
  FixChecksum(&out, 0);
  for (const std::string& b : blocks) out += b;
  out += data + std::string((512 - data.size() % 512) % 512, '\0');
  return out;
}

class FormatsTest : public ModuleTest {
 protected:
  void Open(const std::string& bytes) {
    OpenBytes("a.tar", bytes);
    Recorder::Reset();
    RegisterRecorder(true);
  }

  // The listing as (name, first size, second size), and its status.
  struct Listed {
    std::string name;
    int64_t size;
    int64_t stored;
    bool operator==(const Listed& o) const {
      return name == o.name && size == o.size && stored == o.stored;
    }
  };
  std::vector<Listed> Listing(uint16_t* status, ArchiveInfo* info = nullptr) {
    FileMaskList masks = Masks({});
    ArcFileList files;
    m.InitArcFileList(&files);
    m.BuildArcFileList(&files, &masks);
    *status = m.GetArchiveStatus();
    if (info != nullptr) m.GetExtraInfoArc(info);
    std::vector<Listed> out;
    for (ArcFileEntry* e = files.head; e != nullptr; e = e->next) {
      out.push_back({e->name, e->size, e->packedSize});
    }
    m.DoneArcFileList(&files);
    return out;
  }

  // Extracts everything below `out`, with whole paths.
  uint16_t ExtractTo(const std::string& out) {
    m.SetDecompExtraFeatures(DecompSettings(2, "", Mod(out)).data());
    FileMaskList masks = Masks({});
    m.ExtractFileMaskListArc(&masks);
    return m.GetArchiveStatus();
  }

};

}  // namespace

// Where a member's name comes from, and how it is read: a pax path before a
// long name before the POSIX prefix before the name field; UTF-8 where it is
// UTF-8 with an ANSI form, the OEM code page otherwise.
TEST_F(FormatsTest, NamesFromEveryPlace) {
  CLASSIC_CODE_PAGE_ONLY();
  std::string ustar = TarHeader({"name.txt", "p"});
  ustar.replace(257, 8, std::string("ustar\0" "00", 8));
  ustar.replace(345, 6, "prefix");
  FixChecksum(&ustar, 0);
  std::string oldGnu = TarHeader({"kept.txt", "g"});
  oldGnu.replace(345, 6, "atimes");  // old GNU: no prefix there
  FixChecksum(&oldGnu, 0);
  const std::string hundred(100, 'h');
  struct Row {
    int line;
    std::string archive;
    std::string listed;  // as the host gets it, in the ANSI code page
    uint16_t status = StatusOk;
  } rows[] = {
      {__LINE__, TarArchive({Pax(Record("path", "caf\xC3\xA9.txt")), {"cafe.txt", "x"}}),
       "caf\xE9.txt"},
      {__LINE__,
       TarArchive({LongName("long/" + std::string(120, 'l')), Pax(Record("path", "pax.txt")),
                   {"short", "x"}}),
       "pax.txt"},
      {__LINE__, TarArchive({LongName("long/" + std::string(120, 'l')), {"short", "x"}}),
       "long\\" + std::string(120, 'l')},
      {__LINE__, ustar + std::string("p") + std::string(511, '\0'), "prefix\\name.txt"},
      {__LINE__, oldGnu + std::string("g") + std::string(511, '\0'), "kept.txt"},
      {__LINE__, TarArchive({{hundred, "x"}}), hundred},  // a full field has no NUL
      // UTF-8 in the name field: read as UTF-8 when every character has an
      // ANSI form; OEM names that happen to be UTF-8 (cp866 "рад", cp850
      // "ãé") decode to characters without one and stay OEM.
      {__LINE__, TarArchive({{"\xC5\xA0" "est.txt", "x"}}), "\x8A" "est.txt"},
      {__LINE__, TarArchive({{"\xE0\xA0\xA4.txt", "x"}}), "a\xE1\xF1.txt"},
      {__LINE__, TarArchive({{"\xC6\x82.txt", "x"}}), "\xA6\xE9.txt"},
      {__LINE__, TarArchive({{"Gr\x81\xE1" "e.txt", "x"}}), "Gr\xFC\xDF" "e.txt"},  // OEM
      // UTF-8 of the scripts people write names in is UTF-8 even where a
      // character has no ANSI form: that one lists as "_", and the name is
      // never written under an OEM reading of its bytes.
      {__LINE__, TarArchive({{"F\xC5\x91tan\xC3\xBAs\xC3\xADtv\xC3\xA1ny.crt", "x"}}),
       "F_tan\xFAs\xEDtv\xE1ny.crt"},
      {__LINE__, TarArchive({{"\xE6\x97\xA5\xE6\x9C\xAC/\xE3\x83\x95.txt", "x"}}), "__\\_.txt"},
      // Bounded reading: a pax header of 1 MiB of other records before the
      // path; a record whose length runs past the header's data.
      {__LINE__,
       TarArchive({Pax(Record("comment", std::string(1 << 20, 'c')) + Record("path", "after.txt")),
                   {"x", "x"}}),
       "after.txt"},
      {__LINE__, TarArchive({Pax("99 path=over.txt\n"), {"field.txt", "x"}}), "field.txt",
       StatusFileError},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    Open(row.archive);
    uint16_t status;
    std::vector<Listed> got = Listing(&status);
    EXPECT_EQ(row.status, status);
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(row.listed, got[0].name);
  }
}

// Names that cannot be written as they are (no ANSI form, longer than 255
// characters, or cut by the bound on extension entries) are listed with
// "_" and cut, and never written: no file, no SetFileNameProc, and the
// extraction ends with StatusFileError after the others.
TEST_F(FormatsTest, NamesThatCannotBeWrittenAreRefused) {
  CLASSIC_CODE_PAGE_ONLY();
  const std::string longest(300, 'n');
  Open(TarArchive({Pax(Record("path", "\xCE\xA9.txt")), {"omega.txt", "1"},
                   Pax(Record("path", longest)), {"long1", "2"},
                   LongName(std::string(1 << 20, 'm')), {"long2", "3"},
                   {"ok.txt", "4"}}));
  uint16_t status;
  std::vector<Listed> got = Listing(&status);
  ASSERT_EQ(4u, got.size());
  EXPECT_EQ("_.txt", got[0].name);
  EXPECT_EQ(std::string(255, 'n'), got[1].name);
  EXPECT_EQ(std::string(255, 'm'), got[2].name);
  EXPECT_EQ(StatusFileError, ExtractTo("out"));
  EXPECT_EQ((std::vector<std::string>{"ok.txt"}), ListTree(Path("out")));
  ASSERT_EQ(1u, NameEvents().size());
  EXPECT_NE(std::string::npos, NameEvents()[0].find("\\ok.txt"));
}

// pax size and mtime records stand for the fields of the header after them.
TEST_F(FormatsTest, PaxSizeAndTime) {
  std::string data = Pattern(700);
  TarItem member{"m.txt", data};
  member.size = 5;  // the pax size holds
  Open(TarArchive({Pax(Record("size", "700") + Record("mtime", "-144720000.75")), member,
                   {"after.txt", "a"}}));
  uint16_t status;
  std::vector<Listed> got = Listing(&status);
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ(700, got[0].size);
  EXPECT_EQ(StatusOk, ExtractTo("out"));
  EXPECT_TRUE(ReadFile(Path("out/m.txt")) == data);
  EXPECT_EQ(-144720001, FileMtime(Path("out/m.txt")));  // rounded down
  EXPECT_EQ("a", ReadFile(Path("out/after.txt")));
}

// A pax record is framed by its length, its value read up to 4 KiB whole;
// a record whose value is none for its key is passed over, the records
// after it still hold, and listing and extraction say so once done.
TEST_F(FormatsTest, PaxRecordsFramedAndChecked) {
  const std::string data = TarHeader({"hidden.txt", "x"}) + Pattern(600);
  TarItem member{"header.txt", data};
  struct Row {
    int line;
    std::string records;
    const char* listed;  // the first member's name
    bool bad;
  } rows[] = {
      {__LINE__, Record("mtime", "1." + std::string(60, '5')) + Record("path", "p.txt"), "p.txt",
       false},
      {__LINE__, Record("path", std::string(3000, 'q')).replace(0, 4, "3002"),
       "header.txt", true},  // its length is 2 short of its text
      {__LINE__, Record("size", "+3") + Record("path", "p.txt"), "p.txt", true},
      {__LINE__, Record("mtime", ".5") + Record("path", "p.txt"), "p.txt", true},
      {__LINE__, Record("size", "0000" + std::to_string(data.size())), "header.txt", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    Open(TarArchive({Pax(row.records), member, {"after.txt", "a"}}));
    uint16_t status;
    std::vector<Listed> got = Listing(&status);
    ASSERT_EQ(2u, got.size());  // never the member hidden in the data
    EXPECT_EQ(row.listed, got[0].name);
    EXPECT_EQ("after.txt", got[1].name);
    EXPECT_EQ(row.bad ? StatusFileError : StatusOk, status);
    EXPECT_EQ(row.bad ? StatusFileError : StatusOk, ExtractTo("out"));
    EXPECT_EQ("a", ReadFile(Path("out/after.txt")));
    RemoveTree(Path("out"));
  }
}

// Sparse members as GNU tar writes them, in every form: listed at their
// real size with the stored size second, extracted identical to their
// source, and carried byte for byte by deletions and updates.
TEST_F(FormatsTest, SparseMembersOfGnuTar) {
  ASSERT_TRUE(PeersAvailable());
  const std::string src = Path("src");
  const std::string image = Join(src, "s.img");
  WriteFile(Join(src, "b.txt"), "bravo");
  WriteFile(Join(src, "n.txt"), "new");
  {
    // Written at offsets and made longer: the file system leaves holes.
    std::fstream f(image, std::ios::out | std::ios::binary);
    const std::pair<size_t, std::string> regions[] = {
        {0, Pattern(400, 1)}, {700000, Pattern(5000, 2)}, {2000000, Pattern(70000, 3)},
        {4000000, "tail"}};
    for (const auto& r : regions) {
      f.seekp(static_cast<std::streamoff>(r.first));
      f.write(r.second.data(), static_cast<std::streamsize>(r.second.size()));
    }
  }
  std::filesystem::resize_file(image, 5 << 20);
  const std::string source = ReadFile(image);
  for (const char* options : {"--format=gnu", "--format=pax --sparse-version=0.0",
                              "--format=pax --sparse-version=0.1",
                              "--format=pax --sparse-version=1.0"}) {
    SCOPED_TRACE(options);
    std::string out;
    ASSERT_EQ(0, RunCommand("cd '" + UnixPath(src) + "' && tar " + options + " -S -cf '" +
                            UnixPath(Path("a.tar")) + "' s.img b.txt", &out))
        << out;
    const std::string old = ReadFile(Path("a.tar"));
    OpenArchive("a.tar");
    uint16_t status;
    std::vector<Listed> got = Listing(&status);
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ("s.img", got[0].name);
    EXPECT_EQ(5 << 20, got[0].size);
    EXPECT_TRUE(got[0].stored >= 75404 && got[0].stored < (1 << 20)) << got[0].stored;
    EXPECT_EQ((Listed{"b.txt", 5, 5}), got[1]);
    EXPECT_EQ(StatusOk, ExtractTo("out"));
    EXPECT_TRUE(ReadFile(Path("out/s.img")) == source);
    RemoveTree(Path("out"));

    // A deletion leaves the sparse member as it was stored; so does an
    // update, before the member it adds.
    WriteFile(Path("d.tar"), old);
    OpenArchive("d.tar");
    FileMaskList b = Masks({"b.txt"});
    m.DeleteFileMaskListArc(&b);
    ASSERT_EQ(StatusOk, m.GetArchiveStatus());
    const std::string deleted = ReadFile(Path("d.tar"));
    EXPECT_TRUE(old.compare(0, deleted.size(), deleted) == 0);
    WriteFile(Path("u.tar"), old);
    OpenArchive("u.tar");
    m.SetCompExtraFeatures(CompSettings(1, "", Mod("src")).data());
    m.CompressFileMaskListArc(MaskList({"n.txt"}));
    ASSERT_EQ(StatusOk, m.GetArchiveStatus());
    size_t entries = (old.find_last_not_of('\0') / 512 + 1) * 512;
    EXPECT_TRUE(ReadFile(Path("u.tar")).compare(0, entries, old, 0, entries) == 0);
    for (const char* rebuilt : {"d.tar", "u.tar"}) {
      std::string into = PeerExtract("tar", Path(rebuilt));
      EXPECT_TRUE(ReadFile(Join(into, "s.img")) == source) << rebuilt;
      RemoveTree(into);
    }
  }
}

// Sparse maps the module does not take: out of order, past the real size,
// taking more data than is stored, or a real size that is none; the
// members before them are listed, with StatusFileError. A sparse form the
// module does not read is listed but never written.
TEST_F(FormatsTest, SparseMapsThatAreDamage) {
  const std::string data = Pattern(1000);
  struct Row {
    int line;
    std::vector<std::pair<int64_t, int64_t>> map;
    int64_t realSize;
    bool damaged;
  } rows[] = {
      {__LINE__, {{0, 500}, {4096, 500}, {10000, 0}}, 10000, false},
      {__LINE__, {{0, 100}, {200, 100}, {400, 100}, {600, 100}, {800, 100}, {1000, 100},
                  {1200, 100}, {1400, 100}, {1600, 100}, {1800, 100}},
       2000, false},  // into an extension block
      {__LINE__, {{4096, 500}, {0, 500}}, 10000, true},   // out of order
      {__LINE__, {{0, 500}, {400, 500}}, 10000, true},    // overlapping
      {__LINE__, {{0, 500}, {9800, 500}}, 10000, true},   // past the real size
      {__LINE__, {{0, 800}, {4096, 800}}, 10000, true},   // more data than stored
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    Open(TarArchive({{"a.txt", "alpha"}}, false) + OldGnuSparse("s.img", row.map, row.realSize, data) +
         TarArchive({{"c.txt", "charlie"}}));
    uint16_t status;
    std::vector<Listed> got = Listing(&status);
    if (row.damaged) {
      EXPECT_EQ(StatusFileError, status);
      EXPECT_EQ(1u, got.size());
      continue;
    }
    EXPECT_EQ(StatusOk, status);
    ASSERT_EQ(3u, got.size());
    EXPECT_EQ((Listed{"s.img", row.realSize, 1000}), got[1]);
    ASSERT_EQ(StatusOk, ExtractTo("out"));
    std::string want(static_cast<size_t>(row.realSize), '\0');
    size_t used = 0;
    for (const auto& region : row.map) {
      want.replace(static_cast<size_t>(region.first), static_cast<size_t>(region.second),
                   data.substr(used, static_cast<size_t>(region.second)));
      used += static_cast<size_t>(region.second);
    }
    EXPECT_TRUE(ReadFile(Path("out/s.img")) == want);
    EXPECT_EQ("charlie", ReadFile(Path("out/c.txt")));
    RemoveTree(Path("out"));
  }

  // A sparse form of a version the module does not read.
  Open(TarArchive({Pax(Record("GNU.sparse.major", "2") + Record("GNU.sparse.minor", "0") +
                       Record("GNU.sparse.name", "future.img")),
                   {"GNUSparseFile.0/future.img", data}, {"c.txt", "charlie"}}));
  uint16_t status;
  std::vector<Listed> got = Listing(&status);
  EXPECT_EQ(StatusOk, status);
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ("future.img", got[0].name);
  EXPECT_EQ(StatusFileError, ExtractTo("out"));
  EXPECT_EQ((std::vector<std::string>{"c.txt"}), ListTree(Path("out")));
}

// A damaged archive: what comes before the damage is extracted, and the
// host learns that the rest is lost.
TEST_F(FormatsTest, DamageInTheMiddle) {
  std::string archive = TarArchive({{"a.txt", "alpha"}, {"b.txt", "bravo"}, {"c.txt", "charlie"}});
  archive[1024 + 10] ^= 1;  // b.txt's header no longer sums
  Open(archive);
  EXPECT_EQ(StatusFileError, ExtractTo("out"));
  EXPECT_EQ((std::vector<std::string>{"a.txt"}), ListTree(Path("out")));
  // Bytes after zero blocks that are no header lie outside the archive.
  Open(TarArchive({{"a.txt", "alpha"}}) + std::string(512, 'z'));
  EXPECT_EQ(StatusOk, ExtractTo("out2"));
}

// Files dated before 1970 and after 2038 keep their dates through an add
// (GNU tar reads them) and an extraction.
TEST_F(FormatsTest, TimesBefore1970AndAfter2038) {
  ASSERT_TRUE(PeersAvailable());
  const int64_t k1965 = -144720000, k2045 = 2379888000;  // both June 1st, 00:00 UTC
  WriteFile(Path("src/old.txt"), "old");
  WriteFile(Path("src/new.txt"), "new");
  ASSERT_TRUE(SetMtime(Path("src/old.txt"), k1965));
  ASSERT_TRUE(SetMtime(Path("src/new.txt"), k2045));
  m.CreateArcFile(Mod("t.tar").c_str());
  m.SetCompExtraFeatures(CompSettings(1, "", Mod("src")).data());
  m.CompressFileMaskListArc(MaskList({"old.txt", "new.txt"}));
  ASSERT_EQ(StatusOk, m.GetArchiveStatus());
  std::vector<std::string> lines = PeerListing("tar", Path("t.tar"));
  ASSERT_EQ(2u, lines.size());
  EXPECT_NE(std::string::npos, lines[0].find("1965-06-01 00:00 old.txt")) << lines[0];
  EXPECT_NE(std::string::npos, lines[1].find("2045-06-01 00:00 new.txt")) << lines[1];
  OpenArchive("t.tar");
  EXPECT_EQ(StatusOk, ExtractTo("out"));
  EXPECT_EQ(k1965, FileMtime(Path("out/old.txt")));
  EXPECT_EQ(k2045, FileMtime(Path("out/new.txt")));
}

// A member of 2.5 GiB, its data a hole of the archive file: every figure the
// host gets is the true one, and the member after it is found.
TEST_F(FormatsTest, MemberPastTwoGiB) {
  const int64_t kBig = int64_t{5} << 29;
  {
    std::fstream f(Path("big.tar"), std::ios::out | std::ios::binary);
    TarItem big{"big.bin", ""};
    big.size = kBig;
    f << TarHeader(big);
    f.seekp(static_cast<std::streamoff>(512 + kBig));
    f << TarArchive({{"next.txt", "next"}});
  }
  OpenArchive("big.tar");
  uint16_t status;
  ArchiveInfo info;
  std::vector<Listed> got = Listing(&status, &info);
  EXPECT_EQ(StatusOk, status);
  EXPECT_EQ((std::vector<Listed>{{"big.bin", kBig, kBig}, {"next.txt", 4, 4}}), got);
  EXPECT_EQ(kBig + 4, info.sizeTotal);
  EXPECT_EQ(kBig + 4, info.packedTotal);
  EXPECT_EQ(100, info.ratio);
  RegisterRecorder(true);
  ASSERT_EQ(StatusOk, ExtractTo("out"));
  EXPECT_EQ(kBig, static_cast<int64_t>(std::filesystem::file_size(Path("out/big.bin"))));
  EXPECT_EQ("next", ReadFile(Path("out/next.txt")));
  std::filesystem::remove(Path("out/big.bin"));
  // Signal total, then a report per 64 KiB whose percentages halve both
  // figures past 20 MiB, as they always have, in 64 bits.
  ASSERT_GT(Recorder::events.size(), 40963u);
  EXPECT_EQ("signal 11 " + std::to_string(static_cast<int32_t>(kBig + 4)) + " 0 2",
            Recorder::events[0]);
  EXPECT_EQ("progress 33 0 65536", Recorder::events[2]);
  EXPECT_EQ("progress 33 40 65536", Recorder::events[2 + 16383]);  // 1 GiB of 2.5
  EXPECT_EQ("progress 33 100 65536", Recorder::events[2 + 40959]);
  EXPECT_EQ("progress 33 100 0", Recorder::events[2 + 40960]);
}

// Two names that agree in their first 99 bytes stay two members: each goes
// to its own file, and the peers read them whole.
TEST_F(FormatsTest, LongNamesAreWrittenWhole) {
  const std::string stem = std::string(95, 's') + "/";
  const std::string one = stem + std::string(60, 'x') + "-one.txt";
  const std::string two = stem + std::string(60, 'x') + "-two.txt";
  WriteFile(Path("src/" + one), "one");
  WriteFile(Path("src/" + two), "two");
  m.CreateArcFile(Mod("t.tar").c_str());
  m.SetCompExtraFeatures(CompSettings(1, "", Mod("src")).data());
  m.CompressFileMaskListArc(MaskList({ModPath(one), ModPath(two)}));
  ASSERT_EQ(StatusOk, m.GetArchiveStatus());
  OpenArchive("t.tar");
  uint16_t status;
  std::vector<Listed> got = Listing(&status);
  EXPECT_EQ((std::vector<Listed>{{ModPath(one), 3, 3}, {ModPath(two), 3, 3}}), got);
  EXPECT_EQ(StatusOk, ExtractTo("out"));
  EXPECT_EQ("one", ReadFile(Path("out/" + one)));
  EXPECT_EQ("two", ReadFile(Path("out/" + two)));
  ExpectPeersRead(Path("t.tar"), {{one, "one"}, {two, "two"}});
}
