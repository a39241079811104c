// File mask lists and the matching of names against them.
#pragma once

#include <cstddef>

#include "../votar.h"

const size_t kPartSize = 256;  // directory, name and extension: 255 and NUL

// Splits a path into drive (3 bytes), directory, name and extension (256
// bytes each; the extension keeps its dot). Any output may be null. Lead
// bytes of double-byte characters are neither separators nor dots.
void SplitPath(const char* path, char* drive, char* directory, char* name,
               char* extension);

// Copies src to dst (which may be src) in upper case, by the ANSI code
// page's upper-casing, as masks are raised. Bounded by `size`.
char* UpcaseName(const char* src, char* dst, size_t size);

// Wildcard match, byte for byte: "*" any run, "?" one character. The
// character after a "*" matches exactly one character (a second "*" is
// literal there).
bool MatchWildcard(const char* text, const char* pattern);

// `candidate` is upper-cased already, with "\" separators.
bool MatchFileMask(const char* candidate, const FileMaskEntry* entry);

// True for an empty list or when any mask accepts the name.
bool MatchFileMaskList(const char* candidate, const FileMaskList* list);

// The bodies of InitFileMaskList, AppendFileMask and DoneFileMaskList, which
// the module also uses for lists of its own.
// AppendMask answers 0, with the list as it was, when memory runs out.
FileMaskList* InitMaskList(FileMaskList* list);
uint8_t AppendMask(const char* mask, FileMaskList* list);
void DoneMaskList(FileMaskList* list);
