// Feedback through the module's callbacks. Names given with -v are shown
// once their file is under way, so that a file kept on a question is never
// named as done; the progress bar is drawn on standard error when it is a
// terminal.
#include "console.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "module.h"
#include "names.h"
#include "signals.h"

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include <unistd.h>
#endif

Outcome outcome;

namespace {

using Clock = std::chrono::steady_clock;

struct Feedback {
  Operation op = kExtracting;
  bool verbose = false;
  bool bar = false;        // standard error is a terminal
  bool counting = false;   // the total counts members, not bytes
  int64_t total = 0;
  int64_t done = 0;
  Clock::time_point start;
  Clock::time_point drawn;
  bool shown = false;      // a bar is on the screen
  Overwrite overwrite = kAsk;
  std::string pending;     // a name to show once its file is under way
};
Feedback feedback;

std::string Bytes(int64_t n) {
  char text[32];
  if (n < 1024) {
    snprintf(text, sizeof text, "%lld B", static_cast<long long>(n));
  } else if (n < 1024 * 1024) {
    snprintf(text, sizeof text, "%.1f KiB", n / 1024.0);
  } else if (n < 1024LL * 1024 * 1024) {
    snprintf(text, sizeof text, "%.1f MiB", n / (1024.0 * 1024));
  } else {
    snprintf(text, sizeof text, "%.2f GiB", n / (1024.0 * 1024 * 1024));
  }
  return text;
}

void ClearBar() {
  if (!feedback.shown) return;
  Print(stderr, "\r" + std::string(70, ' ') + "\r");
  feedback.shown = false;
}

void DrawBar(bool force) {
  if (!feedback.bar) return;
  Clock::time_point now = Clock::now();
  if (!force && now - feedback.drawn < std::chrono::milliseconds(100)) return;
  feedback.drawn = now;
  double seconds = std::chrono::duration<double>(now - feedback.start).count();
  int64_t total = std::max<int64_t>(feedback.total, 0);
  int percent = total > 0 ? static_cast<int>(std::min<int64_t>(100, feedback.done * 100 / total)) : 0;
  const int width = 24;
  int filled = percent * width / 100;
  std::string line = "[" + std::string(static_cast<size_t>(filled), '#') +
                     std::string(static_cast<size_t>(width - filled), '.') + "]";
  char text[160];
  if (feedback.counting) {
    snprintf(text, sizeof text, "\r%s %3d%%  %lld / %lld members ", line.c_str(), percent,
             static_cast<long long>(feedback.done), static_cast<long long>(total));
  } else {
    double rate = seconds > 0 ? feedback.done / seconds : 0;
    snprintf(text, sizeof text, "\r%s %3d%%  %s / %s  %s/s ", line.c_str(), percent,
             Bytes(feedback.done).c_str(), Bytes(total).c_str(),
             Bytes(static_cast<int64_t>(rate)).c_str());
  }
  Print(stderr, text);
  fflush(stderr);
  feedback.shown = true;
}

void ShowPending() {
  if (feedback.pending.empty()) return;
  ClearBar();
  Print(stdout, feedback.pending);
  feedback.pending.clear();
}

int32_t OnSignal(int32_t, int32_t low, int32_t high, int32_t kind) {
  feedback.total = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) |
                                        static_cast<uint32_t>(low));
  feedback.counting = kind == 3;
  return 0;
}

int32_t OnFileName(int32_t, const char* source, const char* destination) {
  ShowPending();
  outcome.source = source;
  outcome.destination = destination;
  outcome.began = false;
  outcome.copied = false;
  outcome.lastKept = false;
  // Extraction and deletion name the member first, as "\" and its name;
  // adding names the disk file first and the member second.
  const char* member = feedback.op == kAdding ? destination : source;
  if (member[0] == '\\') member++;
  if (feedback.op == kExtracting) {
    outcome.named.push_back(member);
    outcome.written.push_back(destination);
  }
  if (feedback.verbose) feedback.pending = Listed(member) + "\n";
  return 0;
}

int32_t OnProgress(int32_t, int32_t percent, int32_t delta) {
  ShowPending();
  // Extraction reports 100 and 0 once a member's copy has ended.
  if (percent == 100 && delta == 0) outcome.copied = true;
  if (delta > 0) outcome.began = true;
  feedback.done += delta;
  DrawBar(false);
  // 0 asks the module to stop after this chunk.
  return StopRequested() ? 0 : 1;
}

// 0 replace, 1 keep, 2 quit; "quit" too when the input ends or a stop
// request cuts the question short.
int32_t Ask(const std::string& question) {
  ClearBar();
  fflush(stdout);
  for (;;) {
    Print(stderr, "votar: " + question + " [y]es, [n]o, [a]ll, [q]uit: ");
    fflush(stderr);
    char line[64];
    if (fgets(line, sizeof line, stdin) == nullptr) {
      StopEndedRead();  // lets a stop request that cut the read be seen
      return 2;
    }
    if (StopRequested()) return 2;
    switch (line[0]) {
      case 'y': case 'Y': return 0;
      case 'n': case 'N': case '\n': return 1;
      case 'a': case 'A': feedback.overwrite = kAll; return 0;
      case 'q': case 'Q': return 2;
      default: break;
    }
  }
}

// Without a terminal nobody can answer: the existing one is kept, and
// said so, and votar's exit status tells that not everything was done.
int32_t KeepUnasked(const std::string& what) {
  Warn("kept %s", what.c_str());
  outcome.kept++;
  return 1;
}

// What an existing file or member is called in a question or a warning.
// An update describes the member first; extraction describes the disk file
// and names the output path just before.
std::string Existing(const void* first) {
  if (feedback.op != kAdding) return "the existing file '" + DiskShown(outcome.destination) + "'";
  const char* name = static_cast<const FindRecord*>(first)->fileName;
  size_t n = strnlen(name, sizeof static_cast<const FindRecord*>(first)->fileName);
  return "the existing member '" + Listed(std::string(name, n).c_str()) + "'";
}

int32_t Answer(const void* first) {
  if (feedback.overwrite != kAsk) return feedback.overwrite == kAll ? 0 : 1;
  std::string what = Existing(first);
  bool terminal = IsTerminal(stdin) && IsTerminal(stderr);
  return terminal ? Ask("replace " + what + "?") : KeepUnasked(what);
}

int32_t OnReplace(int32_t, const void* first, const void*) {
  int32_t answer = Answer(first);
  if (answer != 0) feedback.pending.clear();
  outcome.lastKept = answer == 1;
  return answer;
}

}  // namespace

void BeginFeedback(const Options& o, Operation op, int64_t total) {
  outcome = Outcome();
  feedback = Feedback();
  feedback.op = op;
  feedback.verbose = o.verbose;
  feedback.overwrite = o.overwrite;
  feedback.bar = IsTerminal(stderr);
  feedback.start = Clock::now();
  feedback.total = total;
  api.SetSetSignalProc(0, OnSignal);
  api.SetSetFileNameProc(0, OnFileName);
  api.SetSetProgressProc(0, OnProgress);
  api.SetOkToReplaceProc(0, OnReplace);
}

void EndFeedback(bool succeeded) {
  if (succeeded) ShowPending();
  feedback.pending.clear();
  ClearBar();
}

// `format` filled in, whatever its length.
static std::string Formatted(const char* format, va_list args) {
  std::string text(256, '\0');
  for (;;) {
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(&text[0], text.size(), format, copy);
    va_end(copy);
    if (n >= 0 && static_cast<size_t>(n) < text.size()) {
      text.resize(static_cast<size_t>(n));
      return text;
    }
    // A runtime that answers -1 for a buffer too small gets larger ones,
    // up to a limit no message of votar's comes near.
    if (text.size() >= (1u << 20)) {
      text.resize(strnlen(text.data(), text.size()));
      return text;
    }
    text.assign(n >= 0 ? static_cast<size_t>(n) + 1 : text.size() * 2, '\0');
  }
}

#ifdef _WIN32
// The console a stream writes to, or null for a pipe, a file or NUL;
// looked for once per stream.
static HANDLE ConsoleOf(FILE* stream) {
  static HANDLE consoles[2];
  static bool looked[2];
  int i = stream == stderr ? 1 : 0;
  if (!looked[i]) {
    looked[i] = true;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode;
    consoles[i] = GetConsoleMode(h, &mode) ? h : nullptr;
  }
  return consoles[i];
}

static void WriteConsoleText(HANDLE console, const std::string& text) {
  std::wstring wide = Utf8ToWide(text);
  const wchar_t* at = wide.data();
  size_t left = wide.size();
  while (left > 0) {
    // Old consoles take about 64 KiB a call; a pair of surrogates stays
    // in one.
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(left, 8192));
    if (chunk < left && IS_HIGH_SURROGATE(at[chunk - 1])) chunk--;
    DWORD written = 0;
    if (!WriteConsoleW(console, at, chunk, &written, nullptr) || written == 0) return;
    at += written;
    left -= written;
  }
}
#endif

void Print(FILE* stream, const std::string& text) {
#ifdef _WIN32
  if (HANDLE console = ConsoleOf(stream)) return WriteConsoleText(console, text);
#endif
  fwrite(text.data(), 1, text.size(), stream);
}

void PrintF(FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = Formatted(format, args);
  va_end(args);
  Print(stream, text);
}

void Warn(const char* format, ...) {
  ClearBar();
  fflush(stdout);
  va_list args;
  va_start(args, format);
  std::string text = Formatted(format, args);
  va_end(args);
  Print(stderr, "votar: " + text + "\n");
}

void BufferOutput() {
  // Unbuffered, every line would be a write of its own: slow into a pipe,
  // and far slower under an emulation layer. Blocks larger than a pipe's
  // page gained nothing measurable.
  if (!IsTerminal(stdout)) setvbuf(stdout, nullptr, _IOFBF, 4096);
}

bool IsTerminal(FILE* stream) {
#ifdef _WIN32
  // The runtime takes any character device for a terminal, NUL too; only
  // a console has a console mode.
  DWORD mode;
  return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}
