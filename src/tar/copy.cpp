#include "copy.h"

#include "format.h"
#include "sparse.h"

// The next chunk of a copy with `left` bytes to go.
static size_t ChunkOf(int64_t left, size_t chunk) {
  return left < static_cast<int64_t>(chunk) ? static_cast<size_t>(left) : chunk;
}

// Copies n bytes from the source at its position to the writer in chunks,
// `*done` counting the bytes of the whole transfer.
static Outcome CopyChunksOut(ByteSource* in, TarWriter* out, int64_t n, int64_t* done,
                             const ProgressHook& progress) {
  for (int64_t left = n; left > 0;) {
    if (StopRequested()) return kStopped;
    size_t k = ChunkOf(left, kTransferSize);
    bool inputEnded;
    size_t written = SourceCopy(in, out->sink, k, left - static_cast<int64_t>(k), &inputEnded);
    if (written != k && inputEnded) return kFailed;
    Outcome sofar = written != k ? kWriteFailed : kDone;
    left -= static_cast<int64_t>(k);
    *done += static_cast<int64_t>(k);
    if (!progress.report(progress.context, *done, sofar)) return kHalted;
    if (sofar != kDone) return sofar;
  }
  return kDone;
}

Outcome CopyOut(ByteSource* in, TarWriter* out, int64_t n, const ProgressHook& progress) {
  if (n < 0) return kFailed;
  int64_t done = 0;
  return CopyChunksOut(in, out, n, &done, progress);
}

// One region of a sparse member: where the data stands in the source, to
// its offset in the file.
static Outcome CopyRegion(TarReader* r, TarWriter* out, const TarEntry& member, int64_t offset,
                          int64_t length, int64_t* data, int64_t* done,
                          const ProgressHook& progress) {
  if (offset < 0 || length < 0 || offset > member.size || length > member.size - offset ||
      length > member.dataEnd - *data) {
    return kFailed;
  }
  if (!PfSeek(out->file, offset)) return kWriteFailed;
  if (!SourceMoveTo(r->source, *data)) return kFailed;
  *data += length;
  return CopyChunksOut(r->source, out, length, done, progress);
}

Outcome CopySparseOut(TarReader* r, TarWriter* out, const TarEntry& member,
                      const ProgressHook& progress) {
  SparseCursor& c = r->cursor;
  if (!StartSparseCursor(&c, &r->records, r->source, member)) return kFailed;
  int64_t done = 0;
  int64_t data = member.dataOffset;
  int64_t offset;
  int64_t length;
  for (;;) {
    if (StopRequested()) return kStopped;
    if (!NextRegion(&c, &offset, &length)) break;
    Outcome region = CopyRegion(r, out, member, offset, length, &data, &done, progress);
    if (region != kDone) return region;
  }
  if (c.bad) return kFailed;
  // A hole at the end is made by the length alone.
  return PfSetLength(out->file, member.size) ? kDone : kWriteFailed;
}

Outcome CopyIn(ByteSource* in, TarWriter* out, int64_t n, const ProgressHook& progress) {
  if (n <= 0) return kDone;
  for (int64_t done = 0; done < n;) {
    if (StopRequested()) return kStopped;
    size_t k = ChunkOf(n - done, kTransferSize);
    bool inputEnded;
    size_t written =
        SourceCopy(in, out->sink, k, n - done - static_cast<int64_t>(k), &inputEnded);
    if (written != k && inputEnded) return kFailed;
    done += static_cast<int64_t>(k);
    bool goOn = progress.report(progress.context, done, kDone);
    if (written != k) return kWriteFailed;
    if (!goOn) return kHalted;
  }
  return WritePadding(out, n) ? kDone : kWriteFailed;
}

// Copies `length` bytes from the source at `offset`. A stop request is
// looked for before every chunk, so that a carry-over of gigabytes stops
// at once.
static Outcome CopyRange(ByteSource* in, TarWriter* out, int64_t offset, int64_t length) {
  if (!SourceMoveTo(in, offset)) return kFailed;
  while (length > 0) {
    if (StopRequested()) return kStopped;
    size_t k = ChunkOf(length, kTransferSize);
    bool inputEnded;
    if (SourceCopy(in, out->sink, k, length - static_cast<int64_t>(k), &inputEnded) != k) {
      return inputEnded ? kFailed : kWriteFailed;
    }
    length -= static_cast<int64_t>(k);
  }
  return kDone;
}

Outcome CopyRaw(ByteSource* in, TarWriter* out, int64_t offset, int64_t length) {
  return CopyRange(in, out, offset, PaddedSize(length));
}

Outcome CopyMember(ByteSource* in, TarWriter* out, int64_t offset, int64_t length) {
  if (length < 0) return kFailed;
  Outcome copied = CopyRange(in, out, offset, length);
  if (copied != kDone) return copied;
  return WritePadding(out, length) ? kDone : kWriteFailed;
}
