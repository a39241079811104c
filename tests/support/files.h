// Files and folders for tests, hand-made TAR archives, and the peers.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// A fresh folder under the system's temporary folder, with "/" separators.
std::string MakeTempDir();
void RemoveTree(const std::string& path);

// The path as the module takes it: "\" separators. The POSIX build turns
// them back into "/" where they reach the file system.
std::string ModPath(const std::string& path);

std::string Join(const std::string& dir, const std::string& name);
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);  // "" when missing
bool PathExists(const std::string& path);
bool MakeReadOnly(const std::string& path, bool readOnly);
bool IsReadOnly(const std::string& path);
int64_t FileMtime(const std::string& path);  // seconds since 1970, or -1
bool SetMtime(const std::string& path, int64_t mtime);  // before 1970 too
// What tells the file at `path` from every other ("" when there is none):
// a file changed in place keeps it, one replaced by another does not.
std::string FileIdentity(const std::string& path);
// Names in a folder, recursively, relative, with "/", sorted.
std::vector<std::string> ListTree(const std::string& dir);
// Every file below a folder with its bytes, and every folder (as "name/"
// with no bytes).
std::vector<std::pair<std::string, std::string>> Snapshot(const std::string& dir);
// The files below a folder that this process holds open: on Windows those
// that cannot be opened without sharing.
std::vector<std::string> OpenFilesBelow(const std::string& dir);
// Bytes 0, 1, 2, ... of a file of `size` bytes, shifted by `seed`.
std::string Pattern(size_t size, int seed = 0);

// One entry of a hand-made archive.
struct TarItem {
  std::string name;
  std::string data;
  char typeflag = '0';
  int mode = 0644;
  int64_t mtime = 1000000000;
  std::string linkname;
  int64_t size = -1;  // the size field; -1: data's length
};

// A 512-byte header in the old GNU form with a valid checksum.
std::string TarHeader(const TarItem& item);
// Headers, data and zero padding of the items, and the end-of-archive
// marker when `endMarker`.
std::string TarArchive(const std::vector<TarItem>& items, bool endMarker = true);
// Recomputes the checksum of the header at `offset`.
void FixChecksum(std::string* archive, size_t offset);

// The peers (GNU tar, bsdtar, Python) run as programs of the machine. Under
// Wine they are started as Unix programs, and paths are handed over in their
// Unix form.
bool PeersAvailable();
std::string UnixPath(const std::string& path);
// Runs a command with /bin/sh; answers its exit status and, in `output`,
// what it printed (standard output and standard error).
int RunCommand(const std::string& command, std::string* output = nullptr);
