// Items to add: how an entry of the host's list becomes a relative name, a
// source path and a member name, and how one file becomes a member.
#pragma once

#include <cstddef>

#include "../api/archive.h"
#include "../votar.h"
#include "../platform/platform.h"

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
// output stream's position: header, exactly as many data bytes as the
// header gives, padding.
bool AddOneFile(const char* source, const char* relative, const PfFileStatus& status);

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
