// What people see while votar works: names as files are done, a progress
// bar on a terminal, overwrite questions, warnings.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "options.h"

enum Operation { kExtracting, kAdding, kDeleting };

// What the module told votar during one operation.
struct Outcome {
  std::vector<std::string> named;  // members named for extraction, in order
  std::vector<std::string> written;  // and where each was to go
  std::string source;              // the last file named: where it comes from
  std::string destination;         // and where it goes (ANSI, as named)
  bool began = false;              // the last named file's copy reported progress
  bool copied = false;             // the last named member's copy reached its end
  bool lastKept = false;           // the last named member's file was kept
  int kept = 0;                    // existing ones kept without a terminal
};
extern Outcome outcome;

// Registers the callbacks for one operation on the current archive.
// `total` is the byte count that the progress bar starts with.
void BeginFeedback(const Options& o, Operation op, int64_t total);

// Clears the bar; names the last file as done when the operation succeeded.
void EndFeedback(bool succeeded);

// Text (UTF-8) on standard output or standard error, as every word votar
// writes goes out: on Windows as UTF-16 to a console, whatever its code
// page, and elsewhere (pipes and files, and natively always) as the UTF-8
// bytes themselves.
void Print(FILE* stream, const std::string& text);
void PrintF(FILE* stream, const char* format, ...)
#if defined(__GNUC__) && !defined(_WIN32)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// "votar: " and the message on standard error, after what standard output
// holds, so that the two read in order when they go to the same place.
void Warn(const char* format, ...)
#if defined(__GNUC__) && !defined(_WIN32)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Standard output goes out in large blocks when no terminal reads it.
void BufferOutput();

// Whether a person may be at the other end of `stream`.
bool IsTerminal(FILE* stream);
