#include "codec.h"

#include <cstring>
#include <initializer_list>

static bool StartsWith(const unsigned char* head, size_t n, const char* magic, size_t len) {
  return n >= len && memcmp(head, magic, len) == 0;
}

// A zstd skippable frame: a magic of 50..5F 2A 4D 18, a 32-bit little-endian
// size, and that many bytes.
static bool IsSkippableFrame(const unsigned char* head, size_t n) {
  return n >= 8 && (head[0] & 0xF0) == 0x50 && head[1] == 0x2A && head[2] == 0x4D &&
         head[3] == 0x18;
}

static bool IsZstd(const unsigned char* head, size_t n) {
  size_t at = 0;
  // Skippable frames may stand before the first frame.
  while (at < n && IsSkippableFrame(head + at, n - at)) {
    uint32_t size = static_cast<uint32_t>(head[at + 4]) | static_cast<uint32_t>(head[at + 5]) << 8 |
                    static_cast<uint32_t>(head[at + 6]) << 16 |
                    static_cast<uint32_t>(head[at + 7]) << 24;
    if (size > n - at - 8) return true;  // what lies beyond is told by the decoder
    at += 8 + size;
  }
  return StartsWith(head + at, n - at, "\x28\xB5\x2F\xFD", 4);
}

static bool IsBzip2(const unsigned char* head, size_t n) {
  if (n < 10 || !StartsWith(head, n, "BZh", 3) || head[3] < '1' || head[3] > '9') return false;
  return memcmp(head + 4, "\x31\x41\x59\x26\x53\x59", 6) == 0 ||
         memcmp(head + 4, "\x17\x72\x45\x38\x50\x90", 6) == 0;
}

Codec CodecOfSignature(const unsigned char* head, size_t n) {
  if (StartsWith(head, n, "\x1F\x8B", 2)) return kCodecGzip;
  if (StartsWith(head, n, "\xFD\x37\x7A\x58\x5A\x00", 6)) return kCodecXz;
  if (IsZstd(head, n)) return kCodecZstd;
  if (IsBzip2(head, n)) return kCodecBzip2;
  return kCodecNone;
}

static bool EndsWithNoCase(const char* path, const char* suffix) {
  size_t len = strlen(path);
  size_t n = strlen(suffix);
  if (len < n) return false;
  for (size_t i = 0; i < n; i++) {
    char c = path[len - n + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

Codec CodecOfName(const char* path) {
  static const struct {
    const char* suffix;
    Codec codec;
  } kNames[] = {
      {".gz", kCodecGzip},    {".tgz", kCodecGzip},   {".taz", kCodecGzip},
      {".xz", kCodecXz},      {".txz", kCodecXz},     {".zst", kCodecZstd},
      {".tzst", kCodecZstd},  {".bz2", kCodecBzip2},  {".tbz", kCodecBzip2},
      {".tbz2", kCodecBzip2}, {".tb2", kCodecBzip2},  {".tz2", kCodecBzip2},
  };
  // ".taz" is gzip and ".taZ" compress: that one name tells case apart.
  if (NamesUnwrittenCodec(path)) return kCodecNone;
  for (const auto& n : kNames) {
    if (EndsWithNoCase(path, n.suffix)) return n.codec;
  }
  return kCodecNone;
}

bool NamesUnwrittenCodec(const char* path) {
  size_t len = strlen(path);
  if ((len >= 2 && strcmp(path + len - 2, ".Z") == 0) ||
      (len >= 4 && strcmp(path + len - 4, ".taZ") == 0)) {
    return true;
  }
  for (const char* suffix : {".lz", ".tlz", ".lzma", ".lz4", ".lzo", ".tzo"}) {
    if (EndsWithNoCase(path, suffix)) return true;
  }
  return false;
}
