// Shared between the stream code and the two platform files.
#pragma once

#include "platform.h"

// A stream's memory is taken before its file is opened or created, so that
// running out of it never leaves a file made or emptied for nothing.
PfFile* PfNewStream(bool writing);
// Gives the stream its open file descriptor, or frees it and answers null
// when `fd` is negative.
PfFile* PfAttach(PfFile* stream, int fd);
// Writes out what a writing stream holds and frees it; answers its file
// descriptor, still open, and whether everything was written.
int PfRelease(PfFile* stream, bool* written);
// The open file descriptor under a stream.
int PfDescriptor(PfFile* stream);
// Reads the first buffer of a stream just opened for reading; false when
// the file refuses to be read (a directory does).
bool PfFillFirst(PfFile* stream);
