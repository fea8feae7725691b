// Steps per second of the real window with its 1 ms timer running, next to
// the tick rate of a bare 1 ms timer measured in the same run.
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "CellForm.h"
#include "Runtime.h"

namespace {

constexpr int kRounds = 7;
constexpr int kRoundMs = 1000;
constexpr int kWarmUpSteps = 2000;

void RunEventLoopFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}

double BareTimerTicksPerSecond() {
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  timer.setInterval(1);
  long ticks = 0;
  QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
  QElapsedTimer clock;
  timer.start();
  clock.start();
  RunEventLoopFor(kRoundMs);
  timer.stop();
  return ticks * 1000.0 / clock.elapsed();
}

double WindowStepsPerSecond(TForm1& form) {
  const int start = stepCount;
  QElapsedTimer clock;
  form.Timer1->start();
  clock.start();
  RunEventLoopFor(kRoundMs);
  form.Timer1->stop();
  return (stepCount - start) * 1000.0 / clock.elapsed();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Rounds of the bare timer and of the window alternate, so both see the
// same machine; the medians are compared.
void Report(const char* name, int cellSizeSetting, int agentCount) {
  auto form = std::make_unique<TForm1>();
  form->Timer1->stop();
  form->Edit_size->setText(QString::number(cellSizeSetting));
  form->Edit_anzAg->setText(QString::number(agentCount));
  form->B_setupClick();
  form->show();
  for (int i = 0; i < kWarmUpSteps; ++i) form->DoStep();
  QApplication::processEvents();
  std::vector<double> bare;
  std::vector<double> window;
  for (int round = 0; round < kRounds; ++round) {
    bare.push_back(BareTimerTicksPerSecond());
    window.push_back(WindowStepsPerSecond(*form));
  }
  const double b = Median(bare);
  const double w = Median(window);
  std::printf("%-26s bare 1 ms timer %7.1f ticks/s   window %7.1f steps/s   ratio %.3f\n", name, b, w, w / b);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  SetGeneratorStartState();
  uint32_t clock = 1;
  SetRandomizeSource([clock]() mutable { return clock++ * 2654435761u; });
  Report("default world (6, 200)", 6, 200);
  Report("cell size 1, 200 agents", 1, 200);
  return 0;
}
