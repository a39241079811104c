// Listing: the host's ArcFileList and the ArchiveInfo record.
#pragma once

#include <cstdint>

// Clears the ArchiveInfo record; InitArcFile does this.
void ResetArchiveInfo();

// A member time as an MS-DOS date (high 16 bits) and time (low 16 bits), in
// local time. Negative times and times before 1980 give the earliest value
// the form holds, 1980-01-01 00:00:00.
uint32_t DosDateTime(int32_t mtime);
