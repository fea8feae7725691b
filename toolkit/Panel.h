// The drawing panel: shows its raster layers stacked in creation order and
// reports mouse press, move and release in its own pixel coordinates.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

class TRasterLayer;

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

class TPanel : public QWidget {
  Q_OBJECT
 public:
  explicit TPanel(QWidget* parent = nullptr);

  // Layers are not owned; the first is painted first.
  void SetLayers(std::vector<const TRasterLayer*> layers);

  // Asks for the layers to be shown again. Requests closer together than one
  // frame are merged, and the last one is always painted within a frame: a
  // world stepping every millisecond reaches the screen at the display's
  // pace instead of pushing the whole grid out a thousand times a second.
  void RequestRepaint();
  static constexpr int kFrameMs = 16;

  std::function<void(TMouseButton, int32_t, int32_t)> onMouseDown;
  std::function<void(int32_t, int32_t)> onMouseMove;
  std::function<void(TMouseButton, int32_t, int32_t)> onMouseUp;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  std::vector<const TRasterLayer*> layers_;
  QElapsedTimer sinceLastPaint_;
  QTimer frameTimer_;  // single shot: the repaint that waits for the next frame
};
