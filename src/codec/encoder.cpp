// The encoders: each codec's library at its usual level, writing whole
// output buffers to the sink under it.
#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdlib>
#include <cstring>

#include "codec.h"
#include "deflate_blocks.h"

namespace {

const size_t kOutputSize = 256 * 1024;
const uint64_t kEncoderBudget = uint64_t{512} << 20;
const int kGzipLevel = 6;
const uint32_t kXzPreset = 6;
const int kZstdLevel = 3;
const int kBzip2Blocks = 9;

}  // namespace

struct Encoder {
  Codec codec;
  ByteSink* out;
  bool failed;
  unsigned char* output;  // kOutputSize bytes on their way to `out`
  z_stream z;
  lzma_stream x;
  ZSTD_CCtx* zstd;
  bz_stream bz;
  BlockDeflater* blocks;  // gzip on several threads
  bool zInit, xInit, bzInit;
};

static Encoder* EncoderOf(ByteSink* s) { return static_cast<EncoderSink*>(s)->encoder; }

// Writes what the output buffer holds, `made` bytes.
static bool Drain(Encoder* e, size_t made) {
  if (made > 0 && SinkWrite(e->out, e->output, made) != made) e->failed = true;
  return !e->failed;
}

// ----------------------------------------------------------------- set-up

// Several threads deflate blocks of their own where there are processors
// for them; one thread keeps zlib's plain stream.
static bool StartGzip(Encoder* e, int threads) {
  if (threads > 1) {
    e->blocks = StartBlockDeflater(threads, e->out);
    if (e->blocks != nullptr) return true;
  }
  // 16 + 15 window bits: a gzip header and trailer around the deflate data.
  e->zInit = deflateInit2(&e->z, kGzipLevel, Z_DEFLATED, 16 + MAX_WBITS, 8,
                          Z_DEFAULT_STRATEGY) == Z_OK;
  return e->zInit;
}

// The threaded encoder, with as many threads as fit the budget; the plain
// one when it cannot be set up. Both write the same format.
static bool StartXz(Encoder* e, int threads) {
  e->x = LZMA_STREAM_INIT;
  lzma_mt mt = {};
  mt.preset = kXzPreset;
  mt.check = LZMA_CHECK_CRC64;
  for (int n = threads; n > 1; n--) {
    mt.threads = static_cast<uint32_t>(n);
    if (lzma_stream_encoder_mt_memusage(&mt) > kEncoderBudget) continue;
    if (lzma_stream_encoder_mt(&e->x, &mt) == LZMA_OK) {
      e->xInit = true;
      return true;
    }
    break;
  }
  e->xInit = lzma_easy_encoder(&e->x, kXzPreset, LZMA_CHECK_CRC64) == LZMA_OK;
  return e->xInit;
}

// Level 3 keeps a 2 MiB window and jobs of 8 MiB: a worker takes well under
// this, so that the budget holds more workers than are ever asked for.
const uint64_t kZstdWorkerMemory = uint64_t{64} << 20;

// Workers as many as fit the budget; a library without them compresses on
// the caller's thread.
static bool StartZstd(Encoder* e, int threads) {
  e->zstd = ZSTD_createCCtx();
  if (e->zstd == nullptr) return false;
  if (ZSTD_isError(ZSTD_CCtx_setParameter(e->zstd, ZSTD_c_compressionLevel, kZstdLevel)) ||
      ZSTD_isError(ZSTD_CCtx_setParameter(e->zstd, ZSTD_c_checksumFlag, 1))) {
    return false;
  }
  uint64_t fit = kEncoderBudget / kZstdWorkerMemory;
  int workers = static_cast<uint64_t>(threads) < fit ? threads : static_cast<int>(fit);
  if (workers > 1) ZSTD_CCtx_setParameter(e->zstd, ZSTD_c_nbWorkers, workers);
  return true;
}

static bool StartBzip2(Encoder* e) {
  e->bzInit = BZ2_bzCompressInit(&e->bz, kBzip2Blocks, 0, 0) == BZ_OK;
  return e->bzInit;
}

// ------------------------------------------------------------- compressing

// Compresses `n` bytes, or with `finish` the end of the stream; false when
// the output could not be written or the library failed.
static bool GzipCode(Encoder* e, const unsigned char* in, size_t n, bool finish) {
  e->z.next_in = const_cast<unsigned char*>(in);
  e->z.avail_in = static_cast<uInt>(n);
  for (;;) {
    e->z.next_out = e->output;
    e->z.avail_out = static_cast<uInt>(kOutputSize);
    int rc = deflate(&e->z, finish ? Z_FINISH : Z_NO_FLUSH);
    if (rc == Z_STREAM_ERROR || !Drain(e, kOutputSize - e->z.avail_out)) return false;
    if (finish ? rc == Z_STREAM_END : e->z.avail_in == 0 && e->z.avail_out != 0) return true;
  }
}

static bool XzCode(Encoder* e, const unsigned char* in, size_t n, bool finish) {
  e->x.next_in = in;
  e->x.avail_in = n;
  for (;;) {
    e->x.next_out = e->output;
    e->x.avail_out = kOutputSize;
    lzma_ret rc = lzma_code(&e->x, finish ? LZMA_FINISH : LZMA_RUN);
    if ((rc != LZMA_OK && rc != LZMA_STREAM_END) || !Drain(e, kOutputSize - e->x.avail_out)) {
      return false;
    }
    if (finish ? rc == LZMA_STREAM_END : e->x.avail_in == 0 && e->x.avail_out != 0) return true;
  }
}

static bool ZstdCode(Encoder* e, const unsigned char* in, size_t n, bool finish) {
  ZSTD_inBuffer input = {in, n, 0};
  for (;;) {
    ZSTD_outBuffer o = {e->output, kOutputSize, 0};
    size_t rc = ZSTD_compressStream2(e->zstd, &o, &input, finish ? ZSTD_e_end : ZSTD_e_continue);
    if (ZSTD_isError(rc) || !Drain(e, o.pos)) return false;
    if (finish ? rc == 0 : input.pos == input.size && o.pos < o.size) return true;
  }
}

static bool Bzip2Code(Encoder* e, const unsigned char* in, size_t n, bool finish) {
  e->bz.next_in = reinterpret_cast<char*>(const_cast<unsigned char*>(in));
  e->bz.avail_in = static_cast<unsigned>(n);
  for (;;) {
    e->bz.next_out = reinterpret_cast<char*>(e->output);
    e->bz.avail_out = static_cast<unsigned>(kOutputSize);
    int rc = BZ2_bzCompress(&e->bz, finish ? BZ_FINISH : BZ_RUN);
    bool ok = finish ? rc == BZ_FINISH_OK || rc == BZ_STREAM_END : rc == BZ_RUN_OK;
    if (!ok || !Drain(e, kOutputSize - e->bz.avail_out)) return false;
    if (finish ? rc == BZ_STREAM_END : e->bz.avail_in == 0) return true;
  }
}

static bool Code(Encoder* e, const unsigned char* in, size_t n, bool finish) {
  if (e->failed) return false;
  bool ok = false;
  switch (e->codec) {
    case kCodecGzip:
      if (e->blocks != nullptr) {
        ok = finish ? FinishBlockDeflater(e->blocks) : DeflateBytes(e->blocks, in, n);
      } else {
        ok = GzipCode(e, in, n, finish);
      }
      break;
    case kCodecXz: ok = XzCode(e, in, n, finish); break;
    case kCodecZstd: ok = ZstdCode(e, in, n, finish); break;
    case kCodecBzip2: ok = Bzip2Code(e, in, n, finish); break;
    default: break;
  }
  if (!ok) e->failed = true;
  return ok;
}

// ---------------------------------------------------------------- the sink

static size_t EncoderWrite(ByteSink* s, const void* buf, size_t n) {
  Encoder* e = EncoderOf(s);
  // The libraries take 32-bit counts: a large write goes in pieces.
  const unsigned char* in = static_cast<const unsigned char*>(buf);
  for (size_t done = 0; done < n;) {
    size_t k = n - done < (size_t{1} << 30) ? n - done : size_t{1} << 30;
    if (!Code(e, in + done, k, false)) return 0;
    done += k;
  }
  return n;
}

static const ByteSinkOps kEncoderOps = {EncoderWrite};

bool StartEncoder(EncoderSink* s, Codec codec, ByteSink* out, int threads) {
  s->ops = &kEncoderOps;
  s->file = nullptr;
  Encoder* e = static_cast<Encoder*>(calloc(1, sizeof(Encoder)));
  s->encoder = e;
  if (e == nullptr) return false;
  e->codec = codec;
  e->out = out;
  e->output = static_cast<unsigned char*>(malloc(kOutputSize));
  bool started = e->output != nullptr;
  if (started) {
    switch (codec) {
      case kCodecGzip: started = StartGzip(e, threads); break;
      case kCodecXz: started = StartXz(e, threads); break;
      case kCodecZstd: started = StartZstd(e, threads); break;
      case kCodecBzip2: started = StartBzip2(e); break;
      default: started = false; break;
    }
  }
  if (!started) EndEncoder(s);
  return started;
}

bool FinishEncoder(EncoderSink* s) { return Code(s->encoder, nullptr, 0, true); }

void EndEncoder(EncoderSink* s) {
  Encoder* e = s->encoder;
  if (e == nullptr) return;
  if (e->zInit) deflateEnd(&e->z);
  EndBlockDeflater(e->blocks);
  if (e->xInit) lzma_end(&e->x);
  if (e->bzInit) BZ2_bzCompressEnd(&e->bz);
  ZSTD_freeCCtx(e->zstd);
  free(e->output);
  free(e);
  s->encoder = nullptr;
}
