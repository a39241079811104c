#include "header.h"

#include <cstring>

#include "fields.h"
#include "format.h"

static void BlankChecksum(unsigned char* block) {
  memset(FieldIn(block, kChksum), ' ', kChksum.width);
}

bool HeaderSumOk(unsigned char* block) {
  int64_t stored = ReadOctalWide(Width(kChksum), FieldIn(block, kChksum));
  BlankChecksum(block);
  // A byte from 0x80 up counts 256 less as a signed char.
  uint32_t unsignedSum = 0;
  uint32_t high = 0;
  for (size_t i = 0; i < kBlockSize; i++) {
    unsignedSum += block[i];
    high += block[i] >> 7;
  }
  int64_t signedSum = static_cast<int64_t>(unsignedSum) - 256 * static_cast<int64_t>(high);
  // The whole sum, over unsigned bytes as the format has it or over signed
  // ones as some old writers made it; an unparsable field (-1) is neither.
  return stored >= 0 && (stored == unsignedSum || stored == signedSum);
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

// An archive that begins with a zero block holds no members.
bool IsTarArc(ByteSource* source) {
  unsigned char block[kBlockSize] = {};
  if (SourceRead(source, block, kBlockSize) != kBlockSize) return false;
  return IsAllZero(block, kBlockSize) || HeaderSumOk(block);
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
  char ansi[kName.width + 1] = {};
  char oem[kName.width + 1] = {};
  size_t len = strnlen(memberName, kName.width + 1);
  memcpy(ansi, memberName, len > kName.width ? kName.width : len);
  UseForwardSlashes(ansi);
  PfAnsiToOem(ansi, oem);
  // A name of exactly 100 bytes fills the field with no NUL; a longer one
  // keeps its first 99.
  size_t keep = len > kName.width ? kWrittenNameMax : len;
  memcpy(FieldIn(block, kName), oem, keep);
}

// Every header the module writes starts as this block: the typeflag, the
// old GNU magic and the device numbers filled in, all else zero.
static void StartHeader(char typeflag, unsigned char* block) {
  memset(block, 0, kBlockSize);
  *FieldIn(block, kTypeflag) = static_cast<unsigned char>(typeflag);
  memcpy(FieldIn(block, kMagic), kOldGnuMagic, kMagic.width);
  memcpy(FieldIn(block, kDevmajor), kDevNumber, kDevmajor.width);
  memcpy(FieldIn(block, kDevminor), kDevNumber, kDevminor.width);
}

static void FinishHeader(unsigned char* block) {
  unsigned char* field = FieldIn(block, kChksum);
  WriteOctal(HeaderSum(block), Width(kChksum), field);
  // Six digits, a NUL, and the space that HeaderSum left in the last byte.
  field[6] = '\0';
}

bool BuildTarHeader(const PfFileStatus& status, const char* memberName,
                    unsigned char* block) {
  if (status.size < 0) return false;
  StartHeader(kTypeRegular, block);
  PutName(memberName, block);
  WriteOctal(static_cast<int32_t>(status.mode) & kWrittenModeMask, Width(kMode),
             FieldIn(block, kMode));
  WriteOctal(static_cast<int16_t>(status.uid), Width(kUid), FieldIn(block, kUid));
  WriteOctal(static_cast<int16_t>(status.gid), Width(kGid), FieldIn(block, kGid));
  WriteNumberField(status.size, FieldIn(block, kSize));
  WriteNumberField(status.mtime, FieldIn(block, kMtime));
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
    memcpy(FieldIn(block, kName), kPaxHeaderName, sizeof kPaxHeaderName);
  } else if (len > kName.width) {
    dataLen = len + 1;  // the name and its NUL
    memcpy(data, name, dataLen);
    StartHeader(kTypeGnuLongName, block);
    memcpy(FieldIn(block, kName), kLongLinkName, sizeof kLongLinkName);
  } else {
    return true;
  }
  WriteOctal(0644, Width(kMode), FieldIn(block, kMode));
  WriteOctal(0, Width(kUid), FieldIn(block, kUid));
  WriteOctal(0, Width(kGid), FieldIn(block, kGid));
  WriteNumberField(static_cast<int64_t>(dataLen), FieldIn(block, kSize));
  WriteNumberField(0, FieldIn(block, kMtime));
  FinishHeader(block);
  *length = kBlockSize + static_cast<size_t>(PaddedSize(static_cast<int64_t>(dataLen)));
  return true;
}
