// Helpers for tests of the archives the module writes and rebuilds: the
// compression settings record, the entries of an archive as stored, the
// temporary files a rebuild may leave, and what GNU tar and bsdtar read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files.h"

// A CompSettings record as the host hands it over: 1,484 bytes, zero but for
// the store-paths flag and the two paths.
std::vector<unsigned char> CompSettings(int32_t storePaths, const std::string& basePath,
                                        const std::string& addRoot);

// A DecompSettings record with the path mode, base path and output folder.
std::vector<unsigned char> DecompSettings(int32_t mode, const std::string& base,
                                          const std::string& output);

// A header block as stored, walked from the start of an archive up to the
// first zero block or the end of the bytes.
struct RawEntry {
  size_t offset;
  std::string name;  // the name field up to its first NUL
  char typeflag;
  int64_t size;      // -1 when the field is no octal number
  int64_t mtime;
};
std::vector<RawEntry> RawEntries(const std::string& archive);

// Names directly in `dir` that are digits followed by ".$SC".
std::vector<std::string> TempFilesIn(const std::string& dir);

// The lines of a text, without empty ones.
std::vector<std::string> Lines(const std::string& text);

// What "<tool> -tvf" prints for the archive, one line per entry. Fails the
// current test when the tool fails or prints a warning.
std::vector<std::string> PeerListing(const std::string& tool, const std::string& archive);

// What "<tool> -tf" prints: the names of the entries, in order.
std::vector<std::string> PeerNames(const std::string& tool, const std::string& archive);

// Extracts the archive with the tool into a fresh folder and answers it (the
// caller removes it). Fails the current test when the tool fails.
std::string PeerExtract(const std::string& tool, const std::string& archive);

// A file as the peers should find it in an archive; `name` with "/".
struct PeerFile {
  std::string name;
  std::string data;
};
// GNU tar and bsdtar both list exactly `files`, in this order, and extract
// exactly these files with these bytes.
void ExpectPeersRead(const std::string& archive, const std::vector<PeerFile>& files);

// Archives that a rebuild must refuse (`damaged`) or may rebuild. Each holds
// the members a.txt ("alpha") and b.txt ("bravo") as listed members.
struct DamageCase {
  int line;
  const char* label;
  std::string bytes;
  bool damaged;
};
std::vector<DamageCase> DamageCases();

// A regular file of a hand-made archive.
TarItem Item(const std::string& name, const std::string& data, int mode = 0644,
             int64_t mtime = 1000000000);

// An archive of every kind of entry a rebuild must carry: a directory,
// a.txt, a long-named member with its L entry, a symbolic link, b.txt with
// its pax header, a volume label and c.txt. The long name is 120 n's and
// ".txt".
std::vector<TarItem> EntriesOfEveryKind(const std::string& aData, const std::string& cData);
