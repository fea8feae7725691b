// Fuzz target for the text/number conversions of the runtime: whatever bytes
// arrive, StrToInt, StrToFloat and BitsToInt give a value or EConvertError
// (never a crash, a hang or another exception), integers survive
// IntToStr/StrToInt unchanged, FloatToStr accepts any 80-bit pattern, and
// every caption the window writes reads back as the value it shows.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "Calcer.h"
#include "Runtime.h"

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& input) {
  std::fprintf(stderr, "conversion fault: %s (input '%s')\n", what.c_str(), input.c_str());
  std::abort();
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The integer grammar written out: blanks, an optional sign, decimal digits,
// blanks; the value must fit 32 bits.
std::optional<int32_t> ExpectedInt(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  bool negative = false;
  if (begin < end && (text[begin] == '+' || text[begin] == '-')) negative = text[begin++] == '-';
  if (begin == end) return std::nullopt;
  for (size_t i = begin; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
  }
  while (begin + 1 < end && text[begin] == '0') ++begin;  // leading zeros do not count
  if (end - begin > 10) return std::nullopt;
  int64_t magnitude = 0;
  for (size_t i = begin; i < end; ++i) magnitude = magnitude * 10 + (text[i] - '0');
  const int64_t value = negative ? -magnitude : magnitude;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

void CheckStrToInt(const std::string& text) {
  const std::optional<int32_t> expected = ExpectedInt(text);
  try {
    const int32_t value = StrToInt(text);
    if (!expected) Fail("StrToInt accepted text outside the integer grammar", text);
    if (value != *expected) Fail("StrToInt read " + std::to_string(value), text);
  } catch (const EConvertError& e) {
    if (expected) Fail("StrToInt refused a valid integer", text);
    // what() ends at the first NUL of the text, as any C string would.
    if (std::string(e.what()) != InvalidIntegerMessage(text).c_str()) {
      Fail(std::string("StrToInt message: ") + e.what(), text);
    }
  }
}

void CheckStrToFloat(const std::string& text) {
  long double value = 0;
  try {
    value = StrToFloat(text);
  } catch (const EConvertError&) {
    return;
  }
  if (!std::isfinite(value)) Fail("StrToFloat gave a value that is not finite", text);
  const std::optional<int32_t> asInt = ExpectedInt(text);
  if (asInt && value != static_cast<long double>(*asInt)) Fail("StrToFloat differs from the integer", text);
  // Whatever was read is written back in general format and read again.
  const std::string written = FloatToStr(value);
  const long double magnitude = fabsl(value);
  if (magnitude != 0 && (magnitude < 1e-4000L || magnitude > 1e4000L)) return;  // edges of the exponent range
  try {
    const long double again = StrToFloat(written);
    if (fabsl(again - value) > magnitude * 1e-14L) Fail("FloatToStr/StrToFloat moved " + written, text);
  } catch (const EConvertError&) {
    Fail("FloatToStr wrote text that does not read back: " + written, text);
  }
}

void CheckBitsToInt(const std::string& text) {
  int32_t value = 0;
  try {
    value = BitsToInt(text);
  } catch (const EConvertError&) {
    for (char c : text) {
      if (c < '0' || c > '9') return;
    }
    Fail("BitsToInt refused a text of digits", text);
  }
  if (text.size() > 31) return;  // wraps by design beyond 31 positions
  int64_t expected = 0;
  for (char c : text) {
    if (c < '0' || c > '9') Fail("BitsToInt accepted a character that is no digit", text);
    expected = expected * 2 + (c - '0');
  }
  if (static_cast<uint32_t>(value) != static_cast<uint32_t>(expected))
    Fail("BitsToInt read " + std::to_string(value), text);
}

void CheckBinaryValues(const uint8_t* data, size_t size) {
  if (size >= sizeof(int32_t)) {
    int32_t n = 0;
    std::memcpy(&n, data, sizeof n);
    const std::string written = IntToStr(n);
    if (written != std::to_string(n)) Fail("IntToStr wrote " + written, written);
    if (StrToInt(written) != n) Fail("IntToStr/StrToInt changed the value", written);
    if (StrToFloat(written) != static_cast<long double>(n)) Fail("StrToFloat of IntToStr", written);
  }
  if (size >= 10) {
    // Any 80-bit pattern, invalid encodings included.
    long double x = 0;
    std::memcpy(&x, data, 10);
    const std::string written = FloatToStr(x);
    if (written.empty() || written.size() > 32) Fail("FloatToStr wrote '" + written + "'", written);
  }
  if (size >= 1) {
    const int32_t byte = data[0];
    const std::string bits = ByteToBits(byte);
    if (bits.size() != 8 || BitsToInt(bits) != byte) Fail("ByteToBits/BitsToInt changed " + std::to_string(byte), bits);
  }
}

// Every caption the window writes: position / 100 for 0..100, the whole
// numbers 0..500 in general format and as integers. Each reads back as the
// value it shows, exactly.
void CheckCaptions() {
  for (int32_t p = 0; p <= 100; ++p) {
    const long double shown = static_cast<long double>(p) / 100;
    const std::string caption = FloatToStr(shown);
    if (StrToFloat(caption) != shown) Fail("caption does not read back as " + std::to_string(p) + "/100", caption);
  }
  for (int32_t p = 0; p <= 500; ++p) {
    const std::string general = FloatToStr(static_cast<long double>(p));
    if (general != std::to_string(p)) Fail("general format of a whole number", general);
    if (StrToInt(general) != p || StrToFloat(general) != p) Fail("whole-number caption does not read back", general);
    if (StrToInt(IntToStr(p)) != p) Fail("IntToStr caption does not read back", IntToStr(p));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  CheckCaptions();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckStrToInt(text);
  CheckStrToFloat(text);
  CheckBitsToInt(text);
  CheckBinaryValues(data, size);
  return 0;
}
