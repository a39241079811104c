// Small rules of the module's text: separators, and names as the host is
// shown them.
#pragma once

#include <cstddef>

// A copy of `text` in memory of its own (free() releases it); null when
// memory runs out.
char* CopyText(const char* text);

// Turns every "/" into "\", the separator inside the module.
void UseBackslashes(char* text);

// A member or relative name as the host is shown it: "\" and the name, into
// `out` of `size` bytes, cut to fit.
void DisplayName(const char* name, char* out, size_t size);
