// The decoders: each codec's library turns the compressed bytes into a
// history buffer, from which reads and copies are served. Streams follow
// one another as one; zeros after the last are tape padding; anything else
// after it is told as trailing bytes.
#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "../platform/platform.h"
#include "codec.h"

namespace {

const size_t kInputSize = 64 * 1024;
// The history keeps kDecoderHistory bytes before the position; it is
// shifted down when full, which copies a byte again once per few decoded.
const size_t kHistorySize = 4 * kDecoderHistory;
// The most one call decodes: enough that library calls cost nothing.
const size_t kStepSize = 256 * 1024;
// Decoded ahead on a thread of its own, chunks of a step each.
const int kChunks = 4;

// Where a gzip member ends: what its trailer says of the bytes it holds.
// The reader checks them, so that the decoding thread only inflates.
struct MemberEnd {
  bool ended;
  uint32_t crc;
  uint32_t size;  // modulo 2^32
};

struct Chunk {
  unsigned char* bytes;  // kStepSize
  size_t len;
  DecodeState after;     // how the decoding stood once it was made
  MemberEnd end;         // a gzip member ends with this chunk
};

}  // namespace

// The decoding proper (input, the codec's stream, `work`) runs on a thread
// of its own where one can be started, a few chunks ahead of the reader;
// the reader (history, position, `state`) takes the chunks in order.
struct Decoder {
  Codec codec;
  ByteSource* in;
  DecodeState state;     // as far as the reader has taken the chunks
  DecodeState work;      // of the decoding itself
  bool inEnded;          // `in` has nothing more
  bool started;          // the first stream has begun
  bool streamOpen;       // inside a stream; else between streams
  std::atomic<int64_t> consumed;  // compressed bytes taken from `in`
  unsigned char* input;  // kInputSize bytes read from `in`
  size_t inLen;
  size_t inAt;
  unsigned char* history;  // decoded bytes [base, base + histLen)
  size_t histLen;
  int64_t base;
  int64_t pos;  // the next byte to hand out; past the end only once ended
  z_stream z;
  lzma_stream x;
  ZSTD_DCtx* zstd;
  bz_stream bz;
  bool zInit, xInit, bzInit;
  MemberEnd memberEnd;  // a gzip member just ended
  uLong memberCrc;      // what the reader has taken of the member
  uint32_t memberSize;
  // Decoding ahead.
  bool ahead;
  PfThread thread;
  std::mutex lock;
  std::condition_variable filled;   // a chunk waits for the reader
  std::condition_variable emptied;  // a slot waits for the decoding
  Chunk chunks[kChunks];
  int head;   // the next chunk to take
  int count;  // chunks made and not taken
  bool quit;
};

static Decoder* DecoderOf(ByteSource* s) { return static_cast<DecoderSource*>(s)->decoder; }

// ------------------------------------------------------------------- input

// More compressed bytes in `input`, the unused ones moved to its start;
// false when `in` has no more.
static bool FillInput(Decoder* d) {
  if (d->inAt > 0) {
    memmove(d->input, d->input + d->inAt, d->inLen - d->inAt);
    d->inLen -= d->inAt;
    d->inAt = 0;
  }
  if (d->inEnded || d->inLen == kInputSize) return d->inLen > 0;
  size_t got = SourceRead(d->in, d->input + d->inLen, kInputSize - d->inLen);
  if (got < kInputSize - d->inLen) d->inEnded = true;
  d->inLen += got;
  d->consumed += static_cast<int64_t>(got);
  return got > 0;
}

static size_t InputLeft(const Decoder* d) { return d->inLen - d->inAt; }

static bool StartsStream(const Decoder* d, const unsigned char* p, size_t n) {
  switch (d->codec) {
    case kCodecGzip: return n >= 2 && p[0] == 0x1F && p[1] == 0x8B;
    case kCodecXz: return n >= 6 && memcmp(p, "\xFD\x37\x7A\x58\x5A\x00", 6) == 0;
    case kCodecZstd: return CodecOfSignature(p, n) == kCodecZstd;
    case kCodecBzip2: return n >= 3 && memcmp(p, "BZh", 3) == 0;
    default: return false;
  }
}

// Between streams: passes over zeros, and says whether another stream
// starts (true) or the decoding has ended (false, with the state set).
static bool NextStream(Decoder* d) {
  bool zeros = false;
  for (;;) {
    while (d->inAt < d->inLen && d->input[d->inAt] == 0) {
      d->inAt++;
      zeros = true;
    }
    if (d->inAt < d->inLen) break;
    if (!FillInput(d)) {
      d->work = kDecodeEnded;
      return false;
    }
  }
  // A stream after padding zeros is no longer this archive's.
  if (!zeros) {
    if (InputLeft(d) < 8) FillInput(d);
    if (StartsStream(d, d->input + d->inAt, InputLeft(d))) return true;
  }
  d->work = kDecodeTrailing;
  return false;
}

// --------------------------------------------------------- one step a codec

// Each decodes what it can into `out` (`room` bytes), answering the bytes
// made; at the end of a stream it clears `streamOpen`; on failure it sets
// the state.

// The next compressed byte, -1 at the end of the input.
static int NextInputByte(Decoder* d) {
  if (InputLeft(d) == 0 && !FillInput(d)) return -1;
  return d->input[d->inAt++];
}

static bool SkipInput(Decoder* d, size_t n) {
  for (; n > 0; n--) {
    if (NextInputByte(d) < 0) return false;
  }
  return true;
}

static bool SkipText(Decoder* d) {
  for (;;) {
    int c = NextInputByte(d);
    if (c <= 0) return c == 0;
  }
}

// A member's header: magic, method, flags, time, extra flags, system, then
// what the flags announce. False when it is no gzip header.
static bool ReadGzipHeader(Decoder* d) {
  const int kHeaderCrc = 2, kExtra = 4, kName = 8, kComment = 16;
  if (NextInputByte(d) != 0x1F || NextInputByte(d) != 0x8B || NextInputByte(d) != 8) return false;
  int flags = NextInputByte(d);
  if (flags < 0 || (flags & 0xE0) != 0 || !SkipInput(d, 6)) return false;
  if (flags & kExtra) {
    int low = NextInputByte(d);
    int high = NextInputByte(d);
    if (low < 0 || high < 0 || !SkipInput(d, static_cast<size_t>(low | high << 8))) return false;
  }
  if ((flags & kName) && !SkipText(d)) return false;
  if ((flags & kComment) && !SkipText(d)) return false;
  return !(flags & kHeaderCrc) || SkipInput(d, 2);
}

static uint32_t LittleEndian32(Decoder* d, bool* ok) {
  uint32_t v = 0;
  for (int i = 0; i < 4; i++) {
    int c = NextInputByte(d);
    if (c < 0) *ok = false;
    v |= static_cast<uint32_t>(c < 0 ? 0 : c) << (8 * i);
  }
  return v;
}

// Raw deflate between a header and a trailer read here.
static size_t GzipStep(Decoder* d, unsigned char* out, size_t room) {
  if (!d->zInit) {
    if (inflateInit2(&d->z, -MAX_WBITS) != Z_OK) {
      d->work = kDecodeFailed;
      return 0;
    }
    d->zInit = true;
  }
  if (!d->streamOpen) {
    inflateReset(&d->z);
    d->streamOpen = true;
    if (!ReadGzipHeader(d)) {
      d->work = kDecodeDamaged;
      return 0;
    }
  }
  d->z.next_in = d->input + d->inAt;
  d->z.avail_in = static_cast<uInt>(InputLeft(d));
  d->z.next_out = out;
  d->z.avail_out = static_cast<uInt>(room);
  int rc = inflate(&d->z, Z_NO_FLUSH);
  d->inAt = d->inLen - d->z.avail_in;
  size_t made = room - d->z.avail_out;
  if (rc == Z_STREAM_END) {
    bool ok = true;
    d->memberEnd.crc = LittleEndian32(d, &ok);
    d->memberEnd.size = LittleEndian32(d, &ok);
    d->memberEnd.ended = true;
    d->streamOpen = false;
    if (!ok) d->work = kDecodeDamaged;
  } else if (rc == Z_MEM_ERROR) {
    d->work = kDecodeFailed;
  } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
    d->work = kDecodeDamaged;
  }
  return made;
}

static size_t XzStep(Decoder* d, unsigned char* out, size_t room) {
  if (!d->streamOpen) {
    if (d->xInit) lzma_end(&d->x);
    d->x = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&d->x, kXzMemoryLimit, 0) != LZMA_OK) {
      d->work = kDecodeFailed;
      return 0;
    }
    d->xInit = true;
    d->streamOpen = true;
  }
  d->x.next_in = d->input + d->inAt;
  d->x.avail_in = InputLeft(d);
  d->x.next_out = out;
  d->x.avail_out = room;
  lzma_ret rc = lzma_code(&d->x, d->inEnded ? LZMA_FINISH : LZMA_RUN);
  d->inAt = d->inLen - d->x.avail_in;
  size_t made = room - d->x.avail_out;
  if (rc == LZMA_STREAM_END) {
    d->streamOpen = false;
  } else if (rc == LZMA_MEMLIMIT_ERROR) {
    d->work = kDecodeTooLarge;
  } else if (rc == LZMA_MEM_ERROR) {
    d->work = kDecodeFailed;
  } else if (rc != LZMA_OK && rc != LZMA_BUF_ERROR) {
    d->work = kDecodeDamaged;
  }
  return made;
}

static size_t ZstdStep(Decoder* d, unsigned char* out, size_t room) {
  if (d->zstd == nullptr) {
    d->zstd = ZSTD_createDCtx();
    // Windows up to 2^27 bytes, as the zstd program takes them by default.
    if (d->zstd == nullptr || ZSTD_isError(ZSTD_DCtx_setParameter(d->zstd, ZSTD_d_windowLogMax, 27))) {
      d->work = kDecodeFailed;
      return 0;
    }
  }
  d->streamOpen = true;
  ZSTD_inBuffer in = {d->input + d->inAt, InputLeft(d), 0};
  ZSTD_outBuffer o = {out, room, 0};
  size_t rc = ZSTD_decompressStream(d->zstd, &o, &in);
  d->inAt += in.pos;
  if (ZSTD_isError(rc)) {
    ZSTD_ErrorCode code = ZSTD_getErrorCode(rc);
    d->work = code == ZSTD_error_frameParameter_windowTooLarge ? kDecodeTooLarge
               : code == ZSTD_error_memory_allocation          ? kDecodeFailed
                                                               : kDecodeDamaged;
  } else if (rc == 0) {
    d->streamOpen = false;  // a frame ended; another may follow
  }
  return o.pos;
}

static size_t Bzip2Step(Decoder* d, unsigned char* out, size_t room) {
  if (!d->streamOpen) {
    if (d->bzInit) BZ2_bzDecompressEnd(&d->bz);
    memset(&d->bz, 0, sizeof d->bz);
    if (BZ2_bzDecompressInit(&d->bz, 0, 0) != BZ_OK) {
      d->bzInit = false;
      d->work = kDecodeFailed;
      return 0;
    }
    d->bzInit = true;
    d->streamOpen = true;
  }
  d->bz.next_in = reinterpret_cast<char*>(d->input + d->inAt);
  d->bz.avail_in = static_cast<unsigned>(InputLeft(d));
  d->bz.next_out = reinterpret_cast<char*>(out);
  d->bz.avail_out = static_cast<unsigned>(room);
  int rc = BZ2_bzDecompress(&d->bz);
  d->inAt = d->inLen - d->bz.avail_in;
  size_t made = room - d->bz.avail_out;
  if (rc == BZ_STREAM_END) {
    d->streamOpen = false;
  } else if (rc == BZ_MEM_ERROR) {
    d->work = kDecodeFailed;
  } else if (rc != BZ_OK) {
    d->work = kDecodeDamaged;
  }
  return made;
}

static size_t Step(Decoder* d, unsigned char* out, size_t room) {
  switch (d->codec) {
    case kCodecGzip: return GzipStep(d, out, room);
    case kCodecXz: return XzStep(d, out, room);
    case kCodecZstd: return ZstdStep(d, out, room);
    case kCodecBzip2: return Bzip2Step(d, out, room);
    default: d->work = kDecodeFailed; return 0;
  }
}

// ----------------------------------------------------------------- history

static int64_t HistoryEnd(const Decoder* d) { return d->base + static_cast<int64_t>(d->histLen); }

// Room for a step at the end of the history, keeping kDecoderHistory bytes
// before the position.
static void MakeRoom(Decoder* d) {
  if (kHistorySize - d->histLen >= kStepSize) return;
  int64_t keepFrom = d->pos - static_cast<int64_t>(kDecoderHistory);
  if (keepFrom <= d->base) return;
  size_t drop = static_cast<size_t>(keepFrom - d->base);
  if (drop > d->histLen) drop = d->histLen;
  memmove(d->history, d->history + drop, d->histLen - drop);
  d->histLen -= drop;
  d->base += static_cast<int64_t>(drop);
}

// Decodes into `out` (`room` bytes) until something comes or the decoding
// ends; answers the bytes made.
static size_t DecodeInto(Decoder* d, unsigned char* out, size_t room) {
  while (d->work == kDecoding) {
    if (!d->streamOpen && d->started && !NextStream(d)) return 0;
    if (InputLeft(d) == 0 && !FillInput(d)) {
      // The bytes ended inside a stream, or there were none at all.
      d->work = kDecodeDamaged;
      return 0;
    }
    d->started = true;
    size_t made = Step(d, out, room);
    // A member's end is told before anything of the next is made.
    if (made > 0 || d->memberEnd.ended) return made;
    // Nothing came of what is buffered: the next step needs more input.
    if (d->work == kDecoding && d->streamOpen && !FillInput(d)) {
      d->work = kDecodeDamaged;
      return 0;
    }
  }
  return 0;
}

// The decoding thread: fills free chunks in order, until the decoding ends
// or the reader quits.
static void DecodeAhead(void* decoder) {
  Decoder* d = static_cast<Decoder*>(decoder);
  int tail = 0;
  std::unique_lock<std::mutex> hold(d->lock);
  for (;;) {
    d->emptied.wait(hold, [d] { return d->quit || d->count < kChunks; });
    if (d->quit) return;
    Chunk& c = d->chunks[tail];
    hold.unlock();
    size_t made = 0;
    // A chunk ends with its member, so that the reader can check it.
    while (made < kStepSize && d->work == kDecoding && !d->memberEnd.ended) {
      made += DecodeInto(d, c.bytes + made, kStepSize - made);
    }
    c.len = made;
    c.after = d->work;
    c.end = d->memberEnd;
    d->memberEnd.ended = false;
    hold.lock();
    tail = (tail + 1) % kChunks;
    d->count++;
    d->filled.notify_one();
    if (c.after != kDecoding) return;
  }
}

// Bytes of a gzip member taken: at its end, they must be what its trailer
// says.
static void CheckMember(Decoder* d, const unsigned char* bytes, size_t n, const MemberEnd& end) {
  if (d->codec != kCodecGzip) return;
  d->memberCrc = crc32(d->memberCrc, bytes, static_cast<uInt>(n));
  d->memberSize += static_cast<uint32_t>(n);
  if (!end.ended) return;
  if (end.crc != d->memberCrc || end.size != d->memberSize) d->state = kDecodeDamaged;
  d->memberCrc = crc32(0L, nullptr, 0);
  d->memberSize = 0;
}

// The next chunk the thread made, into the history.
static size_t TakeChunk(Decoder* d, unsigned char* out) {
  Chunk& c = d->chunks[d->head];
  {
    std::unique_lock<std::mutex> hold(d->lock);
    d->filled.wait(hold, [d] { return d->count > 0; });
  }
  memcpy(out, c.bytes, c.len);
  size_t made = c.len;
  d->state = c.after;
  CheckMember(d, out, made, c.end);
  std::lock_guard<std::mutex> hold(d->lock);
  d->head = (d->head + 1) % kChunks;
  d->count--;
  d->emptied.notify_one();
  return made;
}

// Decodes more at the end of the history; false when nothing more comes.
static bool DecodeMore(Decoder* d) {
  MakeRoom(d);
  size_t made = 0;
  while (made == 0 && d->state == kDecoding) {
    unsigned char* out = d->history + d->histLen;
    if (d->ahead) {
      made = TakeChunk(d, out);
    } else {
      made = DecodeInto(d, out, kStepSize);
      d->state = d->work;
      CheckMember(d, out, made, d->memberEnd);
      d->memberEnd.ended = false;
    }
  }
  d->histLen += made;
  return made > 0;
}

// ------------------------------------------------------------- the source

static size_t DecoderRead(ByteSource* s, void* buf, size_t n) {
  Decoder* d = DecoderOf(s);
  unsigned char* out = static_cast<unsigned char*>(buf);
  size_t done = 0;
  while (done < n) {
    int64_t end = HistoryEnd(d);
    if (d->pos >= end) {
      if (d->pos > end || !DecodeMore(d)) break;
      continue;
    }
    size_t ready = static_cast<size_t>(end - d->pos);
    size_t k = ready < n - done ? ready : n - done;
    memcpy(out + done, d->history + (d->pos - d->base), k);
    d->pos += static_cast<int64_t>(k);
    done += k;
  }
  return done;
}

// Forward by decoding; back within the history. Past the end, as in a file,
// nothing more is read; a decoding that failed on the way refuses.
static bool DecoderMoveTo(ByteSource* s, int64_t pos) {
  Decoder* d = DecoderOf(s);
  if (pos < d->base) return false;
  while (pos > HistoryEnd(d)) {
    d->pos = HistoryEnd(d);
    if (!DecodeMore(d)) break;
  }
  if (pos > HistoryEnd(d) && d->state != kDecodeEnded && d->state != kDecodeTrailing) {
    return false;
  }
  d->pos = pos;
  return true;
}

static int64_t DecoderLength(ByteSource* s) {
  Decoder* d = DecoderOf(s);
  return d->state == kDecodeEnded || d->state == kDecodeTrailing ? HistoryEnd(d) : -1;
}

static size_t DecoderCopy(ByteSource* s, ByteSink* to, size_t n, int64_t, bool* inputEnded) {
  Decoder* d = DecoderOf(s);
  *inputEnded = false;
  size_t done = 0;
  while (done < n) {
    int64_t end = HistoryEnd(d);
    if (d->pos >= end) {
      if (d->pos > end || !DecodeMore(d)) {
        *inputEnded = true;
        break;
      }
      continue;
    }
    size_t ready = static_cast<size_t>(end - d->pos);
    size_t k = ready < n - done ? ready : n - done;
    size_t put = SinkWrite(to, d->history + (d->pos - d->base), k);
    d->pos += static_cast<int64_t>(put);
    done += put;
    if (put != k) break;
  }
  return done;
}

static const ByteSourceOps kDecoderOps = {DecoderRead, DecoderMoveTo, DecoderLength, DecoderCopy,
                                          false};

// Chunks to decode ahead into, and the thread; without them the reader
// decodes on its own thread.
static void StartDecodingAhead(Decoder* d) {
  for (Chunk& c : d->chunks) {
    c.bytes = static_cast<unsigned char*>(malloc(kStepSize));
    if (c.bytes == nullptr) return;
  }
  d->ahead = PfStartThread(&d->thread, DecodeAhead, d);
}

bool StartDecoder(DecoderSource* s, Codec codec, ByteSource* compressed) {
  s->ops = &kDecoderOps;
  Decoder* d = new (std::nothrow) Decoder();
  s->decoder = d;
  if (d == nullptr) return false;
  d->codec = codec;
  d->in = compressed;
  d->state = d->work = kDecoding;
  d->memberCrc = crc32(0L, nullptr, 0);
  d->input = static_cast<unsigned char*>(malloc(kInputSize));
  d->history = static_cast<unsigned char*>(malloc(kHistorySize));
  if (d->input == nullptr || d->history == nullptr) {
    EndDecoder(s);
    return false;
  }
  StartDecodingAhead(d);
  return true;
}

void EndDecoder(DecoderSource* s) {
  Decoder* d = s->decoder;
  if (d == nullptr) return;
  if (d->ahead) {
    {
      std::lock_guard<std::mutex> hold(d->lock);
      d->quit = true;
    }
    d->emptied.notify_one();
    PfJoinThread(&d->thread);
  }
  for (Chunk& c : d->chunks) free(c.bytes);
  if (d->zInit) inflateEnd(&d->z);
  if (d->xInit) lzma_end(&d->x);
  if (d->bzInit) BZ2_bzDecompressEnd(&d->bz);
  ZSTD_freeDCtx(d->zstd);
  free(d->input);
  free(d->history);
  delete d;
  s->decoder = nullptr;
}

DecodeState DecoderState(const DecoderSource& s) {
  return s.decoder != nullptr ? s.decoder->state : kDecodeFailed;
}

int64_t CompressedBytesRead(const DecoderSource& s) {
  return s.decoder != nullptr ? s.decoder->consumed.load() : 0;
}
