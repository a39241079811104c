// The archive scanner: reads the current archive header by header and
// collects the members whose names match a mask list.
#pragma once

#include <cstdint>

#include "../votar.h"

// One member found by the scanner. An entry in a list is allocated with
// room for its own name only: nothing follows the name, and no list entry
// is ever copied whole.
struct TarEntry {
  int64_t headerOffset;  // where its header block lies; data 512 bytes on
  TarEntry* next;
  int32_t size;          // the header's size field
  int32_t mtime;         // seconds since 1970, UTC
  uint32_t attributes;   // 0x10 directory, 0x01 read-only, from the mode
  char typeflag;         // as stored
  bool listed;           // a member the scanner lists (else only kept)
  bool selected;         // listed, and matching the scan's second masks
  char name[256];        // after the read-name rule, ANSI
};

struct TarEntryList {
  int32_t count;  // listed entries
  TarEntry* head;
  TarEntry* tail;
};

// Why the last scan stopped, and where.
enum ScanEnd {
  kScanAtEnd,        // the file ended on a block boundary
  kScanShortBlock,   // fewer than 512 bytes were left
  kScanBadHeader,    // a block that is no valid header, or a size that is none
  kScanReadError,    // the file could not be read or positioned
};
struct ScanResult {
  ScanEnd end;
  int64_t offset;  // file offset of the block where the scan ended
};
extern ScanResult gLastScan;

// Opens the current archive as the input stream; StatusFileError when it
// cannot be opened. An operation reads its archive through this one open
// file from the scan to the last copy: a file put in its place meanwhile
// is never read.
bool OpenArchiveInput();

// Opens the current archive, scans it into `list` and closes it again: every
// member that has a name and matches `masks`. Status: StatusFileError (cannot open, or a read failed
// before the end of the file), StatusOutOfMemory, StatusNoEntries (nothing
// listed); otherwise untouched. A truncated archive or a block that is no
// header ends the scan quietly.
void ScanArc(TarEntryList* list, const FileMaskList* masks);

// The same scan of the open input stream, from its start, which leaves the
// stream open; with `keepAll` it also keeps every other header block
// that is not all zeros (directories, links, extension headers, members
// without a name), marked as not listed, so that a rebuild can carry them.
// Listed members that also match `select`, when given, are marked selected.
void ScanArchive(TarEntryList* list, const FileMaskList* masks, bool keepAll,
                 const FileMaskList* select = nullptr);

// Whether the last scan stopped where a rebuild must not pass over: a block
// that is no valid header, or a read that failed before the end of the file.
bool ScanStoppedAtDamage();

// Reads one header from the input stream and skips its data. Fills `entry`
// and `name` (read-name rule applied, OEM; empty for members that get no
// name). Answers 1 when a header was read, 0 at the end of the scan.
int ReadTarHeader(TarEntry* entry, char* name);

// The read-name rule: "/" to "\", then one leading separator, one drive and
// one leading ".." with the character after it are dropped. `result` holds
// 256 bytes.
void ReadName(const char* rawName, char* result);

void FreeTarEntryList(TarEntryList* list);
