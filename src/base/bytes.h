// Where the bytes of an archive come from and where written bytes go. A
// source is a file, bytes in memory, or a decoder over either; a sink is a
// file or an encoder over one. Sources read forward; one that can also go
// back says so.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../platform/platform.h"

struct ByteSink;

struct ByteSource;
struct ByteSourceOps {
  // Up to n bytes from the position: fewer only at the end or on failure.
  size_t (*read)(ByteSource* s, void* buf, size_t n);
  // Moves to `pos`: forward always, back only where `seeksBack`.
  bool (*moveTo)(ByteSource* s, int64_t pos);
  // The length, -1 when it cannot be told (yet).
  int64_t (*length)(ByteSource* s);
  // Moves n bytes to the sink, as PfCopy does: answers the bytes written,
  // and when that is short, `*inputEnded` tells whether the input ended or
  // failed, or the writing failed. `following` bytes will follow.
  size_t (*copy)(ByteSource* s, ByteSink* to, size_t n, int64_t following, bool* inputEnded);
  bool seeksBack;
};
struct ByteSource {
  const ByteSourceOps* ops;
};

struct ByteSinkOps {
  size_t (*write)(ByteSink* s, const void* buf, size_t n);  // bytes written
};
struct ByteSink {
  const ByteSinkOps* ops;
  PfFile* file;  // the file bytes go to unchanged, or null
};

inline size_t SourceRead(ByteSource* s, void* buf, size_t n) { return s->ops->read(s, buf, n); }
inline bool SourceMoveTo(ByteSource* s, int64_t pos) { return s->ops->moveTo(s, pos); }
inline int64_t SourceLength(ByteSource* s) { return s->ops->length(s); }
inline size_t SourceCopy(ByteSource* s, ByteSink* to, size_t n, int64_t following,
                         bool* inputEnded) {
  return s->ops->copy(s, to, n, following, inputEnded);
}
inline size_t SinkWrite(ByteSink* s, const void* buf, size_t n) {
  return s->ops->write(s, buf, n);
}

// An open file, read through its stream; the stream stays the caller's.
struct FileSource : ByteSource {
  PfFile* file;
};
void StartFileSource(FileSource* s, PfFile* file);

// Bytes in memory, which stay the caller's.
struct MemorySource : ByteSource {
  const unsigned char* data;
  size_t size;
  size_t at;
};
void StartMemorySource(MemorySource* s, const void* data, size_t size);

// An open file written through its stream; the stream stays the caller's.
void StartFileSink(ByteSink* s, PfFile* file);
