// The module-wide streams and transfer buffer. Each operation opens the
// streams it needs and closes them before it returns.
#pragma once

#include "../platform/platform.h"

extern PfFile* gInput;   // the archive being read
extern PfFile* gOutput;  // the file being written
extern PfFile* gSource;  // the file being added

// Closes a stream if it is open and forgets it.
void CloseStream(PfFile** stream);
