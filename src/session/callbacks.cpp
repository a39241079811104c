#include "callbacks.h"

struct Registration {
  int32_t user;
  void (*proc)();
};

static Registration gCallbacks[kCallbackCount];
static bool gReplaceCheckInPlace = false;

void RegisterCallback(Callback which, int32_t user, void (*proc)()) {
  gCallbacks[which].user = user;
  gCallbacks[which].proc = proc;
}

template <typename Proc>
static Proc ProcOf(Callback which) {
  return reinterpret_cast<Proc>(gCallbacks[which].proc);
}

void ResetCallbacks() {
  gReplaceCheckInPlace = true;
  for (int i = 0; i < kCallbackCount; i++) gCallbacks[i].user = 0;
  // The signal, warning and skip-file procedures stay registered.
  gCallbacks[kFileName].proc = nullptr;
  gCallbacks[kProgress].proc = nullptr;
  gCallbacks[kReplace].proc = nullptr;
  gCallbacks[kNextDisk].proc = nullptr;
  gCallbacks[kSfxProgress].proc = nullptr;
}

bool ReplaceCheckInPlace() { return gReplaceCheckInPlace; }

void SignalTotal(int64_t total, int32_t kind) {
  SignalProc proc = ProcOf<SignalProc>(kSignal);
  if (proc == nullptr) return;
  uint64_t bits = static_cast<uint64_t>(total);
  proc(gCallbacks[kSignal].user, static_cast<int32_t>(bits & 0xFFFFFFFFu),
       static_cast<int32_t>(bits >> 32), kind);
}

void NotifyFileName(const char* source, const char* destination) {
  FileNameProc proc = ProcOf<FileNameProc>(kFileName);
  if (proc != nullptr) proc(gCallbacks[kFileName].user, source, destination);
}

int32_t ReportFixedProgress(int32_t percent, int32_t delta) {
  ProgressProc proc = ProcOf<ProgressProc>(kProgress);
  if (proc == nullptr) return 1;
  return proc(gCallbacks[kProgress].user, percent, delta);
}

bool HostTakesProgress() { return ProcOf<ProgressProc>(kProgress) != nullptr; }

bool HostAnswersReplace() { return ProcOf<ReplaceProc>(kReplace) != nullptr; }

int32_t CallReplace(const FindRecord& first, const FindRecord& second) {
  ReplaceProc proc = ProcOf<ReplaceProc>(kReplace);
  if (proc == nullptr) return 0;
  return proc(gCallbacks[kReplace].user, &first, &second);
}
