// Settings the host hands over before an operation. None of them is reset by
// naming or forgetting an archive.
#pragma once

#include <cstdint>

#include "../names/paths.h"
#include "current.h"
#include "../votar.h"

extern char gOutputDir[kPathSize];  // "" or ending in "\" or ":"
extern bool gOutputDirTooLong;      // the host's directory did not fit
extern char gBasePath[kPathSize];   // a folder inside the archive
extern char gAddRoot[kPathSize];    // the folder the items to add lie under
// A base path or add-root path that did not fit: cutting it would change
// names and source paths, so the operations that use it refuse to run.
extern bool gBasePathTooLong;
extern bool gAddRootTooLong;
extern int32_t gStorePaths;         // 0: names alone; 1: relative paths

// The path mode of the host's last extraction settings: 0 file names alone,
// 1 paths below the base path, anything else whole paths.
int32_t PathMode();

// The settings that decide where extraction writes, as they stand now.
OutputRule CurrentOutputRule();

// The bodies of SetOutputPath, SetDecompExtraFeatures and
// SetCompExtraFeatures.
char* StoreOutputPath(const char* path);
void StoreDecompSettings(const void* settings);
void StoreCompSettings(const void* settings);
