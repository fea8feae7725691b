#include "Panel.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "RasterLayer.h"

namespace {

TMouseButton ButtonOf(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton: return TMouseButton::mbLeft;
    case Qt::RightButton: return TMouseButton::mbRight;
    default: return TMouseButton::mbMiddle;
  }
}

// Whole pixel of a position. Positions beyond the 32-bit range (a drag far
// off any screen, or no number at all) are clamped, so the conversion stays
// defined; the handlers ignore them as any other position off the panel.
int32_t Floor(qreal v) {
  const qreal f = std::floor(v);
  if (!(f >= static_cast<qreal>(INT32_MIN))) return INT32_MIN;
  if (f > static_cast<qreal>(INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(f);
}

}  // namespace

TPanel::TPanel(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAutoFillBackground(false);
  frameTimer_.setSingleShot(true);
  frameTimer_.setTimerType(Qt::PreciseTimer);
  connect(&frameTimer_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void TPanel::RequestRepaint() {
  if (frameTimer_.isActive()) return;  // a repaint is already due
  const qint64 since = sinceLastPaint_.isValid() ? sinceLastPaint_.elapsed() : kFrameMs;
  if (since >= kFrameMs) {
    update();
  } else {
    frameTimer_.start(static_cast<int>(kFrameMs - since));
  }
}

void TPanel::SetLayers(std::vector<const TRasterLayer*> layers) {
  layers_ = std::move(layers);
  update();
}

void TPanel::paintEvent(QPaintEvent*) {
  sinceLastPaint_.restart();
  QPainter painter(this);
  if (layers_.empty()) {
    painter.fillRect(rect(), palette().window());
    return;
  }
  for (const TRasterLayer* layer : layers_) painter.drawImage(0, 0, layer->Image());
}

void TPanel::mousePressEvent(QMouseEvent* event) {
  const QPointF p = event->position();
  if (onMouseDown) onMouseDown(ButtonOf(event->button()), Floor(p.x()), Floor(p.y()));
}

void TPanel::mouseMoveEvent(QMouseEvent* event) {
  const QPointF p = event->position();
  if (onMouseMove) onMouseMove(Floor(p.x()), Floor(p.y()));
}

void TPanel::mouseReleaseEvent(QMouseEvent* event) {
  const QPointF p = event->position();
  if (onMouseUp) onMouseUp(ButtonOf(event->button()), Floor(p.x()), Floor(p.y()));
}
