#include "callbacks.h"

#include <cstring>

#include "../platform/platform.h"
#include "../tar/scanner.h"
#include "../base/status.h"

struct Registration {
  int32_t user;
  void (*proc)();
};

static Registration gCallbacks[kCallbackCount];
static bool gReplaceCheckInPlace = false;

struct ProgressState {
  int64_t total;
  int64_t done;
  int64_t lastDone;
};
static ProgressState gProgress;

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

void StartProgress(int64_t total) {
  gProgress.total = total;
  gProgress.done = 0;
  gProgress.lastDone = 0;
}

// Past 20 MiB both figures are halved until done * 100 is small, as the
// host has always seen them; the arithmetic is 64-bit, so that members of
// any size keep the same rule.
static int32_t Percentage(int64_t total, int64_t done) {
  const int64_t kThreshold = 0x1400000;
  int64_t t = total;
  int64_t d = done;
  while (d >= kThreshold) {
    d >>= 1;
    t >>= 1;
  }
  if (t == 0) return static_cast<int32_t>(total);
  return static_cast<int32_t>(d * 100 / t);
}

void ReportProgress(int64_t done) {
  gProgress.done = done;
  ProgressProc proc = ProcOf<ProgressProc>(kProgress);
  if (proc == nullptr) return;
  // At most one chunk of 64 KiB since the last report.
  int32_t delta = static_cast<int32_t>(done - gProgress.lastDone);
  gProgress.lastDone = done;
  int32_t percent = Percentage(gProgress.total, done);
  if (proc(gCallbacks[kProgress].user, percent, delta) == 0) {
    SetStatus(StatusUserAbort);
  }
}

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

bool HostAnswersReplace() { return ProcOf<ReplaceProc>(kReplace) != nullptr; }

int32_t AskHostToReplace(const TarEntry& member, const FindRecord& diskFile) {
  ReplaceProc proc = ProcOf<ReplaceProc>(kReplace);
  if (proc == nullptr) return 0;
  FindRecord query;
  BuildReplaceQuery(member, &query);
  return proc(gCallbacks[kReplace].user, &query, &diskFile);
}

int32_t ReplaceCheck(const TarEntry& member, const char* outputPath) {
  FindRecord found;
  if (!PfFindFile(outputPath, reinterpret_cast<unsigned char*>(&found))) {
    return 0;
  }
  ReplaceProc proc = ProcOf<ReplaceProc>(kReplace);
  if (proc == nullptr) return 0;
  FindRecord query;
  BuildReplaceQuery(member, &query);
  return proc(gCallbacks[kReplace].user, &found, &query);
}
