// The host's callbacks: their registrations and the calls the operations
// make through them. Each call does nothing when its procedure is not
// registered.
#pragma once

#include <cstdint>

#include "../votar.h"

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

void SignalTotal(int64_t total, int32_t kind);
void NotifyFileName(const char* source, const char* destination);
// Answers what SetProgressProc answers, 1 when it is not registered.
int32_t ReportFixedProgress(int32_t percent, int32_t delta);
bool HostTakesProgress();  // SetProgressProc is registered

bool HostAnswersReplace();  // OkToReplaceProc is registered
// OkToReplaceProc with its two records in the order the host expects them;
// 0 (replace) when it is not registered.
int32_t CallReplace(const FindRecord& first, const FindRecord& second);
