// Stored names and output paths: how disk paths become member names and
// member names become the paths that extraction writes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../platform/platform.h"

// Drops a leading \\server\share, keeping the "\" after the share. `dst`
// may be `src`; both hold `size` bytes.
void StripUncRoot(const char* src, char* dst, size_t size);

// The stored-name rule, in place: no server and share, no leading "\", no
// drive, one leading ".." component fewer. The comparison form runs every step; the
// header form stops after a UNC root.
void MakeStoredName(char* path, size_t size);
void MakeStoredNameForHeader(char* path, size_t size);

// What can become of a member name on its way to an output path.
enum OutputPathResult {
  kOutputPathOk,
  kOutputPathTooLong,  // it does not fit: nothing may be written for it
  kOutputPathUnsafe,   // it would leave the output directory
};

// What decides where a member is written: the host's settings at the time.
struct OutputRule {
  const char* outputDir;  // "" or ending in "\" or ":"
  const char* basePath;   // a folder inside the archive, or ""
  int32_t pathMode;       // 0 names alone, 1 below the base path, else whole
  bool outputDirTooLong;  // the host's directory did not fit: write nothing
  bool basePathTooLong;   // the host's base path did not fit
};

// The output path of a member by the rule, into `dst` (256 bytes).
OutputPathResult MakeOutputPath(const char* memberName, const OutputRule& rule, char* dst);

// How many leading characters of `name` a base path takes: itself and the
// separator after it when the name lies below it (compared without case),
// the whole name when the two are equal, none when the name lies elsewhere.
size_t BasePathCut(const char* name, const char* basePath);

// The trailing-separator rule: "" stays "", a path ending in "\" or ":"
// stays, any other gets a "\". False, with `dst` emptied, when the result
// does not fit `size`.
bool AddTrailingSeparator(const char* path, char* dst, size_t size);

// Whether a name relative to the output directory stays below it and names
// an ordinary file on Windows: no "..", no leading separator, none of
// : * ? < > | " and no control character, no device name and no component
// ending in a dot or a space.
bool IsSafeRelativeName(const char* name);

// Splits \\server\share\rest into root ("\\server\share\") and rest; both
// buffers hold kFullPathSize bytes and were zero-filled by the caller. False, with
// `rest` a copy of the path, when the path has no server.
bool SplitUncRoot(const char* path, char* rest, char* root);

// Told of each folder made on the way to an output path.
struct FolderWatch {
  void (*made)(void* context, const char* folder);
  void* context;
};

// Creates the file at `path`, which must not exist yet, making missing
// directories one level at a time; a link in its place is never followed.
// Null when it cannot be made.
PfFile* CreateOutputFile(const char* path, const FolderWatch* watch = nullptr);

// Makes the folder at `path` and the missing ones above it the same way.
// False when there is no folder there afterwards.
bool MakeOutputFolder(const char* path, const FolderWatch* watch = nullptr);

bool IsDirectory(const char* path);

// Sets the attributes of an existing file to archive alone (no read-only).
void MakeWritable(const char* path);
