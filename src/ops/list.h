// Listing: the host's ArcFileList and the ArchiveInfo record.
#pragma once

#include <cstdint>

#include "../votar.h"

// A member time as an MS-DOS date (high 16 bits) and time (low 16 bits), in
// local time. No time, and times the form cannot hold (before 1980, after
// 2107), give the earliest value it holds, 1980-01-01 00:00:00.
uint32_t DosDateTime(int64_t mtime, bool hasTime);

// The bodies of BuildArcFileList, InitArcFileList, DoneArcFileList and
// GetExtraInfoArc.
int32_t ListArc(ArcFileList* list, const FileMaskList* masks);
ArcFileList* InitFileList(ArcFileList* list);
void DoneFileList(ArcFileList* list);
ArchiveInfo* CopyArchiveInfo(ArchiveInfo* info);
