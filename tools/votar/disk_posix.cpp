#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "disk.h"
#include "disk_platform.h"
#include "names.h"

static DiskLook Look(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return {kFile, static_cast<int64_t>(st.st_size), ""};
  if (S_ISDIR(st.st_mode)) return {kFolder, 0, ""};
  return {kSpecial, 0, ""};
}

DiskLook LookAt(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return {kNothing, 0, ""};
    return {kUnreadable, 0, ErrorWords(errno)};
  }
  if (!S_ISLNK(st.st_mode)) return Look(st);
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) return {kBrokenLink, 0, ""};
    return {kUnreadable, 0, ErrorWords(errno)};
  }
  DiskLook target = Look(st);
  if (target.kind == kFolder) target.kind = kFolderLink;
  return target;
}

DiskLook LookAtItem(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return LookAt(path);
  char target[4096];
  ssize_t n = readlink(path.c_str(), target, sizeof target);
  if (n < 0 || static_cast<size_t>(n) == sizeof target) {
    return {kUnreadable, 0, n < 0 ? ErrorWords(errno) : "its target is too long"};
  }
  std::string ansi;
  if (!ToAnsi(std::string(target, static_cast<size_t>(n)), &ansi)) {
    return {kUnreadable, 0, "its target has characters outside the ANSI code page"};
  }
  return {kLink, 0, ""};
}

// The kind the folder listing gives saves a look at most entries.
static DiskLook LookAtEntry(const std::string& path, unsigned char type, bool sizes) {
  switch (type) {
    case DT_REG: return sizes ? LookAt(path) : DiskLook{kFile, 0, ""};
    case DT_DIR: return {kFolder, 0, ""};
    case DT_FIFO: case DT_SOCK: case DT_CHR: case DT_BLK: return {kSpecial, 0, ""};
    default: return LookAtItem(path);  // links, and kinds the file system does not tell
  }
}

bool ReadFolder(const std::string& path, bool sizes, std::vector<FolderEntry>* entries,
                std::string* why) {
  DIR* d = opendir(path.c_str());
  if (d == nullptr) {
    *why = ErrorWords(errno);
    return false;
  }
  while (dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    FolderEntry entry;
    std::string ansi;
    if (ToAnsi(e->d_name, &ansi)) entry.name = e->d_name;
    entry.shownName = e->d_name;
    entry.look = LookAtEntry(path + "/" + e->d_name, e->d_type, sizes);
    entries->push_back(entry);
  }
  closedir(d);
  return true;
}

bool RefusesWrites(const std::string& path, std::string* why) {
  if (access(path.c_str(), W_OK) == 0) return false;
  *why = ErrorWords(errno);
  return true;
}

bool ArchiveInUse(const std::string& path) {
#ifdef F_OFD_SETLK
  // Opening for writing changes nothing, and an open-file-description lock
  // is this descriptor's own: closing it disturbs no other lock.
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(1) << 62;
  lock.l_len = 1;
  bool held = fcntl(fd, F_OFD_SETLK, &lock) != 0 && (errno == EAGAIN || errno == EACCES);
  if (!held) {
    lock.l_type = F_UNLCK;
    fcntl(fd, F_OFD_SETLK, &lock);
  }
  close(fd);
  return held;
#else
  (void)path;
  return false;
#endif
}
