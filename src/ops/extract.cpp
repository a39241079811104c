// Extraction: the members that the host's masks select, written below the
// output directory.
#include <cstring>

#include "../api/archive.h"
#include "../api/callbacks.h"
#include "../api/settings.h"
#include "../base/status.h"
#include "../names/masks.h"
#include "../names/paths.h"
#include "../platform/platform.h"
#include "../tar/format.h"
#include "../tar/scanner.h"
#include "../tar/streams.h"
#include "../tar/transfer.h"
#include "items.h"

// Directories and names without a file name part (DOCS\, .PROFILE) make
// neither a file nor a directory.
static bool HasFileToWrite(const TarEntry& member) {
  if (member.attributes & kPfAttrDirectory) return false;
  char name[kPartSize];
  SplitPath(member.name, nullptr, nullptr, name, nullptr);
  return name[0] != '\0';
}

// Copies one member into its output file. A copy that ends early leaves no
// truncated file with the member's time on it: the file is removed and the
// failure stands.
static void WriteMember(const TarEntry& member, const char* outputPath) {
  CreateOutputFile(outputPath);
  if (!StatusIsOk()) {
    CloseStream(&gOutput);
    return;
  }
  CopyOut(member.size);
  ReportFixedProgress(100, 0);
  uint16_t copied = gArchiveStatus;
  bool closed = copied == StatusOk
                    ? PfCloseStamped(gOutput, outputPath, member.mtime, kPfAttrArchive)
                    : PfClose(gOutput);
  gOutput = nullptr;
  if (copied == StatusOk && !closed) copied = StatusWriteError;
  if (copied != StatusOk) {
    RemoveLeftover(outputPath);
    SetStatus(copied);
  }
}

// Answers false when extraction is to stop.
static bool ExtractMember(const TarEntry& member, const ArchiveFiles& archive,
                          bool* refusedUnsafe) {
  if (!HasFileToWrite(member)) return true;
  // Copying from anywhere but the member's data would write wrong bytes.
  if (!PfSeek(gInput, member.headerOffset + static_cast<int64_t>(kBlockSize))) {
    SetStatus(StatusFileError);
    return false;
  }
  char outputPath[256] = {};
  OutputPathResult made = MakeOutputPath(member.name, CurrentOutputRule(), outputPath);
  // One look at the output path: a file that is not there is neither the
  // archive nor anything to ask about.
  PfFileStatus existing;
  bool exists = made == kOutputPathOk && PfStat(outputPath, &existing);
  // A member that would overwrite the archive being read is refused like a
  // name that leaves the output directory.
  if (made == kOutputPathUnsafe || (exists && IsArchiveFile(outputPath, existing, archive))) {
    *refusedUnsafe = true;
    return true;
  }
  if (made == kOutputPathTooLong) {
    SetStatus(StatusFileError);
    return false;
  }
  char shown[1 + sizeof member.name];
  shown[0] = '\\';
  memcpy(shown + 1, member.name, strlen(member.name) + 1);
  NotifyFileName(shown, outputPath);
  // Until InitArcFile has run there is no replace check: files are
  // overwritten without asking.
  int32_t answer = exists && ReplaceCheckInPlace() ? ReplaceCheck(member, outputPath) : 0;
  if (answer == 1) return true;
  if (answer == 2) {
    SetStatus(StatusUserAbort);
    return false;
  }
  WriteMember(member, outputPath);
  return StatusIsOk();
}

static void ExtractEntries(const TarEntryList* list) {
  int64_t total = 0;
  for (const TarEntry* m = list->head; m != nullptr; m = m->next) total += m->size;
  SignalTotal(total, 2);
  ArchiveFiles archive;
  IdentifyArchiveFiles(nullptr, &archive);
  bool refusedUnsafe = false;
  for (const TarEntry* m = list->head; m != nullptr; m = m->next) {
    if (CheckForStop() || !ExtractMember(*m, archive, &refusedUnsafe)) break;
  }
  // Members whose names would leave the output directory were not written:
  // the host learns that not everything was extracted.
  if (StatusIsOk() && refusedUnsafe) SetStatus(StatusFileError);
}

int32_t ExtractFileMaskListArc(const FileMaskList* masks) {
  StartOperation();
  TarEntryList members = {};
  if (OpenArchiveInput()) {
    ScanArchive(&members, masks, false);
    if (StatusIsOk()) ExtractEntries(&members);
  }
  CloseStream(&gInput);
  FreeTarEntryList(&members);
  return 0;
}
