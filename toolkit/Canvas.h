// A canvas over a 32-bit pixel buffer: pen, brush, rectangles, ellipses and
// lines with the corner convention of the classic desktop canvas (the first
// corner inside, the second just outside). Plain C++: the simulation draws
// through it without knowing the windowing toolkit.
#pragma once

#include <cstdint>

// Colour as $BBGGRR: red in the low byte, blue in the high byte.
using TColor = uint32_t;

constexpr TColor clRed = 0x0000FF;
constexpr TColor clGreen = 0x008000;
constexpr TColor clGray = 0x808080;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clBlack = 0x000000;

class TCanvas {
 public:
  TCanvas() = default;
  // pixels: width x height pixels, stride pixels per row, each 0xAARRGGBB.
  // With whiteIsTransparent, white is stored as a fully transparent pixel so
  // the layer lets the one below show through.
  TCanvas(uint32_t* pixels, int32_t width, int32_t height, int32_t stride, bool whiteIsTransparent);

  void SetPenColor(TColor color);
  void SetPenWidth(int32_t width) { penWidth_ = width; }
  void SetBrushColor(TColor color);
  TColor PenColor() const { return penColor_; }
  TColor BrushColor() const { return brushColor_; }
  int32_t PenWidth() const { return penWidth_; }

  // Pixels x1..x2-1, y1..y2-1: outline in the pen, inside in the brush.
  void Rectangle(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
  // Ellipse inscribed in the same box: outline in the pen, inside in the brush.
  void Ellipse(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
  void MoveTo(int32_t x, int32_t y);
  // Line in the pen from the current position up to, not including, (x, y).
  void LineTo(int32_t x, int32_t y);

  TColor Pixel(int32_t x, int32_t y) const;
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }

 private:
  uint32_t Encode(TColor color) const;
  void Plot(int32_t x, int32_t y, uint32_t pixel) {
    if (x >= 0 && y >= 0 && x < width_ && y < height_) pixels_[y * stride_ + x] = pixel;
  }
  void FillSpan(int32_t y, int32_t x1, int32_t x2, uint32_t pixel);

  uint32_t* pixels_ = nullptr;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t stride_ = 0;
  bool whiteIsTransparent_ = false;
  TColor penColor_ = clBlack;
  TColor brushColor_ = clWhite;
  uint32_t penPixel_ = 0;
  uint32_t brushPixel_ = 0;
  int32_t penWidth_ = 1;
  int32_t penX_ = 0;
  int32_t penY_ = 0;
};
