#include "header.h"

#include <cstring>

#include "../names/chars.h"
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
static void UseForwardSlashes(const CodePage& cp, char* name) {
  for (size_t i = 0, n; (n = CharBytes(cp, name + i)) != 0; i += n) {
    if (n == 1 && name[i] == '\\') name[i] = '/';
  }
}

// Puts a name or a link target into its 100-byte field in the OEM code
// page, "/" for separators. A text of exactly 100 bytes fills the field
// with no NUL; a longer one keeps as many whole characters as 99 bytes
// hold.
static void PutNameField(const char* text, Field field, unsigned char* block) {
  CodePage cp = AnsiCodePage();
  char ansi[kName.width + 1] = {};  // both fields are 100 bytes
  char oem[kName.width + 1] = {};
  size_t len = strnlen(text, field.width + 1);
  size_t keep = len > field.width ? CharCut(cp, text, len, kWrittenNameMax) : len;
  memcpy(ansi, text, keep);
  UseForwardSlashes(cp, ansi);
  PfAnsiToOem(ansi, oem);
  memcpy(FieldIn(block, field), oem, keep);
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

bool BuildTarHeader(const PfFileStatus& status, const MemberHead& head, unsigned char* block) {
  if (status.size < 0) return false;
  StartHeader(head.typeflag, block);
  PutNameField(head.name, kName, block);
  PutNameField(head.link, kLinkname, block);
  WriteOctal(static_cast<int32_t>(status.mode) & kModePermissions, Width(kMode),
             FieldIn(block, kMode));
  WriteOctal(static_cast<int16_t>(status.uid), Width(kUid), FieldIn(block, kUid));
  WriteOctal(static_cast<int16_t>(status.gid), Width(kGid), FieldIn(block, kGid));
  WriteNumberField(head.typeflag == kTypeRegular ? status.size : 0, FieldIn(block, kSize));
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

// A pax record "<length> <key>=<value>\n", whose length counts its own
// digits, at `out + *used`; false when it does not fit `size` bytes.
static bool PutPaxRecord(const char* key, const char* value, size_t len, char* out,
                         size_t* used, size_t size) {
  size_t keyLen = strlen(key);
  size_t rest = 1 + keyLen + 1 + len + 1;  // " ", key, "=", value, "\n"
  size_t digits = DecimalDigits(rest + 1);
  if (DecimalDigits(rest + digits) != digits) digits++;
  size_t total = rest + digits;
  if (len == 0 || total > size - *used) return false;
  char* at = out + *used;
  for (size_t i = digits, n = total; i > 0; i--, n /= 10) {
    at[i - 1] = static_cast<char>('0' + n % 10);
  }
  at[digits] = ' ';
  memcpy(at + digits + 1, key, keyLen);
  at[digits + 1 + keyLen] = '=';
  memcpy(at + digits + 2 + keyLen, value, len);
  at[total - 1] = '\n';
  *used += total;
  return true;
}

// The most one text takes in an extension entry: a long entry's data with
// its NUL, or one pax record.
const size_t kTextMax = kLongNameMax;

// How a name or link target travels when the header field cannot hold it.
enum Carrier {
  kInHeader,     // the field holds it whole
  kInPax,        // a character outside ASCII: a UTF-8 pax record
  kInLongEntry,  // longer ASCII: a GNU long-name or long-link entry
};

static Carrier CarrierOf(const char* text, size_t len) {
  if (!IsPlainAscii(text)) return kInPax;
  return len > kName.width ? kInLongEntry : kInHeader;
}

// Copies a text with "/" for separators into `out` (kTextMax bytes); false
// when it does not fit.
static bool SlashedCopy(const char* text, char* out, size_t* len) {
  *len = strnlen(text, kTextMax);
  if (*len == kTextMax) return false;
  memcpy(out, text, *len + 1);
  UseForwardSlashes(AnsiCodePage(), out);
  return true;
}

// Appends a pax record of `key` for an ANSI text, in UTF-8.
static bool PutUtf8Record(const char* key, const char* text, char* records, size_t* used,
                          size_t size) {
  char utf8[kTextMax];
  size_t len = PfAnsiToUtf8(text, utf8, sizeof utf8);
  return PutPaxRecord(key, utf8, len, records, used, size);
}

// One extension entry of `typeflag` with `len` bytes of data, at `out`;
// answers the bytes it takes.
static size_t PutExtension(char typeflag, const char* name, const void* data, size_t len,
                           unsigned char* out) {
  size_t padded = static_cast<size_t>(PaddedSize(static_cast<int64_t>(len)));
  StartHeader(typeflag, out);
  memcpy(FieldIn(out, kName), name, strlen(name) + 1);  // both names fit the field
  WriteOctal(0644, Width(kMode), FieldIn(out, kMode));
  WriteOctal(0, Width(kUid), FieldIn(out, kUid));
  WriteOctal(0, Width(kGid), FieldIn(out, kGid));
  WriteNumberField(static_cast<int64_t>(len), FieldIn(out, kSize));
  WriteNumberField(0, FieldIn(out, kMtime));
  FinishHeader(out);
  memcpy(out + kBlockSize, data, len);
  memset(out + kBlockSize + len, 0, padded - len);
  return kBlockSize + padded;
}

// Each text needs at most kTextMax bytes of data, so that the entries fit
// kNameEntryMax: two entries of kTextMax, or one pax header with both
// records.
bool BuildNameEntries(const MemberHead& head, unsigned char* out, size_t* length) {
  *length = 0;
  char name[kTextMax];
  char link[kTextMax];
  size_t nameLen;
  size_t linkLen;
  if (!SlashedCopy(head.name, name, &nameLen) || !SlashedCopy(head.link, link, &linkLen)) {
    return false;
  }
  Carrier nameBy = CarrierOf(name, nameLen);
  Carrier linkBy = CarrierOf(link, linkLen);
  size_t at = 0;
  if (nameBy == kInPax || linkBy == kInPax) {
    char records[2 * kTextMax];
    size_t used = 0;
    if (nameBy == kInPax && !PutUtf8Record("path", name, records, &used, kTextMax)) {
      return false;
    }
    if (linkBy == kInPax && !PutUtf8Record("linkpath", link, records, &used, used + kTextMax)) {
      return false;
    }
    at += PutExtension(kTypePaxHeader, kPaxHeaderName, records, used, out + at);
  }
  if (linkBy == kInLongEntry) {
    at += PutExtension(kTypeGnuLongLink, kLongLinkName, link, linkLen + 1, out + at);
  }
  if (nameBy == kInLongEntry) {
    at += PutExtension(kTypeGnuLongName, kLongLinkName, name, nameLen + 1, out + at);
  }
  *length = at;
  return true;
}
