#include "RasterLayer.h"

TRasterLayer::TRasterLayer(int32_t width, int32_t height, bool transparent)
    : image_(width, height, transparent ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32),
      transparent_(transparent) {
  image_.fill(transparent ? Qt::transparent : Qt::white);
  // bits() detaches once here; the image is never copied afterwards, so the
  // canvas keeps drawing straight into the pixels the panel shows.
  canvas_ = TCanvas(reinterpret_cast<uint32_t*>(image_.bits()), width, height,
                    static_cast<int32_t>(image_.bytesPerLine() / 4), transparent);
}
