// Updating an existing archive: a new archive is written beside it, with the
// old members carried over or replaced as the host decides and the items
// added, and then swapped in.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../api/archive.h"
#include "../api/callbacks.h"
#include "../api/settings.h"
#include "../base/status.h"
#include "../names/masks.h"
#include "../names/nameindex.h"
#include "../names/paths.h"
#include "../platform/platform.h"
#include "../tar/format.h"
#include "../tar/lock.h"
#include "../tar/scanner.h"
#include "../tar/streams.h"
#include "../tar/transfer.h"
#include "append.h"
#include "items.h"
#include "ops.h"
#include "rebuild.h"

const size_t kKeySize = kItemSize + kPathSize;

// What one update works with; released before the export returns.
struct Update {
  const FileMaskEntry** items;  // the host's items, by position
  NameIndex itemKeys;           // item key -> position of its first item
  FileMaskList keptNames;       // members the host chose to keep
  NameIndex keptForms;          // their names in comparison form
};
static Update gUpdate;

// Upper-cased directory + name + "." + extension, optionally behind a
// prefix; false when it does not fit.
static bool ComposeKey(const char* prefix, const FileMaskEntry* entry, char* key) {
  char text[kKeySize];
  int n = snprintf(text, sizeof text, "%s%s%s%s%s", prefix, entry->directory,
                   entry->name, entry->extension[0] != '\0' ? "." : "", entry->extension);
  if (n < 0 || static_cast<size_t>(n) >= sizeof text) return false;
  UpcaseName(text, key, kKeySize);
  return true;
}

// With store-paths flag 1 the key holds base path and directories, through
// the stored-name rule; otherwise the file name alone.
static bool ItemKey(const FileMaskEntry* item, char* key) {
  if (gStorePaths != 1) {
    FileMaskEntry bare = *item;
    bare.directory = const_cast<char*>("");
    return ComposeKey("", &bare, key);
  }
  char prefix[kPathSize + 1] = "";
  if (gBasePath[0] != '\0') snprintf(prefix, sizeof prefix, "%s\\", gBasePath);
  if (!ComposeKey(prefix, item, key)) return false;
  MakeStoredName(key, kKeySize);
  return true;
}

static bool IndexItems(const FileMaskList* items) {
  size_t count = 0;
  for (const FileMaskEntry* e = items->first; e != nullptr; e = e->next) count++;
  gUpdate.items = static_cast<const FileMaskEntry**>(calloc(count + 1, sizeof(FileMaskEntry*)));
  if (gUpdate.items == nullptr) return false;
  int32_t position = 0;
  for (const FileMaskEntry* e = items->first; e != nullptr; e = e->next, position++) {
    gUpdate.items[position] = e;
    char key[kKeySize];
    if (ItemKey(e, key) && !AddName(&gUpdate.itemKeys, key, position)) return false;
  }
  return true;
}

// The first item whose key equals the member's, with the path under which
// its file is looked up: the add-root path, whatever the store-paths flag,
// and the relative name.
static const FileMaskEntry* FindItemForMember(const char* memberName, char* lookupPath) {
  char key[kKeySize];
  UpcaseName(memberName, key, sizeof key);
  int32_t position = FindName(&gUpdate.itemKeys, key);
  if (position < 0) return nullptr;
  const FileMaskEntry* item = gUpdate.items[position];
  char relative[kItemSize];
  lookupPath[0] = '\0';
  if (ComposeRelativeName(item, relative)) {
    snprintf(lookupPath, kKeySize, "%s%s", gAddRoot, relative);
  }
  return item;
}

// Asks the host about a member that an item would replace, when the item's
// file is found; 0 (replace) without asking otherwise. An update writes no
// disk file, so no answer changes a file's attributes: the first candidate
// need not even be the file that is added.
static int32_t AskReplaceMember(const TarEntry& member, const char* lookupPath) {
  // A member below the base path is looked for without it; a member that is
  // the base path itself keeps its name.
  const char* trimmed = member.name;
  size_t cut = BasePathCut(trimmed, gBasePath);
  if (trimmed[cut] != '\0') trimmed += cut;
  char first[kKeySize];
  snprintf(first, sizeof first, "%s%s", gStorePaths == 1 ? gAddRoot : "", trimmed);
  FindRecord found;
  unsigned char* record = reinterpret_cast<unsigned char*>(&found);
  if (!FindSourceFile(first, record) && !FindSourceFile(lookupPath, record)) return 0;
  if (!HostAnswersReplace()) return 0;
  return AskHostToReplace(member, found);
}

static void RememberKept(const char* memberName) {
  if (!AppendMask(memberName, &gUpdate.keptNames)) return;
  char form[kKeySize];
  if (ComposeKey("", gUpdate.keptNames.last, form)) {
    MakeStoredName(form, sizeof form);
    if (!AddName(&gUpdate.keptForms, form, 0)) SetStatus(StatusOutOfMemory);
  }
}

static bool IsKeptItem(const FileMaskEntry* item) {
  char key[kKeySize];
  return ItemKey(item, key) && FindName(&gUpdate.keptForms, key) >= 0;
}

// Members no item corresponds to, and entries that are not listed, are
// kept; a corresponding member goes as the host answers.
static bool KeepOnUpdate(const TarEntry& entry) {
  if (!entry.listed) return true;
  char lookupPath[kKeySize];
  if (FindItemForMember(entry.name, lookupPath) == nullptr) return true;
  int32_t answer = AskReplaceMember(entry, lookupPath);
  if (answer == 2) {
    SetStatus(StatusUserAbort);
    return false;
  }
  if (answer != 1) return false;
  RememberKept(entry.name);
  return true;
}

static void CarryAsStored(const TarEntry& entry) {
  CopyRaw(entry.spanStart, entry.dataEnd - entry.spanStart);
}

static void ReleaseUpdate() {
  free(gUpdate.items);
  gUpdate.items = nullptr;
  DoneNameIndex(&gUpdate.itemKeys);
  DoneNameIndex(&gUpdate.keptForms);
  DoneMaskList(&gUpdate.keptNames);
}

// Asks about every member an item would replace, in archive order, before
// anything is written: what the host answers decides whether the archive
// can grow in place.
static void AskAboutMembers(TarEntryList* members) {
  for (TarEntry* e = members->head; e != nullptr && StatusIsOk(); e = e->next) {
    e->replaced = !KeepOnUpdate(*e);
  }
}

static bool NotReplaced(const TarEntry& entry) { return !entry.replaced; }

// The new archive beside the old one: what stays carried over as stored,
// then the items, then the end marker; swapped in when complete.
static void Rebuild(const TarEntryList* members, const FileMaskList* items) {
  char tempPath[kFullPathSize];
  if (!BeginRebuild(tempPath)) return;
  WalkForRebuild(members, NotReplaced, CarryAsStored);
  if (StatusIsOk()) AddItems(items, tempPath, IsKeptItem);
  if (!StatusIsOk() || !WriteEndMarker()) {
    AbandonRebuild(tempPath);
  } else {
    FinishRebuild(tempPath);
  }
}

static void UpdateLockedArchive(const FileMaskList* items, FileMaskList* all) {
  TarEntryList members = {};
  ScanForRebuild(&members, all);
  if (gArchiveStatus == StatusNoEntries) SetStatus(StatusOk);
  if (StatusIsOk() && !IndexItems(items)) SetStatus(StatusOutOfMemory);
  if (StatusIsOk()) AskAboutMembers(&members);
  if (StatusIsOk()) {
    if (CanAppendInPlace(&members, items, IsKeptItem)) {
      AppendInPlace(items, IsKeptItem);
    } else {
      Rebuild(&members, items);
    }
  }
  FreeTarEntryList(&members);
}

void UpdateArchive(const FileMaskList* items) {
  SetStatus(StatusOk);
  FileMaskList all;
  InitMaskList(&all);
  if (!AppendMask("*.*", &all)) return;
  if (items->first == nullptr) {
    SetStatus(StatusEmptyRequest);
  } else if (OpenArchiveForChange()) {
    memset(&gUpdate, 0, sizeof gUpdate);
    UpdateLockedArchive(items, &all);
    ReleaseUpdate();
  }
  ReleaseArchive();
  DoneMaskList(&all);
}
