// Listing through the exports: archives of the peers and hand-made ones, the
// records handed to the host, and the archive information record. Member
// times are checked as DOS values under TZ=UTC, as the tests are run.
#include <cstring>
#include <ostream>

#include "archives.h"
#include "fixture.h"

namespace {

const int64_t kMtime = 1024144497;         // 2002-06-15 12:34:57 UTC
const uint32_t kDosMtime = 0x2CCF645C;     // the same, 57 s stored as 56
const uint32_t kDosEarliest = 0x00210000;  // 1980-01-01 00:00:00

// One listed member as the host reads it.
struct Listed {
  std::string name;
  int64_t size;
  uint32_t attributes = 0;
  uint32_t dos = kDosMtime;
  int64_t packed = -1;  // the second size; -1: the first again
  int64_t Packed() const { return packed < 0 ? size : packed; }
  bool operator==(const Listed& o) const {
    return name == o.name && size == o.size && attributes == o.attributes && dos == o.dos &&
           Packed() == o.Packed();
  }
};

std::ostream& operator<<(std::ostream& os, const Listed& l) {
  return os << "{" << l.name << " size " << l.size << "/" << l.Packed() << " attr "
            << l.attributes << " dos 0x" << std::hex << l.dos << std::dec << "}";
}

std::vector<std::string> Names(const std::vector<Listed>& records) {
  std::vector<std::string> names;
  for (const Listed& r : records) names.push_back(r.name);
  return names;
}

void PutLe(std::string* bytes, size_t offset, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; i++) (*bytes)[offset + i] = static_cast<char>(value >> (8 * i));
}

// Offset of the first byte in which the two differ, or -1.
long FirstDifference(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return static_cast<long>(std::min(a.size(), b.size()));
  for (size_t i = 0; i < a.size(); i++) {
    if (a[i] != b[i]) return static_cast<long>(i);
  }
  return -1;
}

// Every byte of a record, against the fields read from it: both sizes agree,
// the constants stand at their places, and all else (the name area after
// the name included) is zero.
void ExpectRecordBytes(const ArcFileEntry* e, const Listed& got) {
#if UINTPTR_MAX == 0xFFFFFFFFu
  // The host's layout, at its byte offsets.
  std::string want(488, '\0');
  PutLe(&want, 0, reinterpret_cast<uintptr_t>(e->next), 4);
  memcpy(&want[4], got.name.data(), got.name.size());
  PutLe(&want, 280, static_cast<uint64_t>(got.size), 8);
  PutLe(&want, 288, static_cast<uint64_t>(got.Packed()), 8);
  PutLe(&want, 296, got.dos, 4);
  PutLe(&want, 300, got.attributes, 4);
  PutLe(&want, 304, 12, 4);
  PutLe(&want, 332, 1, 4);
#else
  ArcFileEntry w;
  memset(&w, 0, sizeof w);
  w.next = e->next;
  memcpy(w.name, got.name.data(), got.name.size());
  w.size = got.size;
  w.packedSize = got.Packed();
  w.dosDateTime = got.dos;
  w.attributes = got.attributes;
  w.kind = 12;
  w.field332 = 1;
  std::string want(reinterpret_cast<const char*>(&w), sizeof w);
#endif
  std::string raw(reinterpret_cast<const char*>(e), want.size());
  EXPECT_EQ(-1, FirstDifference(want, raw)) << "record of " << got.name;
}

// ArchiveInfo as the host should find it.
std::string InfoBytes(int32_t count, int64_t total, int32_t ratio, int64_t packed = -1) {
  std::string want(384, '\0');
  PutLe(&want, 0, 10, 4);
  PutLe(&want, 4, 1, 4);
  PutLe(&want, 8, 2, 4);
  PutLe(&want, 36, static_cast<uint32_t>(count), 4);
  PutLe(&want, 40, static_cast<uint64_t>(total), 8);
  PutLe(&want, 48, static_cast<uint64_t>(packed < 0 ? total : packed), 8);
  PutLe(&want, 56, static_cast<uint32_t>(ratio), 4);
  return want;
}

// Puts `bytes` over a field of the header at `offset` and mends its checksum.
void PatchHeader(std::string* archive, size_t offset, size_t field, const std::string& bytes) {
  archive->replace(offset + field, bytes.size(), bytes);
  FixChecksum(archive, offset);
}

// The items' headers and data, with the offset of each header.
std::string Build(const std::vector<TarItem>& items, std::vector<size_t>* offsets,
                  bool endMarker = true) {
  std::string out;
  for (const TarItem& item : items) {
    offsets->push_back(out.size());
    out += TarArchive({item}, false);
  }
  if (endMarker) out.append(1024, '\0');
  return out;
}

}  // namespace

class ListTest : public ModuleTest {
 protected:
  // Copies an archive of tests/data into the test's folder and names it.
  void OpenData(const std::string& file) {
    std::string bytes = ReadFile(std::string(VOTAR_SOURCE_DIR) + "/tests/data/" + file);
    ASSERT_FALSE(bytes.empty()) << file;
    WriteFile(Path(file), bytes);
    OpenArchive(file);
    ASSERT_EQ(StatusOk, m.GetArchiveStatus()) << file;
  }

  // The host list's records in order, each checked byte for byte.
  std::vector<Listed> Records(const ArcFileList& files) {
    std::vector<Listed> out;
    int32_t count = 0;
    const ArcFileEntry* last = nullptr;
    for (const ArcFileEntry* e = files.head; e != nullptr; e = e->next) {
      Listed got{std::string(e->name, strnlen(e->name, sizeof e->name)), e->size,
                 e->attributes, e->dosDateTime, e->packedSize};
      ExpectRecordBytes(e, got);
      out.push_back(got);
      last = e;
      count++;
    }
    EXPECT_EQ(count, files.count);
    EXPECT_EQ(last, files.tail);
    return out;
  }

  // Lists into a fresh host list and releases it; `result` receives what
  // BuildArcFileList answered.
  std::vector<Listed> ListRecords(std::initializer_list<const char*> masks = {},
                                  int32_t* result = nullptr) {
    FileMaskList list = Masks(masks);
    ArcFileList files;
    memset(&files, 0xCD, sizeof files);
    EXPECT_EQ(&files, m.InitArcFileList(&files));
    EXPECT_EQ(0, files.count);
    int32_t ratio = m.BuildArcFileList(&files, &list);
    if (result != nullptr) *result = ratio;
    std::vector<Listed> out = Records(files);
    m.DoneArcFileList(&files);
    EXPECT_EQ(0, files.count);
    EXPECT_EQ(nullptr, files.head);
    EXPECT_EQ(nullptr, files.tail);
    return out;
  }

  // ArchiveInfo through GetExtraInfoArc, which writes its 384 bytes only and
  // leaves the status alone.
  std::string Info() {
    alignas(8) unsigned char buffer[400];
    memset(buffer, 0xAA, sizeof buffer);
    uint16_t status = m.GetArchiveStatus();
    ArchiveInfo* info = reinterpret_cast<ArchiveInfo*>(buffer);
    EXPECT_EQ(info, m.GetExtraInfoArc(info));
    EXPECT_EQ(std::string(16, '\xAA'), std::string(reinterpret_cast<char*>(buffer) + 384, 16));
    EXPECT_EQ(status, m.GetArchiveStatus());
    return std::string(reinterpret_cast<char*>(buffer), 384);
  }

  // Lists with `masks`: the names, the status, the result and ArchiveInfo.
  void ExpectListing(std::initializer_list<const char*> masks,
                     const std::vector<std::string>& want) {
    int32_t result = -1;
    std::vector<Listed> got = ListRecords(masks, &result);
    EXPECT_EQ(want, Names(got));
    ExpectOutcome(got, result);
  }

  // Lists a whole archive of tests/data and checks it; answers the records.
  std::vector<Listed> ExpectDataListing(const char* file, const std::vector<Listed>& want) {
    OpenData(file);
    int32_t result = -1;
    std::vector<Listed> got = ListRecords({}, &result);
    EXPECT_EQ(want, got);
    ExpectOutcome(got, result);
    return got;
  }

  // The listing's status, result and ArchiveInfo agree with its records.
  void ExpectOutcome(const std::vector<Listed>& records, int32_t result) {
    if (records.empty()) {
      EXPECT_EQ(StatusNoEntries, m.GetArchiveStatus());
      EXPECT_EQ(0, result);
      return;
    }
    int64_t total = 0;
    int64_t packed = 0;
    for (const Listed& r : records) {
      total += r.size;
      packed += r.Packed();
    }
    // Links take no room: they raise the ratio past 100.
    int32_t ratio = packed > 0 ? static_cast<int32_t>(total * 100 / packed) : 0;
    EXPECT_EQ(StatusOk, m.GetArchiveStatus());
    EXPECT_EQ(ratio, result);
    EXPECT_EQ(-1, FirstDifference(
                      InfoBytes(static_cast<int32_t>(records.size()), total, ratio, packed),
                      Info()));
  }
};

TEST_F(ListTest, ArchivesOfThePeers) {
  const Listed a{"dir\\a.txt", 6}, empty{"dir\\empty", 0}, fifo{"dir\\fifo", 0},
      ro{"dir\\ro.txt", 10, 0x01};
  // Links list with the size of the file they name, and take no room.
  const Listed hard{"dir\\hard", 6, 0, kDosMtime, 0}, link{"dir\\link", 6, 0, kDosMtime, 0};
  // Names are read whole, from a full name field, a long-name entry, the
  // ustar prefix or a pax header.
  const Listed longInDir{"dir\\" + std::string(97, 'p'), 1};
  const Listed n99{"n99_" + std::string(95, 'x'), 1}, n100{"n100_" + std::string(95, 'x'), 1},
      n101{"n101_" + std::string(96, 'x'), 1};
  struct Row {
    int line;
    const char* file;
    std::vector<Listed> want;
  } rows[] = {
      {__LINE__, "gnu-v7.tar", {a, empty, hard, link, ro, n100, n99}},
      {__LINE__, "gnu-oldgnu.tar", {a, empty, fifo, hard, link, longInDir, ro, n100, n101, n99}},
      {__LINE__, "gnu-gnu.tar", {a, empty, fifo, hard, link, longInDir, ro, n100, n101, n99}},
      {__LINE__, "gnu-ustar.tar", {a, empty, fifo, hard, link, longInDir, ro, n100, n99}},
      {__LINE__, "gnu-posix.tar", {a, empty, fifo, hard, link, longInDir, ro, n100, n101, n99}},
      {__LINE__, "bsdtar.tar", {a, empty, fifo, hard, link, longInDir, ro, n100, n101, n99}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.file) + ", line " + std::to_string(row.line));
    ExpectDataListing(row.file, row.want);
  }
}

TEST_F(ListTest, MasksSelectMembersOfAPeerArchive) {
  OpenData("gnu-gnu.tar");
  const std::string p97 = "dir\\" + std::string(97, 'p'), n99 = "n99_" + std::string(95, 'x');
  const std::string n100 = "n100_" + std::string(95, 'x'), n101 = "n101_" + std::string(96, 'x');
  struct Row {
    int line;
    std::initializer_list<const char*> masks;
    std::vector<std::string> want;
  } rows[] = {
      {__LINE__, {"*.txt"}, {"dir\\a.txt", "dir\\ro.txt"}},
      {__LINE__, {"*"}, {"dir\\empty", "dir\\fifo", "dir\\hard", "dir\\link", p97, n100, n101, n99}},
      {__LINE__, {"DIR\\*"}, {"dir\\empty", "dir\\fifo", "dir\\hard", "dir\\link", p97}},
      {__LINE__, {"n99*", "dir/A.TXT"}, {"dir\\a.txt", n99}},  // archive order
      {__LINE__, {"a.txt"}, {}},  // narrow: only names without a directory
      {__LINE__, {"dir\\hard", "dir\\link", "dir"}, {"dir\\hard", "dir\\link"}},  // no folder
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    ExpectListing(row.masks, row.want);
  }
}

// Names are stored in the OEM code page (437) and handed out in the ANSI
// code page (1252).
TEST_F(ListTest, OemNamesAndMasks) {
  CLASSIC_CODE_PAGE_ONLY();
  OpenData("cp437.tar");
  const std::string gruesse = "Gr\xFC\xDF" "e.txt", cafe = "caf\xE9.txt",
                    oel = "\xC4pfel\\\xD6l.txt", ae = "\xE4.txt";
  struct Row {
    int line;
    std::initializer_list<const char*> masks;
    std::vector<std::string> want;
  } rows[] = {
      {__LINE__, {}, {gruesse, cafe, oel, ae}},
      {__LINE__, {"*.txt"}, {gruesse, cafe, oel, ae}},
      // Every listed name is found by itself, in any case.
      {__LINE__, {"Gr\xFC\xDF" "e.txt"}, {gruesse}},
      {__LINE__, {"caf\xE9.txt"}, {cafe}},
      {__LINE__, {"CAF\xC9.TXT"}, {cafe}},
      {__LINE__, {"\xC4.TXT"}, {ae}},
      {__LINE__, {"\xE4.txt"}, {ae}},
      {__LINE__, {"\xE4pfel\\*.*"}, {oel}},
      {__LINE__, {"\xC4PFEL/\xF6L.TXT"}, {oel}},
      {__LINE__, {"gr??e.*"}, {gruesse}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    ExpectListing(row.masks, row.want);
  }
}

// Every letter of code page 437 that code page 1252 also has.
TEST_F(ListTest, OemLettersWithAnAnsiTwin) {
  CLASSIC_CODE_PAGE_ONLY();
  const std::string oem =
      "\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8D\x8E\x8F\x90\x91\x92\x93\x94"
      "\x95\x96\x97\x98\x99\x9A\x9B\x9C\x9D\x9F\xA0\xA1\xA2\xA3\xA4\xA5\xA6\xA7\xA8\xAA\xAB"
      "\xAC\xAD\xAE\xAF\xE1\xE6\xF1\xF6\xF8\xFA\xFD\xFF";
  const std::string ansi =
      "\xC7\xFC\xE9\xE2\xE4\xE0\xE5\xE7\xEA\xEB\xE8\xEF\xEE\xEC\xC4\xC5\xC9\xE6\xC6\xF4\xF6"
      "\xF2\xFB\xF9\xFF\xD6\xDC\xA2\xA3\xA5\x83\xE1\xED\xF3\xFA\xF1\xD1\xAA\xBA\xBF\xAC\xBD"
      "\xBC\xA1\xAB\xBB\xDF\xB5\xB1\xF7\xB0\xB7\xB2\xA0";
  TarItem item{"d/" + oem + ".txt", "x"};
  item.mtime = kMtime;
  OpenBytes("t.tar", TarArchive({item}));
  int32_t result = -1;
  std::vector<Listed> got = ListRecords({}, &result);
  EXPECT_EQ(std::vector<std::string>{"d\\" + ansi + ".txt"}, Names(got));
  ExpectOutcome(got, result);
}

// Signs of code page 437 that code page 1252 lacks come out as the code
// page's conversion gives them (the nearest sign), not as "?".
TEST_F(ListTest, OemSignsWithoutAnAnsiTwin) {
  CLASSIC_CODE_PAGE_ONLY();
  TarItem item{"box\xC4\xDA\xB3\xE0.txt", "x"};
  item.mtime = kMtime;
  OpenBytes("t.tar", TarArchive({item}));
  int32_t result = -1;
  std::vector<Listed> got = ListRecords({}, &result);
  EXPECT_EQ(std::vector<std::string>{"box-+\xA6" "a.txt"}, Names(got));
  ExpectOutcome(got, result);
}

TEST_F(ListTest, DamagedArchives) {
  const Listed a{"a.txt", 1000}, b{"b.txt", 3000}, c{"c.txt", 10};
  struct Row {
    int line;
    const char* file;
    std::vector<Listed> want;
    bool damaged;  // the members before the damage, StatusFileError
  } rows[] = {
      {__LINE__, "bad-checksum.tar", {a}, true},       // a bad block after a.txt
      {__LINE__, "truncated-data.tar", {a, b}, true},  // b's data runs past the end
      {__LINE__, "truncated-header.tar", {a}, false},
      {__LINE__, "end-marker-only.tar", {}, false},
      {__LINE__, "after-zeros.tar", {a, c}, false},     // zero blocks end nothing
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.file) + ", line " + std::to_string(row.line));
    if (row.damaged) {
      OpenData(row.file);
      int32_t result = -1;
      EXPECT_EQ(row.want, ListRecords({}, &result));
      EXPECT_EQ(StatusFileError, m.GetArchiveStatus());
      EXPECT_EQ(0, result);
      EXPECT_EQ(std::string(384, '\0'), Info());  // as InitArcFile left it
      continue;
    }
    std::vector<Listed> got = ExpectDataListing(row.file, row.want);
    if (got.empty()) {
      EXPECT_EQ(std::string(384, '\0'), Info());  // as InitArcFile left it
    }
  }
}

TEST_F(ListTest, TypeflagsModesAndSkippedData) {
  std::vector<TarItem> items = {
      {"t_nul", "1", '\0'},
      {"t_0", "22", '0'},
      {"t_1", "hard", '1', 0644, kMtime, "t_0"},  // data of links is skipped too
      {"t_2", "", '2', 0777, kMtime, "t_0"},
      {"t_3", "", '3'},
      {"t_4", "", '4'},
      {"t_5", std::string(700, 'd'), '5', 040755},
      {"t_6", "", '6'},
      {"t_7", "7777777", '7'},
      {"././@LongLink", std::string(600, 'L'), 'L'},
      {"t_after_L", "x", '0'},
      {"t_K", "target", 'K'},
      {"t_x", "18 path=other.txt\n", 'x'},
      {"t_g", "18 path=other.txt\n", 'g'},
      {"t_M", "continued", 'M'},
      {"t_V", "", 'V'},
      {"t_A", "", 'A'},
      {"t_8", "", '8'},
      {"t_space", "", ' '},
      {"m_40755", "", '0', 040755},
      {"m_40555", "", '0', 040555},
      {"m_100644", "", '0', 0100644},
      {"m_444", "", '0', 0444},
      {"m_577", "", '0', 0577},
      {"m_200", "", '0', 0200},
      {"m_nul", "", '0'},
      {"m_garbage", "", '0'},
  };
  for (TarItem& item : items) item.mtime = kMtime;
  std::vector<size_t> at;
  std::string archive = Build(items, &at);
  PatchHeader(&archive, at[25], 100, std::string(8, '\0'));
  PatchHeader(&archive, at[26], 100, "rw-r--r-");
  OpenBytes("t.tar", archive);
  int32_t result = -1;
  std::vector<Listed> got = ListRecords({}, &result);
  std::vector<Listed> want = {
      {"t_nul", 1},       {"t_0", 2},
      // Links take the size of the member they name; their own data is skipped.
      {"t_1", 2, 0, kDosMtime, 0}, {"t_2", 2, 0, kDosMtime, 0}, {"t_3", 0}, {"t_4", 0},
      // The long name names the member after it, and is cut where it passes
      // 255 bytes.
      {"t_6", 0},         {"t_7", 7},          {std::string(255, 'L'), 1}, {"m_40755", 0, 0},
      {"m_40555", 0, 0x01}, {"m_100644", 0, 0}, {"m_444", 0, 0x01}, {"m_577", 0, 0x01},
      // A mode that cannot be read says nothing: a plain writable file.
      {"m_200", 0, 0},    {"m_nul", 0, 0x01},  {"m_garbage", 0, 0},
  };
  EXPECT_EQ(want, got);
  ExpectOutcome(got, result);
}

TEST_F(ListTest, StoredNamesAfterTheReadNameRule) {
  std::vector<TarItem> items = {
      {"a/b/c.txt", "1"},     {"/abs/x.txt", "1"},  {"//dbl.txt", "1"},
      {"C:/c.txt", "1"},      {"/C:/d.txt", "1"},   {"../up.txt", "1"},
      {"../../two.txt", "1"}, {"./dot.txt", "1"},   {"C:", "1"},
      {"..", "no name"},      {"", "no name"},      {"x/", "1"},
      {std::string(100, 'q'), "1"},
  };
  for (TarItem& item : items) item.mtime = kMtime;
  OpenBytes("t.tar", TarArchive(items));
  const std::string q100(100, 'q');  // a full name field has no NUL
  struct Row {
    int line;
    std::initializer_list<const char*> masks;
    std::vector<std::string> want;
  } rows[] = {
      {__LINE__,
       {},
       {"a\\b\\c.txt", "abs\\x.txt", "\\dbl.txt", "c.txt", "d.txt", "up.txt", "..\\two.txt",
        ".\\dot.txt", "C:", "x\\", q100}},
      {__LINE__, {"?.txt"}, {"c.txt", "d.txt"}},
      {__LINE__, {"\\*.*"}, {"\\dbl.txt"}},
      {__LINE__, {"x\\*.*"}, {"x\\"}},
      {__LINE__, {"C:\\*.*", "abs/*.*"}, {"abs\\x.txt"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    ExpectListing(row.masks, row.want);
  }
}

// Sizes are read in octal over the whole field and in base-256, in 64
// bits; a field that is no size, or a size below 0 or past 2^62, is damage:
// the members before it are listed, with StatusFileError.
TEST_F(ListTest, SizeFields) {
  struct Row {
    int line;
    std::string field;  // 12 bytes
    int64_t size;       // of b.txt, which then ends the listing; -1: damage
  } rows[] = {
      {__LINE__, std::string("00000000000\0", 12), 0},
      {__LINE__, std::string("20000000000\0", 12), int64_t{1} << 31},
      {__LINE__, std::string("40000000144\0", 12), (int64_t{1} << 32) + 100},
      {__LINE__, "777777777777", (int64_t{1} << 36) - 1},  // 12 digits, no terminator
      {__LINE__, std::string("\x80\0\0\0\0\0\0\0\0\0\x10\0", 12), 4096},
      {__LINE__, std::string("\x80\0\0\0\x40\0\0\0\0\0\0\0", 12), int64_t{1} << 62},
      {__LINE__, std::string("zzzzzzzzzzz\0", 12), -1},
      {__LINE__, std::string(12, ' '), -1},
      {__LINE__, std::string("1750x      \0", 12), -1},
      {__LINE__, std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 12), -1},
      {__LINE__, std::string("\x80\0\0\0\x40\0\0\0\0\0\0\x01", 12), -1},  // 2^62 + 1
      {__LINE__, std::string("\x80\0\0\x01\0\0\0\0\0\0\0\0", 12), -1},    // 2^64
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    std::vector<size_t> at;
    std::string archive = Build({{"a.txt", "alpha"}, {"b.txt", ""}, {"c.txt", "charlie"}}, &at);
    PatchHeader(&archive, at[1], 124, row.field);
    OpenBytes("t.tar", archive);
    int32_t result = -1;
    std::vector<Listed> got = ListRecords({}, &result);
    if (row.size < 0) {
      EXPECT_EQ(std::vector<std::string>{"a.txt"}, Names(got));
      EXPECT_EQ(StatusFileError, m.GetArchiveStatus());
      continue;
    }
    std::vector<std::string> want = {"a.txt", "b.txt"};
    if (row.size == 0) want.push_back("c.txt");
    ASSERT_EQ(want, Names(got));
    EXPECT_EQ(row.size, got[1].size);
    // A size past what follows cuts the archive short.
    EXPECT_EQ(row.size == 0 ? StatusOk : StatusFileError, m.GetArchiveStatus());
  }
}

TEST_F(ListTest, MemberTimesAsDosValues) {
  struct Row {
    int line;
    std::string field;  // the 12-byte mtime field
    uint32_t want;
  } rows[] = {
      {__LINE__, std::string("07502632161\0", 12), kDosMtime},
      {__LINE__, std::string("02263523000\0", 12), 0x00210000},  // 1980-01-01 00:00:00
      {__LINE__, std::string("02263523002\0", 12), 0x00210001},
      {__LINE__, std::string("17777777777\0", 12), 0x743319C3},  // 2038-01-19 03:14:07
      {__LINE__, std::string("20000000000\0", 12), 0x743319C4},  // 2^31, a second later
      {__LINE__, std::string("37777777777\0", 12), 0xFC473387},  // 2106-02-07 06:28:15
      {__LINE__, std::string("\x80\0\0\0\0\0\0\0\x8D\xDA\x35\x80", 12), 0x82C10000},  // 2045-06-01
      // Times the form cannot hold, and no time at all, list as the earliest
      // DOS value.
      {__LINE__, std::string("02263522777\0", 12), kDosEarliest},  // 1979-12-31 23:59:59
      {__LINE__, std::string("00000000000\0", 12), kDosEarliest},
      {__LINE__, std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xF7\x5F\xBF\x80", 12), kDosEarliest},  // 1965
      {__LINE__, "777777777777", kDosEarliest},                    // 4147
      {__LINE__, std::string("zzzzzzzzzzz\0", 12), kDosEarliest},  // no time
  };
  std::vector<TarItem> items;
  for (const Row& row : rows) items.push_back({"t" + std::to_string(row.line), "x"});
  std::vector<size_t> at;
  std::string archive = Build(items, &at);
  for (size_t i = 0; i < items.size(); i++) PatchHeader(&archive, at[i], 136, rows[i].field);
  OpenBytes("t.tar", archive);
  int32_t result = -1;
  std::vector<Listed> got = ListRecords({}, &result);
  ASSERT_EQ(items.size(), got.size());
  for (size_t i = 0; i < items.size(); i++) {
    EXPECT_EQ(rows[i].want, got[i].dos) << "line " << rows[i].line << ": 0x" << std::hex
                                        << got[i].dos;
  }
  ExpectOutcome(got, result);
}

TEST_F(ListTest, TotalsAndRatio) {
  struct Row {
    int line;
    std::vector<TarItem> items;
    bool endMarker;
    int64_t total;
    int32_t ratio;
  } rows[] = {
      {__LINE__, {{"a", Pattern(1000)}, {"b", Pattern(3000)}}, true, 4000, 100},
      {__LINE__, {{"a", ""}, {"b", ""}}, true, 0, 0},
      // Past 20 MiB the totals are halved for the ratio.
      {__LINE__, {{"a", std::string(30000000, 'a')}}, false, 30000000, 100},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    OpenBytes("t.tar", TarArchive(row.items, row.endMarker));
    int32_t result = -1;
    std::vector<Listed> got = ListRecords({}, &result);
    EXPECT_EQ(row.items.size(), got.size());
    EXPECT_EQ(StatusOk, m.GetArchiveStatus());
    EXPECT_EQ(row.ratio, result);
    EXPECT_EQ(-1, FirstDifference(InfoBytes(static_cast<int32_t>(row.items.size()), row.total,
                                            row.ratio),
                                  Info()));
  }
}

// The host's list is not emptied first: a second listing appends, and the
// figures cover every entry of the list.
TEST_F(ListTest, SecondListingAppendsAndCountsEverything) {
  struct Row {
    int line;
    std::vector<TarItem> items;
    std::vector<std::string> names;  // after two listings
    int64_t total;
  } rows[] = {
      {__LINE__, {{"a", Pattern(1000)}, {"b", Pattern(3000)}}, {"a", "b", "a", "b"}, 8000},
      {__LINE__, {{"big", std::string(3000000, 'b')}}, {"big", "big"}, 6000000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("line " + std::to_string(row.line));
    OpenBytes("t.tar", TarArchive(row.items, false));
    FileMaskList masks = Masks({});
    ArcFileList files;
    m.InitArcFileList(&files);
    EXPECT_EQ(100, m.BuildArcFileList(&files, &masks));
    EXPECT_EQ(100, m.BuildArcFileList(&files, &masks));
    EXPECT_EQ(StatusOk, m.GetArchiveStatus());
    EXPECT_EQ(row.names, Names(Records(files)));
    int32_t count = static_cast<int32_t>(row.names.size());
    EXPECT_EQ(-1, FirstDifference(InfoBytes(count, row.total, 100), Info()));
    m.DoneArcFileList(&files);
  }
}

TEST_F(ListTest, FailedListingsLeaveListAndInfoAlone) {
  EXPECT_EQ(std::string(384, '\0'), Info());  // at load
  WriteFile(Path("t.tar"), TarArchive({{"a.txt", Pattern(1000)}, {"b.txt", Pattern(3000)}}));
  OpenArchive("t.tar");
  EXPECT_EQ(std::string(384, '\0'), Info());
  FileMaskList all = Masks({});
  ArcFileList files;
  m.InitArcFileList(&files);
  m.SetArchiveStatus(77);
  ASSERT_EQ(100, m.BuildArcFileList(&files, &all));
  EXPECT_EQ(StatusOk, m.GetArchiveStatus());
  const std::string info = InfoBytes(2, 4000, 100);
  ASSERT_EQ(-1, FirstDifference(info, Info()));
  const ArcFileEntry* head = files.head;
  const ArcFileEntry* tail = files.tail;

  FileMaskList none = Masks({"NONE.XYZ", "*.doc"});
  m.SetArchiveStatus(77);
  EXPECT_EQ(0, m.BuildArcFileList(&files, &none));
  EXPECT_EQ(StatusNoEntries, m.GetArchiveStatus());
  EXPECT_EQ(-1, FirstDifference(info, Info()));
  EXPECT_EQ(2, files.count);
  EXPECT_EQ(head, files.head);
  EXPECT_EQ(tail, files.tail);
  EXPECT_EQ(nullptr, tail->next);

  // The archive is gone: it cannot be opened.
  RemoveTree(Path("t.tar"));
  EXPECT_EQ(0, m.BuildArcFileList(&files, &all));
  EXPECT_EQ(StatusFileError, m.GetArchiveStatus());
  EXPECT_EQ(-1, FirstDifference(info, Info()));
  EXPECT_EQ(2, files.count);
  EXPECT_EQ(tail, files.tail);
  m.DoneArcFileList(&files);

  // Naming an archive clears the record, also when there is no such file.
  OpenArchive("missing.tar");
  EXPECT_EQ(StatusArchiveNotFound, m.GetArchiveStatus());
  EXPECT_EQ(std::string(384, '\0'), Info());
}

// Members are under 2 GiB, the archive is not: headers past 2 GiB are read,
// listed and extracted like any other (a sparse file keeps this cheap).
TEST_F(ListTest, ArchivesLargerThanTwoGigabytes) {
  const int64_t kFirst = 1200000000;   // data of a.bin
  const int64_t kSecond = 1000000000;  // data of b.bin
  std::string path = Path("huge.tar");
  {
    std::string head = TarHeader(Item("a.bin", "", 0644));
    std::string second = TarHeader(Item("b.bin", "", 0644));
    std::string third = TarArchive({Item("c.txt", "beyond two gigabytes\n")});
    auto sized = [](std::string header, int64_t size) {
      char digits[16];
      snprintf(digits, sizeof digits, "%011llo", static_cast<long long>(size));
      memcpy(&header[124], digits, 11);
      FixChecksum(&header, 0);
      return header;
    };
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fwrite(sized(head, kFirst).data(), 1, 512, f);
    ASSERT_EQ(0, fseeko64(f, 512 + kFirst, SEEK_SET));
    fwrite(sized(second, kSecond).data(), 1, 512, f);
    ASSERT_EQ(0, fseeko64(f, 512 + kFirst + 512 + kSecond, SEEK_SET));
    fwrite(third.data(), 1, third.size(), f);
    fclose(f);
  }
  OpenArchive("huge.tar");
  ASSERT_EQ(StatusOk, m.GetArchiveStatus());
  EXPECT_EQ((std::vector<std::string>{"a.bin", "b.bin", "c.txt"}), List());
  m.SetOutputPath(Mod("out").c_str());
  FileMaskList masks = Masks({"c.txt"});
  m.ExtractFileMaskListArc(&masks);
  EXPECT_EQ(StatusOk, m.GetArchiveStatus());
  EXPECT_EQ("beyond two gigabytes\n", ReadFile(Path("out/c.txt")));
}
