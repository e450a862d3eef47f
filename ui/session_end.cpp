// The self-pipe that brings signals into the event loop, the session manager's request, and
// the exit hook that saves when Qt ends the process itself.
#include "ui/session_end.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "ui/main_window.h"

namespace veskor {
namespace {

constexpr int kClosingSignals[] = {SIGTERM, SIGHUP, SIGINT};

// The handler writes the signal's number here; the notifier reads it in the event loop.
int signal_pipe[2] = {-1, -1};

// The window whose files an exit() saves; null outside a SessionEnd's life.
TfrmMain* exit_window = nullptr;

// A write to the X server's socket after the server has gone raises SIGPIPE, whose default
// action ends the process on the spot, before Qt's own exit() that saves the files. Caught, the
// write fails with EPIPE and the display connection reports its loss as it does on a read. A
// handler, not SIG_IGN: programs started from the window get the default action back at exec.
void OnBrokenPipe(int) {}

void OnClosingSignal(int signal_number) {
  const int saved_errno = errno;
  const char byte = static_cast<char>(signal_number);
  // A full pipe already holds a request: nothing is lost by dropping this one.
  [[maybe_unused]] const ssize_t written = ::write(signal_pipe[1], &byte, 1);
  errno = saved_errno;
}

// Qt's display connection calls exit() when the X server goes away (a session's end without
// the session manager, a crashed server); the window's event loop never returns then.
void SaveAtExit() {
  if (exit_window != nullptr) exit_window->SaveAtExit();
}

// The pipe (close-on-exec, so that no program started from the window holds it) and the exit
// hook, once per process; false when no pipe can be made.
bool SetUpOnce() {
  static const bool ready = [] {
    std::atexit(SaveAtExit);
    return ::pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) == 0;
  }();
  return ready;
}

}  // namespace

SessionEnd::SessionEnd(TfrmMain& window) : window_(window) {
  exit_window = &window_;
  // Qt 5 closed every window on this request by itself; Qt 6 leaves it to the program.
  connect(qApp, &QGuiApplication::commitDataRequest, this,
          [this](QSessionManager&) { RequestClose(); });
  if (SetUpOnce()) TakeSignals();
}

SessionEnd::~SessionEnd() {
  exit_window = nullptr;
  if (notifier_ == nullptr) return;
  for (int signal_number : kClosingSignals) std::signal(signal_number, SIG_DFL);
  std::signal(SIGPIPE, SIG_DFL);
  // Requests that arrived too late for this window are not meant for the next one.
  char bytes[64];
  while (::read(signal_pipe[0], bytes, sizeof bytes) > 0) {
  }
}

void SessionEnd::TakeSignals() {
  notifier_ = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    char bytes[64];
    bool requested = false;
    while (::read(signal_pipe[0], bytes, sizeof bytes) > 0) requested = true;
    if (requested) RequestClose();
  });
  struct sigaction action {};
  action.sa_handler = OnClosingSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal_number : kClosingSignals) ::sigaction(signal_number, &action, nullptr);
  action.sa_handler = OnBrokenPipe;
  ::sigaction(SIGPIPE, &action, nullptr);
}

void SessionEnd::RequestClose() {
  // A menu or a modal dialog runs its own event loop, which would hold the close until the
  // user answered it.
  for (int open = 0; open < 8 && QApplication::activePopupWidget() != nullptr; ++open) {
    QApplication::activePopupWidget()->close();
  }
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(widget);
    if (dialog != nullptr && dialog->isVisible()) dialog->reject();
  }
  window_.close();
}

}  // namespace veskor
