// Progress as the host sees it: per cent of a transfer, told to
// SetProgressProc after each chunk, and the host's answer.
#pragma once

#include <cstdint>

#include "../codec/codec.h"
#include "../tar/copy.h"

// Past 20 MiB both figures are halved until the first is below it, so that
// it times 100 stays small, as the host has always seen them; the
// arithmetic is 64-bit, so that members of any size keep the same rule.
inline void HalveForPercent(int64_t* part, int64_t* whole) {
  const int64_t kThreshold = 0x1400000;
  while (*part >= kThreshold) {
    *part >>= 1;
    *whole >>= 1;
  }
}

// The progress of one transfer of `total` bytes.
struct HostProgress {
  int64_t total;
  int64_t lastDone;
  const DecoderSource* counted;  // whose compressed bytes are counted, or null
};

// Starts it and answers the hook that reports it. A chunk that came out
// short is shown to the host with its status; an answer of 0 sets
// StatusUserAbort; the transfer goes on while the status is StatusOk.
ProgressHook StartHostProgress(HostProgress* p, int64_t total);

// The progress of a whole run over a compressed archive of `size` bytes,
// read through `counted`: each report counts the compressed bytes read.
ProgressHook StartCompressedProgress(HostProgress* p, int64_t size,
                                     const DecoderSource* counted);
