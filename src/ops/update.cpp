// Updating an existing archive: a new archive is written beside it, with the
// old members carried over or replaced as the host decides and the items
// added, and then swapped in.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../archive/lock.h"
#include "../archive/rebuild.h"
#include "../base/status.h"
#include "../names/chars.h"
#include "../names/masks.h"
#include "../names/nameindex.h"
#include "../names/paths.h"
#include "../platform/platform.h"
#include "../session/callbacks.h"
#include "../session/current.h"
#include "../session/settings.h"
#include "../tar/copy.h"
#include "append.h"
#include "carry.h"
#include "archiveio.h"
#include "items.h"
#include "ops.h"
#include "replace.h"

const size_t kKeySize = kItemSize + kPathSize;

// What one update works with; released before the export returns.
struct Update {
  ArchiveLock lock;             // the archive, read and locked
  ArchiveInput in;
  const FileMaskEntry** items;  // the host's items, by position
  NameIndex itemKeys;           // item key -> position of its first item
  FileMaskList keptNames;       // members the host chose to keep
  NameIndex keptForms;          // their names in comparison form
  NameIndex listedNames;        // the listed members' names, as spelt
  NameIndex heldFolders;        // the folder entries' names in comparison form
  ItemFilter filter;            // for the add pass: kept items, held folders
  TarReader reader;
};

// Directory + name + "." + extension, optionally behind a prefix, upper-
// cased unless `spelt`; false when it does not fit.
static bool ComposeKey(const char* prefix, const FileMaskEntry* entry, char* key,
                       bool spelt = false) {
  char text[kKeySize];
  int n = snprintf(text, sizeof text, "%s%s%s%s%s", prefix, entry->directory,
                   entry->name, entry->extension[0] != '\0' ? "." : "", entry->extension);
  if (n < 0 || static_cast<size_t>(n) >= sizeof text) return false;
  if (spelt) {
    memcpy(key, text, static_cast<size_t>(n) + 1);
  } else {
    UpperText(text, key, kKeySize);
  }
  return true;
}

// Storing paths, the key holds base path and directories, through the
// stored-name rule; otherwise the file name alone.
static bool ItemKey(const FileMaskEntry* item, char* key, bool spelt = false) {
  if (gStorePaths != StoreRelativePaths) {
    FileMaskEntry bare = *item;
    bare.directory = const_cast<char*>("");
    return ComposeKey("", &bare, key, spelt);
  }
  char prefix[kPathSize + 1] = "";
  if (gBasePath[0] != '\0') snprintf(prefix, sizeof prefix, "%s\\", gBasePath);
  if (!ComposeKey(prefix, item, key, spelt)) return false;
  MakeStoredName(key, kKeySize);
  return true;
}

static bool IndexItems(Update* u, const FileMaskList* items) {
  size_t count = 0;
  for (const FileMaskEntry* e = items->first; e != nullptr; e = e->next) count++;
  u->items = static_cast<const FileMaskEntry**>(calloc(count + 1, sizeof(FileMaskEntry*)));
  if (u->items == nullptr) return false;
  int32_t position = 0;
  for (const FileMaskEntry* e = items->first; e != nullptr; e = e->next, position++) {
    u->items[position] = e;
    char key[kKeySize];
    if (ItemKey(e, key) && !AddName(&u->itemKeys, key, position)) return false;
  }
  return true;
}

// The first item whose key equals the member's, with the path under which
// its file is looked up: the add-root path, whatever the store-paths flag,
// and the relative name.
static const FileMaskEntry* FindItemForMember(const Update* u, const char* memberName,
                                              char* lookupPath) {
  char key[kKeySize];
  UpperText(memberName, key, sizeof key);
  int32_t position = FindName(&u->itemKeys, key);
  if (position < 0) return nullptr;
  const FileMaskEntry* item = u->items[position];
  char relative[kItemSize];
  lookupPath[0] = '\0';
  if (ComposeRelativeName(item, relative)) {
    snprintf(lookupPath, kKeySize, "%s%s", gAddRoot, relative);
  }
  return item;
}

// Asks the host about a member that an item would replace, when the item's
// file is found; ReplaceYes without asking otherwise. An update writes no
// disk file, so no answer changes a file's attributes: the first candidate
// need not even be the file that is added.
static int32_t AskReplaceMember(const TarEntry& member, const char* lookupPath) {
  // A member below the base path is looked for without it; a member that is
  // the base path itself keeps its name.
  const char* trimmed = member.name;
  size_t cut = BasePathCut(trimmed, gBasePath);
  if (trimmed[cut] != '\0') trimmed += cut;
  char first[kKeySize];
  snprintf(first, sizeof first, "%s%s", gStorePaths == StoreRelativePaths ? gAddRoot : "",
           trimmed);
  FindRecord found;
  unsigned char* record = reinterpret_cast<unsigned char*>(&found);
  if (!FindSourceFile(first, record) && !FindSourceFile(lookupPath, record)) return ReplaceYes;
  if (!HostAnswersReplace()) return ReplaceYes;
  return AskHostToReplace(member, found);
}

static void RememberKept(Update* u, const char* memberName) {
  if (!AppendMask(memberName, &u->keptNames)) {
    SetStatus(StatusOutOfMemory);
    return;
  }
  char form[kKeySize];
  if (ComposeKey("", u->keptNames.last, form)) {
    MakeStoredName(form, sizeof form);
    if (!AddName(&u->keptForms, form, 0)) SetStatus(StatusOutOfMemory);
  }
}

static bool IsKeptItem(const void* context, const FileMaskEntry* item) {
  const Update* u = static_cast<const Update*>(context);
  char key[kKeySize];
  return ItemKey(item, key) && FindName(&u->keptForms, key) >= 0;
}

// A folder entry is carried over as stored: a folder item of its name adds
// no second one. The scanner names a folder without its separator.
static bool RememberFolder(Update* u, const char* name) {
  char key[kKeySize];
  UpperText(name, key, sizeof key);
  return key[0] == '\0' || AddName(&u->heldFolders, key, 0);
}

static bool HoldsFolderEntry(const void* context, const FileMaskEntry* item) {
  const Update* u = static_cast<const Update*>(context);
  char key[kKeySize];
  return ItemKey(item, key) && FindName(&u->heldFolders, key) >= 0;
}

// Members no item corresponds to, and entries that are not listed, are
// kept; a corresponding member goes as the host answers.
// Whether the member is the one the item stands for: where members differ
// from each other only by case, the one spelt like the item; where none is,
// any of them.
static bool SpeltLikeItem(const Update* u, const FileMaskEntry* item, const char* memberName) {
  char spelt[kKeySize];
  if (!ItemKey(item, spelt, true) || strcmp(spelt, memberName) == 0) return true;
  return FindName(&u->listedNames, spelt) < 0;
}

static bool KeepOnUpdate(Update* u, const TarEntry& entry) {
  if (!entry.listed) return true;
  char lookupPath[kKeySize];
  const FileMaskEntry* item = FindItemForMember(u, entry.name, lookupPath);
  if (item == nullptr || !SpeltLikeItem(u, item, entry.name)) return true;
  int32_t answer = AskReplaceMember(entry, lookupPath);
  if (answer == ReplaceAbort) {
    SetStatus(StatusUserAbort);
    return false;
  }
  if (answer != ReplaceSkip) return false;
  RememberKept(u, entry.name);
  return true;
}

static void CarryAsStored(const Carry& c, const TarEntry& entry) {
  SetStatusFor(CopyRaw(c.in, c.out, entry.spanStart, entry.dataEnd - entry.spanStart));
}

static void ReleaseUpdate(Update* u) {
  free(u->items);
  DoneNameIndex(&u->itemKeys);
  DoneNameIndex(&u->keptForms);
  DoneNameIndex(&u->listedNames);
  DoneNameIndex(&u->heldFolders);
  DoneMaskList(&u->keptNames);
  ReleaseArchive(&u->lock);
  free(u);
}

// Asks about every member an item would replace, in archive order, before
// anything is written: what the host answers decides whether the archive
// can grow in place.
static void AskAboutMembers(Update* u, TarEntryList* members) {
  for (TarEntry* e = members->head; e != nullptr && StatusIsOk(); e = e->next) {
    e->replaced = !KeepOnUpdate(u, *e);
  }
}

static bool NotReplaced(const TarEntry& entry) { return !entry.replaced; }
static bool Replaced(const TarEntry& entry) { return entry.replaced; }

// What stays carried over as stored, then the items, then the end marker,
// compressed as the archive is.
static bool WriteRebuilt(Update* u, TarEntryList* members, const FileMaskList* items,
                         const Rebuild& rb) {
  ArchiveOutput out;
  Outcome started = StartArchiveOutput(&out, rb.file, u->in.codec);
  SetStatusFor(started);
  if (started == kDone) {
    WalkForRebuild(members, NotReplaced, CarryAsStored, Carry{u->in.source, &out.writer, nullptr},
                   Replaced);
    if (StatusIsOk()) AddItems(&out.writer, items, rb.tempPath, &u->filter);
    if (StatusIsOk() && EndArchive(&out.writer)) SetStatusFor(FinishArchiveOutput(&out));
  }
  EndArchiveOutput(&out);
  return StatusIsOk();
}

// The new archive beside the old one, swapped in when complete.
static void RebuildWithItems(Update* u, TarEntryList* members,
                             const FileMaskList* items) {
  Rebuild rb;
  Outcome begun = BeginRebuild(u->lock.path, &rb);
  if (begun != kDone) {
    SetStatusFor(begun);
    return;
  }
  bool written = WriteRebuilt(u, members, items, rb);
  // The archive is read no more: a decoder's thread ends before the lock
  // may go.
  EndArchiveInput(&u->in);
  if (written) {
    SetStatusFor(FinishRebuild(&rb, &u->lock, u->lock.path));
  } else {
    AbandonRebuild(&rb);
  }
}

static void UpdateLockedArchive(Update* u, const FileMaskList* items) {
  TarEntryList members;
  ScanForRebuild(&u->reader, &u->in, &members);
  if (gArchiveStatus == StatusNoEntries) SetStatus(StatusOk);
  if (StatusIsOk() && !IndexItems(u, items)) SetStatus(StatusOutOfMemory);
  for (const TarEntry* e = members.head; e != nullptr && StatusIsOk(); e = e->next) {
    if (e->listed && !AddName(&u->listedNames, e->name, 0)) SetStatus(StatusOutOfMemory);
    if (IsFolderEntry(*e) && !RememberFolder(u, e->name)) {
      SetStatus(StatusOutOfMemory);
    }
  }
  if (StatusIsOk()) AskAboutMembers(u, &members);
  if (StatusIsOk()) {
    // Only a plain archive grows in place.
    if (u->in.codec == kCodecNone &&
        CanAppendInPlace(&members, u->reader.outcome, u->in.source, items, &u->filter)) {
      AppendInPlace(u->reader.outcome, u->lock, items, &u->filter);
    } else {
      RebuildWithItems(u, &members, items);
    }
  }
  FreeTarEntryList(&members);
}

void UpdateArchive(const FileMaskList* items) {
  SetStatus(StatusOk);
  if (items->first == nullptr) {
    SetStatus(StatusEmptyRequest);
    return;
  }
  Update* u = static_cast<Update*>(calloc(1, sizeof(Update)));
  if (u == nullptr) {
    SetStatus(StatusOutOfMemory);
    return;
  }
  u->filter = {IsKeptItem, HoldsFolderEntry, u};
  Outcome opened = OpenArchiveForChange(gArchivePath, &u->lock);
  SetStatusFor(opened);
  if (opened == kDone) {
    Outcome started = StartArchiveInput(&u->in, u->lock.file);
    SetStatusFor(started);
    if (started == kDone) UpdateLockedArchive(u, items);
    EndArchiveInput(&u->in);
  }
  ReleaseUpdate(u);
}
