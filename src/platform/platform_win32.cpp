// The platform layer of the product DLL: Win32 and the Microsoft C runtime.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "stream.h"
#include "utf8.h"

static void DeleteModuleLock();

// The runtime's entry point initialises the C library, then calls this. A
// host that unloads the module gets the module lock's resources back; at
// the end of the process there is nothing to give back.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) DeleteModuleLock();
  return TRUE;
}

PfFile* PfOpenRead(const char* path) {
  if (PfFaultHits(kFaultOpen)) return nullptr;
  PfFile* stream = PfNewStream(false);
  if (stream == nullptr) return nullptr;
  return PfAttach(stream, _open(path, _O_RDONLY | _O_BINARY));
}

PfFile* PfCreateNew(const char* path) {
  if (PfFaultHits(kFaultOpen)) return nullptr;
  PfFile* stream = PfNewStream(true);
  if (stream == nullptr) return nullptr;
  HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  int fd = -1;
  if (h != INVALID_HANDLE_VALUE) {
    fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
    if (fd < 0) {
      CloseHandle(h);
      DeleteFileA(path);
    }
  }
  return PfAttach(stream, fd);
}

bool PfExists(const char* path) { return _access(path, 0) == 0; }

// The folder's listing has the entry even where it names nothing.
bool PfEntryExists(const char* path) {
  if (PfExists(path)) return true;
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(path, &found);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

uint32_t PfGetAttributes(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes == INVALID_FILE_ATTRIBUTES ? kPfInvalidAttributes : attributes;
}

bool PfSetAttributes(const char* path, uint32_t attributes) {
  return SetFileAttributesA(path, attributes) != 0;
}

bool PfMakeDir(const char* path) { return CreateDirectoryA(path, nullptr) != 0; }

bool PfRemove(const char* path) {
  if (PfFaultHits(kFaultRemove)) return false;
  return remove(path) == 0;
}

bool PfReplace(const char* from, const char* to) {
  if (PfFaultHits(kFaultReplace)) return false;
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Seconds since 1970 and FILETIMEs (100 ns since 1601) by arithmetic: the
// runtime's time functions refuse times before 1970.
static const int64_t kUnixEpochFiletime = 116444736000000000LL;
static const int64_t kFiletimeFirstSecond = -11644473600LL;

static FILETIME FiletimeOf(int64_t seconds) {
  uint64_t ticks = static_cast<uint64_t>(kUnixEpochFiletime + seconds * 10000000LL);
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

static int64_t SecondsOf(const FILETIME& ft) {
  int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) |
                                       ft.dwLowDateTime) - kUnixEpochFiletime;
  // Whole seconds, rounded down also before 1970.
  return ticks >= 0 ? ticks / 10000000LL : -((-ticks + 9999999LL) / 10000000LL);
}

// Windows keeps no permission bits: the read-only attribute stands for them.
bool PfCloseStamped(PfFile* f, const char* path, int64_t mtime, bool hasTime,
                    uint32_t attributes, int32_t mode) {
  (void)mode;
  bool written;
  int fd = PfRelease(f, &written);
  if (written && hasTime && mtime >= kFiletimeFirstSecond) {
    FILETIME ft = FiletimeOf(mtime);
    SetFileTime(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), nullptr, &ft, &ft);
  }
  bool closed = _close(fd) == 0;
  if (written && closed) PfSetAttributes(path, attributes);
  return written && closed;
}

// The mode stored for what Windows has: read and write for the owner and
// read for all (no write when read-only), and a folder searchable by all.
// No execute bit is told by a file's extension.
static uint32_t ModeOf(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return 040755;
  return (attributes & FILE_ATTRIBUTE_READONLY) ? 0100444 : 0100644;
}

// What a link (a reparse point) names, through a handle opened on it; false
// for a link to nothing.
static bool NamedByLink(const char* path, WIN32_FILE_ATTRIBUTE_DATA* data) {
  HANDLE h = CreateFileA(path, FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool told = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (!told) return false;
  data->dwFileAttributes = info.dwFileAttributes;
  data->ftLastWriteTime = info.ftLastWriteTime;
  data->nFileSizeHigh = info.nFileSizeHigh;
  data->nFileSizeLow = info.nFileSizeLow;
  return true;
}

// The size and time come from the file system as they are, also past
// 2 GiB and before 1970; a link is described by what it names.
bool PfStat(const char* path, PfFileStatus* status) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !NamedByLink(path, &data)) {
    return false;
  }
  status->mode = ModeOf(data.dwFileAttributes);
  status->uid = 0;
  status->gid = 0;
  status->size = static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) |
                                      data.nFileSizeLow);
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) status->size = 0;
  status->mtime = SecondsOf(data.ftLastWriteTime);
  status->hasId = false;  // the attribute data has no file index
  status->links = 1;
  return true;
}

bool PfStatEntry(const char* path, PfFileStatus* status) { return PfStat(path, status); }

bool PfReadLink(const char*, char*, size_t) { return false; }

bool PfFindFile(const char* path, unsigned char record[kPfFindDataSize]) {
  static_assert(sizeof(WIN32_FIND_DATAA) == kPfFindDataSize, "find data");
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(path, &found);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  memcpy(record, &found, kPfFindDataSize);
  return true;
}

bool PfAnsiIsUtf8() { return GetACP() == CP_UTF8; }

// A process keeps its code page for life: it is asked once.
struct LeadBytes {
  unsigned char ranges[kPfLeadByteRanges];
  LeadBytes() : ranges() {
    static_assert(MAX_LEADBYTES == kPfLeadByteRanges, "lead-byte ranges");
    CPINFO info;
    if (GetACP() != CP_UTF8 && GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 2) {
      memcpy(ranges, info.LeadByte, kPfLeadByteRanges);
    }
  }
};

void PfLeadByteRanges(unsigned char ranges[kPfLeadByteRanges]) {
  static const LeadBytes kLeadBytes;
  memcpy(ranges, kLeadBytes.ranges, kPfLeadByteRanges);
}

static bool SameCodePages() { return GetACP() == GetOEMCP(); }

void PfOemToAnsi(const char* src, char* dst) {
  if (SameCodePages()) {
    memmove(dst, src, strlen(src) + 1);
  } else {
    OemToCharA(src, dst);
  }
}

void PfAnsiToOem(const char* src, char* dst) {
  if (SameCodePages()) {
    memmove(dst, src, strlen(src) + 1);
  } else {
    CharToOemA(src, dst);
  }
}

void PfCharUpper(char* text) { CharUpperA(text); }

uint32_t PfUpperChar(uint32_t cp) {
  WCHAR units[2];
  DWORD n = 1;
  if (cp >= 0x10000) {
    units[0] = static_cast<WCHAR>(0xD800 + ((cp - 0x10000) >> 10));
    units[1] = static_cast<WCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    n = 2;
  } else {
    units[0] = static_cast<WCHAR>(cp);
  }
  CharUpperBuffW(units, n);
  if (n == 1) return units[0] >= 0xD800 && units[0] <= 0xDFFF ? cp : units[0];
  bool pair = units[0] >= 0xD800 && units[0] <= 0xDBFF && units[1] >= 0xDC00 &&
              units[1] <= 0xDFFF;
  return pair ? 0x10000 + ((units[0] - 0xD800u) << 10) + (units[1] - 0xDC00u) : cp;
}

// Text goes through UTF-16, at most this many characters of it.
static const int kWideMax = 8192;

size_t PfAnsiToUtf8(const char* src, char* dst, size_t size) {
  if (PfAnsiIsUtf8()) return KeepText(src, dst, size);
  static WCHAR wide[kWideMax];
  int n = MultiByteToWideChar(CP_ACP, 0, src, -1, wide, kWideMax);
  if (n <= 0) return 0;
  int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, n, dst, static_cast<int>(size), nullptr,
                                  nullptr);
  return bytes > 0 ? static_cast<size_t>(bytes - 1) : 0;
}

size_t PfUtf8ToAnsi(const char* src, size_t len, char* dst, size_t size, bool* lossless) {
  static WCHAR wide[kWideMax];
  static char ansi[2 * kWideMax];
  *lossless = true;
  if (size == 0) return 0;
  dst[0] = '\0';
  if (len == 0) return 0;
  if (PfAnsiIsUtf8()) return KeepUtf8(src, len, dst, size, lossless);
  // Bytes that are no UTF-8 become U+FFFD, which has no ANSI form.
  int n = MultiByteToWideChar(CP_UTF8, 0, src, static_cast<int>(len), wide, kWideMax);
  if (n <= 0) {
    *lossless = false;
    return 0;
  }
  // No look-alike: a character without an ANSI form becomes "_" and is
  // reported, so that no name silently turns into another.
  BOOL usedDefault = FALSE;
  int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, n, ansi, sizeof ansi,
                                  "_", &usedDefault);
  if (bytes <= 0 || usedDefault) *lossless = false;
  size_t keep = bytes > 0 ? static_cast<size_t>(bytes) : 0;
  if (keep > size - 1) {
    // Cut where a character ends: a lead byte takes its trail byte along.
    size_t at = 0;
    for (;;) {
      size_t k = IsDBCSLeadByte(static_cast<BYTE>(ansi[at])) && at + 1 < keep ? 2 : 1;
      if (at + k > size - 1) break;
      at += k;
    }
    keep = at;
    *lossless = false;
  }
  memcpy(dst, ansi, keep);
  dst[keep] = '\0';
  return keep;
}

int64_t PfNow() { return static_cast<int64_t>(time(nullptr)); }

struct ThreadStart {
  void (*run)(void*);
  void* arg;
};

// Through the C runtime's own start, which the codecs' use of it needs.
static unsigned __stdcall RunThread(void* start) {
  ThreadStart s = *static_cast<ThreadStart*>(start);
  delete static_cast<ThreadStart*>(start);
  s.run(s.arg);
  return 0;
}

bool PfStartThread(PfThread* t, void (*run)(void*), void* arg) {
  ThreadStart* start = new (std::nothrow) ThreadStart{run, arg};
  if (start == nullptr) return false;
  uintptr_t h = _beginthreadex(nullptr, 0, RunThread, start, 0, nullptr);
  if (h == 0) {
    delete start;
    return false;
  }
  t->handle = reinterpret_cast<void*>(h);
  return true;
}

void PfJoinThread(PfThread* t) {
  HANDLE h = static_cast<HANDLE>(t->handle);
  WaitForSingleObject(h, INFINITE);
  CloseHandle(h);
  t->handle = nullptr;
}

int PfProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

// The member's time as local broken-down time, in a SYSTEMTIME (whole
// seconds), by the time-zone rules of its own date: the runtime's local
// time conversion stops at 1970 and 2038, the time-zone functions do not.
// The time zone is looked up once a second at most: a listing converts a
// time per member, and looking it up each time costs more than the rest.
static const TIME_ZONE_INFORMATION* CurrentTimeZone() {
  static TIME_ZONE_INFORMATION zone;
  static DWORD fetched;
  static bool known = false;
  DWORD now = GetTickCount();
  if (!known || now - fetched > 1000) {
    known = GetTimeZoneInformation(&zone) != TIME_ZONE_ID_INVALID;
    fetched = now;
  }
  return known ? &zone : nullptr;
}

static bool LocalSystemTime(int64_t mtime, SYSTEMTIME* st) {
  if (mtime < kFiletimeFirstSecond) return false;
  FILETIME utc = FiletimeOf(mtime);
  SYSTEMTIME utcSt;
  if (!FileTimeToSystemTime(&utc, &utcSt)) return false;
  if (!SystemTimeToTzSpecificLocalTime(CurrentTimeZone(), &utcSt, st)) return false;
  st->wMilliseconds = 0;
  st->wDayOfWeek = 0;
  return true;
}

bool PfMemberFileTime(int64_t mtime, uint64_t* filetime) {
  SYSTEMTIME st;
  FILETIME local;
  FILETIME utc;
  if (!LocalSystemTime(mtime, &st) || !SystemTimeToFileTime(&st, &local) ||
      !LocalFileTimeToFileTime(&local, &utc)) {
    return false;
  }
  *filetime = (static_cast<uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
  return true;
}

bool PfDosDateTime(int64_t mtime, uint32_t* dos) {
  SYSTEMTIME st;
  FILETIME local;
  WORD date;
  WORD time;
  // The form holds 1980 to 2107; not every version of the conversion
  // refuses what lies outside.
  if (!LocalSystemTime(mtime, &st) || st.wYear < 1980 || st.wYear > 2107 ||
      !SystemTimeToFileTime(&st, &local) || !FileTimeToDosDateTime(&local, &date, &time)) {
    return false;
  }
  *dos = (static_cast<uint32_t>(date) << 16) | time;
  return true;
}

// What an open handle tells of its file; the volume and file index identify
// it.
static bool StampOfHandle(HANDLE h, PfFileStamp* stamp) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return false;
  stamp->id.volume = info.dwVolumeSerialNumber;
  stamp->id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  stamp->size = static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) |
                                     info.nFileSizeLow);
  stamp->written = static_cast<int64_t>(
      (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
      info.ftLastWriteTime.dwLowDateTime);
  return true;
}

bool PfStampPath(const char* path, PfFileStamp* stamp) {
  HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = StampOfHandle(h, stamp);
  CloseHandle(h);
  return ok;
}

bool PfGetFileId(const char* path, PfFileId* id) {
  PfFileStamp stamp;
  if (!PfStampPath(path, &stamp)) return false;
  *id = stamp.id;
  return true;
}

// ------------------------------------------------------------------ links

static PfPathKind KindOf(DWORD attributes, bool last) {
  if (attributes == INVALID_FILE_ATTRIBUTES) return kPfNothing;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return last ? kPfLink : kPfThroughLink;
  if (last) return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? kPfDirectory : kPfFile;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? kPfDirectory : kPfNothing;
}

// ---------------------------------------------------- links on extraction

// Looked up, not imported, so that the module loads where the call is not.
typedef BOOLEAN(WINAPI* CreateSymbolicLinkFn)(LPCSTR, LPCSTR, DWORD);

bool PfMakeSymlink(const char* target, const char* path, bool folder) {
  const DWORD kFolderLink = 0x1;
  const DWORD kUnprivileged = 0x2;  // where developer mode allows it
  char windowsTarget[MAX_PATH];
  size_t len = strnlen(target, sizeof windowsTarget);
  if (len == sizeof windowsTarget) return false;
  for (size_t i = 0; i <= len; i++) windowsTarget[i] = target[i] == '/' ? '\\' : target[i];
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  CreateSymbolicLinkFn create =
      kernel != nullptr ? reinterpret_cast<CreateSymbolicLinkFn>(
                              reinterpret_cast<void*>(GetProcAddress(kernel, "CreateSymbolicLinkA")))
                        : nullptr;
  if (create == nullptr) return false;
  DWORD flags = folder ? kFolderLink : 0;
  BOOLEAN made = create(path, windowsTarget, flags | kUnprivileged);
  // Systems before the unprivileged flag refuse it as a parameter.
  if (!made && GetLastError() == ERROR_INVALID_PARAMETER) made = create(path, windowsTarget, flags);
  // Some answer yes and make nothing: only a link that is there counts.
  return made && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool PfMakeHardLink(const char* existing, const char* path) {
  return CreateHardLinkA(path, existing, nullptr) != 0;
}

bool PfStampFolder(const char* path, int64_t mtime, bool hasTime, int32_t mode) {
  (void)mode;
  HANDLE h = CreateFileA(path, FILE_WRITE_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool folder = GetFileInformationByHandle(h, &info) &&
                (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (folder && hasTime && mtime >= kFiletimeFirstSecond) {
    FILETIME ft = FiletimeOf(mtime);
    SetFileTime(h, nullptr, &ft, &ft);
  }
  CloseHandle(h);
  return folder;
}

// Every existing level below the folder is looked at by its attributes: a
// symbolic link, a junction or any other reparse point is never entered.
// (Wine shows links to folders so; links to files it shows as the files.)
PfPathKind PfInspectBelow(const char* path, size_t below) {
  char prefix[MAX_PATH];
  size_t len = strnlen(path, sizeof prefix);
  if (len == sizeof prefix || below > len) return kPfNothing;
  PfPathKind kind = kPfNothing;
  for (size_t i = below; i < len; i++) {
    if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < len) {
      i++;
      continue;
    }
    bool last = i + 1 == len;
    if (!last && path[i + 1] != '\\' && path[i + 1] != '/') continue;
    memcpy(prefix, path, i + 1);
    prefix[i + 1] = '\0';
    kind = KindOf(GetFileAttributesA(prefix), last);
    if (last || kind != kPfDirectory) break;
  }
  return kind;
}

// ------------------------------------------------------- one writer at once

const bool kPfReplacesOpenFiles = false;

static bool LockWriter(HANDLE h) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(kPfLockOffset & 0xFFFFFFFF);
  at.OffsetHigh = static_cast<DWORD>(kPfLockOffset >> 32);
  return LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

bool PfResolvedPath(PfFile* f, char* out, size_t size) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(PfDescriptor(f)));
  char full[1024];
  DWORD n = GetFinalPathNameByHandleA(h, full, sizeof full, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= sizeof full) return false;
  // "\\?\C:\dir\a.tar", or "\\?\UNC\server\share\a.tar".
  const char* path = full;
  char unc[1024];
  if (strncmp(full, "\\\\?\\UNC\\", 8) == 0) {
    snprintf(unc, sizeof unc, "\\\\%s", full + 8);
    path = unc;
  } else if (strncmp(full, "\\\\?\\", 4) == 0) {
    path = full + 4;
  }
  size_t len = strlen(path);
  if (len + 1 > size) return false;
  memcpy(out, path, len + 1);
  return true;
}

PfFile* PfOpenLocked(const char* path) {
  if (PfFaultHits(kFaultOpen)) return nullptr;
  PfFile* stream = PfNewStream(false);
  if (stream == nullptr) return nullptr;
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  int fd = -1;
  if (h != INVALID_HANDLE_VALUE) {
    if (GetFileType(h) == FILE_TYPE_DISK && LockWriter(h)) {
      fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    }
    if (fd < 0) CloseHandle(h);
  }
  return PfAttach(stream, fd);
}

bool PfStampOpen(PfFile* f, PfFileStamp* stamp) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(PfDescriptor(f)));
  return h != INVALID_HANDLE_VALUE && StampOfHandle(h, stamp);
}

bool PfRenameNew(const char* from, const char* to) {
  if (PfFaultHits(kFaultReplace)) return false;
  return MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH) != 0;
}

// ------------------------------------------------------ changes in place

PfFile* PfOpenWriterOf(PfFile* locked) {
  if (PfFaultHits(kFaultOpen)) return nullptr;
  PfFile* stream = PfNewStream(true);
  if (stream == nullptr) return nullptr;
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(PfDescriptor(locked)));
  HANDLE copy = INVALID_HANDLE_VALUE;
  int fd = -1;
  if (DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, FALSE,
                      DUPLICATE_SAME_ACCESS)) {
    fd = _open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_BINARY);
    if (fd < 0) CloseHandle(copy);
  }
  return PfAttach(stream, fd);
}

void PfTakeOwnership(PfFile* model, PfFile* f, const char* path) {
  (void)f;
  BY_HANDLE_FILE_INFORMATION info;
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(PfDescriptor(model)));
  if (!GetFileInformationByHandle(h, &info)) return;
  // The archive is never read-only here; hidden, system and the rest carry.
  DWORD keep = info.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                        FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  SetFileAttributesA(path, keep != 0 ? keep : FILE_ATTRIBUTE_NORMAL);
}

// ------------------------------------------------------------ module lock
// Made on first use, once, whoever comes first: the module's code also runs
// linked into programs, where no entry point of its own is called.

static CRITICAL_SECTION gModuleLock;
static INIT_ONCE gModuleLockOnce = INIT_ONCE_STATIC_INIT;
static bool gModuleLockMade = false;

static BOOL CALLBACK MakeModuleLock(PINIT_ONCE, PVOID, PVOID*) {
  InitializeCriticalSection(&gModuleLock);
  gModuleLockMade = true;
  return TRUE;
}

void PfLockModule() {
  InitOnceExecuteOnce(&gModuleLockOnce, MakeModuleLock, nullptr, nullptr);
  EnterCriticalSection(&gModuleLock);
}

void PfUnlockModule() { LeaveCriticalSection(&gModuleLock); }

static void DeleteModuleLock() {
  if (gModuleLockMade) DeleteCriticalSection(&gModuleLock);
}

// ------------------------------------------------------------- full paths

static bool IsSlash(char c) { return c == '\\' || c == '/'; }

// Whether the last character is a separator: the trail byte of a
// double-byte character never is one.
static bool EndsInSeparator(const char* text) {
  bool separator = false;
  for (const char* p = text; *p != '\0'; p++) {
    separator = IsSlash(*p);
    if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') {
      separator = false;
      p++;
    }
  }
  return separator;
}

static bool HasDrive(const char* path) { return path[0] != '\0' && path[1] == ':'; }

static char DriveLetter(const char* path) {
  return path[0] >= 'a' && path[0] <= 'z' ? static_cast<char>(path[0] - 'a' + 'A') : path[0];
}

// The root of an absolute folder: "C:" or "\\server\share".
static size_t RootLength(const char* folder) {
  if (HasDrive(folder)) return 2;
  size_t i = 2;
  for (int separators = 0; folder[i] != '\0'; i++) {
    if (IsSlash(folder[i]) && ++separators == 2) break;
  }
  return i;
}

bool PfCurrentFolder(char* out, size_t size) {
  DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(size), out);
  return n > 0 && n < size;
}

// `path` after what it is relative to, into `out` (`size` bytes): nothing
// for an absolute path; the folder's root for one that starts with a
// separator; the folder for one relative to it, also after the folder's own
// drive letter. A relative path on another drive is left to that drive's
// current folder.
static bool Anchor(const char* folder, const char* path, char* out, size_t size) {
  bool absolute = (IsSlash(path[0]) && IsSlash(path[1])) || (HasDrive(path) && IsSlash(path[2]));
  bool onOtherDrive = HasDrive(path) && !(HasDrive(folder) && DriveLetter(path) == DriveLetter(folder));
  size_t prefix = 0;
  const char* rest = path;
  if (!absolute && !onOtherDrive) {
    if (folder[0] == '\0') return false;
    prefix = IsSlash(path[0]) ? RootLength(folder) : strlen(folder);
    if (HasDrive(path)) rest = path + 2;
  }
  bool separate = prefix > 0 && !IsSlash(rest[0]) && !EndsInSeparator(folder);
  size_t restLen = strlen(rest);
  if (prefix + 1 + restLen + 1 > size) return false;
  memcpy(out, folder, prefix);
  if (separate) out[prefix++] = '\\';
  memcpy(out + prefix, rest, restLen + 1);
  return true;
}

bool PfFullPath(const char* folder, const char* path, char* out, size_t size) {
  char joined[1024];  // a current folder and the longest path the module makes
  if (!Anchor(folder, path, joined, sizeof joined)) return false;
  DWORD n = GetFullPathNameA(joined, static_cast<DWORD>(size), out, nullptr);
  if (n == 0 || n >= size) return false;
  bool folderForm = path[0] == '\0' || EndsInSeparator(path) || (HasDrive(path) && path[2] == '\0');
  if (!folderForm || EndsInSeparator(out)) return true;
  if (n + 2 > size) return false;
  out[n] = '\\';
  out[n + 1] = '\0';
  return true;
}
