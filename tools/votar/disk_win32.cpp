#include <windows.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "disk.h"
#include "disk_platform.h"
#include "names.h"

static DiskLook LookAtAttributes(DWORD attributes) {
  bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (folder) return {link ? kFolderLink : kFolder, 0, ""};
  if (attributes & FILE_ATTRIBUTE_DEVICE) return {kSpecial, 0, ""};
  return {kFile, 0, ""};
}

// The size through the 64-bit status call: the 32-bit one fails or reads
// a negative size for a file of 2 GiB or more.
static DiskLook Measure(const std::string& path) {
  struct _stati64 st;
  if (_stati64(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return {kNothing, 0, ""};
    return {kUnreadable, 0, ErrorWords(errno)};
  }
  if ((st.st_mode & _S_IFMT) != _S_IFREG) return {kSpecial, 0, ""};
  return {kFile, static_cast<int64_t>(st.st_size), ""};
}

DiskLook LookAt(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {kNothing, 0, ""};
    return {kUnreadable, 0, "it cannot be looked at"};
  }
  DiskLook look = LookAtAttributes(attributes);
  return look.kind == kFile ? Measure(path) : look;
}

// A link stands for what it names, as the module takes it on Windows.
DiskLook LookAtItem(const std::string& path) { return LookAt(path); }

static FolderEntry EntryOf(const std::string& folder, const WIN32_FIND_DATAW& found, bool sizes) {
  FolderEntry entry;
  entry.shownName = WideToUtf8(found.cFileName);
  std::string ansi;
  if (WideToAnsi(found.cFileName, &ansi)) entry.name = ansi;
  entry.look = LookAtAttributes(found.dwFileAttributes);
  if (entry.look.kind != kFile) return entry;
  entry.look.size = (static_cast<int64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
  // FIFOs and sockets under an emulation layer are listed as empty files
  // that cannot be opened; a file that is empty in the listing is looked
  // at once more.
  if ((entry.look.size == 0 || sizes) && !entry.name.empty()) {
    entry.look = Measure(folder + "\\" + entry.name);
    if (entry.look.kind == kNothing) entry.look.kind = kSpecial;
  }
  return entry;
}

bool ReadFolder(const std::string& path, bool sizes, std::vector<FolderEntry>* entries,
                std::string* why) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW((AnsiToWide(path) + L"\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) {
    *why = "it cannot be read";
    return false;
  }
  do {
    if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
    entries->push_back(EntryOf(path, found, sizes));
  } while (FindNextFileW(h, &found));
  FindClose(h);
  return true;
}

bool RefusesWrites(const std::string& path, std::string* why) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      !(attributes & FILE_ATTRIBUTE_READONLY)) {
    return false;
  }
  *why = "it is read-only";
  return true;
}

bool ArchiveInUse(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  // Open elsewhere without sharing: the module could not replace it either.
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  OVERLAPPED at = {};
  at.OffsetHigh = 0x40000000;  // 2^62
  bool held = !LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) &&
              GetLastError() == ERROR_LOCK_VIOLATION;
  if (!held) UnlockFileEx(h, 0, 1, 0, &at);
  CloseHandle(h);
  return held;
}
