#include "Progress.h"

#include <unistd.h>

#include <cstdio>

TProgress::TProgress(bool enabled, int32_t firstStep, int32_t lastStep)
    : enabled_(enabled && isatty(STDERR_FILENO) == 1), firstStep_(firstStep), lastStep_(lastStep) {
  clock_.start();
  nextMs_ = kIntervalMs;
}

TProgress::~TProgress() {
  if (shown_) std::fprintf(stderr, "\r\033[K");
}

void TProgress::Show(int32_t step) {
  const double seconds = static_cast<double>(clock_.elapsed()) / 1000;
  const double rate = seconds > 0 ? (step - firstStep_) / seconds : 0;
  const double left = rate > 0 ? (lastStep_ - step) / rate : 0;
  std::fprintf(stderr, "\rstep %d of %d, %.0f steps/s, %.0f s left\033[K", step, lastStep_, rate, left);
  std::fflush(stderr);
  shown_ = true;
  nextMs_ = clock_.elapsed() + kIntervalMs;
}
