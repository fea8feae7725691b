// The drawing panel: shows its raster layers stacked in creation order and
// reports mouse press, move and release in its own pixel coordinates.
#pragma once

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
};
