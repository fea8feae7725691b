// Soak driver: builds a world in the real window (offscreen unless a platform
// is set), runs DoStep in a loop and reports resident memory (VmRSS) after
// the setup, along the way and at the end. The window is shown and its
// events are processed every few steps, so painting takes part as well.
//
//   pathwick_soak [--steps N] [--cell-size S] [--agents A] [--report-every K] [--warm-step W] [--hidden]
//
// --hidden leaves the window unshown, so nothing is painted: what grows then
// is the world's own state, not the painting caches.
// Resident memory is taken after the setup, at step W (default: the smaller
// of 50000 and N / 2; by then the chart holds all of its points, which end
// at step 49800) and at the end. Prints one "key=value" line at the end;
// scripts/soak.sh judges it.
#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "CellForm.h"
#include "Dialogs.h"
#include "Runtime.h"

namespace {

// Resident and peak resident memory of this process in KiB.
long StatusKiB(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t keyLength = std::strlen(key);
  while (std::getline(status, line)) {
    if (line.compare(0, keyLength, key) == 0 && line.size() > keyLength && line[keyLength] == ':') {
      return std::strtol(line.c_str() + keyLength + 1, nullptr, 10);
    }
  }
  return -1;
}

bool HasFlag(int argc, char** argv, const char* name) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return true;
  }
  return false;
}

long ArgValue(int argc, char** argv, const char* name, long fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return std::strtol(argv[i + 1], nullptr, 10);
  }
  return fallback;
}

constexpr int kEventsEvery = 50;  // steps between two rounds of event processing

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const long steps = ArgValue(argc, argv, "--steps", 1000000);
  const long size = ArgValue(argc, argv, "--cell-size", 6);
  const long agentCount = ArgValue(argc, argv, "--agents", 200);
  const long reportEvery = ArgValue(argc, argv, "--report-every", steps / 10 > 0 ? steps / 10 : 1);
  const long warmStep = ArgValue(argc, argv, "--warm-step", std::min(50000L, steps / 2));

  SetGeneratorStartState();
  QApplication app(argc, argv);
  std::vector<std::string> messages;
  SetMessageSink([&messages](const std::string& text) { messages.push_back(text); });

  TForm1 form;
  form.Timer1->stop();
  if (!HasFlag(argc, argv, "--hidden")) form.show();
  if (size != 6 || agentCount != 200) {
    form.Edit_size->setText(QString::number(size));
    form.Edit_anzAg->setText(QString::number(agentCount));
    form.B_setupClick();
  }
  if (!messages.empty() || !form.WorldExists()) {
    std::fprintf(stderr, "soak: setup failed: %s\n", messages.empty() ? "no world" : messages.front().c_str());
    return 2;
  }
  QApplication::processEvents();
  const long rssSetup = StatusKiB("VmRSS");
  std::printf("soak: cell size %d (%d x %d cells), %zu agents, %ld steps\n", cellSize, gridCols, gridRows,
              form.agents.size(), steps);
  std::printf("soak: step %10d  VmRSS %8ld KiB  (after setup)\n", stepCount, rssSetup);
  std::fflush(stdout);

  const auto start = std::chrono::steady_clock::now();
  long rssWarm = rssSetup;
  for (long i = 1; i <= steps; ++i) {
    form.DoStep();
    if (i % kEventsEvery == 0) QApplication::processEvents();
    if (i == warmStep) rssWarm = StatusKiB("VmRSS");
    if (i % reportEvery == 0) {
      std::printf("soak: step %10d  VmRSS %8ld KiB\n", stepCount, StatusKiB("VmRSS"));
      std::fflush(stdout);
    }
  }
  QApplication::processEvents();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long rssEnd = StatusKiB("VmRSS");
  const long rssPeak = StatusKiB("VmHWM");
  const bool counted = stepCount == steps;
  std::printf(
      "soak-result cell_size=%d agents=%zu steps=%d rss_setup_kib=%ld warm_step=%ld rss_warm_kib=%ld "
      "rss_end_kib=%ld rss_peak_kib=%ld growth_kib=%ld growth_after_warm_kib=%ld seconds=%.1f messages=%zu\n",
      cellSize, form.agents.size(), stepCount, rssSetup, warmStep, rssWarm, rssEnd, rssPeak, rssEnd - rssSetup,
      rssEnd - rssWarm, seconds, messages.size());
  for (const auto& m : messages) std::fprintf(stderr, "soak: message: %s\n", m.c_str());
  SetMessageSink({});
  return counted && messages.empty() ? 0 : 1;
}
