// TAgent: one ant-like forager with its genes, its steering and its drawing.
#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>

#include "FixedList.h"

class TCanvas;

// Angle conversions, both built on 3.141592654 as the value of pi.
constexpr long double kDegPerRad = 57.295779505601046648L;
constexpr long double kRadPerDeg = 0.0174532925222222222L;

// Steering by chemical: the values of the sniff mode.
enum TSniffMode : int32_t { smNone = 0, smRoulette = 1, smHillClimbing = 2 };

// An agent's genes as text: always exactly 16 characters, kept in place.
class TChroma {
 public:
  static constexpr size_t kLength = 16;

  TChroma() { text_.fill('0'); }
  // Throws std::length_error unless text has exactly kLength characters.
  TChroma(std::string_view text);  // NOLINT: converts like the text it holds
  TChroma& operator=(std::string_view text) { return *this = TChroma(text); }

  static constexpr size_t size() { return kLength; }
  const char* data() const { return text_.data(); }
  char& operator[](size_t i) { return text_[i]; }
  char operator[](size_t i) const { return text_[i]; }
  const char* begin() const { return text_.data(); }
  const char* end() const { return text_.data() + kLength; }
  char* begin() { return text_.data(); }
  char* end() { return text_.data() + kLength; }

  std::string_view view() const { return {text_.data(), kLength}; }
  operator std::string() const { return std::string(view()); }  // NOLINT: used wherever text is

  friend bool operator==(const TChroma& a, const TChroma& b) { return a.text_ == b.text_; }
  friend bool operator==(const TChroma& a, std::string_view b) { return a.view() == b; }
  friend std::ostream& operator<<(std::ostream& out, const TChroma& chroma);

 private:
  std::array<char, kLength> text_;
};

class TAgent {
 public:
  // Most neighbour directions a sensing cone can hold.
  static constexpr size_t kMaxCandidates = 8;
  static constexpr int32_t kDrawRadius = 2;
  static constexpr int32_t kHeadingLineLength = 4;
  // Every heading a move produces lies well within this many degrees of 0;
  // tables of per-heading results cover that range.
  static constexpr int32_t kTabledHeading = 1080;
  static constexpr int32_t kMaxGene = 255;  // a gene is 8 bits of the chroma

  // chroma := the 8 bits of angleGene followed by the 8 bits of wiggleGene.
  void setChroma();
  // Sets heading and step for the next move; call right after sensing.
  void ChangeHeading(int32_t turnRange, int32_t deviationRange, int32_t sniffMode, int32_t sniffThreshold);
  void randomWalk(int32_t range);
  void rouletteWheel(int32_t range);
  void hillClimbing(int32_t range);
  void Draw(TCanvas& canvas) const;

  void SetHeading(int32_t v) { heading = static_cast<int16_t>(v); }
  void SetStepX(int32_t v) { stepX = static_cast<int8_t>(v); }
  void SetStepY(int32_t v) { stepY = static_cast<int8_t>(v); }
  void SetPosX(int32_t v) { posX = static_cast<int16_t>(v); }
  void SetPosY(int32_t v) { posY = static_cast<int16_t>(v); }
  void SetRadius(int32_t v) { radius = static_cast<int8_t>(v); }

  // The agent owns no heap memory: its lists and its chroma live inside it.
  // Each field is as wide as the values it holds (cells and pixels of a
  // panel of 404 and headings in 16 bits; genes, steps, flags, the colony
  // and the radius in 8), and the members are ordered so that they pack
  // without gaps: a million agents take 136 MB. The fields the movement
  // pass reads first lead.
  int32_t energy = 0;     // below 1 the agent is replaced by a child
  int32_t tripCount = 0;  // returns home since placement or birth
  int32_t scent = 0;      // chemical sensed in the cone
  int16_t cellX = 0;
  int16_t cellY = 0;
  int16_t heading = 0;  // whole degrees; 0 = increasing column, 90 = increasing row
  int16_t homeX = 0;
  int16_t homeY = 0;
  int16_t centerX = 0;
  int16_t centerY = 0;
  int16_t posX = 0;  // pixel centre on the agent layer
  int16_t posY = 0;
  uint8_t angleGene = 0;   // cone half-width and largest random-walk turn, 0..255
  uint8_t wiggleGene = 0;  // largest deviation after a chemical choice, 0..255
  // Each neighbour step's percentage of the chemical sensed. The members
  // after it take the bytes behind its count instead of padding.
  [[no_unique_address]] TFixedList<double, kMaxCandidates> shares;
  int8_t stepX = 0;
  int8_t stepY = 0;
  int8_t knowsCenter = 0;  // 0 or 1
  int8_t colony = 0;       // index in the agent list mod 10
  int8_t radius = 0;
  bool searching = false;  // outbound; false while returning home
  TChroma chroma;          // "0"/"1": angleGene bits, then wiggleGene bits
  // The neighbour steps in the cone, in the order of the shares.
  TFixedList<std::pair<int8_t, int8_t>, kMaxCandidates> candidates;

 private:
  bool AnyShareAboveZero() const;
  // Heading from a chosen candidate, plus a random deviation; step := candidate.
  void TakeCandidate(size_t index, int32_t range);
};

// Column and row step for a heading: Round(cos h), Round(sin h).
std::pair<int32_t, int32_t> StepForHeading(int32_t heading);
