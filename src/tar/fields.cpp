#include "fields.h"

#include "format.h"

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

bool ReadNumberField(int width, const unsigned char* field, int64_t* value) {
  if (field[0] == 0x80 || field[0] == 0xFF) {
    bool negative = field[0] == 0xFF;
    // Of the 8 * (width - 1) bits only the low 64 can be kept: every byte
    // above them, and the top bit of the 64, must carry the sign.
    int spare = width - 1 - 8;
    unsigned char sign = negative ? 0xFF : 0x00;
    for (int i = 1; i <= spare; i++) {
      if (field[i] != sign) return false;
    }
    uint64_t bits = 0;
    for (int i = spare < 0 ? 1 : spare + 1; i < width; i++) bits = (bits << 8) | field[i];
    if (spare < 0 && negative) bits |= ~uint64_t{0} << (8 * (width - 1));
    if (((bits >> 63) != 0) != negative) return false;
    *value = static_cast<int64_t>(bits);
    return true;
  }
  int64_t octal = ReadOctalWide(width, field);
  if (octal < 0) return false;
  *value = octal;
  return true;
}

void WriteNumberField(int64_t value, unsigned char* field) {
  const int64_t kOctalLimit = int64_t{1} << 33;  // eleven octal digits
  if (value >= 0 && value < kOctalLimit) {
    // n = 13 for a 12-byte field: eleven digits and a space fill it.
    WriteOctal(value, static_cast<int>(kSize.width) + 1, field);
    return;
  }
  uint64_t bits = static_cast<uint64_t>(value);
  field[0] = value < 0 ? 0xFF : 0x80;
  for (size_t i = kSize.width - 1; i > 0; i--) {
    field[i] = static_cast<unsigned char>(bits & 0xFF);
    // The arithmetic shift of a negative value fills with ones.
    bits = value < 0 ? (bits >> 8) | (uint64_t{0xFF} << 56) : bits >> 8;
  }
}

bool ParseDecimal(const char* text, size_t len, bool signedValue, bool fraction,
                  int64_t* value) {
  size_t i = 0;
  bool negative = signedValue && len > 0 && text[0] == '-';
  if (negative) i++;
  size_t first = i;
  uint64_t n = 0;
  for (; i < len && text[i] >= '0' && text[i] <= '9'; i++) {
    unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (n > (static_cast<uint64_t>(INT64_MAX) - digit) / 10) return false;
    n = n * 10 + digit;
  }
  if (i == first) return false;
  bool partial = false;  // a fraction that is not zero
  if (fraction && i < len && text[i] == '.') {
    for (i++; i < len && text[i] >= '0' && text[i] <= '9'; i++) partial = partial || text[i] != '0';
  }
  if (i != len) return false;
  // Whole seconds round down: -5.25 is 6 seconds before.
  if (negative && partial) {
    if (n == static_cast<uint64_t>(INT64_MAX)) return false;
    n++;
  }
  *value = negative ? -static_cast<int64_t>(n) : static_cast<int64_t>(n);
  return true;
}
