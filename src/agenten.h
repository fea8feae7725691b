// TAgent: one ant-like forager with its genes, its steering and its drawing.
#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>

#include "SensingLists.h"

class TCanvas;

// Angle conversions, both built on 3.141592654 as the value of pi.
constexpr long double kDegPerRad = 57.295779505601046648L;
constexpr long double kRadPerDeg = 0.0174532925222222222L;

// Steering by chemical: the values of the sniff mode.
enum TSniffMode : int32_t { smNone = 0, smRoulette = 1, smHillClimbing = 2 };

// An agent's genes as text, always exactly 16 characters of "0" and "1",
// kept as the 16 bits they spell: the first character is the highest bit.
class TChroma {
 public:
  static constexpr size_t kLength = 16;
  using value_type = char;
  using const_iterator = TIndexIterator<TChroma, char>;
  using iterator = const_iterator;

  // The characters themselves, for the places that want the text: a value
  // that holds them, read as a std::string_view while it lives.
  struct TText {
    std::array<char, kLength> chars;
    std::string_view view() const { return {chars.data(), kLength}; }
    operator std::string_view() const { return view(); }  // NOLINT: read wherever text is
  };

  TChroma() = default;
  // Throws std::length_error unless text has exactly kLength characters,
  // and std::invalid_argument for a character other than '0' or '1'.
  TChroma(std::string_view text);  // NOLINT: converts like the text it holds
  TChroma& operator=(std::string_view text) { return *this = TChroma(text); }
  // The chroma that spells `bits`, the highest bit first.
  static TChroma FromBits(uint16_t bits) {
    TChroma chroma;
    chroma.bits_ = bits;
    return chroma;
  }

  static constexpr size_t size() { return kLength; }
  char operator[](size_t i) const { return (bits_ >> (kLength - 1 - i)) & 1 ? '1' : '0'; }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, kLength}; }
  // Character i turns from "0" to "1" or back.
  void Flip(size_t i) { bits_ = static_cast<uint16_t>(bits_ ^ (1u << (kLength - 1 - i))); }
  uint16_t Bits() const { return bits_; }

  TText text() const;
  operator std::string() const { return std::string(text().view()); }  // NOLINT: used wherever text is

  friend bool operator==(const TChroma& a, const TChroma& b) { return a.bits_ == b.bits_; }
  friend bool operator==(const TChroma& a, std::string_view b) { return a.text().view() == b; }
  friend std::ostream& operator<<(std::ostream& out, const TChroma& chroma);

 private:
  uint16_t bits_ = 0;
};

class TAgent {
 public:
  // Most neighbour directions a sensing cone can hold.
  static constexpr size_t kMaxCandidates = kMaxSensed;
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
  // and the radius in 8; the chroma's 16 characters as 16 bits; a step of
  // the cone in 4 bits), and the one-byte fields take the bytes behind the
  // two lists' counts instead of padding: a million agents take 80 MB.
  int32_t energy = 0;     // below 1 the agent is replaced by a child
  int32_t tripCount = 0;  // returns home since placement or birth
  int32_t scent = 0;      // chemical sensed in the cone: the sum of the sensed amounts
  // The neighbour steps in the cone, in the order of the shares.
  [[no_unique_address]] TStepList candidates;
  int8_t stepX = 0;
  int8_t stepY = 0;
  int8_t knowsCenter = 0;  // 0 or 1
  // The chemical sensed on each candidate, read as its percentage of the
  // scent (a 64-bit real, the same function of the amounts at every read).
  [[no_unique_address]] TSensedShares shares;
  int8_t colony = 0;  // index in the agent list mod 10
  int8_t radius = 0;
  bool searching = false;  // outbound; false while returning home
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
  TChroma chroma;          // "0"/"1": angleGene bits, then wiggleGene bits

 private:
  bool AnyShareAboveZero() const;
  // Heading from a chosen candidate, plus a random deviation; step := candidate.
  void TakeCandidate(size_t index, int32_t range);
};

static_assert(sizeof(TAgent) == 80, "an agent packs its narrowed fields without gaps");

// Column and row step for a heading: Round(cos h), Round(sin h).
std::pair<int32_t, int32_t> StepForHeading(int32_t heading);
