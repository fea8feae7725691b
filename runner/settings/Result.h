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

inline TError Refused(QString message) { return {std::move(message), kExitRefused}; }
inline TError Failed(QString message) { return {std::move(message), kExitFailed}; }

// Either a T or the error that kept it from being made.
template <class T>
class [[nodiscard]] TResult {
 public:
  TResult(T value) : state_(std::move(value)) {}  // NOLINT: a value converts
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
