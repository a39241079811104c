#include "archives.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "files.h"
#include "votar.h"

namespace fs = std::filesystem;

std::vector<unsigned char> CompSettings(int32_t storePaths, const std::string& basePath,
                                        const std::string& addRoot) {
  const size_t kRecordSize = 1484;
  std::vector<unsigned char> record(kRecordSize, 0);
  memcpy(&record[60], &storePaths, sizeof storePaths);
  memcpy(&record[896], basePath.data(), std::min<size_t>(basePath.size(), 260));
  memcpy(&record[1168], addRoot.data(), std::min<size_t>(addRoot.size(), 260));
  return record;
}

std::vector<unsigned char> DecompSettings(int32_t mode, const std::string& base,
                                          const std::string& output) {
  std::vector<unsigned char> rec(kDecompSettingsSize, 0);
  memcpy(&rec[kDecompPathModeOffset], &mode, sizeof mode);
  memcpy(&rec[kDecompBasePathOffset], base.data(), base.size());
  memcpy(&rec[kDecompOutputOffset], output.data(), output.size());
  return rec;
}

static int64_t OctalField(const std::string& block, size_t offset, size_t width) {
  int64_t value = 0;
  size_t i = offset;
  while (i < offset + width && block[i] == ' ') i++;
  size_t digits = 0;
  for (; i < offset + width && block[i] >= '0' && block[i] <= '7'; i++, digits++) {
    value = value * 8 + (block[i] - '0');
  }
  if (digits == 0) return -1;
  return value;
}

std::vector<RawEntry> RawEntries(const std::string& archive) {
  std::vector<RawEntry> entries;
  size_t offset = 0;
  while (offset + 512 <= archive.size()) {
    std::string block = archive.substr(offset, 512);
    if (block == std::string(512, '\0')) break;
    RawEntry e;
    e.offset = offset;
    e.name = std::string(block.c_str(), strnlen(block.c_str(), 100));
    e.typeflag = block[156];
    e.size = OctalField(block, 124, 12);
    e.mtime = OctalField(block, 136, 12);
    entries.push_back(e);
    if (e.size < 0) break;
    offset += 512 + static_cast<size_t>((e.size + 511) / 512 * 512);
  }
  return entries;
}

std::vector<std::string> TempFilesIn(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    std::string name = it->path().filename().string();
    size_t digits = name.find_first_not_of("0123456789");
    if (digits >= 1 && digits <= 5 && name.substr(digits) == ".$SC") names.push_back(name);
  }
  return names;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

static std::vector<std::string> PeerList(const std::string& tool, const std::string& options,
                                         const std::string& archive) {
  std::string out;
  int rc = RunCommand(tool + " " + options + " '" + UnixPath(archive) + "'", &out);
  EXPECT_EQ(0, rc) << tool << ": " << out;
  // Warnings go to the same text; a listing line never starts with the tool.
  EXPECT_EQ(std::string::npos, out.find(tool + ":")) << out;
  return Lines(out);
}

std::vector<std::string> PeerListing(const std::string& tool, const std::string& archive) {
  return PeerList(tool, "-tvf", archive);
}

std::vector<std::string> PeerNames(const std::string& tool, const std::string& archive) {
  return PeerList(tool, "-tf", archive);
}

std::string PeerExtract(const std::string& tool, const std::string& archive) {
  std::string into = MakeTempDir();
  std::string out;
  int rc = RunCommand(tool + " -xf '" + UnixPath(archive) + "' -C '" + UnixPath(into) + "'", &out);
  EXPECT_EQ(0, rc) << tool << ": " << out;
  return into;
}

static bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void ExpectPeersRead(const std::string& archive, const std::vector<PeerFile>& files) {
  if (!PeersAvailable()) {
    ADD_FAILURE() << "GNU tar, bsdtar and python3 are needed to read the archive back";
    return;
  }
  std::vector<std::string> expectedTree;
  for (const PeerFile& f : files) expectedTree.push_back(f.name);
  std::sort(expectedTree.begin(), expectedTree.end());
  for (const char* tool : {"tar", "bsdtar"}) {
    SCOPED_TRACE(tool);
    std::vector<std::string> lines = PeerListing(tool, archive);
    ASSERT_EQ(files.size(), lines.size()) << ::testing::PrintToString(lines);
    for (size_t i = 0; i < files.size(); i++) {
      EXPECT_TRUE(EndsWith(lines[i], " " + files[i].name)) << lines[i];
    }
    std::string into = PeerExtract(tool, archive);
    std::vector<std::string> tree;
    for (const std::string& name : ListTree(into)) {
      if (name.back() != '/') tree.push_back(name);
    }
    EXPECT_EQ(expectedTree, tree);
    for (const PeerFile& f : files) {
      EXPECT_TRUE(ReadFile(Join(into, f.name)) == f.data) << f.name << " differs";
    }
    RemoveTree(into);
  }
}

std::vector<DamageCase> DamageCases() {
  const std::string a = TarArchive({{"a.txt", "alpha"}}, false);
  const std::string b = TarArchive({{"b.txt", "bravo"}}, false);
  const std::string end(1024, '\0');
  std::string badSum = b;
  badSum[0] = 'c';  // the checksum no longer agrees
  std::string badSize = b;
  memcpy(&badSize[124], "zzzzzzzzzzz", 11);
  FixChecksum(&badSize, 0);
  return {
      {__LINE__, "garbage block between members", a + std::string(512, 'x') + b + end, true},
      {__LINE__, "header with a wrong checksum", a + badSum + b + end, true},
      {__LINE__, "header with an unreadable size", a + badSize + b + end, true},
      {__LINE__, "bytes short of a block at the end", a + b + end + std::string(100, 'x'), false},
      {__LINE__, "no marker, a partial block at the end", a + b + std::string(300, 'y'), false},
      {__LINE__, "zero blocks between members", a + end + b + end, false},
      {__LINE__, "no end-of-archive marker", a + b, false},
  };
}

TarItem Item(const std::string& name, const std::string& data, int mode, int64_t mtime) {
  TarItem item;
  item.name = name;
  item.data = data;
  item.mode = mode;
  item.mtime = mtime;
  return item;
}

std::vector<TarItem> EntriesOfEveryKind(const std::string& aData, const std::string& cData) {
  const std::string longName = std::string(120, 'n') + ".txt";
  TarItem link{"link", "", '2'};
  link.linkname = "a.txt";
  return {
      {"dir/", "", '5', 0755},
      {"a.txt", aData},
      {"././@LongLink", longName + std::string(1, '\0'), 'L'},
      {longName.substr(0, 100), "long member"},
      link,
      {"PaxHeaders/b.txt", "14 path=b.txt\n", 'x'},
      {"b.txt", "bravo"},
      {"volume", "", 'V'},
      {"c.txt", cData},
  };
}
