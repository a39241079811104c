// The four commands. Each answers votar's exit status: 0 done, 1 failed
// (or existing files kept without a terminal), 128 and the signal after a stop
// request, 1 after a "quit" answer.
#pragma once

#include <string>
#include <vector>

#include "module.h"
#include "options.h"

int List(const Options& o);
int Extract(const Options& o);
int Add(const Options& o);
int Delete(const Options& o);

// The masks in the module's form; false, after saying which, when one is
// too long to be a mask.
bool BuildMasks(const std::vector<std::string>& masks, MaskList* list);

// Whether the output folder, base and add root fit the module's settings
// whole: cut short, they would name other folders. Says which does not.
bool PathsFit(const Options& o);

// The masks as a message shows them: 'a', 'b'.
std::string MaskWords(const std::vector<std::string>& masks);

// When the module stopped on a stop request or a "quit" answer: says so,
// and what `remains` of the work; answers the exit status. -1 otherwise.
int IfStopped(unsigned status, const char* remains);

// After an operation that succeeded: 1, with a count, when existing files
// or members were kept because nobody could be asked; else 0.
int KeptUnasked(const char* one, const char* many);
