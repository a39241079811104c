// Buffered binary streams over the C runtime, and the fault-injection seam.
#include "stream.h"

#include <cstdlib>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

struct PfFile {
  FILE* f;
};

// Member data moves in chunks of 64 KiB; a buffer of the same size lets the
// runtime hand most chunks straight to the system.
static const size_t kStreamBuffer = 64 * 1024;

static int gFaultAt[kFaultCount];
static int gFaultCalls[kFaultCount];

void PfInjectFault(PfFault op, int nth) { gFaultAt[op] = nth; }

void PfResetFaults() {
  for (int i = 0; i < kFaultCount; i++) gFaultAt[i] = gFaultCalls[i] = 0;
}

int PfFaultCalls(PfFault op) { return gFaultCalls[op]; }

bool PfFaultHits(PfFault op) {
  gFaultCalls[op]++;
  return gFaultAt[op] != 0 && gFaultCalls[op] == gFaultAt[op];
}

PfFile* PfWrapStream(FILE* f) {
  if (f == nullptr) return nullptr;
  PfFile* file = static_cast<PfFile*>(malloc(sizeof(PfFile)));
  if (file == nullptr) {
    fclose(f);
    return nullptr;
  }
  setvbuf(f, nullptr, _IOFBF, kStreamBuffer);
  file->f = f;
  return file;
}

size_t PfRead(PfFile* file, void* buf, size_t n) {
  if (PfFaultHits(kFaultRead)) return n / 2;
  return fread(buf, 1, n, file->f);
}

size_t PfWrite(PfFile* file, const void* buf, size_t n) {
  if (PfFaultHits(kFaultWrite)) return n / 2;
  return fwrite(buf, 1, n, file->f);
}

static int SeekTo(FILE* f, int64_t pos, int whence) {
#ifdef _WIN32
  return _fseeki64(f, pos, whence);
#else
  return fseeko(f, static_cast<off_t>(pos), whence);
#endif
}

bool PfSeek(PfFile* file, int64_t pos) {
  if (PfFaultHits(kFaultSeek)) return false;
  return pos >= 0 && SeekTo(file->f, pos, SEEK_SET) == 0;
}

bool PfSeekEnd(PfFile* file) {
  if (PfFaultHits(kFaultSeek)) return false;
  return SeekTo(file->f, 0, SEEK_END) == 0;
}

int64_t PfTell(PfFile* file) {
#ifdef _WIN32
  return _ftelli64(file->f);
#else
  return static_cast<int64_t>(ftello(file->f));
#endif
}

int64_t PfLength(PfFile* file) {
  int64_t here = PfTell(file);
  if (here < 0 || SeekTo(file->f, 0, SEEK_END) != 0) return -1;
  int64_t end = PfTell(file);
  SeekTo(file->f, here, SEEK_SET);
  return end;
}

bool PfSync(PfFile* file) {
  if (PfFaultHits(kFaultSync)) return false;
  if (fflush(file->f) != 0) return false;
#ifdef _WIN32
  return _commit(_fileno(file->f)) == 0;
#else
  return fsync(fileno(file->f)) == 0;
#endif
}

bool PfClose(PfFile* file) {
  if (file == nullptr) return true;
  bool ok = fclose(file->f) == 0;
  free(file);
  return ok;
}
