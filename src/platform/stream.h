// Shared between the stream code and the two platform files.
#pragma once

#include <cstdio>

#include "platform.h"

// Takes ownership of an open stdio stream; null when `f` is null.
PfFile* PfWrapStream(FILE* f);
