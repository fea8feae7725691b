// The progress line: step, steps per second and the time left, redrawn on
// standard error a few times a second, only when that is a terminal.
#pragma once

#include <QElapsedTimer>
#include <cstdint>

class TProgress {
 public:
  TProgress(bool enabled, int32_t firstStep, int32_t lastStep);
  ~TProgress();  // clears the line
  TProgress(const TProgress&) = delete;
  TProgress& operator=(const TProgress&) = delete;

  void Update(int32_t step) {
    if (enabled_ && (step & kCheckMask) == 0 && clock_.elapsed() >= nextMs_) Show(step);
  }

 private:
  static constexpr int32_t kCheckMask = 63;  // the clock is read every 64 steps
  static constexpr qint64 kIntervalMs = 250;
  void Show(int32_t step);

  bool enabled_;
  int32_t firstStep_;
  int32_t lastStep_;
  QElapsedTimer clock_;
  qint64 nextMs_ = 0;
  bool shown_ = false;
};
