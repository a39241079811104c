#include "archive.h"

#include "console.h"
#include "disk.h"
#include "module.h"
#include "names.h"

unsigned NameArchive(const Options& o) {
  api.InitArcFile(ModuleForm(o.archive).c_str());
  return api.GetArchiveStatus();
}

static std::string WhyNotOpened(const Options& o, unsigned status) {
  if (status == StatusArchiveNotFound) return "no such file";
  if (IsFolder(o.archive)) return "it is a folder";
  if (status == StatusNotTarArchive) {
    return IsEmptyFile(o.archive) ? "it is an empty file, no archive yet" : "it is no TAR archive";
  }
  std::string why = WhyUnreadable(o.archive);
  if (!why.empty()) return why;
  // The module keeps a path of up to 260 characters.
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
  if (ArchiveInUse(o.archive)) return "it is in use by another program";
  bool exists = Exists(o.archive);
  std::string why;
  if (exists && RefusesWrites(o.archive, &why)) return why;
  if (RefusesWrites(FolderOf(o.archive), &why)) return "its folder cannot be written: " + why;
  if (!exists || IsEmptyFile(o.archive)) return StatusWords(status);
  why = WhyUnreadable(o.archive);
  if (!why.empty()) return why;
  int members = 0;
  if (DamagedAfter(o, &members)) {
    return "it is damaged after " + Members(members) + ", and is not changed";
  }
  if (CutShort(o)) return "it is cut short: its last member ends past the end of the file";
  return StatusWords(status);
}
