#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

std::string MakeTempDir() {
  static int counter = 0;
  if (counter == 0) srand(static_cast<unsigned>(time(nullptr)) ^ static_cast<unsigned>(getpid()));
  fs::path base = fs::temp_directory_path();
  for (;;) {
    fs::path dir = base / ("votar-test-" + std::to_string(rand()) + "-" +
                           std::to_string(++counter));
    std::error_code ec;
    if (fs::create_directory(dir, ec)) return dir.generic_string();
  }
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  // Read-only files would stop the removal on Windows.
  for (auto it = fs::recursive_directory_iterator(path, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
  }
  fs::remove_all(path, ec);
}

std::string ModPath(const std::string& path) {
  std::string out = path;
  std::replace(out.begin(), out.end(), '/', '\\');
  return out;
}

std::string Join(const std::string& dir, const std::string& name) {
  return dir + "/" + name;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool PathExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

bool MakeReadOnly(const std::string& path, bool readOnly) {
  std::error_code ec;
  auto write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  fs::permissions(path, readOnly ? write : fs::perms::owner_write,
                  readOnly ? fs::perm_options::remove : fs::perm_options::add, ec);
  return !ec;
}

bool IsReadOnly(const std::string& path) {
  std::error_code ec;
  auto perms = fs::status(path, ec).permissions();
  return !ec && (perms & fs::perms::owner_write) == fs::perms::none;
}

#ifdef _WIN32
std::string FileIdentity(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "";
  BY_HANDLE_FILE_INFORMATION info;
  bool ok = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (!ok) return "";
  return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) +
         ":" + std::to_string(info.nFileIndexLow);
}
#else
std::string FileIdentity(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "";
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}
#endif

#ifdef _WIN32
// The runtime's status refuses times before 1970: FILETIMEs by arithmetic.
static const int64_t kEpochFiletime = 116444736000000000LL;

int64_t FileMtime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime)
                                        << 32) | data.ftLastWriteTime.dwLowDateTime);
  int64_t units = ticks - kEpochFiletime;
  return units >= 0 ? units / 10000000 : -((-units + 9999999) / 10000000);
}

bool SetMtime(const std::string& path, int64_t mtime) {
  HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  uint64_t ticks = static_cast<uint64_t>(kEpochFiletime + mtime * 10000000);
  FILETIME ft = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  bool ok = SetFileTime(h, nullptr, &ft, &ft) != 0;
  CloseHandle(h);
  return ok;
}
#else
int64_t FileMtime(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_mtime);
}

bool SetMtime(const std::string& path, int64_t mtime) {
  struct timespec times[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}
#endif

std::vector<std::string> ListTree(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::string rel = fs::relative(it->path(), dir).generic_string();
    if (it->is_directory()) rel += "/";
    names.push_back(rel);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::pair<std::string, std::string>> Snapshot(const std::string& dir) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string& name : ListTree(dir)) {
    files.emplace_back(name, name.back() == '/' ? "" : ReadFile(Join(dir, name)));
  }
  return files;
}

std::vector<std::string> OpenFilesBelow(const std::string& dir) {
  std::vector<std::string> open;
#ifdef _WIN32
  for (const std::string& name : ListTree(dir)) {
    if (name.back() == '/') continue;
    HANDLE h = CreateFileA(Join(dir, name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
    } else if (GetLastError() == ERROR_SHARING_VIOLATION) {
      open.push_back(name);
    }
  }
#else
  std::error_code ec;
  std::string prefix = fs::weakly_canonical(dir, ec).string() + "/";
  for (auto it = fs::directory_iterator("/proc/self/fd", ec);
       !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code linkEc;
    std::string target = fs::read_symlink(it->path(), linkEc).string();
    if (!linkEc && target.compare(0, prefix.size(), prefix) == 0) {
      open.push_back(target.substr(prefix.size()));
    }
  }
#endif
  return open;
}

std::string Pattern(size_t size, int seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; i++) {
    s[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed) * 13 + i / 251) & 0xFF);
  }
  return s;
}

// Octal where it fits, GNU base-256 where it does not (negative values and
// 12-byte fields of 8 GiB and more).
static void PutOctal(std::string* block, size_t offset, size_t width, int64_t value) {
  if (value < 0 || (width == 12 && value >= (int64_t{1} << 33))) {
    (*block)[offset] = static_cast<char>(value < 0 ? 0xFF : 0x80);
    for (size_t i = width - 1; i > 0; i--, value >>= 8) {
      (*block)[offset + i] = static_cast<char>(value & 0xFF);
    }
    return;
  }
  char digits[32];
  snprintf(digits, sizeof digits, "%0*llo", static_cast<int>(width - 1),
           static_cast<unsigned long long>(value));
  memcpy(&(*block)[offset], digits, width - 1);
}

void FixChecksum(std::string* archive, size_t offset) {
  memset(&(*archive)[offset + 148], ' ', 8);
  unsigned sum = 0;
  for (size_t i = 0; i < 512; i++) sum += static_cast<unsigned char>((*archive)[offset + i]);
  char digits[8];
  snprintf(digits, sizeof digits, "%06o", sum);
  memcpy(&(*archive)[offset + 148], digits, 7);
}

std::string TarHeader(const TarItem& item) {
  std::string block(512, '\0');
  memcpy(&block[0], item.name.data(), std::min<size_t>(item.name.size(), 100));
  PutOctal(&block, 100, 8, item.mode);
  PutOctal(&block, 108, 8, 0);
  PutOctal(&block, 116, 8, 0);
  PutOctal(&block, 124, 12, item.size >= 0 ? item.size : static_cast<int64_t>(item.data.size()));
  PutOctal(&block, 136, 12, item.mtime);
  block[156] = item.typeflag;
  memcpy(&block[157], item.linkname.data(), std::min<size_t>(item.linkname.size(), 100));
  memcpy(&block[257], "ustar  ", 8);
  FixChecksum(&block, 0);
  return block;
}

std::string TarArchive(const std::vector<TarItem>& items, bool endMarker) {
  std::string out;
  for (const TarItem& item : items) {
    out += TarHeader(item);
    out += item.data;
    out.append((512 - item.data.size() % 512) % 512, '\0');
  }
  if (endMarker) out.append(1024, '\0');
  return out;
}

#ifdef _WIN32
typedef char* (__cdecl* UnixNameFn)(const wchar_t*);

std::string UnixPath(const std::string& path) {
  static UnixNameFn toUnix = reinterpret_cast<UnixNameFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix == nullptr) return path;
  std::wstring wide(path.begin(), path.end());
  char* unix = toUnix(wide.c_str());
  if (unix == nullptr) return path;
  std::string out = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return out;
}

// Wine starts Unix programs through CreateProcess, but their exit status
// does not come back: the shell writes it to a file.
int RunCommand(const std::string& command, std::string* output) {
  std::string base = MakeTempDir();
  std::string out = UnixPath(base + "/out");
  std::string rc = UnixPath(base + "/rc");
  std::string script = "(" + command + ") >'" + out + "' 2>&1; echo $? >'" + rc + "'";
  std::string escaped;
  for (char c : script) {
    if (c == '"' || c == '\\') escaped += '\\';
    escaped += c;
  }
  std::string line = "/bin/sh -c \"" + escaped + "\"";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  std::vector<char> buffer(line.begin(), line.end());
  buffer.push_back('\0');
  int status = -1;
  if (CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &si, &pi)) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    // The shell may still be finishing its files when the wait returns.
    for (int i = 0; i < 200 && ReadFile(base + "/rc").empty(); i++) Sleep(10);
    std::string code = ReadFile(base + "/rc");
    if (!code.empty()) status = atoi(code.c_str());
  }
  if (output != nullptr) *output = ReadFile(base + "/out");
  RemoveTree(base);
  return status;
}
#else
std::string UnixPath(const std::string& path) { return path; }

int RunCommand(const std::string& command, std::string* output) {
  std::string full = "(" + command + ") 2>&1";
  FILE* p = popen(full.c_str(), "r");
  if (p == nullptr) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int status = pclose(p);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

bool PeersAvailable() {
  static int available = -1;
  if (available < 0) {
    available = RunCommand("tar --version && bsdtar --version && python3 --version") == 0;
  }
  return available == 1;
}
