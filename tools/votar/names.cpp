#include "names.h"

#include <algorithm>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <langinfo.h>
#include <clocale>
#include <cstring>
#endif

#ifdef _WIN32
// The process has its code page from the start: UTF-8 when Windows read
// votar.exe's manifest, else the system's.
bool AnsiIsUtf8() { return GetACP() == CP_UTF8; }

bool SettleCodePage(bool utf8, std::string* why) {
  if (!utf8 || AnsiIsUtf8()) return true;
  *why = "names in UTF-8 need Windows 10 version 1903 or later: here the ANSI code page is " +
         std::to_string(GetACP());
  return false;
}
#else
static bool ansiIsUtf8 = false;

bool AnsiIsUtf8() { return ansiIsUtf8; }

bool SettleCodePage(bool utf8, std::string* why) {
  setlocale(LC_CTYPE, utf8 ? "C.UTF-8" : "");
  ansiIsUtf8 = strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
  if (!utf8 || ansiIsUtf8) return true;
  *why = "names in UTF-8 need the locale C.UTF-8, which this system does not have";
  return false;
}
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

// Whether `text` is UTF-8: shortest forms only, no surrogates, nothing
// past U+10FFFF.
static bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    // The bytes that follow the first; 4 for a byte no sequence starts with.
    size_t more = c < 0x80 ? 0 : c < 0xC2 ? 4 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : c < 0xF5 ? 3 : 4;
    if (more == 4 || more >= text.size() - i) return false;
    uint32_t cp = more == 0 ? c : c & (0x3F >> more);
    for (size_t k = 1; k <= more; k++) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      cp = cp << 6 | (next & 0x3F);
    }
    bool shortest = more < 2 || cp >= (more == 2 ? 0x800u : 0x10000u);
    if (!shortest || (cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF) return false;
    i += more + 1;
  }
  return true;
}
#endif


bool ToAnsi(const std::string& native, std::string* ansi) {
#ifdef _WIN32
  *ansi = native;
  return true;
#else
  if (AnsiIsUtf8()) {
    *ansi = native;
    return IsUtf8(native);
  }
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
  if (AnsiIsUtf8()) {
    out->append(ansi, len);
    return;
  }
#ifdef _WIN32
  *out += WideToUtf8(AnsiToWide(std::string(ansi, len)).c_str());
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
  std::string out;
  AppendAnsiAsUtf8(ansi.data(), ansi.size(), &out);
  return out;
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
  // UTF-8 takes neither best fit nor a default character (the call fails
  // when given them); asked to refuse invalid characters, it fails at a
  // lone surrogate rather than write U+FFFD for it.
  bool utf8 = AnsiIsUtf8();
  UINT cp = utf8 ? CP_UTF8 : CP_ACP;
  DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  BOOL* used = utf8 ? nullptr : &lossy;
  int n = WideCharToMultiByte(cp, flags, wide, -1, nullptr, 0, nullptr, used);
  ansi->assign(static_cast<size_t>(n > 0 ? n : 1), '\0');
  if (n > 0) WideCharToMultiByte(cp, flags, wide, -1, &(*ansi)[0], n, nullptr, used);
  ansi->resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return n > 0 && !lossy;
}

static std::wstring ToWide(UINT cp, const std::string& text) {
  int n = MultiByteToWideChar(cp, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 1), L'\0');
  if (n > 0) MultiByteToWideChar(cp, 0, text.c_str(), -1, &wide[0], n);
  wide.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return wide;
}

std::wstring AnsiToWide(const std::string& ansi) { return ToWide(CP_ACP, ansi); }

std::wstring Utf8ToWide(const std::string& utf8) { return ToWide(CP_UTF8, utf8); }

std::string WideToUtf8(const wchar_t* wide) {
  int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 1), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide, -1, &out[0], n, nullptr, nullptr);
  out.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return out;
}
#endif
