// Shared between the stream code and the two platform files.
#pragma once

#include "platform.h"

// Takes ownership of an open file descriptor of the C runtime; null when
// `fd` is negative.
PfFile* PfWrapDescriptor(int fd, bool writing);
