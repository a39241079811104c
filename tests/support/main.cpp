#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <langinfo.h>

#include <cstring>
#endif

#include "codepage.h"

unsigned TestsAnsiCodePage() {
#ifdef _WIN32
  return GetACP();
#else
  return strcmp(nl_langinfo(CODESET), "UTF-8") == 0 ? 65001 : 1252;
#endif
}

std::string Ansi(const std::string& cp1252) {
  if (!TestsUnderUtf8()) return cp1252;
  // 0x80-0x9F; the five bytes the code page leaves free as their controls.
  static const uint16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string out;
  for (unsigned char c : cp1252) {
    uint32_t cp = c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : c;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

int main(int argc, char** argv) {
  // The module reads the locale as the process set it.
  setlocale(LC_CTYPE, "");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
