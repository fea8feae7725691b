#include "Dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

namespace {

std::function<void(const std::string&)>& Sink() {
  static std::function<void(const std::string&)> sink;
  return sink;
}

bool boxOpen = false;

}  // namespace

void SetMessageSink(std::function<void(const std::string&)> sink) { Sink() = std::move(sink); }

bool MessageBoxOpen() { return boxOpen; }

void ShowMessage(const std::string& text) {
  if (Sink()) {
    Sink()(text);
    return;
  }
  if (boxOpen) return;
  boxOpen = true;
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(QApplication::applicationDisplayName());
  box.setText(QString::fromStdString(text));
  box.setIcon(QMessageBox::Warning);
  box.exec();
  boxOpen = false;
}
