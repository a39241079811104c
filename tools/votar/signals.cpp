#include "signals.h"

#include <csignal>

#include "module.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

volatile sig_atomic_t stopRequest = 0;  // the signal or event, plus one

// A plain store into the module's status word: safe in a handler, and the
// module looks at it between the chunks of its copies.
void RequestStop(int which) {
  stopRequest = which + 1;
  api.SetArchiveStatus(StatusUserAbort);
}

#ifdef _WIN32
HANDLE finished = nullptr;

// A question waiting for its line is not cut short by the event: an Enter
// key put into the console's input ends the read, and the question then
// sees the stop request.
void EndConsoleRead() {
  INPUT_RECORD keys[2] = {};
  for (int i = 0; i < 2; i++) {
    keys[i].EventType = KEY_EVENT;
    keys[i].Event.KeyEvent.bKeyDown = i == 0;
    keys[i].Event.KeyEvent.wRepeatCount = 1;
    keys[i].Event.KeyEvent.wVirtualKeyCode = VK_RETURN;
    keys[i].Event.KeyEvent.uChar.AsciiChar = '\r';
  }
  DWORD written = 0;
  WriteConsoleInputA(GetStdHandle(STD_INPUT_HANDLE), keys, 2, &written);
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (stopRequest != 0 && event != CTRL_CLOSE_EVENT) return FALSE;  // the default: end now
  RequestStop(static_cast<int>(event));
  EndConsoleRead();
  // The process ends when this returns from a closing console: give the
  // module the few seconds Windows allows to remove its temporary file.
  if (event == CTRL_CLOSE_EVENT) WaitForSingleObject(finished, 4000);
  return TRUE;
}
#else
void OnSignal(int number) {
  if (stopRequest != 0) {
    std::signal(number, SIG_DFL);
    std::raise(number);
    return;
  }
  RequestStop(number);
  // A question that was about to read its answer reads the end of input
  // instead of waiting; one already reading is cut short by the signal.
  int none = open("/dev/null", O_RDONLY);
  if (none >= 0) {
    dup2(none, STDIN_FILENO);
    close(none);
  }
}
#endif

}  // namespace

void CatchStopRequests() {
#ifdef _WIN32
  finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  // No SA_RESTART: a question waiting for its answer is cut short.
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
#endif
}

bool StopRequested() { return stopRequest != 0; }

bool StopEndedRead() {
#ifdef _WIN32
  // Windows runs the handler on a thread of its own, which may come a
  // moment after the read was cut short.
  for (int i = 0; i < 20 && stopRequest == 0; i++) Sleep(10);
#endif
  return stopRequest != 0;
}

int StopExitStatus() {
  if (stopRequest == 0) return 1;
#ifdef _WIN32
  // Ctrl-C and Ctrl-Break as an interrupt, the console closing (or the
  // session ending) as a hangup.
  int event = stopRequest - 1;
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 128 + 2 : 128 + 1;
#else
  return 128 + (stopRequest - 1);
#endif
}

void StopHandlersDone() {
#ifdef _WIN32
  if (finished != nullptr) SetEvent(finished);
#endif
}
