#include "QtNotes.h"

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <cstdio>

namespace {

std::atomic<const char*> noteProgram{"pathwick"};

void WriteQtErrors(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg) return;
  std::fprintf(stderr, "%s: %s\n", noteProgram.load(), qPrintable(message));
}

}  // namespace

void DropQtNotes(const char* program) {
  noteProgram.store(program);
  qInstallMessageHandler(WriteQtErrors);
}
