// Items to add: how an entry of the host's list becomes a relative name, a
// source path and a member name, and how one file becomes a member.
#include "items.h"

#include <cstring>

#include "../base/status.h"
#include "../names/masks.h"
#include "../names/paths.h"
#include "../names/text.h"
#include "../session/callbacks.h"
#include "../session/current.h"
#include "../session/settings.h"
#include "../tar/copy.h"
#include "../tar/format.h"
#include "progress.h"

// Appends `text` to the string in `out` (`size` bytes); false when it does
// not fit.
static bool Append(char* out, size_t size, const char* text) {
  size_t have = strlen(out);
  size_t add = strlen(text);
  if (have + add + 1 > size) return false;
  memcpy(out + have, text, add + 1);
  return true;
}

bool ComposeRelativeName(const FileMaskEntry* item, char* out) {
  out[0] = '\0';
  bool fits = Append(out, kItemSize, item->directory) &&
              Append(out, kItemSize, item->name);
  if (fits && item->extension[0] != '\0') {
    fits = Append(out, kItemSize, ".") && Append(out, kItemSize, item->extension);
  }
  return fits;
}

bool ComposeSourcePath(const FileMaskEntry* item, char* out) {
  char relative[kItemSize];
  if (!ComposeRelativeName(item, relative)) return false;
  out[0] = '\0';
  if (gStorePaths == StoreRelativePaths && !Append(out, kItemSize, gAddRoot)) return false;
  return Append(out, kItemSize, relative);
}

void MakeMemberName(const char* relative, char* member) {
  char name[kItemSize];
  size_t len = strnlen(relative, sizeof name - 1);
  memcpy(name, relative, len);
  name[len] = '\0';
  MakeStoredNameForHeader(name, sizeof name);
  // kMemberSize holds the base path, a backslash and the name whole.
  member[0] = '\0';
  if (gBasePath[0] != '\0') {
    Append(member, kMemberSize, gBasePath);
    Append(member, kMemberSize, "\\");
  }
  Append(member, kMemberSize, name);
  if (gStorePaths == StoreNamesOnly) {
    char base[kPartSize];
    char extension[kPartSize];
    SplitPath(member, nullptr, nullptr, base, extension);
    member[0] = '\0';
    Append(member, kMemberSize, base);
    if (strlen(extension) > 1) Append(member, kMemberSize, extension);
  }
}

void AnnounceItem(const char* source, const char* relative) {
  char shown[kItemSize + 1];
  DisplayName(relative, shown, sizeof shown);
  NotifyFileName(source, shown);
}

bool AddOneFile(TarWriter* out, const char* source, const char* relative,
                const PfFileStatus& status) {
  char member[kMemberSize];
  MakeMemberName(relative, member);
  if (!WriteTarHeader(out, status, {kTypeRegular, member, ""})) {
    SetStatus(StatusFileError);
    return false;
  }
  PfFile* file = PfOpenRead(source);
  if (file == nullptr) {
    SetStatus(StatusFileError);
    return false;
  }
  FileSource in;
  StartFileSource(&in, file);
  // The header holds the size that the status gave: exactly that many bytes
  // follow it, whatever the file has become since.
  SetStatus(StatusOk);
  HostProgress progress;
  SetStatusFor(CopyIn(&in, out, status.size, StartHostProgress(&progress, status.size)));
  PfClose(file);
  return StatusIsOk();
}

bool FindSourceFile(const char* path, unsigned char* record) {
  char full[kFullSourceSize];
  return FullPath(path, full, sizeof full) && PfFindFile(full, record);
}

// The first item that is no directory settles the answer.
bool AllItemsAreDirectories(const FileMaskList* items) {
  for (const FileMaskEntry* item = items->first; item != nullptr; item = item->next) {
    char path[kItemSize];
    char full[kFullSourceSize];
    if (!ComposeSourcePath(item, path) || !FullPath(path, full, sizeof full) ||
        !IsDirectory(full)) {
      return false;
    }
  }
  SetStatus(StatusNothingToAdd);
  return true;
}

void IdentifyArchiveFiles(const char* tempPath, ArchiveFiles* files) {
  files->count = 0;
  const char* paths[] = {gArchivePath, tempPath};
  for (const char* path : paths) {
    if (path != nullptr && path[0] != '\0' && PfGetFileId(path, &files->ids[files->count])) {
      files->count++;
    }
  }
}

bool IsArchiveFile(const char* path, const PfFileStatus& status, const ArchiveFiles& files) {
  PfFileId id = status.id;
  if (files.count == 0 || (!status.hasId && !PfGetFileId(path, &id))) return false;
  for (int i = 0; i < files.count; i++) {
    if (files.ids[i].volume == id.volume && files.ids[i].index == id.index) return true;
  }
  return false;
}

// What the add pass does with one item.
enum ItemAction {
  kItemPassOver,  // no name, skipped, or the archive itself: not announced
  kItemAnnounce,  // a directory: announced, nothing added
  kItemAdd,       // a regular file: announced and added
  kItemFail,      // missing, or not a regular file: announced, then failed
  kItemTooLong,   // its names do not fit: failed before it is announced
};

// Looks at one item; fills `relative`, `source` (as the host is shown it),
// `full` (as the file system gets it) and `status` as far as it got. One
// status serves the tests and the header.
static ItemAction ActionFor(const FileMaskEntry* item, SkipItemFn skip, const void* context,
                            const ArchiveFiles& archive, char* relative, char* source,
                            char* full, PfFileStatus* status) {
  // A dotted name (.gitignore) is a name; a path that ends in a separator
  // is none.
  if (item->name[0] == '\0' && item->extension[0] == '\0') return kItemPassOver;
  if (skip != nullptr && skip(context, item)) return kItemPassOver;
  if (!ComposeRelativeName(item, relative) || !ComposeSourcePath(item, source) ||
      !FullPath(source, full, kFullSourceSize)) {
    return kItemTooLong;
  }
  bool found = PfStat(full, status);
  // The archive is not added to itself, neither the one being written nor
  // the one it replaces.
  if (found && IsArchiveFile(full, *status, archive)) return kItemPassOver;
  if (found && (status->mode & kPfModeTypeMask) == kPfModeDirectory) return kItemAnnounce;
  // Only regular files are read: a FIFO, a socket or a device could block
  // the read or never end it.
  if (!found || (status->mode & kPfModeTypeMask) != kPfModeRegular) return kItemFail;
  return kItemAdd;
}

bool AddItems(TarWriter* out, const FileMaskList* items, const char* tempPath,
              SkipItemFn skip, const void* context) {
  ArchiveFiles archive;
  IdentifyArchiveFiles(tempPath, &archive);
  // The next item is looked up first: copying a file pushes this one's
  // record out of the cache.
  const FileMaskEntry* next = nullptr;
  for (const FileMaskEntry* item = items->first; item != nullptr; item = next) {
    next = item->next;
    if (CheckForStop()) return false;
    char relative[kItemSize];
    char source[kItemSize];
    char full[kFullSourceSize];
    PfFileStatus status;
    ItemAction action =
        ActionFor(item, skip, context, archive, relative, source, full, &status);
    if (action == kItemPassOver) continue;
    if (action == kItemTooLong) {
      SetStatus(StatusFileError);
      return false;
    }
    AnnounceItem(source, relative);
    if (action == kItemAnnounce) continue;
    if (action == kItemFail) {
      SetStatus(StatusFileError);
      return false;
    }
    if (!AddOneFile(out, full, relative, status)) return false;
  }
  return true;
}

bool FirstItemToAdd(const FileMaskList* items, SkipItemFn skip, const void* context,
                    char* relative, char* full, PfFileStatus* status) {
  ArchiveFiles archive;
  IdentifyArchiveFiles(nullptr, &archive);
  for (const FileMaskEntry* item = items->first; item != nullptr; item = item->next) {
    char source[kItemSize];
    ItemAction action = ActionFor(item, skip, context, archive, relative, source, full, status);
    if (action == kItemAdd) return true;
    if (action == kItemFail || action == kItemTooLong) return false;
  }
  return false;
}
