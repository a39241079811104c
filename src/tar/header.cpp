#include "header.h"

#include <cstring>

#include "fields.h"
#include "format.h"
#include "streams.h"

static bool IsBlank(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// The octal value of a field in 64 bits (at most 12 digits: never past
// 2^36), or -1 when the field is not an octal number. A field without a
// terminator is read to its last byte.
int64_t ReadOctalWide(int width, const unsigned char* field) {
  int i = 0;
  while (i < width && IsBlank(field[i])) i++;
  if (i == width) return -1;
  uint64_t value = 0;
  while (i < width && field[i] >= '0' && field[i] <= '7') {
    value = value * 8 + static_cast<uint64_t>(field[i] - '0');
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

void WriteOctal(int64_t value, int n, unsigned char* field) {
  field[n - 2] = ' ';
  int pos = n - 3;
  int64_t v = value;
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

bool IsAllZero(const unsigned char* bytes, size_t n) {
  for (size_t i = 0; i < n; i++) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

bool ReadsAsHeader(const unsigned char* block) {
  unsigned char copy[kBlockSize];
  memcpy(copy, block, kBlockSize);
  return !IsAllZero(copy, kBlockSize) && HeaderSumOk(copy);
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
  size_t keep = len > kNameWidth ? kWrittenNameMax : len;
  memcpy(block + kNameOffset, oem, keep);
}

// Every header the module writes starts as this block: the typeflag, the
// old GNU magic and the device numbers filled in, all else zero.
static void StartHeader(char typeflag, unsigned char* block) {
  memset(block, 0, kBlockSize);
  block[kTypeflagOffset] = static_cast<unsigned char>(typeflag);
  memcpy(block + kMagicOffset, kOldGnuMagic, sizeof kOldGnuMagic);
  memcpy(block + kDevmajorOffset, kDevNumber, sizeof kDevNumber);
  memcpy(block + kDevminorOffset, kDevNumber, sizeof kDevNumber);
}

static void FinishHeader(unsigned char* block) {
  WriteOctal(HeaderSum(block), 8, block + kChksumOffset);
  // Six digits, a NUL, and the space that HeaderSum left in the last byte.
  block[kChksumOffset + 6] = '\0';
}

bool BuildTarHeader(const PfFileStatus& status, const char* memberName,
                    unsigned char* block) {
  if (status.size < 0) return false;
  StartHeader(kTypeRegular, block);
  PutName(memberName, block);
  WriteOctal(static_cast<int32_t>(status.mode) & kWrittenModeMask, 8,
             block + kModeOffset);
  WriteOctal(static_cast<int16_t>(status.uid), 8, block + kUidOffset);
  WriteOctal(static_cast<int16_t>(status.gid), 8, block + kGidOffset);
  WriteNumberField(status.size, block + kSizeOffset);
  WriteNumberField(status.mtime, block + kMtimeOffset);
  FinishHeader(block);
  return true;
}

static bool IsPlainAscii(const char* text) {
  for (; *text != '\0'; text++) {
    if (static_cast<unsigned char>(*text) >= 0x80) return false;
  }
  return true;
}

static size_t DecimalDigits(size_t n) {
  size_t digits = 1;
  for (; n >= 10; n /= 10) digits++;
  return digits;
}

// A pax record "<length> path=<value>\n", whose length counts its own
// digits; 0 when it does not fit `size`.
static size_t PutPathRecord(const char* value, size_t len, char* out, size_t size) {
  const char kKey[] = " path=";
  size_t rest = (sizeof kKey - 1) + len + 1;
  size_t digits = DecimalDigits(rest + 1);
  if (DecimalDigits(rest + digits) != digits) digits++;
  size_t total = rest + digits;
  if (total > size) return 0;
  for (size_t i = digits, n = total; i > 0; i--, n /= 10) {
    out[i - 1] = static_cast<char>('0' + n % 10);
  }
  memcpy(out + digits, kKey, sizeof kKey - 1);
  memcpy(out + digits + sizeof kKey - 1, value, len);
  out[total - 1] = '\n';
  return total;
}

bool BuildNameEntry(const char* memberName, unsigned char* out, size_t* length) {
  const size_t kDataMax = kNameEntryMax - kBlockSize;
  *length = 0;
  char name[kDataMax];
  size_t len = strnlen(memberName, sizeof name);
  if (len == sizeof name) return false;
  memcpy(name, memberName, len + 1);
  UseForwardSlashes(name);
  unsigned char* data = out + kBlockSize;
  memset(data, 0, kDataMax);
  size_t dataLen;
  unsigned char* block = out;
  if (!IsPlainAscii(name)) {
    char utf8[kDataMax];
    size_t utf8Len = PfAnsiToUtf8(name, utf8, sizeof utf8);
    dataLen = PutPathRecord(utf8, utf8Len, reinterpret_cast<char*>(data), kDataMax);
    if (utf8Len == 0 || dataLen == 0) return false;
    StartHeader(kTypePaxHeader, block);
    memcpy(block + kNameOffset, kPaxHeaderName, sizeof kPaxHeaderName);
  } else if (len > kNameWidth) {
    dataLen = len + 1;  // the name and its NUL
    memcpy(data, name, dataLen);
    StartHeader(kTypeGnuLongName, block);
    memcpy(block + kNameOffset, kLongLinkName, sizeof kLongLinkName);
  } else {
    return true;
  }
  WriteOctal(0644, 8, block + kModeOffset);
  WriteOctal(0, 8, block + kUidOffset);
  WriteOctal(0, 8, block + kGidOffset);
  WriteNumberField(static_cast<int64_t>(dataLen), block + kSizeOffset);
  WriteNumberField(0, block + kMtimeOffset);
  FinishHeader(block);
  *length = kBlockSize + static_cast<size_t>(PaddedSize(static_cast<long long>(dataLen)));
  return true;
}

bool WriteTarHeader(const PfFileStatus& status, const char* memberName) {
  unsigned char block[kBlockSize];
  if (!BuildTarHeader(status, memberName, block)) return false;
  // A name that cannot be carried whole is not written cut.
  unsigned char entry[kNameEntryMax];
  size_t entryLen;
  if (!BuildNameEntry(memberName, entry, &entryLen)) return false;
  if (entryLen > 0 && PfWrite(gOutput, entry, entryLen) != entryLen) return false;
  return PfWrite(gOutput, block, kBlockSize) == kBlockSize;
}
