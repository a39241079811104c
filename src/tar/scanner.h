// The archive scanner: reads the current archive entry by entry and
// collects the members whose names match a mask list. Extension entries (a
// GNU long name or long link name, a pax extended header) are folded into
// the entry after them, so that every caller sees one logical entry with
// its name, size and time, and beside it the bytes it takes in the archive.
#pragma once

#include <cstdint>

#include "../votar.h"

// One entry found by the scanner. An entry in a list is allocated with room
// for its own name only: nothing follows the name, and no list entry is
// ever copied whole.
struct TarEntry {
  int64_t spanStart;     // its first extension entry, or else its header
  int64_t headerOffset;  // its own header block
  int64_t dataOffset;    // its first data byte (after any sparse map)
  int64_t dataEnd;       // past its last data byte; padding follows
  int64_t size;          // the file it stands for (a sparse one's real size)
  int64_t mtime;         // seconds since 1970, UTC, when hasTime
  int64_t mapOffset;     // where a sparse member's map is read from
  int64_t mapLength;
  TarEntry* next;
  uint32_t attributes;   // 0x10 directory, 0x01 read-only, from the mode
  char typeflag;         // of its own header, as stored
  uint8_t sparse;        // SparseKind
  bool hasTime;          // the time fields could be read
  bool listed;           // a member the scanner lists (else only kept)
  bool selected;         // listed, and matching the scan's second masks
  bool replaced;         // an update drops it for a file put in its place
  bool unnameable;       // its name has no ANSI form or is too long: it is
                         // listed with "_" and cut, and never written
  char name[256];        // after the read-name rule, ANSI
};

// The bytes of data it keeps in the archive.
inline int64_t StoredSize(const TarEntry& e) { return e.dataEnd - e.dataOffset; }
// Where its entry ends, padding included.
int64_t SpanEnd(const TarEntry& e);

struct TarEntryList {
  int32_t count;  // listed entries
  TarEntry* head;
  TarEntry* tail;
};

// Why the last scan stopped, and where.
enum ScanEnd {
  kScanAtEnd,       // the file ended on a block boundary
  kScanShortBlock,  // fewer than 512 bytes were left
  kScanDamaged,     // right after an entry: a block that is no header, a
                    // size that is none, or a sparse map that is none
  kScanOutside,     // after zero blocks, a block that is no header: the
                    // archive ended at the zeros, as every reader takes it
  kScanReadError,   // the file could not be read or positioned
};
struct ScanResult {
  ScanEnd end;
  int64_t offset;          // file offset of the block where the scan ended
  int64_t entriesEnd;      // where the last entry's padded data ends
  int64_t fileLength;      // of the archive when the scan began
  bool zeroBetween;        // a zero block lies between two entries
  bool trailingExtension;  // extension entries with no entry after them
};
extern ScanResult gLastScan;

// Opens the current archive as the input stream; StatusFileError when it
// cannot be opened. An operation reads its archive through this one open
// file from the scan to the last copy: a file put in its place meanwhile
// is never read.
bool OpenArchiveInput();

// Opens the current archive, scans it into `list` and closes it again: every
// member that has a name and matches `masks`. Status: StatusFileError
// (cannot open, damaged, or a read failed before the end of the file; the
// members before the damage stay in the list), StatusOutOfMemory,
// StatusNoEntries (nothing listed); otherwise untouched.
void ScanArc(TarEntryList* list, const FileMaskList* masks);

// The same scan of the open input stream, from its start, which leaves the
// stream open; with `keepAll` it also keeps every other entry (directories,
// links, members without a name), marked as not listed, so that a rebuild
// can carry them. Listed members that also match `select`, when given, are
// marked selected.
void ScanArchive(TarEntryList* list, const FileMaskList* masks, bool keepAll,
                 const FileMaskList* select = nullptr);

// Whether the last scan stopped where a rebuild must not pass over: damage,
// or a read that failed before the end of the file.
bool ScanStoppedAtDamage();

// Reads the next entry from the input stream and moves past its data.
// Answers 1 with `entry` filled, 0 at the end of the scan.
int ReadTarHeader(TarEntry* entry);

// The read-name rule: "/" to "\", then one leading separator, one drive and
// one leading ".." with the character after it are dropped. `result` holds
// `size` bytes; a longer result is cut.
void ReadName(const char* rawName, char* result, size_t size);

void FreeTarEntryList(TarEntryList* list);
