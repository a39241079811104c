// The code page the tests run under: natively the locale the environment
// gives (main sets it, as a host does), on Win32 the process's ANSI code
// page.
#pragma once

#include <gtest/gtest.h>

#include <string>

unsigned TestsAnsiCodePage();  // 65001 under UTF-8
inline bool TestsUnderUtf8() { return TestsAnsiCodePage() == 65001; }

// For tests that spell names in the bytes of a classic code page.
#define CLASSIC_CODE_PAGE_ONLY() \
  if (TestsUnderUtf8()) GTEST_SKIP() << "names spelt in the bytes of a classic code page"

// A name spelt in Windows-1252 in the ANSI code page the tests run under:
// itself under 1252, UTF-8 under UTF-8.
std::string Ansi(const std::string& cp1252);
