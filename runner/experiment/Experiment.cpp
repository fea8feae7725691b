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

}  // namespace

TMessageCatcher::TMessageCatcher() {
  SetMessageSink([this](const std::string& text) {
    if (first_.isEmpty()) first_ = QString::fromStdString(text);
  });
}

TMessageCatcher::~TMessageCatcher() { SetMessageSink({}); }

std::unique_ptr<TForm1> NewRunWindow() {
  auto form = std::make_unique<TForm1>(TForm1::TNoFirstWorld{});
  form->Timer1->stop();
  return form;
}

TRunUnderWay::TRunUnderWay(TForm1& form, const TRunPlan& plan, const TRunObserver& observer)
    : form_(form), plan_(plan), observer_(observer) {
  form_.Timer1->stop();
  form_.onSample = nullptr;
  form_.onBirth = nullptr;
}

TRunUnderWay::~TRunUnderWay() {
  form_.onSample = nullptr;
  form_.onBirth = nullptr;
}

TStatus TRunUnderWay::Prepare(std::optional<TCheckpoint> from) {
  if (from) {
    previous_.tripsTotal = from->sampledTrips;
    previous_.birthsTotal = from->sampledBirths;
  }
  if (TStatus prepared = PrepareWorld(form_, plan_, std::move(from), rule_); !prepared) return prepared;
  if (TStatus sound = Fault(); !sound) return sound;
  form_.Cb_cellUpdt->setChecked(!plan_.Pictures());
  form_.CB_hideAgs->setChecked(true);
  Hook();
  return Success();
}

void TRunUnderWay::Hook() {
  form_.onSample = [this](int32_t avgAngle, int32_t avgWiggle) {
    if (sampled_) sampled_ = Sampled(avgAngle, avgWiggle);
  };
  if (plan_.births && observer_.birth) {
    form_.onBirth = [this](const TBirth& birth) { observer_.birth(stepCount, birth, form_); };
  }
}

TStatus TRunUnderWay::Sampled(int32_t avgAngle, int32_t avgWiggle) {
  previous_ = TakeSample(form_, avgAngle, avgWiggle, previous_);
  if (observer_.sample) {
    if (TStatus kept = observer_.sample(previous_); !kept) return kept;
  }
  if (plan_.histograms && observer_.histogram) {
    if (TStatus kept = observer_.histogram(stepCount, TakeHistogram(form_)); !kept) return kept;
  }
  if (plan_.agentsEvery > 0 && stepCount % plan_.agentsEvery == 0 && observer_.agents) {
    observer_.agents(stepCount, form_);
  }
  if (plan_.fieldEvery > 0 && stepCount % plan_.fieldEvery == 0 && observer_.field) {
    observer_.field(stepCount, form_);
  }
  return Success();
}

TStatus TRunUnderWay::Step(int32_t last) {
  const int32_t next = stepCount + 1;
  const bool picture =
      plan_.Pictures() && observer_.picture && ((next == last && plan_.FinalPicture()) || plan_.PictureDue(next));
  // The agents are drawn only for the step whose picture is taken.
  if (picture) form_.CB_hideAgs->setChecked(false);
  form_.DoStep();
  if (picture) form_.CB_hideAgs->setChecked(true);
  if (TStatus sound = Fault(); !sound) return sound;
  if (picture) {
    if (TStatus taken = observer_.picture(stepCount, GridPicture(form_), stepCount == last); !taken) return taken;
  }
  if (plan_.checkpointEvery > 0 && (stepCount % plan_.checkpointEvery == 0 || stepCount == last)) {
    if (TStatus saved = Checkpoint(); !saved) return saved;
  }
  if (observer_.progress) observer_.progress(stepCount);
  return Success();
}

TStatus TRunUnderWay::EndInterrupted() {
  if (plan_.FinalPicture() && observer_.picture) {
    form_.CB_hideAgs->setChecked(false);
    form_.DrawAgentLayer();
    form_.CB_hideAgs->setChecked(true);
    if (TStatus taken = observer_.picture(stepCount, GridPicture(form_), true); !taken) return taken;
  }
  if (plan_.checkpointEvery > 0) return Checkpoint();
  return Success();
}

TStatus TRunUnderWay::Checkpoint() {
  if (!observer_.checkpoint) return Success();
  return observer_.checkpoint(form_, Rule());
}

TStatus TRunUnderWay::Fault() const {
  if (!messages_.First().isEmpty()) return Failed(QStringLiteral("the world failed: ") + messages_.First());
  return sampled_;
}

TCheckpointRule TRunUnderWay::Rule() const {
  return {rule_->Seed(), rule_->Reseeds(), previous_.tripsTotal, previous_.birthsTotal};
}

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
  TRunUnderWay run(form, plan, observer);
  if (TStatus prepared = run.Prepare(std::move(plan.from)); !prepared) return prepared.Error();
  TRunOutcome outcome;
  outcome.firstStep = stepCount;
  const int64_t end = static_cast<int64_t>(stepCount) + plan.steps;
  // A run that cannot make its steps is an error, not a shorter run.
  if (end > INT32_MAX) {
    return Failed(QStringLiteral("the world is at step %1: %2 steps more would pass the step counter's limit")
                      .arg(stepCount)
                      .arg(plan.steps));
  }
  const int32_t last = static_cast<int32_t>(std::min<int64_t>(end, INT32_MAX));
  // A repeat of an interrupted run stops where that run was stopped, the same way.
  const int64_t stop = plan.interruptedAfter ? static_cast<int64_t>(stepCount) + *plan.interruptedAfter : end;
  while (stepCount < last && stepCount < stop && !StopRequested()) {
    if (TStatus stepped = run.Step(last); !stepped) return stepped.Error();
  }
  outcome.endStep = stepCount;
  outcome.interrupted = stepCount < last;
  if (outcome.interrupted) {
    if (TStatus ended = run.EndInterrupted(); !ended) return ended.Error();
  }
  return outcome;
}
