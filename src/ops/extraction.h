// What one extraction works with, shared by the files it writes
// (extract.cpp) and the links and folders it makes (extract_links.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "../names/nameindex.h"
#include "../platform/platform.h"
#include "../tar/links.h"
#include "../tar/reader.h"
#include "archiveio.h"
#include "items.h"
#include "progress.h"

// A folder member this run made: it gets its time and mode at the end.
struct MadeFolder {
  char* path;
  int32_t order;  // of the folder members made
  int64_t mtime;
  bool hasTime;
  int32_t mode;
};

// A link that a copy stands for, made at the end of the run.
struct LinkCopy {
  char* path;        // the output path, full
  char* target;      // the member it stands for, by name
  int32_t ordinal;   // the entry whose data a hard link takes; -1: by name
  bool mayMakeWritable;  // what the host said of the file there
  int64_t mtime;
  bool hasTime;
  int32_t mode;
};

struct Extraction {
  TarReader reader;               // the scan, and the sparse maps after it
  ArchiveInput in;                // the archive
  HostProgress progress;          // a compressed archive's, for the whole run
  ProgressHook runHook;           // that progress's hook
  ArchiveFiles archive;           // never overwritten by a member
  char outputDir[kFullPathSize];  // the output directory's full path
  bool outputDirFixed;            // it has one
  bool refusedUnsafe;             // a member was not written, for safety
  NameIndex written;              // the files and folders this run wrote,
                                  // by identity
  MemberIndex members;            // what each name of the archive stands for
  NameTable files;                // member name -> the file written for it
  NameTable links;                // links made, by path below the output
                                  // folder -> their targets
  MadeFolder* folders;
  int32_t folderCount, folderCapacity;
  LinkCopy* copies;
  int32_t copyCount, copyCapacity;
};

// Where a member goes, once it is cleared to be written there.
struct Output {
  char shownPath[256];          // as the host is shown it
  char full[kFullPathSize];     // as the file system gets it
  PfPathKind kind;              // what is there
  bool exists;                  // something is there already
  bool mayMakeWritable;         // and it may lose its read-only attribute
};

// What becomes of a member on its way to the disk.
enum Cleared {
  kClearedWrite,  // it is to be written at `out`
  kClearedSkip,   // passed over: refused, or the host said no
  kClearedStop,   // the extraction ends here, with the status set
};

// Finds the member's output path and clears it: refuses what would leave
// the output folder, pass through a link or overwrite the archive; names
// the member to the host; asks about what is there.
Cleared ClearOutput(Extraction* x, const TarEntry& member, Output* out);
// Its two halves: the path and its refusals; then the host's word.
Cleared PlaceOutput(Extraction* x, const TarEntry& member, Output* out);
Cleared AskAboutOutput(Extraction* x, const TarEntry& member, Output* out);

// The full form of an output path (below the output directory's full path,
// after its first `dirLen` characters); false when it has none or it does
// not fit.
bool FullOutputPath(const Extraction& x, const char* outputPath, size_t dirLen, char* full);
// Puts the file `written` in the place of what is at `outputPath`, in one
// step; a read-only file there is made writable first only when allowed.
bool ReplaceExisting(const char* written, const char* outputPath, bool mayMakeWritable);

// Whether this run wrote the file or folder at `path`.
bool WroteIt(const Extraction& x, const char* path);
// Remembers that it did; false when memory runs out.
bool RememberWritten(Extraction* x, const char* path);
// Called for each folder made on the way to an output file.
void NoteFolderMade(void* context, const char* folder);

// Writes the member (its data, or `from` when given, `length` bytes) to a
// file of its own at `out`, replacing what is there in one step. Sets the
// status.
void WriteMemberFile(Extraction* x, const TarEntry& member, const Output& out,
                     ByteSource* from = nullptr, int64_t length = 0);

// A folder member and a link member; false when the extraction is to stop.
bool ExtractFolder(Extraction* x, const TarEntry& member);
bool ExtractLink(Extraction* x, const TarEntry& member);
// The end of the run: the copies that stand for links, then the times and
// modes of the folders made, deepest first. Also after a run that ended
// early; a failure of the copies sets the status only when it is StatusOk.
void FinishExtraction(Extraction* x);
void ReleaseExtraction(Extraction* x);
