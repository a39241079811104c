#include "disk.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console.h"
#include "disk_platform.h"
#include "module.h"
#include "names.h"

#ifdef _WIN32
static const char kSeparator = '\\';
#else
static const char kSeparator = '/';
#endif

namespace {

struct Walk {
  std::string root;  // the add root, native, with a separator; or ""
  bool sizes;
  Collection* found;
};

void Problem(Collection* found, const std::string& item, const std::string& why) {
  found->problems.push_back("cannot add '" + Shown(item) + "': " + why);
}

void CollectFolder(const Walk& walk, const std::string& item);

// A folder named with a separator at its end ("docs/") gets no second.
std::string Joined(const std::string& folder, const std::string& name) {
  char last = folder.empty() ? kSeparator : folder.back();
  return last == '/' || last == '\\' ? folder + name : folder + kSeparator + name;
}

// A folder is given to the module before what it holds, so that it is
// stored even when empty, and without separators at its end, so that it
// has a name. A link to a folder named with a separator at its end
// ("dlink/") is walked, but is no folder to store.
void CollectFolderItem(const Walk& walk, const std::string& item) {
  std::string bare = item;
  while (bare.size() > 1 && (bare.back() == '/' || bare.back() == '\\')) bare.pop_back();
  if (bare == item || LookAtItem(walk.root + bare).kind == kFolder) {
    walk.found->items.push_back({bare, 0});
  }
  CollectFolder(walk, item);
}

// One item: `named` on the command line, or found in a folder.
void CollectOne(const Walk& walk, const std::string& item, const DiskLook& look, bool named) {
  Collection* found = walk.found;
  std::string shown = Shown(item);
  // The module takes no longer name; a folder that deep holds none either.
  if (ModuleForm(item).size() > kLongestName) {
    return Problem(found, item, "its name is longer than 255 bytes");
  }
  switch (look.kind) {
    case kFile: found->items.push_back({item, look.size}); return;
    case kLink: found->items.push_back({item, 0}); return;
    case kFolder: return CollectFolderItem(walk, item);
    case kUnreadable: return Problem(found, item, look.why);
    case kFolderLink: return Warn("not following '%s', a link to a folder", shown.c_str());
    default: break;
  }
  if (named) {
    if (look.kind == kNothing) return Problem(found, item, "no such file or folder");
    if (look.kind == kBrokenLink) return Problem(found, item, "it is a link to nothing");
    return Problem(found, item, "it is no regular file (a FIFO, socket or device)");
  }
  if (look.kind == kBrokenLink) return Warn("passing over '%s', a link to nothing", shown.c_str());
  Warn("passing over '%s': no regular file (a FIFO, socket or device)", shown.c_str());
}

// Entries in name order, so that an archive lists as the folder does.
void CollectFolder(const Walk& walk, const std::string& item) {
  std::vector<FolderEntry> entries;
  std::string why;
  if (!ReadFolder(walk.root + item, walk.sizes, &entries, &why)) {
    return Problem(walk.found, item, "the folder cannot be read: " + why);
  }
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.shownName < b.shownName; });
  for (const FolderEntry& e : entries) {
    if (e.name.empty()) {
      walk.found->problems.push_back("cannot add '" + Shown(Joined(item, "")) + e.shownName +
                                     "': its name has characters outside the ANSI code page");
      continue;
    }
    CollectOne(walk, Joined(item, e.name), e.look, false);
  }
}

}  // namespace

void CollectItems(const std::string& root, const std::vector<std::string>& named, bool sizes,
                  Collection* found) {
  Walk walk = {root.empty() ? "" : root + kSeparator, sizes, found};
  for (const std::string& item : named) {
    CollectOne(walk, item, LookAtItem(walk.root + item), true);
  }
}

bool IsEmptyFile(const std::string& path) {
  DiskLook look = LookAt(path);
  return look.kind == kFile && look.size == 0;
}

int64_t FileSize(const std::string& path) {
  DiskLook look = LookAt(path);
  return look.kind == kFile ? look.size : -1;
}

bool IsFolder(const std::string& path) { return LookAt(path).kind == kFolder; }

bool Exists(const std::string& path) { return LookAt(path).kind != kNothing; }

std::string ErrorWords(int error) {
  std::string words = strerror(error);
  if (!words.empty()) words[0] = static_cast<char>(tolower(static_cast<unsigned char>(words[0])));
  return words;
}

std::string FirstBytes(const std::string& path, size_t n) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return "";
  std::string bytes(n, '\0');
  bytes.resize(fread(&bytes[0], 1, n, f));
  fclose(f);
  return bytes;
}

std::string WhyUnreadable(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return ErrorWords(errno);
  fclose(f);
  return IsFolder(path) ? "it is a folder" : "";
}

// The file itself when it exists, else the nearest folder above it that
// does: what would refuse the new file.
std::string WhyUnwritable(const std::string& path) {
  std::string at = path;
  for (;;) {
    DiskLook look = LookAt(at);
    std::string why;
    if (look.kind == kFolder && at == path) return "a folder of that name is in the way";
    if (look.kind != kNothing && look.kind != kFolder && at != path) {
      return "'" + Shown(at) + "' is a file, not a folder";
    }
    if (look.kind != kNothing) return RefusesWrites(at, &why) ? why : "";
    size_t cut = at.find_last_of("\\/");
    if (cut == std::string::npos || cut == 0) return "";
    at.resize(cut);
  }
}
