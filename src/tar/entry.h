// One logical entry of an archive as the reader gives it, and the lists the
// scanner collects: the entry's name, size and time, and beside them the
// bytes it takes in the archive, extension entries and padding included.
#pragma once

#include <cstdint>

#include "format.h"

// An entry in a list is allocated with room for its own name only: nothing
// follows the name, and no list entry is ever copied whole.
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
  // A link's target: for a hard link the member it names (after the
  // read-name rule), for a symbolic link the path as stored, "\" for "/";
  // "" for every other entry. In a list it is kept after the name.
  const char* link;
  int32_t mode;          // the mode field; -1 when it cannot be read
  int32_t ordinal;       // its place among the archive's entries, from 0
  int32_t linkOrdinal;   // a hard link's: the entry holding the data it
                         // stands for, before it; -1 for none
  uint32_t attributes;   // 0x10 directory, 0x01 read-only, from the mode
  char typeflag;         // of its own header, as stored
  uint8_t sparse;        // SparseKind
  bool hasTime;          // the time fields could be read
  bool matched;          // it has a name, and the masks take it
  bool listed;           // a member the scanner lists (else only kept):
                         // matched, and no folder
  bool selected;         // listed, and matching the scan's second masks
  bool replaced;         // an update drops it for a file put in its place
  bool inherited;        // a rebuild: a hard link written in the place of
                         // the removed member it names, with its data
  TarEntry* heir;        // a rebuild: that link, for the removed member;
                         // for a later link to it, the link it now names
  bool unnameable;       // its name has no ANSI form or is too long: it is
                         // listed with "_" and cut, and never written
  bool linkUnnameable;   // so is its link target
  char name[256];        // after the read-name rule, ANSI
};

inline bool IsLinkEntry(const TarEntry& e) {
  return e.typeflag == kTypeHardLink || e.typeflag == kTypeSymlink;
}
inline bool IsFolderEntry(const TarEntry& e) { return e.typeflag == kTypeDirectory; }

// The bytes of data it keeps in the archive.
inline int64_t StoredSize(const TarEntry& e) { return e.dataEnd - e.dataOffset; }
// Where its entry ends, padding included.
int64_t SpanEnd(const TarEntry& e);

struct TarEntryList {
  int32_t count;  // listed entries
  TarEntry* head;
  TarEntry* tail;
};

void StartEntryList(TarEntryList* list);
// Appends a copy of `work`, sized to its name; false when memory runs out.
bool AppendEntry(TarEntryList* list, const TarEntry& work);
void FreeTarEntryList(TarEntryList* list);
