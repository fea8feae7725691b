// The command line of pathwick_run: options that mirror the window's
// controls, the run's own options, job lists for sweeps and summaries.
#pragma once

#include <QString>
#include <QStringList>

#include "Experiment.h"

enum class TCommandKind { kRun, kShow, kGrid, kSummarize, kHelp, kVersion };

struct TCommand {
  TCommandKind kind = TCommandKind::kRun;
  TRunPlan plan;
  QString out;  // empty: the series goes to standard output
  bool force = false;
  bool quiet = false;
  QStringList jobLines;  // kGrid: the job list to print
  QString folder;        // kSummarize: the sweep's folder
  int32_t window = 0;    // kSummarize: samples a final mean spans (0: the last only)
};

struct TParseResult {
  TCommand command;
  QString error;  // one line; the program exits with status 2
};

inline constexpr int32_t kDefaultSteps = 10000;

// Parses `arguments` (without the program name). `defaults` are the window's
// settings as a new window holds them.
TParseResult ParseCommandLine(const QStringList& arguments, const TSettingValues& defaults);

// --help: every option with its default, the seed rule and the exit statuses.
QString HelpText(const TSettingValues& defaults);
