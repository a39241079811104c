// The disk as votar sees it before and after the module works: what the
// items to add are, the files in folders, and why a file could not be
// read or written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One item to add: its path as the module is to be given it (native, below
// the add root when there is one) and its size, for the progress bar (0
// for folders and links).
struct DiskItem {
  std::string path;
  int64_t size;
};

// The items named on the command line, with folders expanded: each folder
// comes before what it holds. Natively a symbolic link is an item itself,
// never followed; on Windows links to folders are passed over with a note
// on standard error, as are FIFOs, sockets and devices inside folders.
// Anything that cannot be added whole (a missing item, a name or link
// target with no ANSI form, a file that cannot be looked at) is a problem:
// votar names each and adds nothing.
struct Collection {
  std::vector<DiskItem> items;
  std::vector<std::string> problems;  // messages, one per file
};
void CollectItems(const std::string& root, const std::vector<std::string>& named, bool sizes,
                  Collection* found);

// Whether the file exists and holds nothing.
bool IsEmptyFile(const std::string& path);

// The size of a file, or -1.
int64_t FileSize(const std::string& path);

// Whether a folder is at `path`; whether anything is.
bool IsFolder(const std::string& path);
bool Exists(const std::string& path);

// Up to `n` bytes from the start of the file; "" when it cannot be read.
std::string FirstBytes(const std::string& path, size_t n);

// Why the file cannot be opened for reading, in words; "" when it can.
std::string WhyUnreadable(const std::string& path);

// Why a file cannot be made or overwritten at `path`, in words; "" when
// votar sees nothing in the way.
std::string WhyUnwritable(const std::string& path);

// Whether writing into an existing file or folder is refused; `why` then
// says why.
bool RefusesWrites(const std::string& path, std::string* why);

// Whether another program holds the lock that a process changing the
// archive takes (one byte far past any data). Takes it for a moment,
// without waiting, and lets it go.
bool ArchiveInUse(const std::string& path);
