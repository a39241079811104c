// Items to add: how an entry of the host's list becomes a relative name, a
// source path and a member name, and how one item becomes a member.
#pragma once

#include <cstddef>

#include "../base/pathbuf.h"
#include "../platform/platform.h"
#include "../tar/format.h"
#include "../tar/writer.h"
#include "../votar.h"

const size_t kItemSize = 350;    // relative names and source paths
// Member names under composition: base path, "\" and a relative name fit
// whole; the header keeps their first 99 bytes.
const size_t kMemberSize = kPathSize + kItemSize;

// directory + name, then "." + extension when there is one. False when it
// does not fit.
bool ComposeRelativeName(const FileMaskEntry* item, char* out);

// The add-root path (when the store-paths flag is 1) and the relative name:
// the path the host is shown. The file system gets its FullPath, which
// holds the current folder as well.
bool ComposeSourcePath(const FileMaskEntry* item, char* out);
const size_t kFullSourceSize = kPathSize + kItemSize;

// PfFindFile for a source path, by its full path.
bool FindSourceFile(const char* path, unsigned char* record);

// The header form of the stored-name rule, the base path in front, and with
// store-paths flag 0 the file name and extension alone.
void MakeMemberName(const char* relative, char* member);

// Tells SetFileNameProc about an item: the disk path, then "\" and the
// relative name.
void AnnounceItem(const char* source, const char* relative);

// A link's target as stored: what the header's fields and its extension
// entries carry.
const size_t kLinkSize = kLongNameMax;

// What the add pass stores for one item.
struct StoredItem {
  char typeflag;                 // kTypeRegular, kTypeDirectory, kTypeSymlink, kTypeHardLink
  char member[kMemberSize + 1];  // a folder's ends in "\"
  char link[kLinkSize];          // a symbolic link's target, or the member a hard link
                                 // names; "" for none
  PfFileStatus status;           // a file's size goes in the header; the others hold no data
};

// Appends one item as a member at the writer's position: header, and for a
// file exactly as many data bytes as the header gives (read from `source`),
// and padding. False, with the status set, when it failed.
bool StoreItem(TarWriter* out, const char* source, const StoredItem& item);

// True, with StatusNothingToAdd, when every item names an existing directory.
bool AllItemsAreDirectories(const FileMaskList* items);

// A file's identity as the key of a name index: two numbers in hex.
const size_t kFileIdKeySize = 40;
void FileIdKey(const PfFileId& id, char* key, size_t size);

// The files of the archive an operation works on, the archive and the
// temporary file being written: they are never added as items, and never
// overwritten by an extracted member.
struct ArchiveFiles {
  PfFileId ids[2];
  int count;
};
void IdentifyArchiveFiles(const char* tempPath, ArchiveFiles* files);
bool IsArchiveFile(const char* path, const PfFileStatus& status, const ArchiveFiles& files);

// A question about an item, asked with the context it was given with.
typedef bool (*ItemQuestionFn)(const void* context, const FileMaskEntry* item);

// What the caller of the add pass says of items: which are passed over
// unannounced (`skip`), and of an item that is a folder, whether the
// archive holds its folder entry already (`folderHeld`: it is announced and
// not stored again). Either may be null.
struct ItemFilter {
  ItemQuestionFn skip;
  ItemQuestionFn folderHeld;
  const void* context;
};

// The add pass: every item with a name, in list order, announced and
// stored at the writer: a file with its data, a folder as a folder entry
// (unless names alone are stored), and natively a symbolic link as a link
// and a second name of a file stored earlier in the pass as a hard link.
// False, with the status set, at the first failure.
bool AddItems(TarWriter* out, const FileMaskList* items, const char* tempPath,
              const ItemFilter* filter = nullptr);

// The first member the add pass would store, and the full path of its
// item (kFullSourceSize bytes); false when the pass stores nothing or
// fails first. It calls back nothing.
bool FirstItemToAdd(const FileMaskList* items, const ItemFilter* filter, StoredItem* first,
                    char* full);
