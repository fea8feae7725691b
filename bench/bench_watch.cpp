// What watching a run costs: the agent table of a million agents against
// the steps between two tables, and the lineage against the same steps
// without it. Each figure is a median of rounds that alternate with their
// baseline in this one run of the program.
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScrollBar>
#include <QTemporaryDir>
#include <cstdio>

#include "AgentTable.h"
#include "Lineage.h"
#include "runner_bench_support.h"

namespace {

constexpr int kRounds = 3;
constexpr int kTableAgents = 1000000;
constexpr int kTableEvery = 1000;  // steps between two tables, as measured
constexpr int kStepsTimed = 10;    // headless steps timed per round, scaled to kTableEvery
constexpr int kLineageAgents = 10000;
constexpr int kLineageSteps = 2000;

double Seconds(const QElapsedTimer& clock) { return static_cast<double>(clock.nsecsElapsed()) / 1e9; }

// Headless steps of a world, timed; births counted on the side when `lineage`.
double TimeSteps(TForm1& form, int steps, TLineage* lineage) {
  if (lineage) {
    form.onBirth = [&](const TBirth& birth) {
      runner_bench::Checked(lineage->Write(stepCount, birth, form), "births");
    };
  }
  QElapsedTimer clock;
  clock.start();
  for (int i = 0; i < steps; ++i) form.DoStep();
  const double seconds = Seconds(clock);
  form.onBirth = nullptr;
  return seconds;
}

void AgentTable(const QTemporaryDir& tmp) {
  auto form = runner_bench::HeadlessWorld(1, kTableAgents, 20);
  std::vector<double> table;
  std::vector<double> steps;
  qint64 bytes = 0;
  for (int round = 0; round < kRounds; ++round) {
    const QString path = tmp.filePath(QStringLiteral("agents-%1.csv.gz").arg(round));
    TAgentTable writer = runner_bench::Checked(TAgentTable::Open(path), "the agent table");
    QElapsedTimer clock;
    clock.start();
    runner_bench::Checked(writer.Write(stepCount, *form), "the agent table");
    runner_bench::Checked(writer.Close(), "the agent table");
    table.push_back(Seconds(clock));
    bytes = QFileInfo(path).size();
    steps.push_back(TimeSteps(*form, kStepsTimed, nullptr) / kStepsTimed);
  }
  const double t = runner_bench::Median(table);
  const double between = runner_bench::Median(steps) * kTableEvery;
  std::printf("agent table, %d agents: %.2f s, %.1f MB (%.1f bytes a row); %d headless steps: %.1f s; cost %.2f %%\n",
              kTableAgents, t, bytes / 1e6, static_cast<double>(bytes) / kTableAgents, kTableEvery, between,
              100 * t / between);
}

void Lineage(const QTemporaryDir& tmp) {
  std::vector<double> with;
  std::vector<double> without;
  int64_t births = 0;
  for (int round = 0; round < kRounds; ++round) {
    for (bool recorded : {true, false}) {
      auto form = runner_bench::HeadlessWorld(1, kLineageAgents, 1);
      form->SB_strenght->setValue(100);  // costly moves: many births
      const int64_t before = form->births;
      TLineage lineage =
          runner_bench::Checked(TLineage::Open(tmp.filePath(QStringLiteral("births-%1.csv.gz").arg(round))), "births");
      (recorded ? with : without).push_back(TimeSteps(*form, kLineageSteps, recorded ? &lineage : nullptr));
      runner_bench::Checked(lineage.Close(), "births");
      births = form->births - before;
    }
  }
  const double w = runner_bench::Median(with);
  const double wo = runner_bench::Median(without);
  std::printf("lineage, %d agents at cell size 1, %d steps, %lld births: %.3f s with, %.3f s without; cost %.1f %%\n",
              kLineageAgents, kLineageSteps, static_cast<long long>(births), w, wo, 100 * (w - wo) / wo);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir tmp;
  Lineage(tmp);
  AgentTable(tmp);
  return 0;
}
