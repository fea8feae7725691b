#include "Experiment.h"

#include <QCheckBox>
#include <QPixmap>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <optional>
#include <string>

#include "CellForm.h"
#include "Checkpoint.h"
#include "Dialogs.h"
#include "Panel.h"
#include "SeedRule.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void OnStopSignal(int) { stopRequested = 1; }

// Collects what the world reports while the run lasts, instead of message boxes.
class TMessageCatcher {
 public:
  TMessageCatcher() {
    SetMessageSink([this](const std::string& text) {
      if (first_.isEmpty()) first_ = QString::fromStdString(text);
    });
  }
  ~TMessageCatcher() { SetMessageSink({}); }
  TMessageCatcher(const TMessageCatcher&) = delete;
  TMessageCatcher& operator=(const TMessageCatcher&) = delete;
  const QString& First() const { return first_; }

 private:
  QString first_;
};

}  // namespace

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void RequestStop() { stopRequested = 1; }
bool StopRequested() { return stopRequested != 0; }
void ClearStopRequest() { stopRequested = 0; }

QImage GridPicture(TForm1& form) { return form.ZeichenPanel->grab().toImage(); }

TStatus PrepareWorld(TForm1& form, const TRunSpec& spec, std::optional<TCheckpoint> from,
                     std::optional<TSeedRule>& rule) {
  if (from) {
    const uint32_t seed = spec.branchSeed ? spec.seed : from->seed;
    const uint64_t reseeds = spec.branchSeed ? 0 : from->reseeds;
    if (TStatus restored = RestoreCheckpoint(form, std::move(*from)); !restored) return restored;
    rule.emplace(seed, reseeds, TGeneratorStart::kKeep);
    ApplySettings(form, spec.settings);  // the rates of a branch
    return Success();
  }
  rule.emplace(spec.seed);
  SetUpWorld(form, spec.settings);
  if (!form.WorldExists()) return Failed(QStringLiteral("the world could not be set up"));
  return Success();
}

TResult<TRunOutcome> RunExperiment(TForm1& form, TRunPlan plan, const TRunObserver& observer) {
  TMessageCatcher messages;
  TRunOutcome outcome;
  form.Timer1->stop();
  form.onSample = nullptr;
  form.onBirth = nullptr;
  const auto fault = [&](const QString& message) {
    form.onSample = nullptr;
    form.onBirth = nullptr;
    return Failed(QStringLiteral("the world failed: ") + message);
  };

  // 1. The world: set up under the seed rule, or continued from a checkpoint.
  TSample previous;
  if (plan.from) {
    previous.tripsTotal = plan.from->sampledTrips;
    previous.birthsTotal = plan.from->sampledBirths;
  }
  std::optional<TSeedRule> rule;
  if (TStatus prepared = PrepareWorld(form, plan, std::move(plan.from), rule); !prepared) return prepared.Error();
  if (!messages.First().isEmpty()) return fault(messages.First());
  form.Cb_cellUpdt->setChecked(!plan.Pictures());
  form.CB_hideAgs->setChecked(true);
  form.onSample = [&](int32_t avgAngle, int32_t avgWiggle) {
    previous = TakeSample(form, avgAngle, avgWiggle, previous);
    if (observer.sample) observer.sample(previous);
    if (plan.histograms && observer.histogram) observer.histogram(stepCount, TakeHistogram(form));
    if (plan.agentsEvery > 0 && stepCount % plan.agentsEvery == 0 && observer.agents) observer.agents(stepCount, form);
  };
  if (plan.births && observer.birth) {
    form.onBirth = [&](const TBirth& birth) { observer.birth(stepCount, birth, form); };
  }
  const auto checkpoint = [&] {
    if (observer.checkpoint) {
      observer.checkpoint(form, {rule->Seed(), rule->Reseeds(), previous.tripsTotal, previous.birthsTotal});
    }
  };

  // 2. The steps, with pictures and checkpoints where they are due.
  outcome.firstStep = stepCount;
  const int64_t end = static_cast<int64_t>(stepCount) + plan.steps;
  const int32_t last = static_cast<int32_t>(std::min<int64_t>(end, INT32_MAX));
  // A repeat of an interrupted run stops where that run was stopped, the same way.
  const int64_t stop = plan.interruptedAfter ? static_cast<int64_t>(stepCount) + *plan.interruptedAfter : end;
  while (stepCount < last && stepCount < stop && !StopRequested()) {
    const int32_t next = stepCount + 1;
    const bool picture =
        plan.Pictures() && observer.picture && ((next == last && plan.FinalPicture()) || plan.PictureDue(next));
    // The agents are drawn only for the step whose picture is taken.
    if (picture) form.CB_hideAgs->setChecked(false);
    form.DoStep();
    if (picture) form.CB_hideAgs->setChecked(true);
    if (!messages.First().isEmpty()) return fault(messages.First());
    if (picture) observer.picture(stepCount, GridPicture(form), stepCount == last);
    if (plan.checkpointEvery > 0 && (stepCount % plan.checkpointEvery == 0 || stepCount == last)) checkpoint();
    if (observer.progress) observer.progress(stepCount);
  }

  // 3. An interrupted run ends with the picture and checkpoint of its last step.
  outcome.endStep = stepCount;
  outcome.interrupted = stepCount < last;
  if (outcome.interrupted && plan.FinalPicture() && observer.picture) {
    form.CB_hideAgs->setChecked(false);
    form.DrawAgentLayer();
    form.CB_hideAgs->setChecked(true);
    observer.picture(stepCount, GridPicture(form), true);
  }
  if (outcome.interrupted && plan.checkpointEvery > 0) checkpoint();
  form.onSample = nullptr;
  form.onBirth = nullptr;
  return outcome;
}
