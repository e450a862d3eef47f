// The window program: sets up the look, shows the main window and runs the event loop.
#include <QApplication>

#include "ui/look.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  veskor::ApplyLook(app);
  veskor::TfrmMain window;
  window.show();
  app.exec();
  return 0;
}
