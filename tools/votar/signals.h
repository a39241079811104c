// Stop requests: Ctrl-C, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break
// and the console closing) ask the module to stop the operation where it
// stands, so that it removes what it had half written; votar then exits.
// A second signal ends votar at once.
#pragma once

// Installs the handlers; the module must be bound, since they call it.
void CatchStopRequests();

bool StopRequested();

// After a read from the terminal failed: whether a stop request cut it.
bool StopEndedRead();

// 128 and the signal's number (130 for Ctrl-C, 143 for SIGTERM, 129 for
// SIGHUP); on Windows 130 for Ctrl-C and Ctrl-Break, 129 for the console
// closing.
int StopExitStatus();

// Tells a handler that waits for votar to finish (the console closing on
// Windows) that it may let the process go.
void StopHandlersDone();
