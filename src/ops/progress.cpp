#include "progress.h"

#include "../base/status.h"
#include "../session/callbacks.h"

static int32_t Percentage(int64_t total, int64_t done) {
  int64_t t = total;
  int64_t d = done;
  HalveForPercent(&d, &t);
  if (t == 0) return static_cast<int32_t>(total);
  return static_cast<int32_t>(d * 100 / t);
}

static bool ReportToHost(void* context, int64_t done, Outcome sofar) {
  HostProgress* p = static_cast<HostProgress*>(context);
  if (p->counted != nullptr) done = CompressedBytesRead(*p->counted);
  SetStatusFor(sofar);
  if (HostTakesProgress()) {
    // At most one chunk of 64 KiB since the last report.
    int32_t delta = static_cast<int32_t>(done - p->lastDone);
    p->lastDone = done;
    if (ReportFixedProgress(Percentage(p->total, done), delta) == 0) SetStatus(StatusUserAbort);
  }
  return StatusIsOk();
}

ProgressHook StartHostProgress(HostProgress* p, int64_t total) {
  p->total = total;
  p->lastDone = 0;
  p->counted = nullptr;
  return ProgressHook{ReportToHost, p};
}

ProgressHook StartCompressedProgress(HostProgress* p, int64_t size,
                                     const DecoderSource* counted) {
  ProgressHook hook = StartHostProgress(p, size);
  p->counted = counted;
  return hook;
}
