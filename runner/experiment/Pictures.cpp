#include "Pictures.h"

#include <QFont>
#include <QPainter>

namespace {

constexpr int kLabelHeight = 16;  // the label strip, before magnification
constexpr int kLabelFontPixels = 11;
constexpr int kLabelMargin = 4;
constexpr int kLabelGray = 0xe4;  // the strip's background, set off from the white grid

}  // namespace

QImage LabelledPicture(const QImage& grid, int32_t step, uint32_t seed, int32_t scale) {
  const int width = (grid.width() + 1) / 2 * 2;
  const int height = (grid.height() + kLabelHeight + 1) / 2 * 2;
  QImage picture(width, height, QImage::Format_RGB32);
  picture.fill(Qt::white);
  QPainter painter(&picture);
  painter.drawImage(0, 0, grid);
  painter.fillRect(0, grid.height(), width, height - grid.height(), QColor(kLabelGray, kLabelGray, kLabelGray));
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(kLabelFontPixels);
  font.setHintingPreference(QFont::PreferFullHinting);
  font.setStyleStrategy(QFont::NoAntialias);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(QRect(kLabelMargin, grid.height(), width - 2 * kLabelMargin, height - grid.height()),
                   Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("step %1    seed %2").arg(step).arg(seed));
  painter.end();
  if (scale <= 1) return picture;
  return picture.scaled(width * scale, height * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}
