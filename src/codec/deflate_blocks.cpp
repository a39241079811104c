// gzip with several threads: the input is cut into blocks, each deflated on
// a worker thread with the 32 KiB before it as its dictionary and ended
// on a byte boundary (a sync flush), the last one finished. Their outputs,
// written in order after one gzip header and before one trailer, are one
// deflate stream: one gzip member, as any gzip reader takes it. The bytes
// are the same whatever the number of threads.
#include "deflate_blocks.h"

#include <zlib.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "../platform/platform.h"

namespace {

const size_t kBlockSize = 128 * 1024;
const size_t kDictionarySize = 32 * 1024;
const int kLevel = 6;
const int kMaxWorkers = 4;
const int kJobsPerWorker = 2;

// The gzip header the module writes: no name, no time, "unknown" system.
const unsigned char kHeader[10] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 255};

enum JobState { kFree, kFilling, kReady, kWorking, kDeflated };

struct Job {
  JobState state;
  bool last;      // finishes the stream
  bool ok;        // deflated
  size_t dictLen;
  size_t inLen;
  size_t outLen;
  uLong crc;      // of the input
  unsigned char* in;   // the dictionary, then the block
  unsigned char* out;  // `outSize` bytes
};

}  // namespace

struct BlockDeflater {
  ByteSink* out;
  bool failed;
  int workerCount;  // started
  PfThread workers[kMaxWorkers];
  Job jobs[kMaxWorkers * kJobsPerWorker];
  int jobCount;
  size_t outSize;
  int filling;    // the job being filled
  int oldest;     // the next job to write out
  uLong crc;      // of everything written out
  uLong total;
  bool quit;
  std::mutex lock;
  std::condition_variable readyJob;     // a job waits for a worker
  std::condition_variable deflatedJob;  // a job waits to be written
};

static bool DeflateJob(z_stream* z, Job* job, size_t outSize) {
  if (deflateReset(z) != Z_OK) return false;
  if (job->dictLen > 0 && deflateSetDictionary(z, job->in, static_cast<uInt>(job->dictLen)) != Z_OK) {
    return false;
  }
  z->next_in = job->in + job->dictLen;
  z->avail_in = static_cast<uInt>(job->inLen);
  z->next_out = job->out;
  z->avail_out = static_cast<uInt>(outSize);
  int rc = deflate(z, job->last ? Z_FINISH : Z_SYNC_FLUSH);
  job->outLen = outSize - z->avail_out;
  job->crc = crc32(0L, job->in + job->dictLen, static_cast<uInt>(job->inLen));
  // The output buffer holds a block's worst case: all of it in one call.
  return z->avail_in == 0 && z->avail_out > 0 && (job->last ? rc == Z_STREAM_END : rc == Z_OK);
}

static void Work(void* deflater) {
  BlockDeflater* d = static_cast<BlockDeflater*>(deflater);
  z_stream z = {};
  bool started = deflateInit2(&z, kLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  std::unique_lock<std::mutex> hold(d->lock);
  for (;;) {
    Job* job = nullptr;
    d->readyJob.wait(hold, [&] {
      if (d->quit) return true;
      for (int i = 0; i < d->jobCount; i++) {
        // In order, so that the oldest is done first.
        int k = (d->oldest + i) % d->jobCount;
        if (d->jobs[k].state == kReady) {
          job = &d->jobs[k];
          return true;
        }
      }
      return false;
    });
    if (d->quit) break;
    job->state = kWorking;
    hold.unlock();
    bool ok = started && DeflateJob(&z, job, d->outSize);
    hold.lock();
    job->ok = ok;
    job->state = kDeflated;
    d->deflatedJob.notify_all();
  }
  if (started) deflateEnd(&z);
}

static bool Put(BlockDeflater* d, const void* bytes, size_t n) {
  if (!d->failed && SinkWrite(d->out, bytes, n) != n) d->failed = true;
  return !d->failed;
}

// Waits for the oldest job and writes it out; the job is free again.
static bool WriteOldest(BlockDeflater* d) {
  Job* job = &d->jobs[d->oldest];
  {
    std::unique_lock<std::mutex> hold(d->lock);
    d->deflatedJob.wait(hold, [&] { return job->state == kDeflated; });
  }
  if (!job->ok) d->failed = true;
  Put(d, job->out, job->outLen);
  d->crc = crc32_combine(d->crc, job->crc, static_cast<z_off_t>(job->inLen));
  d->total += job->inLen;
  std::lock_guard<std::mutex> hold(d->lock);
  job->state = kFree;
  d->oldest = (d->oldest + 1) % d->jobCount;
  return !d->failed;
}

// The next job to fill, with the last 32 KiB of the one before as its
// dictionary.
static bool StartNextJob(BlockDeflater* d) {
  Job* before = &d->jobs[d->filling];
  int next = (d->filling + 1) % d->jobCount;
  bool taken;
  {
    std::lock_guard<std::mutex> hold(d->lock);
    taken = d->jobs[next].state != kFree;
  }
  if (taken && !WriteOldest(d)) return false;
  Job* job = &d->jobs[next];
  size_t whole = before->dictLen + before->inLen;
  size_t keep = whole < kDictionarySize ? whole : kDictionarySize;
  size_t from = whole - keep;
  memcpy(job->in, before->in + from, keep);
  job->dictLen = keep;
  job->inLen = 0;
  job->last = false;
  std::lock_guard<std::mutex> hold(d->lock);
  job->state = kFilling;
  d->filling = next;
  return true;
}

static void Submit(BlockDeflater* d, bool last) {
  std::lock_guard<std::mutex> hold(d->lock);
  Job* job = &d->jobs[d->filling];
  job->last = last;
  job->state = kReady;
  d->readyJob.notify_one();
}

BlockDeflater* StartBlockDeflater(int threads, ByteSink* out) {
  BlockDeflater* d = new (std::nothrow) BlockDeflater();
  if (d == nullptr) return nullptr;
  d->out = out;
  int workers = threads < kMaxWorkers ? threads : kMaxWorkers;
  d->jobCount = workers * kJobsPerWorker;
  d->outSize = compressBound(kBlockSize) + 64;
  d->crc = crc32(0L, nullptr, 0);
  for (int i = 0; i < d->jobCount; i++) {
    Job& job = d->jobs[i];
    job.in = static_cast<unsigned char*>(malloc(kDictionarySize + kBlockSize));
    job.out = static_cast<unsigned char*>(malloc(d->outSize));
    if (job.in == nullptr || job.out == nullptr) {
      EndBlockDeflater(d);
      return nullptr;
    }
  }
  d->jobs[0].state = kFilling;
  while (d->workerCount < workers && PfStartThread(&d->workers[d->workerCount], Work, d)) {
    d->workerCount++;
  }
  if (d->workerCount == 0) {
    EndBlockDeflater(d);
    return nullptr;
  }
  Put(d, kHeader, sizeof kHeader);
  return d;
}

bool DeflateBytes(BlockDeflater* d, const unsigned char* bytes, size_t n) {
  while (n > 0 && !d->failed) {
    Job* job = &d->jobs[d->filling];
    size_t room = kBlockSize - job->inLen;
    size_t k = n < room ? n : room;
    memcpy(job->in + job->dictLen + job->inLen, bytes, k);
    job->inLen += k;
    bytes += k;
    n -= k;
    if (job->inLen == kBlockSize) {
      Submit(d, false);
      if (!StartNextJob(d)) break;
    }
  }
  return !d->failed;
}

bool FinishBlockDeflater(BlockDeflater* d) {
  if (d->failed) return false;
  Submit(d, true);
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(d->lock);
      if (d->jobs[d->oldest].state == kFree) break;
    }
    if (!WriteOldest(d)) break;
  }
  unsigned char trailer[8];
  for (int i = 0; i < 4; i++) {
    trailer[i] = static_cast<unsigned char>(d->crc >> (8 * i));
    trailer[4 + i] = static_cast<unsigned char>(d->total >> (8 * i));
  }
  return Put(d, trailer, sizeof trailer);
}

void EndBlockDeflater(BlockDeflater* d) {
  if (d == nullptr) return;
  {
    std::lock_guard<std::mutex> hold(d->lock);
    d->quit = true;
  }
  d->readyJob.notify_all();
  for (int i = 0; i < d->workerCount; i++) PfJoinThread(&d->workers[i]);
  for (int i = 0; i < d->jobCount; i++) {
    free(d->jobs[i].in);
    free(d->jobs[i].out);
  }
  delete d;
}
