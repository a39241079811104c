// What the disk code asks of the system; disk_posix.cpp and disk_win32.cpp
// answer it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum DiskKind {
  kNothing,     // nothing there (or nothing votar can name)
  kFile,        // a file, or a link to one
  kFolder,
  kLink,        // natively, a symbolic link as an item: stored as a link
  kFolderLink,  // a link to a folder: never followed, so no loop is possible
  kBrokenLink,  // a link to nothing
  kSpecial,     // a FIFO, socket or device: reading it could block forever
  kUnreadable,  // it cannot be looked at; `why` says why
};

struct DiskLook {
  DiskKind kind;
  int64_t size;     // for files
  std::string why;  // for kUnreadable
};

DiskLook LookAt(const std::string& path);

// LookAt for an item to add. Natively a symbolic link is itself the item
// (kLink), never followed, whatever it names; one whose target has no ANSI
// form cannot be stored (kUnreadable). On Windows the same as LookAt.
DiskLook LookAtItem(const std::string& path);

struct FolderEntry {
  std::string name;       // native; empty when it has no ANSI form
  std::string shownName;  // UTF-8, for messages
  DiskLook look;
};

// The entries of a folder, "." and ".." left out, each as LookAtItem sees
// it. Sizes are only needed
// for the progress bar: without `sizes` a file may get size 0. False, with
// `why`, when the folder cannot be read.
bool ReadFolder(const std::string& path, bool sizes, std::vector<FolderEntry>* entries,
                std::string* why);

// The message of a C runtime error number, starting in lower case.
std::string ErrorWords(int error);
