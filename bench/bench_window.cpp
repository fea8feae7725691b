// Steps per second of the real window with its 1 ms timer running, next to
// the tick rate of a bare 1 ms timer measured in the same run.
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "CellForm.h"
#include "Runtime.h"

namespace {

constexpr int kMeasureMs = 4000;
constexpr int kWarmUpSteps = 2000;

double BareTimerTicksPerSecond() {
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  timer.setInterval(1);
  long ticks = 0;
  QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
  QElapsedTimer clock;
  timer.start();
  clock.start();
  while (clock.elapsed() < kMeasureMs) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  timer.stop();
  return ticks * 1000.0 / clock.elapsed();
}

double WindowStepsPerSecond(int cellSizeSetting, int agentCount) {
  auto form = std::make_unique<TForm1>();
  form->Timer1->stop();
  form->Edit_size->setText(QString::number(cellSizeSetting));
  form->Edit_anzAg->setText(QString::number(agentCount));
  form->B_setupClick();
  form->show();
  for (int i = 0; i < kWarmUpSteps; ++i) form->DoStep();
  QApplication::processEvents();
  const int start = stepCount;
  QElapsedTimer clock;
  form->Timer1->start();
  clock.start();
  while (clock.elapsed() < kMeasureMs) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  form->Timer1->stop();
  return (stepCount - start) * 1000.0 / clock.elapsed();
}

void Report(const char* name, int cellSizeSetting, int agents) {
  const double bare = BareTimerTicksPerSecond();
  const double steps = WindowStepsPerSecond(cellSizeSetting, agents);
  std::printf("%-28s bare 1 ms timer %7.1f ticks/s   window %7.1f steps/s   ratio %.3f\n", name, bare, steps,
              steps / bare);
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
