#include "names.h"

#include <algorithm>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#ifndef _WIN32
// Converts all of `in` with `cd`; false at the first byte sequence that
// has no form in the target code page.
static bool Convert(iconv_t cd, const std::string& in, std::string* out) {
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  out->assign(in.size() * 3 + 4, '\0');  // one byte becomes at most three
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = &(*out)[0];
  size_t dstLeft = out->size();
  if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) return false;
  out->resize(out->size() - dstLeft);
  return true;
}
#endif

bool ToAnsi(const std::string& native, std::string* ansi) {
#ifdef _WIN32
  *ansi = native;
  return true;
#else
  static iconv_t cd = iconv_open("CP1252", "UTF-8");
  return Convert(cd, native, ansi);
#endif
}

std::string ModuleForm(const std::string& native) {
  std::string ansi;
  ToAnsi(native, &ansi);
  std::replace(ansi.begin(), ansi.end(), '/', '\\');
  return ansi;
}

#ifndef _WIN32
// Windows-1252 from 0x80 to 0x9F; 0 where the code page has no character.
// From 0xA0 on, a byte is the code point of its character.
static const uint16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

static void PutUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}
#endif

void AppendAnsiAsUtf8(const char* ansi, size_t len, std::string* out) {
#ifdef _WIN32
  *out += AnsiToUtf8(std::string(ansi, len));
#else
  for (size_t i = 0; i < len; i++) {
    unsigned char c = static_cast<unsigned char>(ansi[i]);
    if (c < 0x80) {
      *out += static_cast<char>(c);
      continue;
    }
    uint32_t cp = c >= 0xA0 ? c : kHighControls[c - 0x80];
    // Five bytes have no character in the code page: each shows as "?".
    PutUtf8(cp != 0 ? cp : '?', out);
  }
#endif
}

std::string AnsiToUtf8(const std::string& ansi) {
#ifdef _WIN32
  return WideToUtf8(AnsiToWide(ansi).c_str());
#else
  std::string out;
  AppendAnsiAsUtf8(ansi.data(), ansi.size(), &out);
  return out;
#endif
}

void AppendListed(const char* moduleName, std::string* out) {
  size_t start = 0;
  size_t i = 0;
  for (;; i++) {
    unsigned char c = static_cast<unsigned char>(moduleName[i]);
    if (c >= 0x20 && c != 0x7F) continue;
    AppendAnsiAsUtf8(moduleName + start, i - start, out);
    if (c == '\0') return;
    // As tar shows them: the usual escapes, else three octal digits.
    if (c >= 7 && c <= 13) {
      *out += '\\';
      *out += "abtnvfr"[c - 7];
    } else {
      char octal[5] = {'\\', static_cast<char>('0' + (c >> 6)),
                       static_cast<char>('0' + ((c >> 3) & 7)), static_cast<char>('0' + (c & 7)), 0};
      *out += octal;
    }
    start = i + 1;
  }
}

std::string Listed(const char* moduleName) {
  std::string out;
  AppendListed(moduleName, &out);
  return out;
}

std::string Shown(const std::string& native) {
#ifdef _WIN32
  return AnsiToUtf8(native);
#else
  return native;
#endif
}

std::string NativeForm(const std::string& modulePath) {
#ifdef _WIN32
  return modulePath;
#else
  std::string native = AnsiToUtf8(modulePath);
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
#endif
}

std::string DiskShown(const std::string& modulePath) { return Shown(NativeForm(modulePath)); }

#ifdef _WIN32
bool WideToAnsi(const wchar_t* wide, std::string* ansi) {
  BOOL lossy = FALSE;
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0, nullptr, &lossy);
  ansi->assign(static_cast<size_t>(n > 0 ? n : 1), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, &(*ansi)[0], n, nullptr, &lossy);
  ansi->resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return n > 0 && !lossy;
}

std::wstring AnsiToWide(const std::string& ansi) {
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 1), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &wide[0], n);
  wide.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return wide;
}

std::string WideToUtf8(const wchar_t* wide) {
  int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, &out[0], n, nullptr, nullptr);
  out.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return out;
}
#endif
