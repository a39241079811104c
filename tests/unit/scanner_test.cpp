// The read-name rule, and how scans of archives in memory end.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/bytes.h"
#include "files.h"
#include "tar/membername.h"
#include "tar/scanner.h"

TEST(ReadName, Table) {
  struct Row {
    int line;
    const char* raw;
    const char* want;
  } rows[] = {
      {__LINE__, "a/b/c.txt", "a\\b\\c.txt"},
      {__LINE__, "a\\b", "a\\b"},
      {__LINE__, "/abs/x", "abs\\x"},
      {__LINE__, "\\abs\\x", "abs\\x"},
      {__LINE__, "//x", "\\x"},  // only one separator goes
      {__LINE__, "C:/d/x", "d\\x"},
      {__LINE__, "c:\\x", "x"},
      {__LINE__, "/C:/x", "x"},
      {__LINE__, "1:/x", "1:\\x"},  // a drive is a letter
      {__LINE__, "C:", "C:"},       // no separator: a name, refused later
      {__LINE__, "C:x", "C:x"},
      {__LINE__, "a:bcd.txt", "a:bcd.txt"},
      {__LINE__, "C:/", ""},
      {__LINE__, "ab:/x", "ab:\\x"},
      {__LINE__, "../x", "x"},
      {__LINE__, "../../x", "..\\x"},  // only one pair of dots goes
      {__LINE__, "..", ""},
      {__LINE__, "..x", "..x"},  // ".." goes only as a whole component
      {__LINE__, "..foo.txt", "..foo.txt"},
      {__LINE__, "...txt", "...txt"},
      {__LINE__, "/../x", "x"},
      {__LINE__, "C:/../x", "x"},
      {__LINE__, "/C:/../../x", "..\\x"},
      {__LINE__, "../C:/x", "C:\\x"},  // the drive comes before the dots
      {__LINE__, "./x", ".\\x"},
      {__LINE__, ".x", ".x"},
      {__LINE__, "/", ""},
      {__LINE__, "", ""},
      {__LINE__, "\x81\xE1/\x8E", "\x81\xE1\\\x8E"},  // bytes above 0x7F stay
  };
  for (const Row& row : rows) {
    char result[256];
    memset(result, 'Q', sizeof result);
    ReadName(row.raw, result, sizeof result);
    EXPECT_STREQ(row.want, result) << "line " << row.line << ": " << row.raw;
  }
}

// ------------------------------------------------- scans of bytes in memory

namespace {

// Bytes in memory that refuse to move back, as a decoder would: a scan
// must read every archive front to back.
struct ForwardOnly : MemorySource {
  const ByteSourceOps* memory;
  bool movedBack = false;
};

bool MoveForward(ByteSource* s, int64_t pos) {
  ForwardOnly* f = static_cast<ForwardOnly*>(s);
  if (pos < static_cast<int64_t>(f->at)) {
    f->movedBack = true;
    return false;
  }
  return f->memory->moveTo(s, pos);
}

struct Scan {
  ScanOutcome outcome;
  std::string names;  // listed names, space-separated
  bool movedBack;
};

Scan ScanBytes(const std::string& bytes) {
  ForwardOnly source;
  StartMemorySource(&source, bytes.data(), bytes.size());
  source.memory = source.ops;
  ByteSourceOps ops = *source.ops;
  ops.moveTo = MoveForward;
  ops.seeksBack = false;
  source.ops = &ops;
  TarReader* reader = new TarReader;
  TarEntryList list;
  FileMaskList all = {nullptr, nullptr};
  ScanArchive(reader, &source, &list, &all, false);
  Scan scan = {reader->outcome, "", source.movedBack};
  for (const TarEntry* e = list.head; e != nullptr; e = e->next) {
    scan.names += (scan.names.empty() ? "" : " ") + std::string(e->name);
  }
  FreeTarEntryList(&list);
  delete reader;
  return scan;
}

TarItem Entry(const std::string& name, const std::string& data, char typeflag = '0') {
  TarItem item;
  item.name = name;
  item.data = data;
  item.typeflag = typeflag;
  return item;
}

}  // namespace

TEST(Scanner, HowScansEnd) {
  const std::string zeros(512, '\0');
  const std::string a = TarArchive({Entry("a.txt", "alpha")}, false);  // 1024 bytes
  const std::string b = TarArchive({Entry("b.txt", "bravo")}, false);
  std::string badSum = b;
  badSum[0] = 'c';  // the checksum no longer agrees
  const std::string longName(150, 'n');
  struct Row {
    int line;
    std::string bytes;
    ScanEnd end;
    const char* names;
    int64_t entriesEnd;
    bool zeroBetween;
    bool trailingExtension;
  } rows[] = {
      {__LINE__, "", kScanAtEnd, "", 0, false, false},
      {__LINE__, a + b + zeros + zeros, kScanAtEnd, "a.txt b.txt", 2048, false, false},
      {__LINE__, a + b + "x", kScanShortBlock, "a.txt b.txt", 2048, false, false},
      {__LINE__, a + badSum, kScanDamaged, "a.txt", 1024, false, false},
      {__LINE__, a + zeros + badSum, kScanOutside, "a.txt", 1024, false, false},
      {__LINE__, a + zeros + b + zeros, kScanAtEnd, "a.txt b.txt", 2048 + 512, true, false},
      // Extension entries fold into the entry after them.
      {__LINE__, TarArchive({Entry("././@LongLink", longName + '\0', 'L'), Entry("x", "d")}),
       kScanAtEnd, longName.c_str(), 2048, false, false},
      {__LINE__, TarArchive({Entry("h", "12 path=p.t\n", 'x'), Entry("x", "d")}), kScanAtEnd,
       "p.t", 2048, false, false},
      {__LINE__, a + TarArchive({Entry("././@LongLink", "q\0", 'L')}), kScanAtEnd, "a.txt",
       1024, false, true},
      // Data that runs past the end: the archive was cut short.
      {__LINE__, TarArchive({Entry("big", std::string(100, 'b'))}, false).substr(0, 600),
       kScanDamaged, "big", 1024, false, false},
  };
  for (const Row& row : rows) {
    Scan scan = ScanBytes(row.bytes);
    std::string where = "line " + std::to_string(row.line);
    EXPECT_EQ(row.end, scan.outcome.end) << where;
    EXPECT_EQ(row.names, scan.names) << where;
    EXPECT_EQ(row.entriesEnd, scan.outcome.entriesEnd) << where;
    EXPECT_EQ(row.zeroBetween, scan.outcome.zeroBetween) << where;
    EXPECT_EQ(row.trailingExtension, scan.outcome.trailingExtension) << where;
    EXPECT_FALSE(scan.movedBack) << where;
  }
}
