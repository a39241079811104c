// The replace check: how a member is described to OkToReplaceProc, and the
// two questions the operations put with it.
#pragma once

#include <cstdint>

#include "../tar/entry.h"
#include "../votar.h"

// Fills `query` with the member's description for OkToReplaceProc.
void BuildReplaceQuery(const TarEntry& member, FindRecord* query);

// Extraction's question: may the existing file at `outputPath` be replaced
// by the member? ReplaceYes without asking when nothing exists there.
int32_t ReplaceCheck(const TarEntry& member, const char* outputPath);

// The update's question: ReplaceQuery first, the disk file second.
int32_t AskHostToReplace(const TarEntry& member, const FindRecord& diskFile);
