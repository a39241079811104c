// Member names as read: the read-name rule, and the code page a stored name
// is taken to be in.
#pragma once

#include <cstddef>

#include "entry.h"
#include "format.h"

// Names as read, before and after the read-name rule: the longest an
// extension entry gives, or a prefix, "/" and a name field.
const size_t kRawNameSize = kLongNameMax + kPrefix.width + kName.width + 2;

// The read-name rule: "/" to "\", then one leading separator, one drive
// (a letter, ":" and a separator) and one leading ".." component are
// dropped. `result` holds
// `size` bytes; a longer result is cut. It may be `rawName` itself.
void ReadName(const char* rawName, char* result, size_t size);

// Puts a stored name (after the read-name rule) into the entry, in the ANSI
// code page. Pax names are UTF-8. Other names are taken as UTF-8 when they
// are valid UTF-8 with some character beyond ASCII, every one of them in a
// script people write names in; otherwise they are in the OEM code page, as
// the module has always written them. Under a UTF-8 code page a name that
// is UTF-8 keeps its bytes and any other reads as code page 437. A name
// that has no ANSI form, or is longer than 255 bytes, is kept with "_" and
// cut at a character, and marked as one that cannot be written. `scratch`
// holds kRawNameSize bytes.
void DecodeMemberName(const char* text, bool fromPax, bool tooLong, char* scratch,
                      TarEntry* e);
// The same for any stored text (a link target), into `out` of `size` bytes;
// answers whether it came over whole.
bool DecodeStoredText(const char* text, bool fromPax, bool tooLong, char* scratch, char* out,
                      size_t size);
