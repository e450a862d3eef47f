// SessionEnd: the window's end from outside. SIGTERM, SIGHUP and SIGINT and the desktop
// session's end close it as its close button does, and an exit() that Qt makes when the display
// connection is lost still saves the program files.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace veskor {

class TfrmMain;

class SessionEnd : public QObject {
  Q_OBJECT

 public:
  // Takes over SIGTERM, SIGHUP and SIGINT (their handlers only write to a pipe that the event
  // loop watches) and SIGPIPE (a write to a lost display fails instead of ending the process),
  // listens to the session manager's commit request, and has the window's
  // SaveAtExit run if the process ends by exit() meanwhile. One object at a time.
  explicit SessionEnd(TfrmMain& window);
  // Gives the signals back their default action; exit() saves nothing any more.
  ~SessionEnd() override;

  // The close request from outside: dismisses the open menus and dialogs (each would hold the
  // request until it is answered), then closes the window, which during a run stops the run
  // first. The shut-down saves follow when the event loop has ended.
  void RequestClose();

 private:
  void TakeSignals();

  TfrmMain& window_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace veskor
