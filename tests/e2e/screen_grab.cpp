// Saves a screenshot of the whole X screen (or of one window by id) as PNG.
// Usage: pathwick_grab out.png [window-id]
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s out.png [window-id]\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "xcb");
  QGuiApplication app(argc, argv);
  const WId window = argc > 2 ? static_cast<WId>(QByteArray(argv[2]).toULongLong(nullptr, 0)) : 0;
  const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(window);
  if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "could not grab the screen\n");
    return 1;
  }
  return 0;
}
