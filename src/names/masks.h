// File mask lists and the matching of names against them.
#pragma once

#include <cstddef>

#include "../votar.h"
#include "chars.h"

const size_t kPartSize = 256;  // directory, name and extension: 255 and NUL

// Splits a path into drive (3 bytes), directory, name and extension (256
// bytes each; the extension keeps its dot), by characters of the ANSI code
// page (or `cp`): a trail byte is neither separator nor dot. Any output may
// be null.
void SplitPath(const char* path, char* drive, char* directory, char* name, char* extension,
               const CodePage* cp = nullptr);

// Wildcard match: "*" any run, "?" one character. The character after a
// "*" matches exactly one character (a second "*" is literal there). Under
// UTF-8 a character is a code point; under classic code pages, single- or
// double-byte, the rule goes byte for byte, as it always has.
bool MatchWildcard(const char* text, const char* pattern, const CodePage* cp = nullptr);

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
