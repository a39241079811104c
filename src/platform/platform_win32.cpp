// The platform layer of the product DLL: Win32 and the Microsoft C runtime.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/utime.h>
#include <time.h>

#include <cstring>

#include "stream.h"

// The runtime's entry point initialises the C library, then calls this.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

PfFile* PfOpenRead(const char* path) {
  if (PfFaultHits(kFaultOpen)) return nullptr;
  PfFile* stream = PfNewStream(false);
  if (stream == nullptr) return nullptr;
  return PfAttach(stream, _open(path, _O_RDONLY | _O_BINARY));
}

PfFile* PfOpenWrite(const char* path) {
  if (PfFaultHits(kFaultOpen)) return nullptr;
  PfFile* stream = PfNewStream(true);
  if (stream == nullptr) return nullptr;
  return PfAttach(stream, _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                                _S_IREAD | _S_IWRITE));
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

bool PfSetFileTime(const char* path, int32_t mtime) {
  struct _utimbuf times;
  times.actime = mtime;
  times.modtime = mtime;
  return _utime(path, &times) == 0;
}

bool PfCloseStamped(PfFile* f, const char* path, int32_t mtime, uint32_t attributes) {
  if (!PfClose(f)) return false;
  PfSetFileTime(path, mtime);
  PfSetAttributes(path, attributes);
  return true;
}

bool PfStat(const char* path, PfFileStatus* status) {
  struct _stati64 st;
  if (_stati64(path, &st) != 0) return false;
  status->mode = st.st_mode;
  status->uid = st.st_uid;
  status->gid = st.st_gid;
  status->size = st.st_size;
  status->mtime = st.st_mtime;
  status->hasId = false;  // the runtime's status has no file index
  return true;
}

bool PfFindFile(const char* path, unsigned char record[kPfFindDataSize]) {
  static_assert(sizeof(WIN32_FIND_DATAA) == kPfFindDataSize, "find data");
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(path, &found);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  memcpy(record, &found, kPfFindDataSize);
  return true;
}

void PfOemToAnsi(const char* src, char* dst) { OemToCharA(src, dst); }

void PfAnsiToOem(const char* src, char* dst) { CharToOemA(src, dst); }

void PfCharUpper(char* text) { CharUpperA(text); }

bool PfIsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }

int64_t PfNow() { return static_cast<int64_t>(time(nullptr)); }

// The member's time as local broken-down time, in a SYSTEMTIME.
static bool LocalSystemTime(int32_t mtime, SYSTEMTIME* st) {
  if (mtime < 0) return false;
  time_t t = mtime;
  struct tm* tm = localtime(&t);
  if (tm == nullptr) return false;
  memset(st, 0, sizeof *st);
  st->wYear = static_cast<WORD>(tm->tm_year + 1900);
  st->wMonth = static_cast<WORD>(tm->tm_mon + 1);
  st->wDay = static_cast<WORD>(tm->tm_mday);
  st->wHour = static_cast<WORD>(tm->tm_hour);
  st->wMinute = static_cast<WORD>(tm->tm_min);
  st->wSecond = static_cast<WORD>(tm->tm_sec);
  return true;
}

bool PfMemberFileTime(int32_t mtime, uint64_t* filetime) {
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

bool PfDosDateTime(int32_t mtime, uint32_t* dos) {
  SYSTEMTIME st;
  FILETIME local;
  WORD date;
  WORD time;
  if (!LocalSystemTime(mtime, &st) || !SystemTimeToFileTime(&st, &local) ||
      !FileTimeToDosDateTime(&local, &date, &time)) {
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
