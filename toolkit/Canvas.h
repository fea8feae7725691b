// A canvas over a 32-bit pixel buffer: pen, brush, rectangles, ellipses and
// lines with the corner convention of the classic desktop canvas (the first
// corner inside, the second just outside). Plain C++: the simulation draws
// through it without knowing the windowing toolkit.
#pragma once

#include <cstdint>
#include <vector>

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

  // Every pixel in one colour; pen and brush stay as they are. After a
  // Clear, only the boxes drawn into since then can differ, so the next
  // Clear in the same colour refills just those.
  void Clear(TColor color);
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
  struct TBox {
    int32_t x1, y1, x2, y2;
  };
  // Pixel kinds of an ellipse in its box: outside, outline, inside.
  enum : uint8_t { kOutside = 0, kOutline = 1, kInside = 2 };

  uint32_t Encode(TColor color) const;
  // Remembers that the pixels of a box may differ from the uniform fill.
  void MarkDirty(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
  void FillBox(const TBox& box, uint32_t pixel);
  void BuildEllipseMask(int32_t w, int32_t h);
  // Whether pixels x1..x2-1, y1..y2-1 all lie on the canvas.
  bool Inside(int32_t x1, int32_t y1, int32_t x2, int32_t y2) const {
    return x1 >= 0 && y1 >= 0 && x2 <= width_ && y2 <= height_;
  }
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

  // After a Clear, the boxes drawn into since then are the only pixels that
  // can differ from its colour. Too many boxes, or too large an area, and
  // the next Clear refills the whole canvas instead.
  bool uniform_ = false;
  uint32_t uniformPixel_ = 0;
  std::vector<TBox> dirty_;
  int64_t dirtyArea_ = 0;

  std::vector<uint8_t> ellipseMask_;
  int32_t maskWidth_ = 0;
  int32_t maskHeight_ = 0;
};
