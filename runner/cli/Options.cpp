#include "Options.h"

#include <QCommandLineParser>
#include <QProcess>
#include <QRegularExpression>
#include <limits>
#include <optional>

#include "RunSpec.h"

namespace {

const char* const kDescription =
    "Runs one world of Pathwick without a window: the same window class, the same passes, offscreen.\n"
    "With --out DIR it writes DIR/run.json and DIR/series.csv (a sample every 100 steps), and on\n"
    "request histograms and pictures; without --out it prints the series to standard output.\n"
    "\n"
    "A record repeats its run: --config DIR/run.json gives the same data files byte for byte (a\n"
    "branch with its own rates and seed; an interrupted run up to the step where it stopped), and\n"
    "--verify DIR repeats the run in a temporary folder and compares every file run.json lists.\n"
    "\n"
    "Seeds: --seed S sets the generator to S just before the world is set up, so the ten home\n"
    "points depend on S; the k-th reseed after that (k = 1, 2, ..., at every place where the window\n"
    "reads the clock) sets it to (S + k x 2654435761) mod 2^32. Without --seed a seed is taken from\n"
    "the clock and recorded in run.json. The same seed and settings give byte-identical data files.";

const char* const kEpilog =
    "\nSettings are written as the window's captions show them: the rates as fractions with at most\n"
    "two decimals (0.5, 0.01), the rest as whole numbers. Flags take on or off (--diffuse off); a\n"
    "flag given bare means on. run.json and summary.csv also record what the model makes of the\n"
    "settings (evaporation_amount: chemical removed per step, or the fraction kept under --diffuse).\n"
    "\n"
    "Sweeps: --grid --vary evaporation-rate=0.3,0.5 --vary sniff=hill,roulette --seeds 1-10 --steps 50000\n"
    "prints one job line per run, every varied setting written out; pathwick_sweep JOBS OUTDIR runs\n"
    "such a list with GNU parallel. It warns on standard error when varied values come to the same\n"
    "effective setting, and refuses to vary a setting that --from fixes.\n"
    "\n"
    "Each mode refuses the options it would ignore: --show takes the settings, --seed, --steps,\n"
    "--config and --from; --grid takes neither --out, --force, --config nor --quiet; --summarize\n"
    "and --verify take only --quiet.\n"
    "\n"
    "Ctrl-C or SIGTERM ends a run at the current step: the samples so far are kept and run.json\n"
    "records \"ended\": \"interrupted\".\n"
    "\n"
    "Exit status:\n"
    "  0  done (also when interrupted); --verify: every file is identical\n"
    "  1  the run failed (a file could not be written, the world reported a fault), and nothing\n"
    "     was left behind; --verify: a file differs, the first one is named\n"
    "  2  refused: the command line, a record, a checkpoint (changed, missing or damaged), a folder\n"
    "     that holds no run (--verify, --summarize) or already holds one; nothing was written\n";

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
    {"plot", "",
     "also write genes.png and genes.svg (the mean genes), with --histograms genes_hist.png and .svg (their "
     "distribution), and final.png (the grid)"},
    {"snapshot-every", "K", "also write snapshots/step-NNNNNNN.png every K steps, and final.png"},
    {"picture-scale", "N", "magnify snapshots, final.png and video frames N times, 1 to 8 (default: 1)"},
    {"video", "FILE",
     "also write a video of the grid into the run's folder as FILE: NAME.mp4 (H.264) or NAME.webm (VP9), "
     "encoded by ffmpeg"},
    {"video-every", "K", "for --video: a frame after every K-th step (default: 10)"},
    {"agents-every", "K", "also write agents.csv.gz: every agent at every K-th step, K a multiple of 100"},
    {"births", "", "also write births.csv.gz: every birth with its parents, crossover cut and mutation"},
    {"config", "FILE",
     "repeat the run recorded in FILE (a run.json), its checkpoint checked by its SHA-256; options given beside it "
     "override it"},
    {"checkpoint-every", "K",
     "write checkpoint.pwk in the run's folder every K steps, after the last step, and when interrupted"},
    {"keep-checkpoints", "", "keep every checkpoint as checkpoints/step-NNNNNNN.pwk instead of one checkpoint.pwk"},
    {"from", "FILE", "continue the world saved in the checkpoint FILE for --steps more steps; rate options branch it"},
    {"quiet", "", "no progress line on standard error (it shows only on a terminal anyway)"},
    {"show", "", "open the same seeded run in the window instead of running it here; with --steps it stops there"},
    {"grid", "", "print a job list: the product of the --vary values and the --seeds"},
    {"vary", "NAME=V1,V2,...", "for --grid: a setting and its values; may be given for several settings"},
    {"seeds", "LIST", "for --grid: seeds as ranges and single values, e.g. 1-10 or 1,4,9-12"},
    {"job", "LINE", "the options of one job-list line as one argument (pathwick_sweep uses it)"},
    {"summarize", "DIR",
     "write DIR/summary.csv, samples.csv, groups.csv and summary.png/.svg from the run folders in DIR, and "
     "compare the groups (comparison.csv, printed) when one setting varies"},
    {"window", "K", "for --summarize: final values are also the mean of each run's last K samples"},
    {"verify", "DIR", "repeat the run recorded in DIR in a temporary folder and compare every file's SHA-256"},
};

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
    text += QStringLiteral("; %1%2 (default: %3)")
                .arg(AcceptedValues(spec), spec.kind == TSettingKind::kFlag ? QStringLiteral(", bare: on") : QString(),
                     FormatSettingValue(spec, defaults[i]));
    const QString valueName = spec.kind == TSettingKind::kSniff        ? QStringLiteral("MODE")
                              : spec.kind == TSettingKind::kHundredths ? QStringLiteral("R")
                              : spec.kind == TSettingKind::kFlag       ? QStringLiteral("on|off")
                                                                       : QStringLiteral("N");
    parser.addOption(QCommandLineOption(QLatin1String(spec.option), text, valueName));
  }
}

// A flag written bare (--diffuse) means on: it becomes --diffuse=on, and
// --diffuse off becomes --diffuse=off, so that the parser sees one form.
QStringList SpellFlagsOut(const QStringList& arguments) {
  QStringList spelled;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    const TSettingSpec* flag = nullptr;
    for (const TSettingSpec& spec : SettingSpecs()) {
      const QString option = QLatin1String(spec.option);
      if (spec.kind == TSettingKind::kFlag && (a == Dashed(option) || a == QLatin1Char('-') + option)) flag = &spec;
    }
    if (!flag) {
      spelled << a;
      continue;
    }
    const bool valued = i + 1 < arguments.size() && ParseSettingValue(*flag, arguments[i + 1]).has_value();
    spelled << a + QLatin1Char('=') + (valued ? arguments[++i] : QStringLiteral("on"));
  }
  return spelled;
}

// A whole number written in decimal digits only, within min..max.
std::optional<qint64> ParseWhole(const QString& text, qint64 min, qint64 max) {
  static const QRegularExpression digits(QStringLiteral("^[0-9]{1,10}$"));
  if (!digits.match(text).hasMatch()) return std::nullopt;
  const qint64 value = text.toLongLong();
  if (value < min || value > max) return std::nullopt;
  return value;
}

TError Refuse(const QString& option, const QString& accepts, const QString& text) {
  return Refused(QStringLiteral("%1 takes %2, not '%3'").arg(Dashed(option), accepts, text));
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
// (quotes, no expansion); the arguments as they are without --job.
TResult<QStringList> ExpandJob(const QStringList& arguments) {
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
  if (jobs == 0) return arguments;
  if (jobs > 1) return Refused(QStringLiteral("--job is given more than once"));
  const QStringList words = QProcess::splitCommand(line);
  for (const QString& w : words) {
    for (const char* reserved : {"--out", "--job", "--grid", "--summarize", "--verify", "--show", "--force"}) {
      if (w == QLatin1String(reserved) || w.startsWith(QLatin1String(reserved) + QLatin1Char('='))) {
        return Refused(QStringLiteral("a job line may not hold %1, but this one does: %2").arg(QLatin1String(reserved), line));
      }
    }
  }
  return expanded + words;
}

// The options each mode takes besides the settings; anything else given
// with it would be ignored, so it is refused.
// clang-format off
constexpr const char* kRunTakes[] = {
    "steps", "seed", "out", "force", "histograms", "plot", "snapshot-every", "config", "from", "quiet",
    "checkpoint-every", "keep-checkpoints", "picture-scale", "video", "video-every", "agents-every", "births"};
constexpr const char* kShowTakes[] = {"steps", "seed", "config", "from"};
constexpr const char* kGridTakes[] = {
    "vary", "seeds", "steps", "seed", "histograms", "plot", "snapshot-every", "from",
    "checkpoint-every", "keep-checkpoints", "picture-scale", "video", "video-every", "agents-every", "births"};
// clang-format on
constexpr const char* kVerifyTakes[] = {"quiet"};
constexpr const char* kSummarizeTakes[] = {"quiet", "window"};

// The modes, by the option that chooses each; a run when none is given.
struct TMode {
  const char* option;  // nullptr: a run
  TCommandKind kind;
  bool takesSettings;
  std::span<const char* const> takes;  // besides the mode's own option
};
constexpr TMode kModes[] = {
    {"summarize", TCommandKind::kSummarize, false, kSummarizeTakes},
    {"verify", TCommandKind::kVerify, false, kVerifyTakes},
    {"grid", TCommandKind::kGrid, true, kGridTakes},
    {"show", TCommandKind::kShow, true, kShowTakes},
    {nullptr, TCommandKind::kRun, true, kRunTakes},
};

class TOptionReader {
 public:
  explicit TOptionReader(QCommandLineParser& parser) : parser_(parser) {}

  TResult<TCommand> Read() {
    TCommand c;
    if (Set("help")) {
      c.kind = TCommandKind::kHelp;
      return c;
    }
    if (Set("version")) {
      c.kind = TCommandKind::kVersion;
      return c;
    }
    if (!parser_.positionalArguments().isEmpty()) {
      return Refused(
          QStringLiteral("unexpected argument '%1'; options start with --").arg(parser_.positionalArguments().front()));
    }
    const QStringList names = parser_.optionNames();
    for (const QString& name : names) {
      if (name != QLatin1String("vary") && names.count(name) > 1)
        return Refused(QStringLiteral("%1 is given more than once").arg(Dashed(name)));
    }
    if ((Set("vary") || Set("seeds")) && !Set("grid"))
      return Refused(QStringLiteral("%1 is for job lists: give --grid too").arg(Set("vary") ? "--vary" : "--seeds"));
    const TMode* mode = &kModes[std::size(kModes) - 1];
    for (const TMode& m : kModes) {
      if (m.option && Set(m.option)) {
        mode = &m;
        break;
      }
    }
    if (TStatus only = OnlyTakes(*mode); !only) return only.Error();
    c.kind = mode->kind;
    c.quiet = Set("quiet");
    if (!mode->takesSettings) {  // a folder of runs
      c.folder = Value(mode->option);
      if (c.folder.isEmpty())
        return Refused(QStringLiteral("%1 takes a folder, not ''").arg(Dashed(QLatin1String(mode->option))));
      TResult<std::optional<int32_t>> window = ReadCount("window");
      if (!window) return window.Error();
      c.window = window->value_or(0);
      return c;
    }
    if (TStatus read = ReadRun(c.run); !read) return read.Error();
    if (c.kind == TCommandKind::kGrid) {
      if (TStatus read = ReadGrid(c); !read) return read.Error();
    } else if (c.kind == TCommandKind::kRun) {
      if (TStatus read = ReadOutputs(c); !read) return read.Error();
    }
    return c;
  }

 private:
  bool Set(const char* name) const { return parser_.isSet(QLatin1String(name)); }
  QString Value(const char* name) const { return parser_.value(QLatin1String(name)); }

  // Refuses every option given that the mode would ignore.
  TStatus OnlyTakes(const TMode& mode) const {
    for (const QString& name : parser_.optionNames()) {
      bool taken = (mode.option && name == QLatin1String(mode.option)) || (mode.takesSettings && FindSetting(name));
      for (const char* t : mode.takes) taken = taken || name == QLatin1String(t);
      if (taken) continue;
      const QString what = mode.option ? Dashed(QLatin1String(mode.option)) : QStringLiteral("a run");
      return Refused(QStringLiteral("%1 does not take %2").arg(what, Dashed(name)));
    }
    return Success();
  }

  // A count option, 1 to 2147483647, when it is given.
  TResult<std::optional<int32_t>> ReadCount(const char* name) const {
    if (!Set(name)) return std::optional<int32_t>();
    const auto value = ParseWhole(Value(name), 1, std::numeric_limits<int32_t>::max());
    if (!value) return Refuse(QLatin1String(name), QStringLiteral("a whole number from 1 to 2147483647"), Value(name));
    return std::optional<int32_t>(static_cast<int32_t>(*value));
  }

  TStatus ReadRun(TRunOptions& run) const {
    const auto specs = SettingSpecs();
    for (size_t i = 0; i < specs.size(); ++i) {
      const QString option = QLatin1String(specs[i].option);
      if (!parser_.isSet(option)) continue;
      const QString text = parser_.value(option);
      run.settings[i] = ParseSettingValue(specs[i], text);
      if (!run.settings[i]) return Refuse(option, AcceptedValues(specs[i]), text);
    }
    for (auto [name, count] :
         {std::pair{"steps", &run.steps}, std::pair{"checkpoint-every", &run.checkpointEvery},
          std::pair{"snapshot-every", &run.snapshotEvery}, std::pair{"video-every", &run.videoEvery},
          std::pair{"agents-every", &run.agentsEvery}}) {
      TResult<std::optional<int32_t>> value = ReadCount(name);
      if (!value) return value.Error();
      *count = *value;
    }
    if (Set("seed")) {
      const auto seed = ParseWhole(Value("seed"), 0, std::numeric_limits<uint32_t>::max());
      if (!seed)
        return Refuse(QStringLiteral("seed"), QStringLiteral("a whole number from 0 to 4294967295"), Value("seed"));
      run.seed = static_cast<uint32_t>(*seed);
    }
    run.histograms = Set("histograms");
    run.plot = Set("plot");
    run.births = Set("births");
    run.keepCheckpoints = Set("keep-checkpoints");
    if (Set("picture-scale")) {
      const auto scale = ParseWhole(Value("picture-scale"), kMinPictureScale, kMaxPictureScale);
      if (!scale) {
        return Refuse(QStringLiteral("picture-scale"), QStringLiteral("a whole number from 1 to 8"),
                      Value("picture-scale"));
      }
      run.pictureScale = static_cast<int32_t>(*scale);
    }
    run.video = Value("video");
    if (Set("video") && run.video.isEmpty()) return Refused(QStringLiteral("--video takes a file name, not ''"));
    for (auto [name, path] : {std::pair{"config", &run.config}, std::pair{"from", &run.from}}) {
      *path = Value(name);
      if (Set(name) && path->isEmpty()) return Refused(QStringLiteral("--%1 takes a file, not ''").arg(QLatin1String(name)));
    }
    return Success();
  }

  TStatus ReadOutputs(TCommand& c) const {
    c.out = Value("out");
    c.force = Set("force");
    if (Set("out") && c.out.isEmpty()) return Refused(QStringLiteral("--out takes a folder, not ''"));
    if (c.out.isEmpty() && c.force) return Refused(QStringLiteral("--force replaces a run folder: give --out DIR"));
    return Success();
  }

  TStatus ReadGrid(TCommand& c) const {
    const auto specs = SettingSpecs();
    std::array<bool, kSettingCount> varied{};
    for (const QString& vary : parser_.values(QStringLiteral("vary"))) {
      const qsizetype eq = vary.indexOf(QLatin1Char('='));
      const auto index = FindSetting(vary.left(eq));
      if (eq < 0 || !index) {
        return Refused(
            QStringLiteral("--vary takes NAME=V1,V2,... with NAME a setting such as evaporation-rate, not '%1'").arg(vary));
      }
      const TSettingSpec& spec = specs[*index];
      if (varied[*index]) return Refused(QStringLiteral("--vary names %1 twice").arg(QLatin1String(spec.option)));
      if (c.run.settings[*index])
        return Refused(QStringLiteral("%1 is both given and varied").arg(Dashed(QLatin1String(spec.option))));
      varied[*index] = true;
      TVary axis{*index, {}};
      for (const QString& text : vary.mid(eq + 1).split(QLatin1Char(','))) {
        const auto value = ParseSettingValue(spec, text);
        if (!value) return Refuse(QStringLiteral("vary ") + QLatin1String(spec.option), AcceptedValues(spec), text);
        axis.values << *value;
      }
      c.vary << axis;
    }
    if (Set("seeds")) {
      if (Set("seed")) return Refused(QStringLiteral("--seed and --seeds cannot be combined"));
      const auto seeds = ParseSeedList(Value("seeds"));
      if (!seeds)
        return Refuse(QStringLiteral("seeds"), QStringLiteral("seeds 0 to 4294967295 as A-B ranges or single values"),
                      Value("seeds"));
      c.seeds = *seeds;
    }
    return Success();
  }

  QCommandLineParser& parser_;
};

}  // namespace

TResult<TCommand> ParseCommandLine(const QStringList& arguments) {
  TResult<QStringList> expanded = ExpandJob(arguments);
  if (!expanded) return expanded.Error();
  QCommandLineParser parser;
  AddOptions(parser, {});
  if (!parser.parse(QStringList{QStringLiteral("pathwick_run")} + SpellFlagsOut(*expanded))) {
    QString error = parser.errorText();
    if (!error.isEmpty()) error[0] = error[0].toLower();
    return Refused(error + QStringLiteral(" See pathwick_run --help."));
  }
  return TOptionReader(parser).Read();
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
