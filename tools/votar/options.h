// The command line: options, help and version.
#pragma once

#include <string>
#include <vector>

enum Overwrite { kAsk, kAll, kNone };

// Names are native: as the system handed them to votar (UTF-8 on Linux,
// ANSI on Windows). Each has an ANSI form: main checks them all once the
// code page is settled.
struct Options {
  std::string command;             // list, extract, add or delete
  std::string archive;
  std::vector<std::string> names;  // masks or items
  std::string outputDir;
  int pathMode = 2;                // full paths unless told otherwise
  std::string base;
  std::string root;
  bool flat = false;               // names alone, without folders
  Overwrite overwrite = kAsk;
  bool verbose = false;
  bool json = false;
  bool utf8 = false;               // names in UTF-8 whatever the locale
};

// Answers -1 when there is work to do; otherwise the exit status, after
// help or the version was printed (0) or a usage error was told (2).
int ParseArgs(const std::vector<std::string>& args, Options* o);
