// Program entry: the generator's start state, the application, the window.
#include <QApplication>

#include "CellForm.h"

int main(int argc, char** argv) {
  SetGeneratorStartState();
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QStringLiteral("Pathwick"));
  int result = 0;
  {
    TForm1 form;
    form.show();
    result = QApplication::exec();
  }
  return result;
}
