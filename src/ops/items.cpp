// Items to add: how an entry of the host's list becomes a relative name, a
// source path and a member name, and how one item becomes a member.
#include "items.h"

#include <cstdio>
#include <cstring>

#include "../base/status.h"
#include "../names/chars.h"
#include "../names/masks.h"
#include "../names/nameindex.h"
#include "../names/paths.h"
#include "../names/text.h"
#include "../session/callbacks.h"
#include "../session/current.h"
#include "../session/settings.h"
#include "../tar/copy.h"
#include "../tar/header.h"
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

bool StoreItem(TarWriter* out, const char* source, const StoredItem& item) {
  MemberHead head = {item.typeflag, item.member, item.link};
  if (!WriteTarHeader(out, item.status, head)) {
    SetStatus(StatusFileError);
    return false;
  }
  SetStatus(StatusOk);
  if (item.typeflag != kTypeRegular) return true;
  PfFile* file = PfOpenRead(source);
  if (file == nullptr) {
    SetStatus(StatusFileError);
    return false;
  }
  FileSource in;
  StartFileSource(&in, file);
  // The header holds the size that the status gave: exactly that many bytes
  // follow it, whatever the file has become since.
  HostProgress progress;
  int64_t size = item.status.size;
  SetStatusFor(CopyIn(&in, out, size, StartHostProgress(&progress, size)));
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
  kItemAnnounce,  // a folder that is not stored: announced, nothing added
  kItemFolder,    // a folder: announced and stored as a folder entry
  kItemLink,      // natively, a symbolic link: announced and stored as a link
  kItemAdd,       // a regular file: announced and added
  kItemFail,      // missing, or no file, folder or link: announced, then failed
  kItemTooLong,   // its names do not fit: failed before it is announced
};

static bool Asks(ItemQuestionFn question, const ItemFilter* filter, const FileMaskEntry* item) {
  return question != nullptr && question(filter->context, item);
}

// Names alone keep no folders; a link to a folder (Win32 tells it by its
// reparse point, as PfStat follows it) is not followed.
static ItemAction FolderAction(const FileMaskEntry* item, const ItemFilter* filter,
                               const char* full) {
  if (gStorePaths == StoreNamesOnly) return kItemAnnounce;
  uint32_t attributes = PfGetAttributes(full);
  if (attributes != kPfInvalidAttributes && (attributes & kPfAttrReparsePoint)) {
    return kItemAnnounce;
  }
  if (filter != nullptr && Asks(filter->folderHeld, filter, item)) return kItemAnnounce;
  return kItemFolder;
}

// Looks at one item; fills `relative`, `source` (as the host is shown it),
// `full` (as the file system gets it) and `status` as far as it got. One
// status serves the tests and the header.
static ItemAction ActionFor(const FileMaskEntry* item, const ItemFilter* filter,
                            const ArchiveFiles& archive, char* relative, char* source,
                            char* full, PfFileStatus* status) {
  // A dotted name (.gitignore) is a name; a path that ends in a separator
  // is none.
  if (item->name[0] == '\0' && item->extension[0] == '\0') return kItemPassOver;
  if (filter != nullptr && Asks(filter->skip, filter, item)) return kItemPassOver;
  if (!ComposeRelativeName(item, relative) || !ComposeSourcePath(item, source) ||
      !FullPath(source, full, kFullSourceSize)) {
    return kItemTooLong;
  }
  bool found = PfStatEntry(full, status);
  // The archive is not added to itself, neither the one being written nor
  // the one it replaces.
  if (found && IsArchiveFile(full, *status, archive)) return kItemPassOver;
  if (!found) return kItemFail;
  uint32_t type = status->mode & kPfModeTypeMask;
  if (type == kPfModeLink) return kItemLink;
  if (type == kPfModeDirectory) return FolderAction(item, filter, full);
  // Only regular files are read: a FIFO, a socket or a device could block
  // the read or never end it.
  return type == kPfModeRegular ? kItemAdd : kItemFail;
}

// What is stored for an item the pass stores, before hard links are told:
// false when a link's target cannot be read.
static bool DescribeItem(ItemAction action, const char* relative, const char* full,
                         const PfFileStatus& status, StoredItem* stored) {
  stored->status = status;
  stored->link[0] = '\0';
  MakeMemberName(relative, stored->member);
  if (action == kItemFolder) {
    stored->typeflag = kTypeDirectory;
    // kMemberSize + 1 bytes hold the name and its separator. A name the
    // stored-name rule took away stays empty: nothing is stored for it.
    size_t len = strlen(stored->member);
    if (len > 0 && !EndsWithChar(AnsiCodePage(), stored->member, len, "\\")) {
      memcpy(stored->member + len, "\\", 2);
    }
    return true;
  }
  if (action == kItemLink) {
    stored->typeflag = kTypeSymlink;
    return PfReadLink(full, stored->link, sizeof stored->link);
  }
  stored->typeflag = kTypeRegular;
  return true;
}

// A folder whose name the stored-name rule took away: nothing is stored.
static bool IsNameless(const StoredItem& item) {
  return item.typeflag == kTypeDirectory && item.member[0] == '\0';
}

void FileIdKey(const PfFileId& id, char* key, size_t size) {
  snprintf(key, size, "%llx:%llx", static_cast<unsigned long long>(id.volume),
           static_cast<unsigned long long>(id.index));
}

// The files stored in this pass that have more names than one are kept in
// a table by their identity, with the member name each was stored under
// first.
static bool HasOtherNames(const StoredItem& item) {
  return item.typeflag == kTypeRegular && item.status.hasId && item.status.links > 1;
}

// A second name of a file stored earlier in the pass becomes a hard link
// to the member it was stored as.
static void TellHardLink(const NameTable& names, StoredItem* item) {
  if (!HasOtherNames(*item)) return;
  char id[kFileIdKeySize];
  FileIdKey(item->status.id, id, sizeof id);
  const char* first = GetText(&names, id);
  if (first == nullptr) return;
  item->typeflag = kTypeHardLink;
  // Every first name came from a member buffer, shorter than kLinkSize.
  size_t len = strnlen(first, sizeof item->link - 1);
  memcpy(item->link, first, len);
  item->link[len] = '\0';
}

// False when memory runs out. A second name is a hard link by now, so the
// first name stays.
static bool RememberFirstName(NameTable* names, const StoredItem& item) {
  if (!HasOtherNames(item)) return true;
  char id[kFileIdKeySize];
  FileIdKey(item.status.id, id, sizeof id);
  return PutText(names, id, item.member);
}

// One item the pass stores, announced already.
static bool AddItem(TarWriter* out, NameTable* names, ItemAction action, const char* relative,
                    const char* full, const PfFileStatus& status) {
  StoredItem stored;
  if (!DescribeItem(action, relative, full, status, &stored)) {
    SetStatus(StatusFileError);
    return false;
  }
  if (IsNameless(stored)) return true;
  TellHardLink(*names, &stored);
  if (!StoreItem(out, full, stored)) return false;
  if (!RememberFirstName(names, stored)) {
    SetStatus(StatusOutOfMemory);
    return false;
  }
  return true;
}

static bool AddEach(TarWriter* out, const FileMaskList* items, const ArchiveFiles& archive,
                    const ItemFilter* filter, NameTable* names) {
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
    ItemAction action = ActionFor(item, filter, archive, relative, source, full, &status);
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
    if (!AddItem(out, names, action, relative, full, status)) return false;
  }
  return true;
}

bool AddItems(TarWriter* out, const FileMaskList* items, const char* tempPath,
              const ItemFilter* filter) {
  ArchiveFiles archive;
  IdentifyArchiveFiles(tempPath, &archive);
  NameTable names = {};
  bool added = AddEach(out, items, archive, filter, &names);
  DoneNameTable(&names);
  return added;
}

bool FirstItemToAdd(const FileMaskList* items, const ItemFilter* filter, StoredItem* first,
                    char* full) {
  ArchiveFiles archive;
  IdentifyArchiveFiles(nullptr, &archive);
  for (const FileMaskEntry* item = items->first; item != nullptr; item = item->next) {
    char relative[kItemSize];
    char source[kItemSize];
    PfFileStatus status;
    ItemAction action = ActionFor(item, filter, archive, relative, source, full, &status);
    if (action == kItemFail || action == kItemTooLong) return false;
    if (action == kItemPassOver || action == kItemAnnounce) continue;
    if (!DescribeItem(action, relative, full, status, first)) return false;
    if (!IsNameless(*first)) return true;
  }
  return false;
}
