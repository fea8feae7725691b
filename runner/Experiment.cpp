#include "Experiment.h"

#include <QCheckBox>
#include <QPixmap>
#include <QTimer>
#include <csignal>
#include <string>

#include "CellForm.h"
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

TRunOutcome RunExperiment(TForm1& form, const TRunPlan& plan, const TRunObserver& observer) {
  TMessageCatcher messages;
  TRunOutcome outcome;
  form.Timer1->stop();
  ApplySettings(form, plan.settings);
  form.Cb_cellUpdt->setChecked(!plan.Pictures());
  form.CB_hideAgs->setChecked(true);

  TSample previous;
  form.onSample = [&](int32_t avgAngle, int32_t avgWiggle) {
    previous = TakeSample(form, avgAngle, avgWiggle, previous);
    if (observer.sample) observer.sample(previous);
    if (plan.histograms && observer.histogram) observer.histogram(stepCount, TakeHistogram(form));
  };

  TSeedRule rule(plan.seed);
  form.B_setupClick();
  if (!form.WorldExists()) {
    form.onSample = nullptr;
    outcome.error = messages.First().isEmpty() ? QStringLiteral("the world could not be set up") : messages.First();
    return outcome;
  }

  const int32_t last = stepCount + plan.steps;
  while (stepCount < last && !StopRequested()) {
    const int32_t next = stepCount + 1;
    const bool picture = plan.Pictures() && observer.picture &&
                         (next == last || (plan.snapshotEvery > 0 && next % plan.snapshotEvery == 0));
    // The agents are drawn only for the step whose picture is taken.
    if (picture) form.CB_hideAgs->setChecked(false);
    form.DoStep();
    if (picture) form.CB_hideAgs->setChecked(true);
    if (!messages.First().isEmpty()) {
      outcome.error = messages.First();
      break;
    }
    if (picture) observer.picture(stepCount, GridPicture(form), stepCount == last);
    if (observer.progress) observer.progress(stepCount);
  }
  outcome.stepsDone = stepCount;
  outcome.interrupted = stepCount < last && outcome.error.isEmpty();
  if (outcome.interrupted && plan.Pictures() && observer.picture) {
    // The last completed step, with the agents where they now stand.
    form.CB_hideAgs->setChecked(false);
    form.DrawAgentLayer();
    form.CB_hideAgs->setChecked(true);
    observer.picture(stepCount, GridPicture(form), true);
  }
  form.onSample = nullptr;
  return outcome;
}
