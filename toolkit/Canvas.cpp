#include "Canvas.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>

namespace {
constexpr uint32_t kOpaque = 0xFF000000u;
constexpr uint32_t kTransparent = 0x00000000u;
constexpr size_t kMaxDirtyBoxes = 8192;
}  // namespace

TCanvas::TCanvas(uint32_t* pixels, int32_t width, int32_t height, int32_t stride, bool whiteIsTransparent)
    : pixels_(pixels), width_(width), height_(height), stride_(stride), whiteIsTransparent_(whiteIsTransparent) {
  penPixel_ = Encode(penColor_);
  brushPixel_ = Encode(brushColor_);
  dirty_.reserve(kMaxDirtyBoxes);
}

void TCanvas::MarkDirty(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if (!uniform_) return;
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, width_);
  y2 = std::min(y2, height_);
  if (x1 >= x2 || y1 >= y2) return;
  dirtyArea_ += int64_t{x2 - x1} * (y2 - y1);
  if (dirty_.size() == kMaxDirtyBoxes || dirtyArea_ > int64_t{width_} * height_ / 2) {
    uniform_ = false;  // cheaper to refill everything next time
    dirty_.clear();
    return;
  }
  dirty_.push_back({x1, y1, x2, y2});
}

void TCanvas::FillBox(const TBox& box, uint32_t pixel) {
  const int32_t x1 = std::max(box.x1, 0);
  const int32_t x2 = std::min(box.x2, width_);
  const int32_t y1 = std::max(box.y1, 0);
  const int32_t y2 = std::min(box.y2, height_);
  if (x1 >= x2) return;
  uint32_t* row = pixels_ + static_cast<ptrdiff_t>(y1) * stride_ + x1;
  for (int32_t y = y1; y < y2; ++y, row += stride_) std::fill_n(row, x2 - x1, pixel);
}

uint32_t TCanvas::Encode(TColor color) const {
  color &= 0xFFFFFFu;
  if (whiteIsTransparent_ && color == clWhite) return kTransparent;
  const uint32_t red = color & 0xFFu;
  const uint32_t green = (color >> 8) & 0xFFu;
  const uint32_t blue = (color >> 16) & 0xFFu;
  return kOpaque | (red << 16) | (green << 8) | blue;
}

void TCanvas::SetPenColor(TColor color) {
  penColor_ = color;
  penPixel_ = Encode(color);
}

void TCanvas::SetBrushColor(TColor color) {
  brushColor_ = color;
  brushPixel_ = Encode(color);
}

TColor TCanvas::Pixel(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return clWhite;
  const uint32_t pixel = pixels_[y * stride_ + x];
  if ((pixel >> 24) == 0) return clWhite;
  const uint32_t red = (pixel >> 16) & 0xFFu;
  const uint32_t green = (pixel >> 8) & 0xFFu;
  const uint32_t blue = pixel & 0xFFu;
  return red | (green << 8) | (blue << 16);
}

void TCanvas::FillSpan(int32_t y, int32_t x1, int32_t x2, uint32_t pixel) {
  if (y < 0 || y >= height_) return;
  x1 = std::max(x1, 0);
  x2 = std::min(x2, width_);
  if (x1 >= x2) return;
  std::fill_n(pixels_ + y * stride_ + x1, x2 - x1, pixel);
}

void TCanvas::Clear(TColor color) {
  const uint32_t pixel = Encode(color);
  if (uniform_ && uniformPixel_ == pixel) {
    for (const TBox& box : dirty_) FillBox(box, pixel);
  } else {
    FillBox({0, 0, width_, height_}, pixel);
  }
  uniform_ = true;
  uniformPixel_ = pixel;
  dirty_.clear();
  dirtyArea_ = 0;
}

void TCanvas::Rectangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  if (x1 == x2 || y1 == y2) return;
  MarkDirty(x1, y1, x2, y2);
  if (penPixel_ == brushPixel_) {
    FillBox({x1, y1, x2, y2}, brushPixel_);
    return;
  }
  const int32_t pen = std::max(penWidth_, 1);
  for (int32_t y = std::max(y1, 0); y < std::min(y2, height_); ++y) {
    const bool edgeRow = y < y1 + pen || y >= y2 - pen;
    if (edgeRow) {
      FillSpan(y, x1, x2, penPixel_);
    } else {
      FillSpan(y, x1, x1 + pen, penPixel_);
      FillSpan(y, x1 + pen, x2 - pen, brushPixel_);
      FillSpan(y, x2 - pen, x2, penPixel_);
    }
  }
}

void TCanvas::BuildEllipseMask(int32_t w, int32_t h) {
  // A pixel belongs to the ellipse when its centre lies inside the ellipse
  // through the box; it is outline when a 4-neighbour lies outside.
  const double cx = (w - 1) / 2.0;
  const double cy = (h - 1) / 2.0;
  const double rx = w / 2.0;
  const double ry = h / 2.0;
  auto inside = [&](int32_t px, int32_t py) {
    if (px < 0 || py < 0 || px >= w || py >= h) return false;
    const double dx = (px - cx) / rx;
    const double dy = (py - cy) / ry;
    return dx * dx + dy * dy <= 1.0;
  };
  ellipseMask_.assign(static_cast<size_t>(w) * h, kOutside);
  for (int32_t py = 0; py < h; ++py) {
    for (int32_t px = 0; px < w; ++px) {
      if (!inside(px, py)) continue;
      const bool outline = !inside(px - 1, py) || !inside(px + 1, py) || !inside(px, py - 1) || !inside(px, py + 1);
      ellipseMask_[static_cast<size_t>(py) * w + px] = outline ? kOutline : kInside;
    }
  }
  maskWidth_ = w;
  maskHeight_ = h;
}

void TCanvas::Ellipse(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  const int32_t w = x2 - x1;
  const int32_t h = y2 - y1;
  if (w <= 0 || h <= 0) return;
  // Every agent draws the same small disc: the mask is built once per size.
  if (w != maskWidth_ || h != maskHeight_) BuildEllipseMask(w, h);
  MarkDirty(x1, y1, x2, y2);
  const uint8_t* mask = ellipseMask_.data();
  if (!Inside(x1, y1, x2, y2)) {
    for (int32_t py = 0; py < h; ++py) {
      for (int32_t px = 0; px < w; ++px) {
        const uint8_t kind = mask[py * w + px];
        if (kind != kOutside) Plot(x1 + px, y1 + py, kind == kOutline ? penPixel_ : brushPixel_);
      }
    }
    return;
  }
  // The whole box lies on the canvas: no pixel needs its own bounds test.
  const uint32_t colours[] = {0, penPixel_, brushPixel_};
  for (int32_t py = 0; py < h; ++py) {
    uint32_t* row = pixels_ + static_cast<ptrdiff_t>(y1 + py) * stride_ + x1;
    const uint8_t* kinds = mask + py * w;
    for (int32_t px = 0; px < w; ++px) {
      if (kinds[px] != kOutside) row[px] = colours[kinds[px]];
    }
  }
}

void TCanvas::MoveTo(int32_t x, int32_t y) {
  penX_ = x;
  penY_ = y;
}

void TCanvas::LineTo(int32_t x, int32_t y) {
  // Bresenham from the pen position; the end point itself is not drawn.
  int32_t cx = penX_;
  int32_t cy = penY_;
  MarkDirty(std::min(cx, x), std::min(cy, y), std::max(cx, x) + 1, std::max(cy, y) + 1);
  const int32_t dx = std::abs(x - cx);
  const int32_t dy = -std::abs(y - cy);
  const int32_t sx = cx < x ? 1 : -1;
  const int32_t sy = cy < y ? 1 : -1;
  int32_t err = dx + dy;
  const bool inside = Inside(std::min(cx, x), std::min(cy, y), std::max(cx, x) + 1, std::max(cy, y) + 1);
  while (cx != x || cy != y) {
    if (inside) {
      pixels_[static_cast<ptrdiff_t>(cy) * stride_ + cx] = penPixel_;
    } else {
      Plot(cx, cy, penPixel_);
    }
    const int32_t e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      cx += sx;
    }
    if (e2 <= dx) {
      err += dx;
      cy += sy;
    }
  }
  penX_ = x;
  penY_ = y;
}
