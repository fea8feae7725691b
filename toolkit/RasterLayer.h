// A raster layer: a 32-bit image the size of the drawing panel with its canvas.
#pragma once

#include <QImage>
#include <cstdint>

#include "Canvas.h"

class TRasterLayer {
 public:
  // A transparent layer stores white as transparent pixels, so the layers
  // below show through wherever it holds white.
  TRasterLayer(int32_t width, int32_t height, bool transparent);
  TRasterLayer(const TRasterLayer&) = delete;
  TRasterLayer& operator=(const TRasterLayer&) = delete;

  // Every pixel white (transparent on a transparent layer).
  void Clear() { canvas_.Clear(clWhite); }
  TCanvas& Canvas() { return canvas_; }
  const TCanvas& Canvas() const { return canvas_; }
  const QImage& Image() const { return image_; }
  bool Transparent() const { return transparent_; }
  int32_t Width() const { return image_.width(); }
  int32_t Height() const { return image_.height(); }

 private:
  QImage image_;
  TCanvas canvas_;
  bool transparent_ = false;
};
