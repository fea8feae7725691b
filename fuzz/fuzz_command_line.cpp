// Fuzz target for the command line of pathwick_run. The input is read twice:
// as arguments separated by NUL bytes, and whole as the one argument of
// --job, as pathwick_sweep passes a job-list line.
//
// A refusal is one line with the refusal status. A --grid command that is
// accepted gives one job line per combination and seed, each a single line
// that parses back to a run of exactly the settings, seed and outputs the
// grid meant. An accepted run resolves to a plan or a one-line refusal.
#include <QApplication>
#include <QByteArray>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "CellForm.h"
#include "Dialogs.h"
#include "Grid.h"
#include "Options.h"
#include "Plan.h"
#include "Runtime.h"
#include "Settings.h"

namespace {

// Larger job lists are sound but slow to parse back line by line.
constexpr qsizetype kLargestCheckedList = 256;

QApplication* app = nullptr;
TSettingValues defaults{};

[[noreturn]] void Fail(const char* what, const QStringList& arguments, const QString& detail = {}) {
  std::fprintf(stderr, "command line fault: %s\n", what);
  for (const QString& a : arguments) std::fprintf(stderr, "  argument: '%s'\n", qPrintable(a));
  if (!detail.isEmpty()) std::fprintf(stderr, "  %s\n", qPrintable(detail));
  std::abort();
}

void CheckRefusal(const TError& error, const QStringList& arguments) {
  if (error.message.isEmpty()) Fail("a refusal without a message", arguments);
  if (error.message.contains(QLatin1Char('\n')) || error.message.contains(QLatin1Char('\r')))
    Fail("a refusal of more than one line", arguments, error.message);
  if (error.status != kExitRefused) Fail("a refusal with another status", arguments, error.message);
}

// Files are read while resolving a plan; the fuzzer names none.
bool ReadsFiles(const TRunOptions& run) { return !run.config.isEmpty() || !run.from.isEmpty(); }

// The options a job line must give back: the grid's own, the combination's
// varied settings and the line's seed.
void CheckJobLine(const TCommand& grid, const QString& line, qsizetype index, qsizetype seedCount,
                  const QStringList& arguments) {
  if (line.contains(QLatin1Char('\n')) || line.contains(QLatin1Char('\r')))
    Fail("a job line holds a line break", arguments, line);
  const QStringList again{QStringLiteral("--job"), line};
  const TResult<TCommand> parsed = ParseCommandLine(again);
  if (!parsed) Fail("a job line of --grid is refused", arguments, line + QStringLiteral(": ") + parsed.Error().message);
  if (parsed->kind != TCommandKind::kRun) Fail("a job line is not a run", arguments, line);

  TRunOptions expected = grid.run;
  qsizetype combination = index / seedCount;
  for (qsizetype v = grid.vary.size() - 1; v >= 0; --v) {
    const TVary& vary = grid.vary[v];
    expected.settings[vary.setting] = vary.values[combination % vary.values.size()];
    combination /= vary.values.size();
  }
  if (!grid.seeds.isEmpty()) expected.seed = grid.seeds[index % seedCount];

  const TRunOptions& got = parsed->run;
  if (got.settings != expected.settings) Fail("a job line's settings differ", arguments, line);
  if (got.steps != expected.steps || got.seed != expected.seed)
    Fail("a job line's steps or seed differ", arguments, line);
  if (got.histograms != expected.histograms || got.plot != expected.plot || got.births != expected.births ||
      got.keepCheckpoints != expected.keepCheckpoints)
    Fail("a job line's flags differ", arguments, line);
  if (got.snapshotEvery != expected.snapshotEvery || got.checkpointEvery != expected.checkpointEvery ||
      got.pictureScale != expected.pictureScale || got.videoEvery != expected.videoEvery ||
      got.agentsEvery != expected.agentsEvery || got.fieldEvery != expected.fieldEvery)
    Fail("a job line's output intervals differ", arguments, line);
  if (got.video != expected.video)
    Fail("a job line's video differs", arguments, line + QStringLiteral(" / ") + got.video);
}

void CheckGrid(const TCommand& grid, const QStringList& arguments) {
  if (ReadsFiles(grid.run)) return;
  qsizetype combinations = 1;
  for (const TVary& vary : grid.vary) {
    if (vary.values.isEmpty()) Fail("a --vary without values was accepted", arguments);
    combinations *= vary.values.size();
    if (combinations > kLargestCheckedList) return;
  }
  const qsizetype seedCount = grid.seeds.isEmpty() ? 1 : grid.seeds.size();
  if (combinations * seedCount > kLargestCheckedList) return;

  const TResult<TJobList> list = BuildJobList(grid, defaults);
  if (!list) {
    CheckRefusal(list.Error(), arguments);
    return;
  }
  if (list->lines.size() != combinations * seedCount) Fail("a job list of the wrong length", arguments);
  for (qsizetype i = 0; i < list->lines.size(); ++i) CheckJobLine(grid, list->lines[i], i, seedCount, arguments);
}

void Check(const QStringList& arguments) {
  const TResult<TCommand> command = ParseCommandLine(arguments);
  if (!command) {
    CheckRefusal(command.Error(), arguments);
    return;
  }
  if (command->kind == TCommandKind::kGrid) {
    CheckGrid(*command, arguments);
  } else if ((command->kind == TCommandKind::kRun || command->kind == TCommandKind::kShow) &&
             !ReadsFiles(command->run)) {
    // The target the program resolves the plan for.
    const TPlanTarget target = command->kind == TCommandKind::kShow ? TPlanTarget::kWindow
                               : command->out.isEmpty()             ? TPlanTarget::kStandardOutput
                                                                    : TPlanTarget::kFolder;
    const TResult<TRunPlan> plan = ResolvePlan(command->run, defaults, target);
    if (!plan) CheckRefusal(plan.Error(), arguments);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int qtArgc = 1;
  static char name[] = "fuzz_command_line";
  static char* qtArgv[] = {name, nullptr};
  app = new QApplication(qtArgc, qtArgv);
  SetMessageSink([](const std::string& text) {
    std::fprintf(stderr, "command line fault: the window reported '%s'\n", text.c_str());
    std::abort();
  });
  // The defaults of a run are the controls of a new window, as pathwick_run reads them.
  TForm1 form;
  form.Timer1->stop();
  defaults = ReadSettings(form);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  QStringList arguments;
  for (const QByteArray& part : bytes.split('\0')) arguments << QString::fromUtf8(part);
  Check(arguments);
  Check({QStringLiteral("--job"), QString::fromUtf8(bytes)});
  return 0;
}
