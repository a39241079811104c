// The host's callbacks: registrations, the progress report and the replace
// check.
#pragma once

#include <cstdint>

#include "../votar.h"

struct TarEntry;

// The eight registrations, in the order of their exports.
enum Callback {
  kSignal,
  kWarning,
  kNextDisk,
  kSfxProgress,
  kFileName,
  kProgress,
  kReplace,
  kSkipFile,
  kCallbackCount
};

// The body of the registration exports: the procedure (null for none) and
// the user value handed back to it.
void RegisterCallback(Callback which, int32_t user, void (*proc)());

// Clears every user value and every registration that InitArcFile drops
// (all but SetSignalProc, SetWarningProc and SkipFileProc), and puts the
// replace check in place for extraction.
void ResetCallbacks();

// Whether InitArcFile has put the replace check in place yet.
bool ReplaceCheckInPlace();

// The calls the operations make; each does nothing when the procedure is
// not registered.
void SignalTotal(int64_t total, int32_t kind);
void NotifyFileName(const char* source, const char* destination);
// Answers what SetProgressProc answers, 1 when it is not registered.
int32_t ReportFixedProgress(int32_t percent, int32_t delta);

// The progress state of the member or file being transferred.
void StartProgress(int64_t total);
// Reports `done` bytes of the current transfer; sets StatusUserAbort when
// the host asks to stop.
void ReportProgress(int64_t done);

// Fills `query` with the member's description for OkToReplaceProc.
void BuildReplaceQuery(const TarEntry& member, FindRecord* query);

// Asks the host whether the existing file at `outputPath` may be replaced by
// the member: 0 replace, 1 skip, 2 abort, or any other answer the host
// gives. 0 without asking when nothing exists there.
int32_t ReplaceCheck(const TarEntry& member, const char* outputPath);

// The update flow's question: ReplaceQuery first, the disk file second.
int32_t AskHostToReplace(const TarEntry& member, const FindRecord& diskFile);
bool HostAnswersReplace();  // OkToReplaceProc is registered
