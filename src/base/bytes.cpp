#include "bytes.h"

#include <cstring>

// ------------------------------------------------------------------- file

static PfFile* FileOf(ByteSource* s) { return static_cast<FileSource*>(s)->file; }

static size_t FileRead(ByteSource* s, void* buf, size_t n) { return PfRead(FileOf(s), buf, n); }
static bool FileMoveTo(ByteSource* s, int64_t pos) { return PfSeek(FileOf(s), pos); }
static int64_t FileLength(ByteSource* s) { return PfLength(FileOf(s)); }

// Through a buffer, for a sink that is no plain file.
static size_t CopyThrough(ByteSource* s, ByteSink* to, size_t n, bool* inputEnded) {
  unsigned char chunk[16384];
  size_t done = 0;
  while (done < n) {
    size_t want = n - done < sizeof chunk ? n - done : sizeof chunk;
    size_t got = SourceRead(s, chunk, want);
    size_t put = SinkWrite(to, chunk, got);
    done += put;
    if (put != got) return done;
    if (got != want) {
      *inputEnded = true;
      return done;
    }
  }
  return done;
}

static size_t FileCopy(ByteSource* s, ByteSink* to, size_t n, int64_t following,
                       bool* inputEnded) {
  *inputEnded = false;
  if (to->file != nullptr) return PfCopy(FileOf(s), to->file, n, following, inputEnded);
  return CopyThrough(s, to, n, inputEnded);
}

static const ByteSourceOps kFileSource = {FileRead, FileMoveTo, FileLength, FileCopy, true};

void StartFileSource(FileSource* s, PfFile* file) {
  s->ops = &kFileSource;
  s->file = file;
}

// ----------------------------------------------------------------- memory

static MemorySource* MemoryOf(ByteSource* s) { return static_cast<MemorySource*>(s); }

static size_t MemoryRead(ByteSource* s, void* buf, size_t n) {
  MemorySource* m = MemoryOf(s);
  size_t k = m->size - m->at < n ? m->size - m->at : n;
  memcpy(buf, m->data + m->at, k);
  m->at += k;
  return k;
}

// Past the end, as in a file, nothing more is read.
static bool MemoryMoveTo(ByteSource* s, int64_t pos) {
  MemorySource* m = MemoryOf(s);
  if (pos < 0) return false;
  m->at = static_cast<uint64_t>(pos) > m->size ? m->size : static_cast<size_t>(pos);
  return true;
}

static int64_t MemoryLength(ByteSource* s) { return static_cast<int64_t>(MemoryOf(s)->size); }

static size_t MemoryCopy(ByteSource* s, ByteSink* to, size_t n, int64_t, bool* inputEnded) {
  MemorySource* m = MemoryOf(s);
  size_t k = m->size - m->at < n ? m->size - m->at : n;
  size_t put = SinkWrite(to, m->data + m->at, k);
  m->at += put;
  *inputEnded = put == k && k < n;
  return put;
}

static const ByteSourceOps kMemorySource = {MemoryRead, MemoryMoveTo, MemoryLength, MemoryCopy,
                                            true};

void StartMemorySource(MemorySource* s, const void* data, size_t size) {
  s->ops = &kMemorySource;
  s->data = static_cast<const unsigned char*>(data);
  s->size = size;
  s->at = 0;
}

// ------------------------------------------------------------------- sink

static size_t FileWrite(ByteSink* s, const void* buf, size_t n) { return PfWrite(s->file, buf, n); }

static const ByteSinkOps kFileSink = {FileWrite};

void StartFileSink(ByteSink* s, PfFile* file) {
  s->ops = &kFileSink;
  s->file = file;
}
