// Member data transfer: out of the archive into a file, into the archive
// from a file, and from one archive into another. Each answers how it
// ended; reports of the bytes done go through the hook the caller gives.
#pragma once

#include <cstdint>

#include "../base/bytes.h"
#include "../base/status.h"
#include "entry.h"
#include "reader.h"
#include "writer.h"

// Told the bytes of the transfer done so far and how the chunk just moved
// fared (a write that came out short is reported too); answers false to
// end the transfer, which then ends kHalted.
struct ProgressHook {
  bool (*report)(void* context, int64_t done, Outcome sofar);
  void* context;
};

// n bytes from the source at its position to the writer, a report after
// each chunk. A negative count copies nothing and fails. A short source
// fails; a short write is reported, then ends the copy.
Outcome CopyOut(ByteSource* in, TarWriter* out, int64_t n, const ProgressHook& progress);

// A sparse member's data from the reader's source to the writer's file,
// each region at its offset (holes are left unwritten), and the file made
// as long as the member's real size. Progress counts the stored bytes. A
// map that no longer reads as it did, or data that would run past the
// member, fails. The reader's scratch is used.
Outcome CopySparseOut(TarReader* r, TarWriter* out, const TarEntry& member,
                      const ProgressHook& progress);

// n bytes from a file being added to the writer, a report after each chunk
// (made before a short write is told), then zero padding to whole blocks.
// Exactly n bytes are read: a source that ends sooner fails.
Outcome CopyIn(ByteSource* in, TarWriter* out, int64_t n, const ProgressHook& progress);

// An entry as stored (header, data, padding), `length` rounded up to whole
// blocks, from `offset` of the source. No reports.
Outcome CopyRaw(ByteSource* in, TarWriter* out, int64_t offset, int64_t length);

// `length` bytes of an entry from `offset` (its headers and data, without
// its padding), then fresh zero padding.
Outcome CopyMember(ByteSource* in, TarWriter* out, int64_t offset, int64_t length);
