// votar add: the items checked and folders expanded first, so that nothing
// is written when any item cannot be added whole.
#include <cstdio>
#include <cstring>

#include "archive.h"
#include "commands.h"
#include "console.h"
#include "disk.h"
#include "names.h"

namespace {

// The module puts a backslash after an add-root path only when it is longer
// than three characters (so that C:\ stays C:\): a shorter one gets its
// own here.
std::string AddRootPath(const std::string& root) {
  std::string path = ModuleForm(root);
  if (path.empty() || path.size() > 3) return path;
  char last = path.back();
  return last == '\\' || last == ':' ? path : path + "\\";
}

void HandSettings(const Options& o) {
  std::vector<unsigned char> settings(kCompAddRootOffset + 320, 0);
  int32_t storePaths = o.flat ? 0 : 1;
  memcpy(settings.data() + kCompStorePathsOffset, &storePaths, sizeof storePaths);
  PutSetting(&settings, kCompBasePathOffset, kCompAddRootOffset - kCompBasePathOffset,
             ModuleForm(o.base));
  PutSetting(&settings, kCompAddRootOffset, 261, AddRootPath(o.root));
  api.SetCompExtraFeatures(settings.data());
}

bool Collect(const Options& o, Collection* found) {
  bool sizes = IsTerminal(stderr);  // for the progress bar
  CollectItems(o.root, o.names, sizes, found);
  for (const std::string& problem : found->problems) Warn("%s", problem.c_str());
  if (!found->problems.empty()) {
    Warn("nothing was added");
    return false;
  }
  if (found->items.empty()) {
    Warn("nothing to add");
    return false;
  }
  return true;
}

// The archive named to the module: an existing one, or a new one, which
// takes the place of an empty file of its name. `emptied` tells that such
// a file was removed for it.
int OpenForAdding(const Options& o, bool* emptied) {
  unsigned status = NameArchive(o);
  if (status == StatusNotTarArchive && IsEmptyFile(o.archive)) {
    if (remove(o.archive.c_str()) != 0) return OpenFailed(o, status);
    *emptied = true;
    status = StatusArchiveNotFound;
  }
  if (status == StatusArchiveNotFound) {
    api.CreateArcFile(ModuleForm(o.archive).c_str());
    status = api.GetArchiveStatus();
  }
  return status == StatusOk ? 0 : OpenFailed(o, status);
}

// The module names each file before it reads it: the last one named may
// be the one it could not read, or could not store (a file whose copy
// never began, though it holds data).
int AddFailed(const Options& o, unsigned status) {
  if (status == StatusFileError && !outcome.source.empty()) {
    std::string source = NativeForm(outcome.source);
    std::string why = WhyUnreadable(source);
    if (why.empty() && !outcome.began && FileSize(source) > 0) why = "the module could not store it";
    if (!why.empty()) {
      Warn("cannot add '%s': %s; nothing was added", Shown(source).c_str(), why.c_str());
      return 1;
    }
  }
  Warn("cannot add to '%s': %s; nothing was added", Shown(o.archive).c_str(),
       WhyChangeFailed(o, status).c_str());
  return 1;
}

}  // namespace

int Add(const Options& o) {
  Collection found;
  if (!PathsFit(o) || !Collect(o, &found)) return 1;
  MaskList items;
  int64_t total = 0;
  for (const DiskItem& item : found.items) {
    if (!items.Add(ModuleForm(item.path))) {
      Warn("cannot add '%s': the module cannot take its name", Shown(item.path).c_str());
      return 1;
    }
    total += item.size;
  }
  bool emptied = false;
  if (int rc = OpenForAdding(o, &emptied)) return rc;
  HandSettings(o);
  BeginFeedback(o, kAdding, total);
  api.CompressFileMaskListArc(&items.list);
  unsigned status = api.GetArchiveStatus();
  EndFeedback(status == StatusOk);
  // A failure leaves no archive: the empty file is put back as it was.
  if (emptied && status != StatusOk && !Exists(o.archive)) {
    if (FILE* f = fopen(o.archive.c_str(), "wb")) fclose(f);
  }
  if (int rc = IfStopped(status, "nothing was added"); rc >= 0) return rc;
  if (status == StatusOk) return KeptUnasked("member", "members");
  return AddFailed(o, status);
}
