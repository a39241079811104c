#include "header.h"

#include <cstring>

#include "format.h"
#include "streams.h"

static bool IsBlank(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// The octal value of a field in 64 bits (at most 12 digits: never past
// 2^36), or -1 when the field is not an octal number.
int64_t ReadOctalWide(int width, const unsigned char* field) {
  int i = 0;
  while (i < width && IsBlank(field[i])) i++;
  if (i == width) return -1;
  uint64_t value = 0;
  while (i < width && field[i] >= '0' && field[i] <= '7') {
    value = (value * 8 + static_cast<uint64_t>(field[i] - '0')) & 0xFFFFFFFFFULL;
    i++;
  }
  if (i < width && field[i] != '\0' && !IsBlank(field[i])) return -1;
  return static_cast<int64_t>(value);
}

int32_t ReadOctal(int width, const unsigned char* field) {
  // Wraps at 32 bits, as the field's readers expect.
  int64_t value = ReadOctalWide(width, field);
  return value < 0 ? -1 : static_cast<int32_t>(static_cast<uint32_t>(value));
}

void WriteOctal(int32_t value, int n, unsigned char* field) {
  field[n - 2] = ' ';
  int pos = n - 3;
  int32_t v = value;
  for (;;) {
    field[pos] = static_cast<unsigned char>('0' + (v & 7));
    v >>= 3;  // arithmetic: a negative value never reaches 0
    if (pos == 0 || v == 0) break;
    pos--;
  }
  while (pos > 0) field[--pos] = ' ';
}

static void BlankChecksum(unsigned char* block) {
  memset(block + kChksumOffset, ' ', kChksumWidth);
}

bool HeaderSumOk(unsigned char* block) {
  int32_t stored = ReadOctal(kChksumWidth, block + kChksumOffset);
  BlankChecksum(block);
  unsigned sum = 0;
  for (size_t i = 0; i < kBlockSize; i++) sum += block[i];
  // Low eight bits only: sums formed over signed and over unsigned bytes
  // both pass, and an unparsable field (-1) compares as 255.
  return (static_cast<unsigned>(stored) & 0xFF) == (sum & 0xFF);
}

int32_t HeaderSum(unsigned char* block) {
  BlankChecksum(block);
  int32_t sum = 0;
  for (size_t i = 0; i < kBlockSize; i++) sum += block[i];
  return sum;
}

bool IsTarArc(PfFile* stream) {
  unsigned char block[kBlockSize] = {};
  if (PfRead(stream, block, kBlockSize) != kBlockSize) return false;
  return HeaderSumOk(block);
}

// Every other tar reader takes "/" as the only separator, so the member
// name goes into the block with "/" where the module uses "\". The trail
// byte of a double-byte character may look like "\" and is left alone.
static void UseForwardSlashes(char* name) {
  for (size_t i = 0; name[i] != '\0'; i++) {
    if (PfIsLeadByte(static_cast<unsigned char>(name[i])) && name[i + 1] != '\0') {
      i++;
    } else if (name[i] == '\\') {
      name[i] = '/';
    }
  }
}

static void PutName(const char* memberName, unsigned char* block) {
  char ansi[kNameWidth + 1] = {};
  char oem[kNameWidth + 1] = {};
  size_t len = strnlen(memberName, kNameWidth + 1);
  memcpy(ansi, memberName, len > kNameWidth ? kNameWidth : len);
  UseForwardSlashes(ansi);
  PfAnsiToOem(ansi, oem);
  // A name of exactly 100 bytes fills the field with no NUL; a longer one
  // keeps its first 99.
  size_t keep = len > kNameWidth ? kReadNameMax : len;
  memcpy(block + kNameOffset, oem, keep);
}

bool BuildTarHeader(const PfFileStatus& status, const char* memberName,
                    unsigned char* block) {
  if (status.size < 0 || status.size > kMaxMemberSize) return false;
  memset(block, 0, kBlockSize);
  PutName(memberName, block);
  WriteOctal(static_cast<int32_t>(status.mode) & kWrittenModeMask, 8,
             block + kModeOffset);
  WriteOctal(static_cast<int16_t>(status.uid), 8, block + kUidOffset);
  WriteOctal(static_cast<int16_t>(status.gid), 8, block + kGidOffset);
  // n = 13 for the 12-byte fields: eleven digits and a space fill them.
  WriteOctal(static_cast<int32_t>(status.size), 13, block + kSizeOffset);
  WriteOctal(static_cast<int32_t>(status.mtime), 13, block + kMtimeOffset);
  block[kTypeflagOffset] = kTypeRegular;
  memcpy(block + kMagicOffset, kOldGnuMagic, sizeof kOldGnuMagic);
  memcpy(block + kDevmajorOffset, kDevNumber, sizeof kDevNumber);
  memcpy(block + kDevminorOffset, kDevNumber, sizeof kDevNumber);
  WriteOctal(HeaderSum(block), 8, block + kChksumOffset);
  // Six digits, a NUL, and the space that HeaderSum left in the last byte.
  block[kChksumOffset + 6] = '\0';
  return true;
}

bool WriteTarHeader(const PfFileStatus& status, const char* memberName) {
  unsigned char block[kBlockSize];
  if (!BuildTarHeader(status, memberName, block)) return false;
  return PfWrite(gOutput, block, kBlockSize) == kBlockSize;
}
