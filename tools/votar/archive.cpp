#include "archive.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "console.h"
#include "disk.h"
#include "module.h"
#include "names.h"

unsigned NameArchive(const Options& o) {
  api.InitArcFile(ModuleForm(o.archive).c_str());
  return api.GetArchiveStatus();
}

// Whether a 512-byte block is all zero or carries the checksum of a header.
static bool ReadsAsPlainTar(const std::string& block) {
  if (block.size() < 512) return false;
  unsigned sum = 0;
  bool zero = true;
  for (size_t i = 0; i < 512; i++) {
    unsigned char c = static_cast<unsigned char>(block[i]);
    zero = zero && c == 0;
    sum += i >= 148 && i < 156 ? ' ' : c;
  }
  unsigned stored = static_cast<unsigned>(strtoul(block.substr(148, 8).c_str(), nullptr, 8));
  return zero || (stored & 0xFF) == (sum & 0xFF);
}

std::string CompressionOf(const std::string& path) {
  std::string head = FirstBytes(path, 512);
  if (ReadsAsPlainTar(head)) return "";
  static const struct {
    const char* magic;
    size_t len;
    const char* name;
  } kMagics[] = {
      {"\x1F\x8B", 2, "gzip"},     {"\xFD" "7zXZ", 6, "xz"},    {"\x28\xB5\x2F\xFD", 4, "zstd"},
      {"BZh", 3, "bzip2"},         {"LZIP", 4, "lzip"},         {"\x04\x22\x4D\x18", 4, "lz4"},
      {"\x1F\x9D", 2, "compress"}, {"\x89LZO", 4, "lzop"},
  };
  for (const auto& m : kMagics) {
    if (head.compare(0, m.len, std::string(m.magic, m.len)) == 0) return m.name;
  }
  // zstd allows skippable frames before its first.
  if (head.size() >= 4 && (head[0] & 0xF0) == 0x50 && head.compare(1, 3, "\x2A\x4D\x18") == 0) {
    return "zstd";
  }
  return "";
}

// Whether `name` ends in `suffix`, in any case.
static bool EndsWithNoCase(const std::string& name, const char* suffix) {
  size_t n = strlen(suffix);
  if (name.size() < n) return false;
  for (size_t i = 0; i < n; i++) {
    if (tolower(static_cast<unsigned char>(name[name.size() - n + i])) != suffix[i]) return false;
  }
  return true;
}

std::string UnwrittenCompression(const std::string& name) {
  // Case tells ".Z" (compress) from ".z" and ".taZ" from ".taz" (gzip).
  for (const char* suffix : {".Z", ".taZ"}) {
    size_t n = strlen(suffix);
    if (name.size() >= n && name.compare(name.size() - n, n, suffix) == 0) return "compress";
  }
  static const struct {
    const char* suffix;
    const char* name;
  } kSuffixes[] = {{".lz", "lzip"}, {".tlz", "lzip"}, {".lzma", "lzma"},
                   {".lz4", "lz4"}, {".lzo", "lzop"}, {".tzo", "lzop"}};
  for (const auto& s : kSuffixes) {
    if (EndsWithNoCase(name, s.suffix)) return s.name;
  }
  return "";
}

bool ModuleReads(const std::string& compression) {
  return compression.empty() || compression == "gzip" || compression == "xz" ||
         compression == "zstd" || compression == "bzip2";
}

static std::string WhyNotOpened(const Options& o, unsigned status) {
  if (status == StatusArchiveNotFound) return "no such file";
  if (IsFolder(o.archive)) return "it is a folder";
  if (status == StatusNotTarArchive) {
    if (IsEmptyFile(o.archive)) return "it is an empty file, no archive yet";
    std::string compression = CompressionOf(o.archive);
    if (!ModuleReads(compression)) return "compressed with " + compression + ", which votar does not read";
    if (!compression.empty()) return "it is compressed with " + compression + " but holds no TAR archive";
    return "it is no TAR archive";
  }
  std::string why = WhyUnreadable(o.archive);
  if (!why.empty()) return why;
  // A readable file the module could not decode: its window is too large.
  std::string compression = CompressionOf(o.archive);
  if (!compression.empty() && ModuleReads(compression)) {
    return "its " + compression + " stream needs more memory than votar takes for one";
  }
  // The module keeps a path of up to 260 bytes.
  if (ModuleForm(o.archive).size() >= 260) return "its path is too long";
  return StatusWords(status);
}

int OpenFailed(const Options& o, unsigned status) {
  Warn("cannot open '%s': %s", Shown(o.archive).c_str(), WhyNotOpened(o, status).c_str());
  return 1;
}

std::string Members(int count) {
  return std::to_string(count) + (count == 1 ? " member" : " members");
}

bool DamagedAfter(const Options& o, int* members) {
  MaskList all;
  Listing listing(all);
  *members = listing.files.count;
  return listing.status == StatusFileError && WhyUnreadable(o.archive).empty();
}

bool CutShort(const Options& o) {
  // Only a plain archive's size says where its members end.
  if (!CompressionOf(o.archive).empty()) return false;
  MaskList all;
  Listing listing(all);
  int64_t needed = 0;
  for (const ArcFileEntry* e = listing.files.head; e != nullptr; e = e->next) {
    needed += 512 + (e->size + 511) / 512 * 512;
  }
  return needed > FileSize(o.archive);
}

static std::string FolderOf(const std::string& path) {
  size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? "." : path.substr(0, cut == 0 ? 1 : cut);
}

std::string WhyChangeFailed(const Options& o, unsigned status) {
  if (status != StatusFileError) return StatusWords(status);
  std::string unwritten = UnwrittenCompression(o.archive);
  if (!unwritten.empty()) return "votar does not write " + unwritten + " archives";
  if (ArchiveInUse(o.archive)) return "it is in use by another program";
  bool exists = Exists(o.archive);
  std::string why;
  if (exists && RefusesWrites(o.archive, &why)) return why;
  if (RefusesWrites(FolderOf(o.archive), &why)) return "its folder cannot be written: " + why;
  if (!exists || IsEmptyFile(o.archive)) return StatusWords(status);
  why = WhyUnreadable(o.archive);
  if (!why.empty()) return why;
  // A listing of an archive cut short fails too: that is told first.
  if (CutShort(o)) return "it is cut short: its last member ends past the end of the file";
  int members = 0;
  if (DamagedAfter(o, &members)) {
    return "it is damaged after " + Members(members) + ", and is not changed";
  }
  return StatusWords(status);
}
