#include "Options.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <limits>
#include <optional>

#include "Checkpoint.h"
#include "RunRecord.h"
#include "SeedRule.h"

namespace {

constexpr qsizetype kMaxJobLines = 1000000;

const char* const kDescription =
    "Runs one world of Pathwick without a window: the same window class, the same passes, offscreen.\n"
    "With --out DIR it writes DIR/run.json and DIR/series.csv (a sample every 100 steps), and on\n"
    "request histograms and pictures; without --out it prints the series to standard output.\n"
    "\n"
    "Seeds: --seed S sets the generator to S just before the world is set up, so the ten home\n"
    "points depend on S; the k-th reseed after that (k = 1, 2, ..., at every place where the window\n"
    "reads the clock) sets it to (S + k x 2654435761) mod 2^32. Without --seed a seed is taken from\n"
    "the clock and recorded in run.json. The same seed and settings give byte-identical data files.";

const char* const kEpilog =
    "\nSettings are written as the window's captions show them: the rates as fractions with at most\n"
    "two decimals (0.5, 0.01), the rest as whole numbers. Flags take on/off in --vary.\n"
    "\n"
    "Sweeps: --grid --vary evaporation-rate=0.3,0.5 --vary sniff=hill,roulette --seeds 1-10 --steps 50000\n"
    "prints one job line per run; scripts/sweep.sh JOBS OUTDIR runs such a list with GNU parallel.\n"
    "\n"
    "Ctrl-C or SIGTERM ends a run at the current step: the samples so far are kept and run.json\n"
    "records \"ended\": \"interrupted\".\n"
    "\n"
    "Exit status: 0 done (also when interrupted), 1 the run failed (a file could not be written, the\n"
    "world reported a fault), 2 the command line or a record was refused; nothing was written.\n";

struct TRunOption {
  const char* name;
  const char* valueName;  // empty: a flag
  const char* description;
};

constexpr TRunOption kRunOptions[] = {
    {"steps", "N", "steps to run, 1 to 2147483647 (default: 10000)"},
    {"seed", "S", "the run's seed, 0 to 4294967295 (default: from the clock, recorded)"},
    {"out", "DIR", "write the run's folder DIR (default: the series to standard output)"},
    {"force", "", "replace a run already in DIR"},
    {"histograms", "", "also write genes_hist.csv: agents at each gene value, every sample"},
    {"plot", "", "also write genes.png and genes.svg (the gene chart) and final.png (the grid)"},
    {"snapshot-every", "K", "also write snapshots/step-NNNNNNN.png every K steps, and final.png"},
    {"config", "FILE", "repeat the run recorded in FILE (a run.json); options given beside it override it"},
    {"checkpoint-every", "K",
     "write checkpoint.pwk in the run's folder every K steps, after the last step, and when interrupted"},
    {"from", "FILE", "continue the world saved in the checkpoint FILE for --steps more steps; rate options branch it"},
    {"quiet", "", "no progress line on standard error (it shows only on a terminal anyway)"},
    {"show", "", "open the same seeded run in the window instead of running it here"},
    {"grid", "", "print a job list: the product of the --vary values and the --seeds"},
    {"vary", "NAME=V1,V2,...", "for --grid: a setting and its values; may be given for several settings"},
    {"seeds", "LIST", "for --grid: seeds as ranges and single values, e.g. 1-10 or 1,4,9-12"},
    {"job", "LINE", "the options of one job-list line as one argument (scripts/sweep.sh uses it)"},
    {"summarize", "DIR",
     "write DIR/summary.csv, samples.csv, groups.csv and summary.png/.svg from the run folders in DIR, and "
     "compare the groups (comparison.csv, printed) when one setting varies"},
    {"window", "K", "for --summarize: final values are also the mean of each run's last K samples"},
};

QString Dashed(const QString& name) { return QStringLiteral("--") + name; }

// A word a job line can hold: quoted when it has blanks or quotes.
QString ShellWord(const QString& word) {
  static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=+,-]+$"));
  if (plain.match(word).hasMatch()) return word;
  QString quoted = word;
  quoted.replace(QLatin1Char('"'), QStringLiteral("\"\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

void AddOptions(QCommandLineParser& parser, const TSettingValues& defaults) {
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.setApplicationDescription(QLatin1String(kDescription));
  parser.addHelpOption();
  parser.addVersionOption();
  for (const TRunOption& o : kRunOptions) {
    parser.addOption(
        QCommandLineOption(QLatin1String(o.name), QLatin1String(o.description), QLatin1String(o.valueName)));
  }
  const auto specs = SettingSpecs();
  for (size_t i = 0; i < specs.size(); ++i) {
    const TSettingSpec& spec = specs[i];
    QString text = QLatin1String(spec.meaning);
    if (spec.kind == TSettingKind::kFlag) {
      text += QStringLiteral(" (default: %1)").arg(FormatSettingValue(spec, defaults[i]));
      parser.addOption(QCommandLineOption(QLatin1String(spec.option), text));
    } else {
      text += QStringLiteral("; %1 (default: %2)").arg(AcceptedValues(spec), FormatSettingValue(spec, defaults[i]));
      const QString valueName = spec.kind == TSettingKind::kSniff        ? QStringLiteral("MODE")
                                : spec.kind == TSettingKind::kHundredths ? QStringLiteral("R")
                                                                         : QStringLiteral("N");
      parser.addOption(QCommandLineOption(QLatin1String(spec.option), text, valueName));
    }
  }
}

// A whole number written in decimal digits only, within min..max.
std::optional<qint64> ParseWhole(const QString& text, qint64 min, qint64 max) {
  static const QRegularExpression digits(QStringLiteral("^[0-9]{1,10}$"));
  if (!digits.match(text).hasMatch()) return std::nullopt;
  const qint64 value = text.toLongLong();
  if (value < min || value > max) return std::nullopt;
  return value;
}

QString Refuse(const QString& option, const QString& accepts, const QString& text) {
  return QStringLiteral("%1 takes %2, not '%3'").arg(Dashed(option), accepts, text);
}

// "1-10,15" -> 1..10, 15.
std::optional<QList<uint32_t>> ParseSeedList(const QString& text) {
  QList<uint32_t> seeds;
  constexpr qint64 kMaxSeed = std::numeric_limits<uint32_t>::max();
  for (const QString& part : text.split(QLatin1Char(','))) {
    const QStringList ends = part.split(QLatin1Char('-'));
    if (ends.size() > 2) return std::nullopt;
    const auto first = ParseWhole(ends.front(), 0, kMaxSeed);
    const auto last = ParseWhole(ends.back(), 0, kMaxSeed);
    if (!first || !last || *last < *first || seeds.size() + (*last - *first) >= kMaxJobLines) return std::nullopt;
    for (qint64 s = *first; s <= *last; ++s) seeds.append(static_cast<uint32_t>(s));
  }
  return seeds;
}

// Replaces --job LINE by the words of LINE, split as a shell splits words
// (quotes, no expansion).
std::optional<QStringList> ExpandJob(const QStringList& arguments, QString* error) {
  QStringList expanded;
  QString line;
  int jobs = 0;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (a == QLatin1String("--job") || a == QLatin1String("-job")) {
      if (i + 1 >= arguments.size()) break;  // the parser reports the missing value
      line = arguments[++i];
      ++jobs;
    } else if (a.startsWith(QLatin1String("--job="))) {
      line = a.mid(6);
      ++jobs;
    } else {
      expanded << a;
    }
  }
  if (jobs == 0) return std::nullopt;
  if (jobs > 1) {
    *error = QStringLiteral("--job is given more than once");
    return std::nullopt;
  }
  const QStringList words = QProcess::splitCommand(line);
  for (const QString& w : words) {
    for (const char* reserved : {"--out", "--job", "--grid", "--summarize", "--show", "--force"}) {
      if (w == QLatin1String(reserved) || w.startsWith(QLatin1String(reserved) + QLatin1Char('='))) {
        *error = QStringLiteral("a job line may not hold %1, but this one does: %2").arg(QLatin1String(reserved), line);
        return std::nullopt;
      }
    }
  }
  return expanded + words;
}

class TReader {
 public:
  TReader(QCommandLineParser& parser, const TSettingValues& defaults) : parser_(parser), defaults_(defaults) {}

  TParseResult Read() {
    TParseResult result;
    TCommand& c = result.command;
    if (parser_.isSet(QStringLiteral("help"))) {
      c.kind = TCommandKind::kHelp;
      return result;
    }
    if (parser_.isSet(QStringLiteral("version"))) {
      c.kind = TCommandKind::kVersion;
      return result;
    }
    if (!parser_.positionalArguments().isEmpty()) {
      result.error =
          QStringLiteral("unexpected argument '%1'; options start with --").arg(parser_.positionalArguments().front());
      return result;
    }
    const QStringList names = parser_.optionNames();
    for (const QString& name : names) {
      if (name != QLatin1String("vary") && names.count(name) > 1) {
        result.error = QStringLiteral("%1 is given more than once").arg(Dashed(name));
        return result;
      }
    }
    if (Set("summarize")) {
      for (const QString& name : names) {
        if (name != QLatin1String("summarize") && name != QLatin1String("quiet") && name != QLatin1String("window")) {
          result.error = QStringLiteral("--summarize takes no other options, but %1 is given").arg(Dashed(name));
          return result;
        }
      }
      c.kind = TCommandKind::kSummarize;
      c.folder = parser_.value(QStringLiteral("summarize"));
      result.error = ReadCount("window", c.window);
      return result;
    }
    if (Set("window")) {
      result.error = QStringLiteral("--window is for --summarize");
      return result;
    }
    result.error = ReadPlan(c);
    if (!result.error.isEmpty()) return result;
    if (Set("grid")) {
      result.error = ReadGrid(c);
    } else if (Set("vary") || Set("seeds")) {
      result.error = QStringLiteral("%1 is for job lists: give --grid too").arg(Set("vary") ? "--vary" : "--seeds");
    } else if (Set("show")) {
      c.kind = TCommandKind::kShow;
      if (Set("out") || Set("force"))
        result.error = QStringLiteral("--show opens the window and writes nothing: leave out --out");
    } else {
      result.error = ReadOutputs(c);
    }
    return result;
  }

 private:
  bool Set(const char* name) const { return parser_.isSet(QLatin1String(name)); }
  QString Value(const char* name) const { return parser_.value(QLatin1String(name)); }

  // A count option, 1 to 2147483647, into `count` when it is given.
  QString ReadCount(const char* name, int32_t& count) const {
    if (!Set(name)) return {};
    const auto value = ParseWhole(Value(name), 1, std::numeric_limits<int32_t>::max());
    if (!value) return Refuse(QLatin1String(name), QStringLiteral("a whole number from 1 to 2147483647"), Value(name));
    count = static_cast<int32_t>(*value);
    return {};
  }

  QString ReadPlan(TCommand& c) const {
    TRunPlan& plan = c.plan;
    plan.settings = defaults_;
    plan.steps = kDefaultSteps;
    plan.seedFromClock = true;
    if (Set("config")) {
      if (Set("grid")) return QStringLiteral("--config and --grid cannot be combined");
      if (QString error = ReadRunPlan(Value("config"), plan); !error.isEmpty())
        return QStringLiteral("--config: ") + error;
    }
    if (Set("from")) plan.fromPath = Value("from");
    if (!plan.fromPath.isEmpty()) {
      if (QString error = ReadFrom(plan); !error.isEmpty()) return error;
    }
    const auto specs = SettingSpecs();
    for (size_t i = 0; i < specs.size(); ++i) {
      const QString option = QLatin1String(specs[i].option);
      if (!parser_.isSet(option)) continue;
      if (specs[i].kind == TSettingKind::kFlag) {
        if (plan.from && specs[i].fixedAtSetup && plan.settings[i] != 1) {
          return QStringLiteral("%1 is fixed when the world is set up: the checkpoint has it off").arg(Dashed(option));
        }
        plan.settings[i] = 1;
        continue;
      }
      const QString text = parser_.value(option);
      const auto value = ParseSettingValue(specs[i], text);
      if (!value) return Refuse(option, AcceptedValues(specs[i]), text);
      if (plan.from && specs[i].fixedAtSetup && *value != plan.settings[i]) {
        return QStringLiteral("%1 is fixed when the world is set up: the checkpoint has %2, not %3")
            .arg(Dashed(option), FormatSettingValue(specs[i], plan.settings[i]), text);
      }
      plan.settings[i] = *value;
    }
    if (QString error = ReadCount("steps", plan.steps); !error.isEmpty()) return error;
    if (Set("seed")) {
      const auto seed = ParseWhole(Value("seed"), 0, std::numeric_limits<uint32_t>::max());
      if (!seed)
        return Refuse(QStringLiteral("seed"), QStringLiteral("a whole number from 0 to 4294967295"), Value("seed"));
      plan.seed = static_cast<uint32_t>(*seed);
      plan.seedFromClock = false;
      if (plan.from) plan.branchSeed = true;
    }
    if (QString error = ReadCount("checkpoint-every", plan.checkpointEvery); !error.isEmpty()) return error;
    if (QString error = ReadCount("snapshot-every", plan.snapshotEvery); !error.isEmpty()) return error;
    if (Set("histograms")) plan.histograms = true;
    if (Set("plot")) plan.plot = true;
    c.quiet = Set("quiet");
    return {};
  }

  // The checkpoint of --from (or of a record's "from"): its settings become
  // the run's, its seed rule continues unless a seed is given.
  static QString ReadFrom(TRunPlan& plan) {
    QString error;
    auto checkpoint = ReadCheckpoint(plan.fromPath, &error, &plan.fromChecksum);
    if (!checkpoint) return QStringLiteral("--from: ") + error;
    plan.settings = checkpoint->settings;
    if (!plan.branchSeed) {
      plan.seed = checkpoint->seed;
      plan.seedFromClock = false;
    }
    plan.fromPath = QFileInfo(plan.fromPath).absoluteFilePath();
    plan.from = std::make_shared<TCheckpoint>(std::move(*checkpoint));
    return {};
  }

  QString ReadOutputs(TCommand& c) const {
    c.kind = TCommandKind::kRun;
    c.out = Value("out");
    c.force = Set("force");
    if (Set("out") && c.out.isEmpty()) return QStringLiteral("--out takes a folder, not ''");
    if (c.out.isEmpty()) {
      if (c.force) return QStringLiteral("--force replaces a run folder: give --out DIR");
      if (c.plan.histograms) return QStringLiteral("--histograms writes files: give --out DIR");
      if (c.plan.checkpointEvery > 0) return QStringLiteral("--checkpoint-every writes files: give --out DIR");
      if (c.plan.Pictures()) return QStringLiteral("pictures are written into the run's folder: give --out DIR");
    }
    return {};
  }

  QString ReadGrid(TCommand& c) const {
    for (const char* other : {"out", "force", "show", "config"}) {
      if (Set(other)) return QStringLiteral("--grid prints a job list and takes no --%1").arg(QLatin1String(other));
    }
    c.kind = TCommandKind::kGrid;
    const auto specs = SettingSpecs();
    // The options every line holds: the ones given, as given.
    QStringList fixed;
    std::array<bool, kSettingCount> varied{};
    QList<QPair<size_t, QStringList>> axes;
    for (const QString& vary : parser_.values(QStringLiteral("vary"))) {
      const qsizetype eq = vary.indexOf(QLatin1Char('='));
      const auto index = FindSetting(vary.left(eq));
      if (eq < 0 || !index) {
        return QStringLiteral("--vary takes NAME=V1,V2,... with NAME a setting such as evaporation-rate, not '%1'")
            .arg(vary);
      }
      if (varied[*index]) return QStringLiteral("--vary names %1 twice").arg(QLatin1String(specs[*index].option));
      if (parser_.isSet(QLatin1String(specs[*index].option))) {
        return QStringLiteral("%1 is both given and varied").arg(Dashed(QLatin1String(specs[*index].option)));
      }
      varied[*index] = true;
      QStringList values;
      for (const QString& text : vary.mid(eq + 1).split(QLatin1Char(','))) {
        const auto value = ParseSettingValue(specs[*index], text);
        if (!value)
          return Refuse(QStringLiteral("vary ") + QLatin1String(specs[*index].option), AcceptedValues(specs[*index]),
                        text);
        values << OptionWords(specs[*index], *value);
      }
      axes.append({*index, values});
    }
    for (size_t i = 0; i < specs.size(); ++i) {
      if (parser_.isSet(QLatin1String(specs[i].option))) fixed << OptionWords(specs[i], c.plan.settings[i]);
    }
    if (Set("steps")) fixed << QStringLiteral("--steps %1").arg(c.plan.steps);
    if (c.plan.histograms) fixed << QStringLiteral("--histograms");
    if (c.plan.plot) fixed << QStringLiteral("--plot");
    if (c.plan.snapshotEvery > 0) fixed << QStringLiteral("--snapshot-every %1").arg(c.plan.snapshotEvery);
    if (c.plan.checkpointEvery > 0) fixed << QStringLiteral("--checkpoint-every %1").arg(c.plan.checkpointEvery);
    if (Set("from")) fixed << QStringLiteral("--from ") + ShellWord(c.plan.fromPath);
    QStringList seedWords;
    if (Set("seeds")) {
      if (Set("seed")) return QStringLiteral("--seed and --seeds cannot be combined");
      const auto seeds = ParseSeedList(Value("seeds"));
      if (!seeds)
        return Refuse(QStringLiteral("seeds"), QStringLiteral("seeds 0 to 4294967295 as A-B ranges or single values"),
                      Value("seeds"));
      for (uint32_t s : *seeds) seedWords << QStringLiteral("--seed %1").arg(s);
    } else if (Set("seed")) {
      seedWords << QStringLiteral("--seed %1").arg(c.plan.seed);
    } else {
      seedWords << QString();
    }
    // The product, the first --vary outermost and the seeds innermost.
    QStringList lines{fixed.join(QLatin1Char(' '))};
    for (const auto& [index, values] : axes) {
      QStringList grown;
      for (const QString& line : lines) {
        for (const QString& words : values) grown << (line + QLatin1Char(' ') + words).trimmed();
        if (grown.size() > kMaxJobLines)
          return QStringLiteral("the job list would have more than %1 lines").arg(kMaxJobLines);
      }
      lines = grown;
    }
    for (const QString& line : lines) {
      for (const QString& seed : seedWords) {
        c.jobLines << (line + QLatin1Char(' ') + seed).trimmed();
        if (c.jobLines.size() > kMaxJobLines)
          return QStringLiteral("the job list would have more than %1 lines").arg(kMaxJobLines);
      }
    }
    return {};
  }

  // A setting as options on a job line; a flag that is off is left out.
  static QString OptionWords(const TSettingSpec& spec, int32_t value) {
    if (spec.kind == TSettingKind::kFlag) return value != 0 ? Dashed(QLatin1String(spec.option)) : QString();
    return Dashed(QLatin1String(spec.option)) + QLatin1Char(' ') + FormatSettingValue(spec, value);
  }

  QCommandLineParser& parser_;
  const TSettingValues& defaults_;
};

}  // namespace

TParseResult ParseCommandLine(const QStringList& arguments, const TSettingValues& defaults) {
  QString jobError;
  const std::optional<QStringList> expanded = ExpandJob(arguments, &jobError);
  if (!jobError.isEmpty()) return {{}, jobError};
  QCommandLineParser parser;
  AddOptions(parser, defaults);
  if (!parser.parse(QStringList{QStringLiteral("pathwick_run")} + expanded.value_or(arguments))) {
    QString error = parser.errorText();
    if (!error.isEmpty()) error[0] = error[0].toLower();
    return {{}, error + QStringLiteral(" See pathwick_run --help.")};
  }
  return TReader(parser, defaults).Read();
}

QString HelpText(const TSettingValues& defaults) {
  QCommandLineParser parser;
  AddOptions(parser, defaults);
  // The usage line names the program, not the path it was started from.
  QString text = parser.helpText();
  const qsizetype endOfUsage = text.indexOf(QLatin1Char('\n'));
  text.replace(0, endOfUsage, QStringLiteral("Usage: pathwick_run [options]"));
  return text + QLatin1String(kEpilog);
}
