#include "links.h"

#include <cstdlib>
#include <cstring>

#include "../base/grow.h"
#include "../names/chars.h"

void DoneMemberIndex(MemberIndex* index) {
  DoneNameIndex(&index->names);
  free(index->records);
  memset(index, 0, sizeof *index);
}

const MemberRecord* FindMember(const MemberIndex* index, const char* name) {
  int32_t at = FindName(&index->names, name);
  return at < 0 ? nullptr : &index->records[at];
}

static bool Record(MemberIndex* index, const char* name, const MemberRecord& record) {
  if (!RoomForOneMore(&index->records, index->count, &index->capacity)) return false;
  int32_t at = FindOrAddName(&index->names, name, index->count);
  if (at < 0) return false;
  if (at == index->count) index->count++;
  index->records[at] = record;  // the last of a name wins
  return true;
}

bool NoteMember(MemberIndex* index, TarEntry* e) {
  int32_t ordinal = index->ordinal++;
  e->ordinal = ordinal;
  e->linkOrdinal = -1;
  if (e->name[0] == '\0') return true;
  MemberRecord record = {e->size, ordinal, kMemberData};
  if (IsFolderEntry(*e)) record.kind = kMemberFolder;
  if (IsLinkEntry(*e)) {
    char target[sizeof e->name];
    const MemberRecord* named =
        LinkedMemberName(*e, target, sizeof target) ? FindMember(index, target) : nullptr;
    bool file = named != nullptr && named->kind == kMemberData;
    e->size = file ? named->size : 0;
    if (e->typeflag == kTypeSymlink) {
      record = {e->size, ordinal, kMemberSymlink};
    } else if (file) {
      record = *named;
      e->linkOrdinal = named->ordinal;
    } else {
      return true;  // a hard link to nothing stands for nothing
    }
  }
  return Record(index, e->name, record);
}

bool IsAbsoluteTarget(const char* target) {
  bool letter = (target[0] >= 'A' && target[0] <= 'Z') || (target[0] >= 'a' && target[0] <= 'z');
  return target[0] == '\\' || target[0] == '/' || (letter && target[1] == ':');
}

bool NextPathPart(const char* path, size_t* at, const char** part, size_t* len) {
  while (path[*at] == '\\' || path[*at] == '/') (*at)++;
  if (path[*at] == '\0') return false;
  *part = path + *at;
  const char* sep = FindChar(AnsiCodePage(), *part, "\\/");
  *len = sep != nullptr ? static_cast<size_t>(sep - *part) : strlen(*part);
  *at += *len;
  return true;
}

bool StepPath(char* out, size_t* len, size_t size, const char* part, size_t partLen) {
  if (partLen == 1 && part[0] == '.') return true;
  if (partLen == 2 && part[0] == '.' && part[1] == '.') {
    if (*len == 0) return false;
    while (*len > 0 && out[*len - 1] != '\\') (*len)--;
    if (*len > 0) (*len)--;
  } else {
    size_t sep = *len > 0 ? 1 : 0;
    if (*len + sep + partLen + 1 > size) return false;
    if (sep) out[(*len)++] = '\\';
    memcpy(out + *len, part, partLen);
    *len += partLen;
  }
  out[*len] = '\0';
  return true;
}

// Steps the folder path in `out` by every part of `path`.
static bool Walk(const char* path, char* out, size_t* len, size_t size) {
  size_t at = 0;
  const char* part;
  size_t partLen;
  while (NextPathPart(path, &at, &part, &partLen)) {
    if (!StepPath(out, len, size, part, partLen)) return false;
  }
  return true;
}

bool LinkedMemberName(const TarEntry& link, char* out, size_t size) {
  if (link.typeflag == kTypeHardLink) {
    size_t len = strnlen(link.link, size - 1);
    memcpy(out, link.link, len);
    out[len] = '\0';
    return len > 0;
  }
  if (IsAbsoluteTarget(link.link)) return false;
  // The link's folder: its name up to the last separator.
  const char* last = FindLastChar(AnsiCodePage(), link.name, "\\");
  size_t len = last != nullptr ? static_cast<size_t>(last - link.name) : 0;
  if (len + 1 > size) return false;
  memcpy(out, link.name, len);
  out[len] = '\0';
  return Walk(link.link, out, &len, size) && len > 0;
}
