// Program entry: the generator's start state, the application, the window.
#include <QApplication>

#include "CellForm.h"

int main(int argc, char** argv) {
  SetGeneratorStartState();
  QApplication app(argc, argv);
  // The name titles message boxes. It is not set as the display name, which
  // the window system would append to the main window's title.
  QApplication::setApplicationName(QStringLiteral("Pathwick"));
  int result = 0;
  {
    TForm1 form;
    form.show();
    result = QApplication::exec();
  }
  return result;
}
