// The window program: sets up the look, shows the main window, runs the event loop, then runs
// the window's shut-down sequence, which saves the program files.
#include <QApplication>

#include "ui/look.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  veskor::ApplyLook(app);
  veskor::TfrmMain window;
  window.show();
  app.exec();
  window.FormDestroy();
  return 0;
}
