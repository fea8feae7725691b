// How every part of pathwick_run reports a failure: a value, or one line
// saying what went wrong with the exit status it ends the program with.
#pragma once

#include <QString>
#include <utility>
#include <variant>

// The program's exit statuses.
inline constexpr int kExitDone = 0;     // done, also when interrupted; --verify: every file identical
inline constexpr int kExitFailed = 1;   // a run failed; --verify: a file differs
inline constexpr int kExitRefused = 2;  // the command line or an input file was refused; nothing was written

struct TError {
  QString message;  // one line, without the program's name
  int status = kExitRefused;
};

// A message quotes what it was given (an argument, a file's text), so it is
// kept to one line: a control character it quotes is written as \n, \r or \xNN.
inline QString OneLine(QString message) {
  for (qsizetype i = 0; i < message.size(); ++i) {
    const char16_t c = message[i].unicode();
    if (c >= 0x20 && c != 0x7f) continue;
    const QString escaped = c == u'\n'   ? QStringLiteral("\\n")
                            : c == u'\r' ? QStringLiteral("\\r")
                                         : QStringLiteral("\\x%1").arg(static_cast<int>(c), 2, 16, QLatin1Char('0'));
    message.replace(i, 1, escaped);
    i += escaped.size() - 1;
  }
  return message;
}

inline TError Refused(QString message) { return {OneLine(std::move(message)), kExitRefused}; }
inline TError Failed(QString message) { return {OneLine(std::move(message)), kExitFailed}; }

// Either a T or the error that kept it from being made.
template <class T>
class [[nodiscard]] TResult {
 public:
  TResult(T value) : state_(std::move(value)) {}       // NOLINT: a value converts
  TResult(TError error) : state_(std::move(error)) {}  // NOLINT: so does an error

  bool Ok() const { return state_.index() == 0; }
  explicit operator bool() const { return Ok(); }
  T& operator*() { return std::get<0>(state_); }
  const T& operator*() const { return std::get<0>(state_); }
  T* operator->() { return &std::get<0>(state_); }
  const T* operator->() const { return &std::get<0>(state_); }
  const TError& Error() const { return std::get<1>(state_); }

 private:
  std::variant<T, TError> state_;
};

// A step that gives nothing back but may fail.
struct TDone {};
using TStatus = TResult<TDone>;
inline TStatus Success() { return TDone{}; }
