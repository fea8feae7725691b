#include "Runtime.h"

#include <cerrno>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

uint32_t RandSeed = 0;

namespace {

std::function<uint32_t()>& RandomizeSource() {
  static std::function<uint32_t()> source;
  return source;
}

uint32_t ClockLow32() {
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  return static_cast<uint32_t>(ticks);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

char DecimalSeparator() {
  const std::lconv* conv = std::localeconv();
  if (conv && conv->decimal_point && conv->decimal_point[0] != '\0') return conv->decimal_point[0];
  return '.';
}

}  // namespace

void Randomize() {
  const auto& source = RandomizeSource();
  RandSeed = source ? source() : ClockLow32();
}

void SetRandomizeSource(std::function<uint32_t()> source) { RandomizeSource() = std::move(source); }

std::string InvalidIntegerMessage(const std::string& text) { return "'" + text + "' is not a valid integer value"; }

int32_t StrToInt(const std::string& text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const size_t firstDigit = i;
  int64_t magnitude = 0;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  while (i < n && text[i] >= '0' && text[i] <= '9') {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > kLimit) throw EConvertError(InvalidIntegerMessage(text));
    ++i;
  }
  const bool hasDigits = i > firstDigit;
  while (i < n && IsBlank(text[i])) ++i;
  if (!hasDigits || i != n) throw EConvertError(InvalidIntegerMessage(text));
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<int32_t>::max()) throw EConvertError(InvalidIntegerMessage(text));
  return static_cast<int32_t>(value);
}

std::string IntToStr(int32_t value) { return std::to_string(value); }

std::string FloatToStr(long double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15Lg", value);
  return buffer;  // snprintf already writes the locale's separator
}

long double StrToFloat(const std::string& text) {
  const std::string message = "'" + text + "' is not a valid floating point value";
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  const std::string trimmed = text.substr(begin, end - begin);
  if (trimmed.empty()) throw EConvertError(message);
  // Only digits, one sign, the separator and an exponent are accepted, so
  // that "nan", "inf" and hexadecimal forms are refused as the integer reader does.
  const char separator = DecimalSeparator();
  for (char c : trimmed) {
    const bool ok = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == 'e' || c == 'E' || c == separator;
    if (!ok) throw EConvertError(message);
  }
  errno = 0;
  char* stop = nullptr;
  const long double value = std::strtold(trimmed.c_str(), &stop);
  if (stop != trimmed.c_str() + trimmed.size() || errno == ERANGE || !std::isfinite(value)) {
    throw EConvertError(message);
  }
  return value;
}
