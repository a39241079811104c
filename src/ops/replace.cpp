#include "replace.h"

#include <cstring>

#include "../platform/platform.h"
#include "../session/callbacks.h"

static void SetFileTime(uint32_t* field, uint64_t filetime) {
  field[0] = static_cast<uint32_t>(filetime & 0xFFFFFFFFu);
  field[1] = static_cast<uint32_t>(filetime >> 32);
}

void BuildReplaceQuery(const TarEntry& member, FindRecord* query) {
  memset(query, 0, sizeof *query);
  query->attributes = member.attributes;
  uint64_t filetime = 0;  // no time, or one the conversion refuses, stays 0
  if (!member.hasTime || !PfMemberFileTime(member.mtime, &filetime)) filetime = 0;
  SetFileTime(query->creationTime, filetime);
  SetFileTime(query->accessTime, filetime);
  SetFileTime(query->writeTime, filetime);
  query->sizeHigh = static_cast<uint32_t>(static_cast<uint64_t>(member.size) >> 32);
  query->sizeLow = static_cast<uint32_t>(member.size);
  size_t len = strnlen(member.name, sizeof query->fileName - 1);
  memcpy(query->fileName, member.name, len);
}

int32_t AskHostToReplace(const TarEntry& member, const FindRecord& diskFile) {
  if (!HostAnswersReplace()) return ReplaceYes;
  FindRecord query;
  BuildReplaceQuery(member, &query);
  return CallReplace(query, diskFile);
}

int32_t ReplaceCheck(const TarEntry& member, const char* outputPath) {
  FindRecord found;
  if (!PfFindFile(outputPath, reinterpret_cast<unsigned char*>(&found))) return ReplaceYes;
  if (!HostAnswersReplace()) return ReplaceYes;
  FindRecord query;
  BuildReplaceQuery(member, &query);
  return CallReplace(found, query);
}
