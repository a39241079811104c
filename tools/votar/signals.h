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

// 130 after Ctrl-C (SIGINT), 1 after any other stop request.
int StopExitStatus();

// Tells a handler that waits for votar to finish (the console closing on
// Windows) that it may let the process go.
void StopHandlersDone();
