// Program entry: the generator's start state, the application, the window.
#include <QApplication>
#include <QIcon>

#include "CellForm.h"

int main(int argc, char** argv) {
  SetGeneratorStartState();
  QApplication app(argc, argv);
  // The name titles message boxes. It is not set as the display name, which
  // the window system would append to the main window's title.
  QApplication::setApplicationName(QStringLiteral("Pathwick"));
  // Desktop shells match the window to its installed menu entry and icon by
  // the desktop file name.
  QGuiApplication::setDesktopFileName(QStringLiteral(PATHWICK_APP_ID));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/pathwick-256.png")));
  int result = 0;
  {
    TForm1 form;
    form.show();
    result = QApplication::exec();
  }
  return result;
}
