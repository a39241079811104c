// Buffered binary streams over the runtime's file descriptors, and the
// fault-injection seam.
//
// The module reads an archive header by header and skips member data with
// seeks: a seek that lands inside the buffer costs nothing here, where a
// stdio stream would drop its buffer and read it again. Transfers of a whole
// buffer or more bypass the buffer.
#include "stream.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

const size_t kBufferSize = 64 * 1024;
const size_t kHeldSize = 512;  // PfHoldFirstBlock

#ifdef _WIN32
int ReadFd(int fd, void* buf, size_t n) { return _read(fd, buf, static_cast<unsigned>(n)); }
int WriteFd(int fd, const void* buf, size_t n) {
  return _write(fd, buf, static_cast<unsigned>(n));
}
int64_t SeekFd(int fd, int64_t pos, int whence) { return _lseeki64(fd, pos, whence); }
int SyncFd(int fd) { return _commit(fd); }
int CloseFd(int fd) { return _close(fd); }
#else
ssize_t ReadFd(int fd, void* buf, size_t n) { return read(fd, buf, n); }
ssize_t WriteFd(int fd, const void* buf, size_t n) { return write(fd, buf, n); }
int64_t SeekFd(int fd, int64_t pos, int whence) {
  return static_cast<int64_t>(lseek(fd, static_cast<off_t>(pos), whence));
}
int SyncFd(int fd) { return fsync(fd); }
int CloseFd(int fd) { return close(fd); }
#endif

int gFaultAt[kFaultCount];
int gFaultCalls[kFaultCount];
void (*gWatch)(PfFault op, int call);

}  // namespace

// A stream is either reading (the buffer holds file bytes from `bufStart`,
// `bufLen` of them, and `bufPos` is the next to hand out) or writing (the
// buffer holds `bufLen` bytes not yet written, to go at `bufStart`).
struct PfFile {
  int fd;
  bool writing;
  bool failed;  // a write could not be completed
  int64_t bufStart;
  size_t bufLen;
  size_t bufPos;
  unsigned char* held;  // where the first bytes written go instead of the file
  size_t heldLeft;      // how many more go there
  unsigned char buffer[kBufferSize];
};

void PfInjectFault(PfFault op, int nth) { gFaultAt[op] = nth; }

void PfResetFaults() {
  for (int i = 0; i < kFaultCount; i++) gFaultAt[i] = gFaultCalls[i] = 0;
}

int PfFaultCalls(PfFault op) { return gFaultCalls[op]; }

void PfWatchCalls(void (*watch)(PfFault op, int call)) { gWatch = watch; }

bool PfFaultHits(PfFault op) {
  gFaultCalls[op]++;
  if (gWatch != nullptr) gWatch(op, gFaultCalls[op]);
  return gFaultAt[op] != 0 && gFaultCalls[op] == gFaultAt[op];
}

PfFile* PfNewStream(bool writing) {
  PfFile* file = static_cast<PfFile*>(malloc(sizeof(PfFile)));
  if (file == nullptr) return nullptr;
  file->fd = -1;
  file->writing = writing;
  file->failed = false;
  file->bufStart = 0;
  file->bufLen = 0;
  file->bufPos = 0;
  file->held = nullptr;
  file->heldLeft = 0;
  return file;
}

PfFile* PfAttach(PfFile* file, int fd) {
  if (fd < 0) {
    free(file);
    return nullptr;
  }
  file->fd = fd;
  return file;
}

// One read of up to `n` bytes, made again when a signal cut it short.
static int64_t ReadOnce(int fd, unsigned char* buf, size_t n) {
  auto got = ReadFd(fd, buf, n);
  while (got < 0 && errno == EINTR) got = ReadFd(fd, buf, n);
  return static_cast<int64_t>(got);
}

bool PfFillFirst(PfFile* f) {
  int64_t got = ReadOnce(f->fd, f->buffer, kBufferSize);
  if (got < 0) return errno != EISDIR;  // other failures are met again by reads
  f->bufLen = static_cast<size_t>(got);
  return true;
}

// Reads until n bytes or the end of the file; answers the bytes read.
static size_t ReadFully(int fd, unsigned char* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    auto got = ReadFd(fd, buf + done, n - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

static bool WriteFully(int fd, const unsigned char* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    auto put = WriteFd(fd, buf + done, n - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

static bool FlushWrites(PfFile* f) {
  if (!f->writing || f->bufLen == 0) return !f->failed;
  if (!WriteFully(f->fd, f->buffer, f->bufLen)) f->failed = true;
  f->bufStart += static_cast<int64_t>(f->bufLen);
  f->bufLen = 0;
  return !f->failed;
}

size_t PfRead(PfFile* f, void* buf, size_t n) {
  if (PfFaultHits(kFaultRead)) return n / 2;
  unsigned char* out = static_cast<unsigned char*>(buf);
  size_t done = 0;
  while (done < n) {
    size_t ready = f->bufLen - f->bufPos;
    if (ready > 0) {
      size_t k = ready < n - done ? ready : n - done;
      memcpy(out + done, f->buffer + f->bufPos, k);
      f->bufPos += k;
      done += k;
      continue;
    }
    f->bufStart += static_cast<int64_t>(f->bufLen);
    f->bufLen = f->bufPos = 0;
    if (n - done >= kBufferSize) {
      // Large reads go straight to the caller.
      size_t got = ReadFully(f->fd, out + done, n - done);
      f->bufStart += static_cast<int64_t>(got);
      return done + got;
    }
    // One read fills what the file has; the loop asks again if more is due.
    int64_t got = ReadOnce(f->fd, f->buffer, kBufferSize);
    if (got <= 0) break;
    f->bufLen = static_cast<size_t>(got);
  }
  return done;
}

// PfWrite without the fault seam.
static size_t WriteBytes(PfFile* f, const unsigned char* in, size_t n) {
  if (f->failed) return 0;
  if (f->heldLeft > 0) {
    size_t k = n < f->heldLeft ? n : f->heldLeft;
    memcpy(f->held + (kHeldSize - f->heldLeft), in, k);
    f->heldLeft -= k;
    if (k == n) return n;
    size_t rest = WriteBytes(f, in + k, n - k);
    return rest == 0 ? 0 : n;
  }
  if (f->bufLen + n <= kBufferSize) {
    memcpy(f->buffer + f->bufLen, in, n);
    f->bufLen += n;
    return n;
  }
  if (!FlushWrites(f)) return 0;
  if (n >= kBufferSize) {
    if (!WriteFully(f->fd, in, n)) {
      f->failed = true;
      return 0;
    }
    f->bufStart += static_cast<int64_t>(n);
    return n;
  }
  memcpy(f->buffer, in, n);
  f->bufLen = n;
  return n;
}

size_t PfWrite(PfFile* f, const void* buf, size_t n) {
  if (PfFaultHits(kFaultWrite)) return n / 2;
  return WriteBytes(f, static_cast<const unsigned char*>(buf), n);
}

#ifdef __linux__
// Lets the kernel move up to `n` bytes between the two files' positions;
// answers the bytes moved and sets `*end` at the end of the input. It stops
// at the first failure, whatever it is (files on two file systems, a file
// kind it does not copy, a full disk): the ordinary path then takes over
// and meets a real failure again, as a read or a write error.
static size_t KernelCopy(int from, int to, size_t n, bool* end) {
  size_t done = 0;
  while (done < n) {
    ssize_t k = copy_file_range(from, nullptr, to, nullptr, n - done, 0);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) {
      *end = k == 0;
      break;
    }
    done += static_cast<size_t>(k);
  }
  return done;
}
#endif

size_t PfCopy(PfFile* from, PfFile* to, size_t n, int64_t following, bool* inputEnded) {
  *inputEnded = false;
  // What is held back is written through WriteBytes alone.
  if (to->heldLeft > 0) return 0;
  if (PfFaultHits(kFaultRead)) {
    *inputEnded = true;
    return n / 2;
  }
  if (PfFaultHits(kFaultWrite)) return n / 2;
  size_t done = 0;
  while (done < n) {
    size_t ready = from->bufLen - from->bufPos;
    if (ready > 0) {
      size_t k = ready < n - done ? ready : n - done;
      if (WriteBytes(to, from->buffer + from->bufPos, k) != k) return done;
      from->bufPos += k;
      done += k;
      continue;
    }
    // The reading buffer is spent: the file position is where it ends.
    from->bufStart += static_cast<int64_t>(from->bufLen);
    from->bufLen = from->bufPos = 0;
    if (to->failed || (to->bufLen == kBufferSize && !FlushWrites(to))) return done;
    size_t left = n - done;
    if (static_cast<int64_t>(left) + following < static_cast<int64_t>(kBufferSize)) {
      // The end of a copy fills the reading buffer, whose bytes after it
      // are likely the next to be asked for: small members in a row then
      // cost a read per buffer, not one each.
      int64_t got = ReadOnce(from->fd, from->buffer, kBufferSize);
      if (got <= 0) {
        *inputEnded = true;
        break;
      }
      from->bufLen = static_cast<size_t>(got);
      continue;
    }
#ifdef __linux__
    if (to->bufLen == 0 && left >= kBufferSize) {
      bool end = false;
      size_t moved = KernelCopy(from->fd, to->fd, left, &end);
      from->bufStart += static_cast<int64_t>(moved);
      to->bufStart += static_cast<int64_t>(moved);
      done += moved;
      if (end) *inputEnded = true;
      if (end || done == n) break;
      left = n - done;
    }
#endif
    // Read straight into the writing buffer, no more than is due.
    size_t room = kBufferSize - to->bufLen;
    size_t want = room < left ? room : left;
    int64_t got = ReadOnce(from->fd, to->buffer + to->bufLen, want);
    if (got <= 0) {
      *inputEnded = true;
      break;
    }
    from->bufStart += static_cast<int64_t>(got);
    to->bufLen += static_cast<size_t>(got);
    done += static_cast<size_t>(got);
  }
  return done;
}

bool PfSeek(PfFile* f, int64_t pos) {
  if (PfFaultHits(kFaultSeek)) return false;
  if (pos < 0) return false;
  if (!f->writing && pos >= f->bufStart &&
      pos <= f->bufStart + static_cast<int64_t>(f->bufLen)) {
    f->bufPos = static_cast<size_t>(pos - f->bufStart);
    return true;
  }
  if (!FlushWrites(f)) return false;
  if (SeekFd(f->fd, pos, SEEK_SET) != pos) return false;
  f->bufStart = pos;
  f->bufLen = f->bufPos = 0;
  return true;
}

int64_t PfPosition(PfFile* f) {
  return f->bufStart + static_cast<int64_t>(f->writing ? f->bufLen : f->bufPos);
}

int64_t PfLength(PfFile* f) {
#ifdef _WIN32
  struct _stati64 st;
  if (_fstati64(f->fd, &st) != 0) return -1;
#else
  struct stat st;
  if (fstat(f->fd, &st) != 0) return -1;
#endif
  int64_t length = static_cast<int64_t>(st.st_size);
  int64_t end = f->bufStart + static_cast<int64_t>(f->writing ? f->bufLen : 0);
  return length > end ? length : end;
}

bool PfSync(PfFile* f) {
  // What the stream holds is written first: a failing flush to the disk
  // comes after the write, as the system reports it.
  if (!FlushWrites(f) || PfFaultHits(kFaultSync)) return false;
  return SyncFd(f->fd) == 0;
}

bool PfSetLength(PfFile* f, int64_t length) {
  if (PfFaultHits(kFaultWrite) || !FlushWrites(f)) return false;
#ifdef _WIN32
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(f->fd));
  LARGE_INTEGER where;
  where.QuadPart = length;
  if (!SetFilePointerEx(h, where, nullptr, FILE_BEGIN) || !SetEndOfFile(h)) return false;
#else
  if (ftruncate(f->fd, static_cast<off_t>(length)) != 0) return false;
#endif
  return SeekFd(f->fd, f->bufStart, SEEK_SET) == f->bufStart;
}

int PfDescriptor(PfFile* f) { return f->fd; }

bool PfHoldFirstBlock(PfFile* f, unsigned char* held) {
  if (!f->writing || f->bufLen != 0 || f->heldLeft != 0) return false;
  int64_t after = f->bufStart + static_cast<int64_t>(kHeldSize);
  if (SeekFd(f->fd, after, SEEK_SET) != after) return false;
  f->bufStart = after;
  f->held = held;
  f->heldLeft = kHeldSize;
  return true;
}

bool PfHoldsBytes(PfFile* f) { return f->heldLeft > 0; }

size_t PfReadAt(PfFile* f, int64_t pos, void* buf, size_t n) {
  if (f->writing) return 0;
  // The buffer may hold what the file had before it was written.
  f->bufLen = f->bufPos = 0;
  if (SeekFd(f->fd, pos, SEEK_SET) != pos) return 0;
  f->bufStart = pos;
  return PfRead(f, buf, n);
}

int PfRelease(PfFile* f, bool* written) {
  *written = FlushWrites(f);
  int fd = f->fd;
  free(f);
  return fd;
}

bool PfClose(PfFile* f) {
  if (f == nullptr) return true;
  bool ok = FlushWrites(f);
  if (CloseFd(f->fd) != 0) ok = false;
  free(f);
  return ok;
}
