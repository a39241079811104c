// Temporary files beside an archive or an output file: their names, and
// their removal.
#pragma once

#include <cstddef>

// A name beside `path`, digits and ".$SC", under which nothing exists now.
// False when the folder leaves no room for it, or when no free name turned
// up after a bounded number of tries.
bool MakeTempName(const char* path, char* result, size_t size);

// Removes a temporary or incomplete file. A file can stay locked for a
// moment after it was closed (a scanner looking at it on Windows), so a
// failed removal gets a second try.
void RemoveLeftover(const char* path);
