// The window program: sets up the look, shows the main window, runs the event loop, then runs
// the window's shut-down sequence, which saves the program files.
#include <QApplication>

#include "ui/look.h"
#include "ui/main_window.h"
#include "ui/session_end.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  veskor::ApplyLook(app);
  veskor::TfrmMain window;
  // Another window uses the folder's files; it has been said so, and this one leaves.
  if (window.refused()) return 1;
  // From here a signal or the session's end closes the window, and the saves below run.
  veskor::SessionEnd session_end(window);
  window.show();
  app.exec();
  window.FormDestroy();
  return 0;
}
