// Names between the user's world and the module's. The module takes names
// in the process's ANSI code page with "\" separators: UTF-8 where the
// process runs in UTF-8, else Windows-1252 natively and the system's code
// page on Windows. Linux hands votar UTF-8, and messages are UTF-8 inside
// votar. A name that has no ANSI form cannot be given to the module at
// all: votar refuses it, by name, before anything is written.
#pragma once

#include <string>

// Settles the ANSI code page before the module is loaded, which takes it
// from the process as it stands then. Natively the locale decides
// (setlocale(LC_CTYPE, "")): UTF-8 when its character set is UTF-8, else
// Windows-1252; `utf8` asks for C.UTF-8 whatever the locale. On Windows the
// process has its code page from the start (UTF-8 by votar.exe's manifest
// from Windows 10 1903 on); `utf8` only insists on it. False, with `why`,
// when UTF-8 was asked for and cannot be had.
bool SettleCodePage(bool utf8, std::string* why);

// Whether the ANSI code page is UTF-8, so that names pass unchanged.
bool AnsiIsUtf8();

// The ANSI form of a name as votar found it (a native argument or a name
// in a folder); false when a character has none, or natively under UTF-8
// when the bytes are no UTF-8. On Windows the names votar works with are
// ANSI already, checked as they came in.
bool ToAnsi(const std::string& native, std::string* ansi);

// The module's form of a name that ToAnsi took: ANSI, "\" separators.
std::string ModuleForm(const std::string& native);

// A name from the module (ANSI) for the console.
std::string AnsiToUtf8(const std::string& ansi);
// The same, for `len` bytes, added to `out`.
void AppendAnsiAsUtf8(const char* ansi, size_t len, std::string* out);

// A member's name from the module as listings and messages show it: UTF-8,
// with control characters escaped as tar shows them ("\n", "\t", "\001"),
// so that every member takes one line.
std::string Listed(const char* moduleName);
void AppendListed(const char* moduleName, std::string* out);

// A native name for a message.
std::string Shown(const std::string& native);

// A path the module built (ANSI, "\" separators) as votar's own file calls
// name it, and as the console shows it.
std::string NativeForm(const std::string& modulePath);
std::string DiskShown(const std::string& modulePath);

#ifdef _WIN32
// Wide names from Windows: the ANSI form without best fit (false when a
// character has none; best fit would name another file, "Ωmega" as
// "Omega"; under UTF-8 only a lone surrogate has none), and UTF-8 for
// messages.
bool WideToAnsi(const wchar_t* wide, std::string* ansi);
std::string WideToUtf8(const wchar_t* wide);
// An ANSI name as Windows' wide calls take it; UTF-8 text as a console
// takes it.
std::wstring AnsiToWide(const std::string& ansi);
std::wstring Utf8ToWide(const std::string& utf8);
#endif
