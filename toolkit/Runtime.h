// The runtime layer: the process-wide random generator, rounding and the
// text/number conversions the program relies on. Plain C++, no Qt.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

// State of the process-wide 32-bit linear congruential generator. Written
// by Randomize and every draw, and outside the window only by the seed rule
// and a checkpoint's restore (see CellForm.h).
extern uint32_t RandSeed;

constexpr uint32_t kRandMultiplier = 134775813u;

// Uniform whole number in 0..n-1 (the high 32 bits of seed * n after the step).
inline int32_t Random(int32_t n) {
  RandSeed = RandSeed * kRandMultiplier + 1u;
  return static_cast<int32_t>((static_cast<uint64_t>(RandSeed) * static_cast<uint32_t>(n)) >> 32);
}
// Uniform real in [0, 1): the stepped seed times 2^-32.
inline long double RandomReal() {
  RandSeed = RandSeed * kRandMultiplier + 1u;
  return static_cast<long double>(RandSeed) * (1.0L / 4294967296.0L);
}
// Reseeds from the clock, or from the source set by SetRandomizeSource.
void Randomize();
// Replaces the clock Randomize reads; an empty function restores the clock.
void SetRandomizeSource(std::function<uint32_t()> source);

// Round to nearest, ties to even (the default rounding mode of the FPU).
inline int32_t Round(long double x) {
#if defined(__x86_64__) || defined(__i386__)
  // What llrintl does on x87, without the library call.
  long long result;
  __asm__("fistpll %0" : "=m"(result) : "t"(x) : "st");
  return static_cast<int32_t>(result);
#else
  return static_cast<int32_t>(std::llrintl(x));
#endif
}

// a / b in extended precision, rounded as Round does: the rule behind the
// grid size, the half cell, the centre, the painted cell and the averages.
inline int32_t RoundDiv(long double a, long double b) { return Round(a / b); }

class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Decimal text to a 32-bit integer. Leading and trailing blanks are allowed,
// an optional sign, then at least one decimal digit; anything else, or a value
// outside the 32-bit range, throws EConvertError
// "'<text>' is not a valid integer value".
int32_t StrToInt(const std::string& text);
std::string IntToStr(int32_t value);

// General format: the shortest form with up to 15 significant digits and the
// locale's decimal separator (0.01, 0.5, 15, 100).
std::string FloatToStr(long double value);
// Reads text written by FloatToStr (or any decimal real with the locale's
// separator) into extended precision. Throws EConvertError
// "'<text>' is not a valid floating point value" on anything else.
long double StrToFloat(const std::string& text);

// The error text of a failed integer conversion.
std::string InvalidIntegerMessage(const std::string& text);
