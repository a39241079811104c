// The POSIX twin of the platform layer. Paths arrive in the ANSI code page
// with "\" separators, as the Windows ANSI file functions take them, and
// leave in UTF-8 with "/"; the code pages are Windows-1252 (ANSI) and 437
// (OEM), or both UTF-8 when the process's locale is a UTF-8 one;
// read-only is the absence of the owner-write bit, and it is honoured as
// Windows honours its read-only attribute, also for root.
#include <fcntl.h>
#include <langinfo.h>
#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <wctype.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "stream.h"
#include "utf8.h"

static const size_t kPathMax = 4096;              // ANSI bytes taken
static const size_t kHostPath = 3 * kPathMax + 1;  // the same in UTF-8

// The path as the file system wants it; false when it does not fit.
static bool HostPath(const char* path, char* out) {
  char ansi[kPathMax];
  size_t len = strnlen(path, kPathMax);
  if (len == kPathMax) return false;
  for (size_t i = 0; i <= len; i++) ansi[i] = path[i] == '\\' ? '/' : path[i];
  return PfAnsiToUtf8(ansi, out, kHostPath) > 0 || len == 0;
}

static bool StatHost(const char* path, struct stat* st) {
  char host[kHostPath];
  return HostPath(path, host) && stat(host, st) == 0;
}

static bool IsReadOnly(const struct stat& st) { return !(st.st_mode & S_IWUSR); }

// Windows refuses to delete or replace a read-only file; a link goes
// itself, whatever it points to.
static bool IsReadOnlyEntry(const char* host) {
  struct stat st;
  return lstat(host, &st) == 0 && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode) &&
         IsReadOnly(st);
}

static bool IsRegularFd(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

PfFile* PfOpenRead(const char* path) {
  char host[kHostPath];
  if (PfFaultHits(kFaultOpen) || !HostPath(path, host)) return nullptr;
  PfFile* stream = PfNewStream(false);
  if (stream == nullptr) return nullptr;
  // Only regular files are read: a directory is none, as on Windows, and a
  // FIFO or a device could block or never end. The open itself does not
  // wait for a FIFO's writer.
  PfFile* f = PfAttach(stream, open(host, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (f != nullptr && (!IsRegularFd(PfDescriptor(f)) || !PfFillFirst(f))) {
    PfClose(f);
    return nullptr;
  }
  return f;
}

// Creates a file to write; one that exists already is refused.
PfFile* PfCreateNew(const char* path) {
  char host[kHostPath];
  if (PfFaultHits(kFaultOpen) || !HostPath(path, host)) return nullptr;
  PfFile* stream = PfNewStream(true);
  if (stream == nullptr) return nullptr;
  return PfAttach(stream, open(host, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
}

bool PfExists(const char* path) {
  char host[kHostPath];
  return HostPath(path, host) && access(host, F_OK) == 0;
}

bool PfEntryExists(const char* path) {
  char host[kHostPath];
  struct stat st;
  return HostPath(path, host) && lstat(host, &st) == 0;
}

static uint32_t AttributesOf(const struct stat& st) {
  uint32_t attributes = S_ISDIR(st.st_mode) ? kPfAttrDirectory : kPfAttrArchive;
  if (IsReadOnly(st)) attributes |= kPfAttrReadOnly;
  return attributes;
}

uint32_t PfGetAttributes(const char* path) {
  struct stat st;
  if (!StatHost(path, &st)) return kPfInvalidAttributes;
  return AttributesOf(st);
}

// The permission bits that `attributes` give a file that has `was`.
static mode_t ModeFor(mode_t was, uint32_t attributes) {
  return (attributes & kPfAttrReadOnly) ? (was & ~0222) : (was | S_IWUSR);
}

bool PfSetAttributes(const char* path, uint32_t attributes) {
  char host[kHostPath];
  struct stat st;
  if (!HostPath(path, host) || stat(host, &st) != 0) return false;
  mode_t was = st.st_mode & 07777;
  mode_t mode = ModeFor(was, attributes);
  return mode == was || chmod(host, mode) == 0;
}

bool PfMakeDir(const char* path) {
  char host[kHostPath];
  return HostPath(path, host) && mkdir(host, 0777) == 0;
}

bool PfRemove(const char* path) {
  char host[kHostPath];
  if (PfFaultHits(kFaultRemove) || !HostPath(path, host)) return false;
  if (IsReadOnlyEntry(host)) return false;
  return unlink(host) == 0;
}

bool PfReplace(const char* from, const char* to) {
  char hostFrom[kHostPath];
  char hostTo[kHostPath];
  if (PfFaultHits(kFaultReplace)) return false;
  if (!HostPath(from, hostFrom) || !HostPath(to, hostTo)) return false;
  if (IsReadOnlyEntry(hostTo)) return false;
  return rename(hostFrom, hostTo) == 0;
}

// Time and attributes go on through the open file, after its last write,
// with the same rules as by path: no time on a read-only file.
// A member's permission bits as a user gets them: the umask applies, and
// set-user-ID, set-group-ID and sticky never do.
static mode_t MemberMode(int32_t mode) {
  mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(mode) & 0777 & ~mask;
}

static void StampTime(int fd, int64_t mtime) {
  struct timespec times[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
  futimens(fd, times);
}

bool PfCloseStamped(PfFile* f, const char* path, int64_t mtime, bool hasTime,
                    uint32_t attributes, int32_t memberMode) {
  (void)path;
  bool written;
  int fd = PfRelease(f, &written);
  struct stat st;
  if (written && fstat(fd, &st) == 0) {
    if (hasTime && !IsReadOnly(st)) StampTime(fd, mtime);
    mode_t was = st.st_mode & 07777;
    mode_t mode = memberMode >= 0 ? MemberMode(memberMode) : ModeFor(was, attributes);
    if (mode != was) fchmod(fd, mode);
  }
  return close(fd) == 0 && written;
}

bool PfMakeSymlink(const char* target, const char* path, bool folder) {
  (void)folder;
  char hostTarget[kHostPath];
  char hostPath[kHostPath];
  return HostPath(target, hostTarget) && HostPath(path, hostPath) &&
         symlink(hostTarget, hostPath) == 0;
}

bool PfMakeHardLink(const char* existing, const char* path) {
  char hostExisting[kHostPath];
  char hostPath[kHostPath];
  return HostPath(existing, hostExisting) && HostPath(path, hostPath) &&
         link(hostExisting, hostPath) == 0;
}

bool PfStampFolder(const char* path, int64_t mtime, bool hasTime, int32_t mode) {
  char host[kHostPath];
  if (!HostPath(path, host)) return false;
  int fd = open(host, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  if (hasTime) StampTime(fd, mtime);
  if (mode >= 0) fchmod(fd, MemberMode(mode));
  close(fd);
  return true;
}

static void FillStatus(const struct stat& st, PfFileStatus* status) {
  status->mode = st.st_mode;
  status->uid = static_cast<int32_t>(st.st_uid);
  status->gid = static_cast<int32_t>(st.st_gid);
  status->size = static_cast<int64_t>(st.st_size);
  status->mtime = static_cast<int64_t>(st.st_mtime);
  status->hasId = true;
  status->id.volume = static_cast<uint64_t>(st.st_dev);
  status->id.index = static_cast<uint64_t>(st.st_ino);
  status->links = static_cast<uint32_t>(st.st_nlink);
}

bool PfStat(const char* path, PfFileStatus* status) {
  struct stat st;
  if (!StatHost(path, &st)) return false;
  FillStatus(st, status);
  return true;
}

bool PfStatEntry(const char* path, PfFileStatus* status) {
  char host[kHostPath];
  struct stat st;
  if (!HostPath(path, host) || lstat(host, &st) != 0) return false;
  FillStatus(st, status);
  return true;
}

// The target is UTF-8 on the disk, like every name there.
bool PfReadLink(const char* path, char* out, size_t size) {
  char host[kHostPath];
  char target[kHostPath];
  if (!HostPath(path, host)) return false;
  ssize_t n = readlink(host, target, sizeof target);
  if (n <= 0 || static_cast<size_t>(n) == sizeof target) return false;
  bool lossless;
  size_t len = PfUtf8ToAnsi(target, static_cast<size_t>(n), out, size, &lossless);
  return len > 0 && lossless;
}

// 100 ns intervals from 1601-01-01 to 1970-01-01.
static const uint64_t kUnixEpochFiletime = 116444736000000000ULL;

// FILETIMEs start in 1601: earlier times have none.
static const int64_t kFiletimeFirstSecond = -11644473600LL;

static uint64_t FiletimeOf(int64_t seconds) {
  return static_cast<uint64_t>(static_cast<int64_t>(kUnixEpochFiletime) + seconds * 10000000LL);
}

static void PutLE32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

static void PutFiletime(unsigned char* p, int64_t seconds) {
  uint64_t ft = seconds < kFiletimeFirstSecond ? 0 : FiletimeOf(seconds);
  PutLE32(p, static_cast<uint32_t>(ft));
  PutLE32(p + 4, static_cast<uint32_t>(ft >> 32));
}

// A link is described itself, dangling or not, as Windows does.
bool PfFindFile(const char* path, unsigned char record[kPfFindDataSize]) {
  char host[kHostPath];
  struct stat st;
  if (!HostPath(path, host) || lstat(host, &st) != 0) return false;
  memset(record, 0, kPfFindDataSize);
  uint32_t attributes = AttributesOf(st);
  if (S_ISLNK(st.st_mode)) attributes = kPfAttrArchive | kPfAttrReparsePoint;
  PutLE32(record, attributes);
  PutFiletime(record + 4, st.st_ctime);
  PutFiletime(record + 12, st.st_atime);
  PutFiletime(record + 20, st.st_mtime);
  bool sizeless = S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode);
  uint64_t size = sizeless ? 0 : static_cast<uint64_t>(st.st_size);
  PutLE32(record + 28, static_cast<uint32_t>(size >> 32));
  PutLE32(record + 32, static_cast<uint32_t>(size));
  const char* base = path;
  for (const char* p = path; *p != '\0'; p++) {
    if (*p == '\\' || *p == '/') base = p + 1;
  }
  size_t len = strnlen(base, 259);
  memcpy(record + 44, base, len);
  return true;
}

// ------------------------------------------------------------ code pages

// The bytes 0x80-0xFF of code page 437 (OEM) in Windows-1252 (ANSI), and
// back, as the Windows conversions give them: a sign without a twin in the
// other code page becomes the nearest look-alike (a box corner "+", alpha
// "a"), or "?" when there is none.
static const unsigned char kOemToAnsi[128] = {
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7,
    0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5,
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9,
    0xFF, 0xD6, 0xDC, 0xA2, 0xA3, 0xA5, 0x50, 0x83,
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xAA, 0xBA,
    0xBF, 0xAC, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB,
    0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0x2B,
    0x2B, 0xA6, 0xA6, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B,
    0x2B, 0x2D, 0x2D, 0x2B, 0x2D, 0x2B, 0xA6, 0xA6,
    0x2B, 0x2B, 0x2D, 0x2D, 0xA6, 0x2D, 0x2B, 0x2D,
    0x2D, 0x2D, 0x2D, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B,
    0x2B, 0x2B, 0x2B, 0xA6, 0x5F, 0xA6, 0xA6, 0xAF,
    0x61, 0xDF, 0x47, 0x70, 0x53, 0x73, 0xB5, 0x74,
    0x46, 0x54, 0x4F, 0x64, 0x38, 0x66, 0x65, 0x6E,
    0x3D, 0xB1, 0x3D, 0x3D, 0x28, 0x29, 0xF7, 0x98,
    0xB0, 0xB7, 0xB7, 0x76, 0x6E, 0xB2, 0xA6, 0xA0,
};
static const unsigned char kAnsiToOem[128] = {
    0x3F, 0x3F, 0x2C, 0x9F, 0x2C, 0x2E, 0x2B, 0xD8,
    0x5E, 0x25, 0x53, 0x3C, 0x4F, 0x3F, 0x5A, 0x3F,
    0x3F, 0x60, 0x27, 0x22, 0x22, 0x07, 0x2D, 0x2D,
    0x7E, 0x54, 0x73, 0x3E, 0x6F, 0x3F, 0x7A, 0x59,
    0xFF, 0xAD, 0x9B, 0x9C, 0x0F, 0x9D, 0xDD, 0x15,
    0x22, 0x63, 0xA6, 0xAE, 0xAA, 0x2D, 0x72, 0x5F,
    0xF8, 0xF1, 0xFD, 0x33, 0x27, 0xE6, 0x14, 0xFA,
    0x2C, 0x31, 0xA7, 0xAF, 0xAC, 0xAB, 0x5F, 0xA8,
    0x41, 0x41, 0x41, 0x41, 0x8E, 0x8F, 0x92, 0x80,
    0x45, 0x90, 0x45, 0x45, 0x49, 0x49, 0x49, 0x49,
    0x44, 0xA5, 0x4F, 0x4F, 0x4F, 0x4F, 0x99, 0x78,
    0x4F, 0x55, 0x55, 0x55, 0x9A, 0x59, 0x5F, 0xE1,
    0x85, 0xA0, 0x83, 0x61, 0x84, 0x86, 0x91, 0x87,
    0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,
    0x64, 0xA4, 0x95, 0xA2, 0x93, 0x6F, 0x94, 0xF6,
    0x6F, 0x97, 0xA3, 0x96, 0x81, 0x79, 0x5F, 0x98,
};

static void Translate(const char* src, char* dst, const unsigned char* high) {
  size_t i = 0;
  for (; src[i] != '\0'; i++) {
    unsigned char c = static_cast<unsigned char>(src[i]);
    dst[i] = static_cast<char>(c < 0x80 ? c : high[c - 0x80]);
  }
  dst[i] = '\0';
}

// The locale is read as the process set it, each time: a host that calls
// setlocale(LC_CTYPE, "") in a UTF-8 environment has UTF-8 code pages.
bool PfAnsiIsUtf8() {
  const char* codeset = nl_langinfo(CODESET);
  return codeset != nullptr && strcmp(codeset, "UTF-8") == 0;
}

void PfLeadByteRanges(unsigned char ranges[kPfLeadByteRanges]) {
  memset(ranges, 0, kPfLeadByteRanges);  // 1252 and UTF-8 have none
}

static void Keep(const char* src, char* dst) { memmove(dst, src, strlen(src) + 1); }

void PfOemToAnsi(const char* src, char* dst) {
  if (PfAnsiIsUtf8()) return Keep(src, dst);
  Translate(src, dst, kOemToAnsi);
}

void PfAnsiToOem(const char* src, char* dst) {
  if (PfAnsiIsUtf8()) return Keep(src, dst);
  Translate(src, dst, kAnsiToOem);
}

uint32_t PfUpperChar(uint32_t cp) {
  wint_t upper = towupper(static_cast<wint_t>(cp));
  return upper > 0 && upper <= 0x10FFFF ? static_cast<uint32_t>(upper) : cp;
}

// Windows-1252 upper case: a-z, the Latin-1 letters from 0xE0 (not the
// division sign 0xF7, nor 0xFF, whose capital lies at 0x9F), and three
// letters of the 0x80 row.
static unsigned char UpperAnsi(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 0x20);
  switch (c) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
    default: return c;
  }
}

void PfCharUpper(char* text) {
  for (; *text != '\0'; text++) {
    *text = static_cast<char>(UpperAnsi(static_cast<unsigned char>(*text)));
  }
}

// ------------------------------------------------------------------ time

int64_t PfNow() { return static_cast<int64_t>(time(nullptr)); }

struct ThreadStart {
  void (*run)(void*);
  void* arg;
};

static void* RunThread(void* start) {
  ThreadStart s = *static_cast<ThreadStart*>(start);
  delete static_cast<ThreadStart*>(start);
  s.run(s.arg);
  return nullptr;
}

bool PfStartThread(PfThread* t, void (*run)(void*), void* arg) {
  ThreadStart* start = new (std::nothrow) ThreadStart{run, arg};
  pthread_t* thread = new (std::nothrow) pthread_t;
  if (start == nullptr || thread == nullptr || pthread_create(thread, nullptr, RunThread, start) != 0) {
    delete start;
    delete thread;
    return false;
  }
  t->handle = thread;
  return true;
}

void PfJoinThread(PfThread* t) {
  pthread_t* thread = static_cast<pthread_t*>(t->handle);
  pthread_join(*thread, nullptr);
  delete thread;
  t->handle = nullptr;
}

int PfProcessorCount() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

static bool LocalTime(int64_t mtime, struct tm* tm) {
  time_t t = static_cast<time_t>(mtime);
  return localtime_r(&t, tm) != nullptr;
}

// Days from 1970-01-01 to the given civil date.
static int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool PfMemberFileTime(int64_t mtime, uint64_t* filetime) {
  struct tm tm;
  if (!LocalTime(mtime, &tm)) return false;
  int64_t localSeconds =
      DaysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) * 86400 +
      tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
  // The bias in force now, not the one at the member's time, as Windows
  // applies it.
  time_t now = time(nullptr);
  struct tm nowTm;
  if (localtime_r(&now, &nowTm) == nullptr) return false;
  int64_t utcSeconds = localSeconds - nowTm.tm_gmtoff;
  if (utcSeconds < kFiletimeFirstSecond) return false;
  *filetime = FiletimeOf(utcSeconds);
  return true;
}

bool PfDosDateTime(int64_t mtime, uint32_t* dos) {
  struct tm tm;
  if (!LocalTime(mtime, &tm)) return false;
  int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return false;
  uint32_t date = static_cast<uint32_t>((year - 1980) * 512 + (tm.tm_mon + 1) * 32 + tm.tm_mday);
  uint32_t time = static_cast<uint32_t>(tm.tm_hour * 2048 + tm.tm_min * 32 + tm.tm_sec / 2);
  *dos = (date << 16) | time;
  return true;
}

bool PfGetFileId(const char* path, PfFileId* id) {
  PfFileStatus status;
  if (!PfStat(path, &status)) return false;
  *id = status.id;
  return true;
}

// ------------------------------------------------- ANSI and UTF-8 text

// What the bytes 0x80-0x9F of Windows-1252 stand for; the five bytes the
// code page leaves free stand for the control characters of their value,
// as the Windows conversions have them. 0xA0-0xFF are U+00A0-U+00FF.
static const uint16_t kAnsiHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

static uint32_t AnsiToCodePoint(unsigned char c) {
  return c >= 0x80 && c < 0xA0 ? kAnsiHigh[c - 0x80] : c;
}

// The ANSI byte of a code point, or 0 when it has none.
static unsigned char CodePointToAnsi(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<unsigned char>(cp);
  for (int i = 0; i < 32; i++) {
    if (kAnsiHigh[i] == cp) return static_cast<unsigned char>(0x80 + i);
  }
  return 0;
}

size_t PfAnsiToUtf8(const char* src, char* dst, size_t size) {
  if (PfAnsiIsUtf8()) return KeepText(src, dst, size);
  size_t n = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(src); *p != 0; p++) {
    uint32_t cp = AnsiToCodePoint(*p);
    unsigned char bytes[3];
    size_t k;
    if (cp < 0x80) {
      bytes[0] = static_cast<unsigned char>(cp);
      k = 1;
    } else if (cp < 0x800) {
      bytes[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
      bytes[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      k = 2;
    } else {
      bytes[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
      bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      bytes[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      k = 3;
    }
    if (n + k + 1 > size) return 0;
    memcpy(dst + n, bytes, k);
    n += k;
  }
  if (n + 1 > size) return 0;
  dst[n] = '\0';
  return n;
}

size_t PfUtf8ToAnsi(const char* src, size_t len, char* dst, size_t size, bool* lossless) {
  *lossless = true;
  if (PfAnsiIsUtf8()) return KeepUtf8(src, len, dst, size, lossless);
  const unsigned char* s = reinterpret_cast<const unsigned char*>(src);
  size_t n = 0;
  size_t i = 0;
  while (i < len) {
    size_t used;
    uint32_t cp = DecodeUtf8(s + i, len - i, &used);
    unsigned char c = cp == kNoCodePoint ? 0 : CodePointToAnsi(cp);
    if (c == 0) {
      c = '_';
      *lossless = false;
    }
    if (n + 2 > size) {
      *lossless = false;
      break;
    }
    dst[n++] = static_cast<char>(c);
    i += used;
  }
  if (size > 0) dst[n] = '\0';
  return n;
}

// ------------------------------------------------------------------ links

static PfPathKind KindOf(const struct stat& st, bool last) {
  if (S_ISLNK(st.st_mode)) return last ? kPfLink : kPfThroughLink;
  if (last) return S_ISDIR(st.st_mode) ? kPfDirectory : kPfFile;
  return S_ISDIR(st.st_mode) ? kPfDirectory : kPfNothing;
}

// The folder that `rest`, a part of `host`, lies below: what comes before
// it, or else the root or the current folder.
static int OpenTop(char* host, char* rest) {
  char keep = *rest;
  *rest = '\0';
  const char* top = rest > host ? host : (keep == '/' ? "/" : ".");
  int dir = open(top, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  *rest = keep;
  return dir;
}

// Each level is looked at and entered relative to the one above, never by
// a path that a link could redirect.
PfPathKind PfInspectBelow(const char* path, size_t below) {
  char host[kHostPath];
  if (!HostPath(path, host) || below > strlen(host)) return kPfNothing;
  char* rest = host + below;
  int dir = OpenTop(host, rest);
  PfPathKind kind = kPfNothing;
  while (dir >= 0) {
    while (*rest == '/') rest++;
    char* end = strchr(rest, '/');
    bool last = end == nullptr || end[strspn(end, "/")] == '\0';
    if (end != nullptr) *end = '\0';
    struct stat st;
    kind = fstatat(dir, rest, &st, AT_SYMLINK_NOFOLLOW) == 0 ? KindOf(st, last) : kPfNothing;
    if (last || kind != kPfDirectory) break;
    int next = openat(dir, rest, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(dir);
    dir = next;
    // A level that became something else since it was looked at.
    if (dir < 0) return kPfThroughLink;
    rest = end + 1;
  }
  if (dir >= 0) close(dir);
  return kind;
}

// ------------------------------------------------------- one writer at once

const bool kPfReplacesOpenFiles = true;

static bool LockWriter(int fd) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(kPfLockOffset);
  lock.l_len = 1;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

PfFile* PfOpenLocked(const char* path) {
  char host[kHostPath];
  if (PfFaultHits(kFaultOpen) || !HostPath(path, host)) return nullptr;
  PfFile* stream = PfNewStream(false);
  if (stream == nullptr) return nullptr;
  // Not blocking: whatever the path names, the open returns at once.
  int fd = open(host, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0 && (!IsRegularFd(fd) || !LockWriter(fd))) {
    close(fd);
    fd = -1;
  }
  return PfAttach(stream, fd);
}

bool PfResolvedPath(PfFile* f, char* out, size_t size) {
  char link[64];
  char host[kHostPath];
  snprintf(link, sizeof link, "/proc/self/fd/%d", PfDescriptor(f));
  ssize_t n = readlink(link, host, sizeof host - 1);
  if (n <= 0 || host[0] != '/') return false;
  host[n] = '\0';
  bool lossless;
  size_t len = PfUtf8ToAnsi(host, static_cast<size_t>(n), out, size, &lossless);
  if (!lossless || len + 1 >= size) return false;
  for (size_t i = 0; i < len; i++) {
    if (out[i] == '/') out[i] = '\\';
  }
  return true;
}

static void StampOf(const struct stat& st, PfFileStamp* stamp) {
  stamp->id.volume = static_cast<uint64_t>(st.st_dev);
  stamp->id.index = static_cast<uint64_t>(st.st_ino);
  stamp->size = static_cast<int64_t>(st.st_size);
  stamp->written = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool PfStampOpen(PfFile* f, PfFileStamp* stamp) {
  struct stat st;
  if (fstat(PfDescriptor(f), &st) != 0) return false;
  StampOf(st, stamp);
  return true;
}

bool PfStampPath(const char* path, PfFileStamp* stamp) {
  struct stat st;
  if (!StatHost(path, &st)) return false;
  StampOf(st, stamp);
  return true;
}

bool PfRenameNew(const char* from, const char* to) {
  char hostFrom[kHostPath];
  char hostTo[kHostPath];
  if (PfFaultHits(kFaultReplace)) return false;
  if (!HostPath(from, hostFrom) || !HostPath(to, hostTo)) return false;
  if (renameat2(AT_FDCWD, hostFrom, AT_FDCWD, hostTo, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without that kind of rename: a second name that cannot
  // replace anything either, then the first one goes.
  if (link(hostFrom, hostTo) != 0) return false;
  unlink(hostFrom);
  return true;
}

// ------------------------------------------------------ changes in place

PfFile* PfOpenWriterOf(PfFile* locked) {
  if (PfFaultHits(kFaultOpen)) return nullptr;
  PfFile* stream = PfNewStream(true);
  if (stream == nullptr) return nullptr;
  return PfAttach(stream, fcntl(PfDescriptor(locked), F_DUPFD_CLOEXEC, 0));
}

void PfTakeOwnership(PfFile* model, PfFile* f, const char* path) {
  (void)path;
  struct stat st;
  if (fstat(PfDescriptor(model), &st) != 0) return;
  // Owner first: a change of owner may clear the set-id bits.
  if (fchown(PfDescriptor(f), st.st_uid, st.st_gid) != 0) {
    // Not permitted: the file stays the writer's own.
  }
  fchmod(PfDescriptor(f), st.st_mode & 07777);
}

// ------------------------------------------------------------ module lock

static pthread_mutex_t gModuleLock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

void PfLockModule() { pthread_mutex_lock(&gModuleLock); }

void PfUnlockModule() { pthread_mutex_unlock(&gModuleLock); }

// ------------------------------------------------------------- full paths

static bool IsSlash(char c) { return c == '\\' || c == '/'; }

bool PfCurrentFolder(char* out, size_t size) {
  char host[kHostPath];
  if (size == 0 || getcwd(host, sizeof host) == nullptr) return false;
  bool lossless;
  size_t len = PfUtf8ToAnsi(host, strlen(host), out, size, &lossless);
  if (!lossless) return false;
  for (size_t i = 0; i < len; i++) {
    if (out[i] == '/') out[i] = '\\';
  }
  return true;
}

// Appends `text` at `*len` of `out` (`size` bytes); false when it does not
// fit.
static bool AppendText(char* out, size_t size, size_t* len, const char* text) {
  size_t add = strlen(text);
  if (*len + add + 1 > size) return false;
  memcpy(out + *len, text, add + 1);
  *len += add;
  return true;
}

// A path is absolute when it starts at the root; there are no drives.
bool PfFullPath(const char* folder, const char* path, char* out, size_t size) {
  size_t len = 0;
  if (size == 0) return false;
  out[0] = '\0';
  if (!IsSlash(path[0])) {
    if (folder[0] == '\0' || !AppendText(out, size, &len, folder)) return false;
    if (!IsSlash(out[len - 1]) && !AppendText(out, size, &len, "\\")) return false;
  }
  return AppendText(out, size, &len, path);
}
