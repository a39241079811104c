// Items to add: how an entry of the host's list becomes a relative name, a
// source path and a member name, and how one file becomes a member.
#pragma once

#include <cstddef>

#include "../base/pathbuf.h"
#include "../platform/platform.h"
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

// Appends one file, whose status was read as `status`, as a member at the
// writer's position: header, exactly as many data bytes as the header
// gives, padding. False, with the status set, when it failed.
bool AddOneFile(TarWriter* out, const char* source, const char* relative,
                const PfFileStatus& status);

// True, with StatusNothingToAdd, when every item names an existing directory.
bool AllItemsAreDirectories(const FileMaskList* items);

// The files of the archive an operation works on, the archive and the
// temporary file being written: they are never added as items, and never
// overwritten by an extracted member.
struct ArchiveFiles {
  PfFileId ids[2];
  int count;
};
void IdentifyArchiveFiles(const char* tempPath, ArchiveFiles* files);
bool IsArchiveFile(const char* path, const PfFileStatus& status, const ArchiveFiles& files);

// Whether an item is passed over, told the context it was given with.
typedef bool (*SkipItemFn)(const void* context, const FileMaskEntry* item);

// The add pass: every item with a name, in list order, announced and (when
// it is no directory) added to the writer; items `skip` answers true for
// are passed over. False, with the status set, at the first failure.
bool AddItems(TarWriter* out, const FileMaskList* items, const char* tempPath,
              SkipItemFn skip = nullptr, const void* context = nullptr);

// The first item the add pass would add, and its relative name, the full
// path of its file (kFullSourceSize bytes) and its status; false when the
// pass adds nothing or fails first. It calls back nothing.
bool FirstItemToAdd(const FileMaskList* items, SkipItemFn skip, const void* context,
                    char* relative, char* full, PfFileStatus* status);
