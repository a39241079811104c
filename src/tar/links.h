// What a link names: the members an archive holds so far, by name, so that
// a link can be told the size and place of the member it stands for.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../names/nameindex.h"
#include "entry.h"

enum MemberKind : uint8_t {
  kMemberData,     // a file, a device, or a hard link to one
  kMemberFolder,
  kMemberSymlink,
};

struct MemberRecord {
  int64_t size;     // of the file it stands for
  int32_t ordinal;  // the entry that holds its data (0 for the first entry)
  uint8_t kind;
};

// The last member of each name, in archive order. A zero-filled index is
// an empty one.
struct MemberIndex {
  NameIndex names;  // name -> position in `records`
  MemberRecord* records;
  int32_t count;
  int32_t capacity;
  int32_t ordinal;  // of the next entry noted
};

void DoneMemberIndex(MemberIndex* index);

// Notes the next entry of the archive (every entry, in order). A link gets
// as its size the size of the member it names, when that is a file before
// it, and 0 otherwise. False when memory runs out.
bool NoteMember(MemberIndex* index, TarEntry* e);

// The last member noted under `name`, or null.
const MemberRecord* FindMember(const MemberIndex* index, const char* name);

// The member name a link stands for: a hard link's target, or a symbolic
// link's target taken from the link's folder. False when it names no
// member: an absolute target, or one that leads above the archive's top.
bool LinkedMemberName(const TarEntry& link, char* out, size_t size);

// The next part of a path from `*at`, separators ("\" or "/") passed
// over; false at its end.
bool NextPathPart(const char* path, size_t* at, const char** part, size_t* len);
// Steps the relative path in `out` (`*len` bytes, "\" separators, `size`
// bytes of room) by one part: "." leaves it, ".." takes its last part off,
// any other is added. False when a ".." would leave the top or the part
// does not fit.
bool StepPath(char* out, size_t* len, size_t size, const char* part, size_t partLen);

// Whether a link target is absolute: a leading separator, a drive letter
// and a colon, or a UNC prefix.
bool IsAbsoluteTarget(const char* target);
