#include "names.h"

#include <algorithm>

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

std::string AnsiToUtf8(const std::string& ansi) {
#ifdef _WIN32
  return WideToUtf8(AnsiToWide(ansi).c_str());
#else
  static iconv_t cd = iconv_open("UTF-8", "CP1252");
  std::string out;
  if (Convert(cd, ansi, &out)) return out;
  // Five bytes have no character in the code page: show each as "?".
  out.clear();
  for (char c : ansi) {
    std::string one;
    out += Convert(cd, std::string(1, c), &one) ? one : "?";
  }
  return out;
#endif
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
