// The POSIX twin of the platform layer. Paths arrive with "\" separators and
// leave with "/"; the code pages are Windows-1252 (ANSI) and 437 (OEM);
// read-only is the absence of the owner-write bit, and it is honoured as
// Windows honours its read-only attribute, also for root.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <utime.h>

#include <cstdio>
#include <cstring>

#include "stream.h"

static const size_t kHostPath = 4096;

// The path as the file system wants it; false when it does not fit.
static bool HostPath(const char* path, char* out) {
  size_t len = strnlen(path, kHostPath);
  if (len == kHostPath) return false;
  for (size_t i = 0; i <= len; i++) out[i] = path[i] == '\\' ? '/' : path[i];
  return true;
}

static bool StatHost(const char* path, struct stat* st) {
  char host[kHostPath];
  return HostPath(path, host) && stat(host, st) == 0;
}

static bool IsReadOnly(const struct stat& st) { return !(st.st_mode & S_IWUSR); }

// Windows refuses to write, delete or replace a read-only file.
static bool IsReadOnlyFile(const char* host) {
  struct stat st;
  return stat(host, &st) == 0 && !S_ISDIR(st.st_mode) && IsReadOnly(st);
}

PfFile* PfOpenRead(const char* path) {
  char host[kHostPath];
  if (PfFaultHits(kFaultOpen) || !HostPath(path, host)) return nullptr;
  int fd = open(host, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);  // a directory is not a file to read, as on Windows
    return nullptr;
  }
  return PfWrapDescriptor(fd, false);
}

PfFile* PfOpenWrite(const char* path) {
  char host[kHostPath];
  if (PfFaultHits(kFaultOpen) || !HostPath(path, host)) return nullptr;
  if (IsReadOnlyFile(host)) return nullptr;
  return PfWrapDescriptor(open(host, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666), true);
}

PfFile* PfCreateNew(const char* path) {
  char host[kHostPath];
  if (PfFaultHits(kFaultOpen) || !HostPath(path, host)) return nullptr;
  return PfWrapDescriptor(open(host, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666), true);
}

bool PfExists(const char* path) {
  char host[kHostPath];
  return HostPath(path, host) && access(host, F_OK) == 0;
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

bool PfSetAttributes(const char* path, uint32_t attributes) {
  char host[kHostPath];
  struct stat st;
  if (!HostPath(path, host) || stat(host, &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & kPfAttrReadOnly) ? (mode & ~0222) : (mode | S_IWUSR);
  return chmod(host, mode) == 0;
}

bool PfMakeDir(const char* path) {
  char host[kHostPath];
  return HostPath(path, host) && mkdir(host, 0777) == 0;
}

bool PfRemove(const char* path) {
  char host[kHostPath];
  if (PfFaultHits(kFaultRemove) || !HostPath(path, host)) return false;
  if (IsReadOnlyFile(host)) return false;
  return unlink(host) == 0;
}

bool PfReplace(const char* from, const char* to) {
  char hostFrom[kHostPath];
  char hostTo[kHostPath];
  if (PfFaultHits(kFaultReplace)) return false;
  if (!HostPath(from, hostFrom) || !HostPath(to, hostTo)) return false;
  if (IsReadOnlyFile(hostTo)) return false;
  return rename(hostFrom, hostTo) == 0;
}

bool PfSetFileTime(const char* path, int32_t mtime) {
  char host[kHostPath];
  if (!HostPath(path, host) || IsReadOnlyFile(host)) return false;
  struct utimbuf times;
  times.actime = mtime;
  times.modtime = mtime;
  return utime(host, &times) == 0;
}

bool PfStat(const char* path, PfFileStatus* status) {
  struct stat st;
  if (!StatHost(path, &st)) return false;
  status->mode = st.st_mode;
  status->uid = static_cast<int32_t>(st.st_uid);
  status->gid = static_cast<int32_t>(st.st_gid);
  status->size = static_cast<int64_t>(st.st_size);
  status->mtime = static_cast<int64_t>(st.st_mtime);
  status->hasId = true;
  status->id.volume = static_cast<uint64_t>(st.st_dev);
  status->id.index = static_cast<uint64_t>(st.st_ino);
  return true;
}

// 100 ns intervals from 1601-01-01 to 1970-01-01.
static const uint64_t kUnixEpochFiletime = 116444736000000000ULL;

static uint64_t FiletimeOf(int64_t seconds) {
  return kUnixEpochFiletime + static_cast<uint64_t>(seconds) * 10000000ULL;
}

static void PutLE32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

static void PutFiletime(unsigned char* p, int64_t seconds) {
  uint64_t ft = seconds < 0 ? 0 : FiletimeOf(seconds);
  PutLE32(p, static_cast<uint32_t>(ft));
  PutLE32(p + 4, static_cast<uint32_t>(ft >> 32));
}

bool PfFindFile(const char* path, unsigned char record[kPfFindDataSize]) {
  struct stat st;
  if (!StatHost(path, &st)) return false;
  memset(record, 0, kPfFindDataSize);
  PutLE32(record, AttributesOf(st));
  PutFiletime(record + 4, st.st_ctime);
  PutFiletime(record + 12, st.st_atime);
  PutFiletime(record + 20, st.st_mtime);
  uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
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

// Unicode of the bytes 0x80-0xFF of code page 437.
static const uint16_t kOem437[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Unicode of the bytes 0x80-0x9F of Windows-1252; 0xA0-0xFF are Latin-1.
// The five unassigned bytes stand for the C1 controls of the same value.
static const uint16_t kAnsi1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

static uint16_t OemUnicode(unsigned char c) { return c < 0x80 ? c : kOem437[c - 0x80]; }

static uint16_t AnsiUnicode(unsigned char c) {
  return (c < 0x80 || c >= 0xA0) ? c : kAnsi1252[c - 0x80];
}

// A byte with no counterpart in the other code page becomes "?".
static char Convert(unsigned char c, uint16_t (*from)(unsigned char),
                    uint16_t (*to)(unsigned char)) {
  if (c < 0x80) return static_cast<char>(c);
  uint16_t u = from(c);
  for (int b = 0x80; b < 0x100; b++) {
    if (to(static_cast<unsigned char>(b)) == u) return static_cast<char>(b);
  }
  return '?';
}

struct CodePageTables {
  bool ready;
  char oemToAnsi[256];
  char ansiToOem[256];
};
static CodePageTables gTables;

static const CodePageTables& Tables() {
  if (!gTables.ready) {
    for (int c = 0; c < 256; c++) {
      unsigned char b = static_cast<unsigned char>(c);
      gTables.oemToAnsi[c] = Convert(b, OemUnicode, AnsiUnicode);
      gTables.ansiToOem[c] = Convert(b, AnsiUnicode, OemUnicode);
    }
    gTables.ready = true;
  }
  return gTables;
}

static void Translate(const char* src, char* dst, const char* table) {
  size_t i = 0;
  for (; src[i] != '\0'; i++) dst[i] = table[static_cast<unsigned char>(src[i])];
  dst[i] = '\0';
}

void PfOemToAnsi(const char* src, char* dst) { Translate(src, dst, Tables().oemToAnsi); }

void PfAnsiToOem(const char* src, char* dst) { Translate(src, dst, Tables().ansiToOem); }

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

bool PfIsLeadByte(unsigned char) { return false; }  // 1252 is single-byte

// ------------------------------------------------------------------ time

int64_t PfNow() { return static_cast<int64_t>(time(nullptr)); }

static bool LocalTime(int32_t mtime, struct tm* tm) {
  if (mtime < 0) return false;
  time_t t = mtime;
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

bool PfMemberFileTime(int32_t mtime, uint64_t* filetime) {
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
  if (utcSeconds < -11644473600LL) return false;
  *filetime = static_cast<uint64_t>(
      static_cast<int64_t>(kUnixEpochFiletime) + utcSeconds * 10000000LL);
  return true;
}

bool PfDosDateTime(int32_t mtime, uint32_t* dos) {
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
  struct stat st;
  if (!StatHost(path, &st)) return false;
  id->volume = static_cast<uint64_t>(st.st_dev);
  id->index = static_cast<uint64_t>(st.st_ino);
  return true;
}
