#include "Options.h"

#include <QCommandLineParser>
#include <QProcess>
#include <QRegularExpression>
#include <algorithm>
#include <iterator>
#include <limits>
#include <optional>
#include <string_view>
#include <type_traits>

#include "BoundedFile.h"
#include "Design.h"
#include "RunRecord.h"
#include "SeriesMeasures.h"

namespace {

const char* const kDescription =
    "Runs one world of Pathwick without a window: the same window class, the same passes, offscreen.\n"
    "With --out DIR it writes DIR/run.json and DIR/series.csv (a sample every 100 steps), and on\n"
    "request histograms and pictures; without --out it prints the series to standard output.\n"
    "\n"
    "A record repeats its run: --config DIR/run.json gives the same data files byte for byte (a\n"
    "branch with its own rates and seed; an interrupted run up to the step where it stopped), and\n"
    "--verify DIR repeats the run in a temporary folder and compares every file run.json lists; of a\n"
    "folder of runs (a sweep) it checks every run's files and repeats a sample, each in a process.\n"
    "\n"
    "Seeds: --seed S sets the generator to S just before the world is set up, so the ten home\n"
    "points depend on S; the k-th reseed after that (k = 1, 2, ..., at every place where the window\n"
    "reads the clock) sets it to (S + k x 2654435761) mod 2^32. Without --seed a seed is taken from\n"
    "the clock and recorded in run.json. The same seed and settings give byte-identical data files.";

// The epilog of --help; the paragraph on what each mode takes is made from
// the option table and goes between the two halves.
const char* const kEpilogSettings =
    "\nSettings are written as the window's captions show them: the rates as fractions with at most\n"
    "two decimals (0.5, 0.01), the rest as whole numbers. Flags take on or off (--diffuse off); a\n"
    "flag given bare means on. run.json and summary.csv also record what the model makes of the\n"
    "settings (evaporation_amount: chemical removed per step, or the fraction kept under --diffuse).\n"
    "\n"
    "Sweeps: --grid --vary evaporation-rate=0.3,0.5 --vary sniff=hill,roulette --seeds 1-10 --steps 50000\n"
    "prints one job line per run, every varied setting written out; pathwick_sweep JOBS OUTDIR runs\n"
    "such a list with GNU parallel. It warns on standard error when varied values come to the same\n"
    "effective setting, and refuses to vary a setting that --from fixes.\n"
    "--grid --design lhs --samples 20 --range agents=100:500 --range sniff prints the points of a\n"
    "design instead. Its lines, and those of two or more --vary, carry their design point\n"
    "(--design-point, --design-factors, --design-command), which run.json records.\n"
    "\n"
    "Options are written with two dashes or one (-steps 5 is --steps 5), their values after a blank\n"
    "or after '='.\n";

const char* const kEpilogEnd =
    "\n"
    "--ended and --seed-of answer pathwick_sweep without running anything: one line for each folder\n"
    "or job line, in the order given, and status 0 whatever the answers are. --check-sweep reports\n"
    "on pathwick_sweep's standard error and exits as pathwick_sweep then does: 0 when every run\n"
    "completed and the summary is written, else 1. --plan-sweep answers before the runs: one word\n"
    "for each run of the list it reads (keep, make or remake), or status 2 with one line naming what\n"
    "it refuses; it writes and removes nothing.\n"
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

constexpr int kEpilogWidth = 100;
constexpr const char* kClockSeed = "clock";
constexpr qsizetype kUnknownNamed = 5;  // unknown options named in a refusal; the rest are counted

// The modes an option is taken by, one bit for each TCommandKind.
constexpr uint32_t In(TCommandKind kind) { return 1u << static_cast<unsigned>(kind); }
constexpr uint32_t kInRun = In(TCommandKind::kRun);
constexpr uint32_t kInShow = In(TCommandKind::kShow);
constexpr uint32_t kInGrid = In(TCommandKind::kGrid);
constexpr uint32_t kInCalibrate = In(TCommandKind::kCalibrate);
// The modes that take the settings (the options of SettingSpecs()); a
// calibration's runs all hold the settings it is given.
constexpr uint32_t kSettingModes = kInRun | kInShow | kInGrid | kInCalibrate;

struct TWholeRange {
  qint64 min;
  qint64 max;
};
constexpr TWholeRange kCountRange{1, std::numeric_limits<int32_t>::max()};
constexpr TWholeRange kSeedRange{0, std::numeric_limits<uint32_t>::max()};
constexpr TWholeRange kPictureScaleRange{kMinPictureScale, kMaxPictureScale};
constexpr TWholeRange kLevelsRange{2, 1000};
static_assert(kDefaultPictureScale >= kMinPictureScale && kDefaultPictureScale <= kMaxPictureScale);

struct TOptionRow;
// Reads the values given for the option (one, or several for a repeatable
// one) into the command; refuses with one line a value it cannot take.
using TReadOption = TStatus (*)(const TOptionRow& row, const QStringList& values, TCommand& command);

// One option of pathwick_run, everything about it in one place; a row gives
// only what differs from these defaults.
struct TOptionRow {
  TOption option;              // its place in the table
  const char* name;            // without the dashes
  const char* shortName{};     // one letter, or nullptr
  const char* valueName = "";  // the value's syntax in --help; empty: a flag
  // --help's line: "{range}" stands for the range, "{default}" for the default,
  // "{kinds}" for the design kinds --design takes and what each draws.
  const char* help;
  std::optional<TWholeRange> range{};     // a whole number's range
  std::optional<qint64> defaultValue{};   // the default of a number
  const char* defaultText{};              // or in words
  const char* accepts{};                  // what a text value must be, for the refusal
  uint32_t modes = 0;                     // the modes that take it
  std::optional<TCommandKind> chooses{};  // the mode it chooses
  bool inJobLine = false;                 // a job line may hold it
  bool repeatable = false;                // may be given more than once
  TReadOption read{};                     // nullptr: nothing to read (a mode's flag)
};

// A field of the command, whether it is the command's own or its run's.
template <class T>
T& Field(TCommand& c, T TCommand::*member) {
  return c.*member;
}
template <class T>
T& Field(TCommand& c, T TRunOptions::*member) {
  return c.run.*member;
}
template <class T>
T& Field(TCommand& c, T TDesignOptions::*member) {
  return c.design.*member;
}

template <class T>
T& Field(TCommand& c, T TCalibrateOptions::*member) {
  return c.calibrate.*member;
}

template <class T>
struct TValueOf {
  using type = T;
};
template <class T>
struct TValueOf<std::optional<T>> {
  using type = T;
};

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

QString RangeText(const TWholeRange& range) { return QStringLiteral("%1 to %2").arg(range.min).arg(range.max); }

template <auto member>
TStatus ReadWhole(const TOptionRow& row, const QStringList& values, TCommand& c) {
  const auto value = ParseWhole(values.back(), row.range->min, row.range->max);
  if (!value) {
    return Refuse(QLatin1String(row.name), QStringLiteral("a whole number from ") + RangeText(*row.range),
                  values.back());
  }
  using TField = std::remove_reference_t<decltype(Field(c, member))>;
  Field(c, member) = static_cast<typename TValueOf<TField>::type>(*value);
  return Success();
}

template <auto member>
TStatus ReadFlag(const TOptionRow&, const QStringList&, TCommand& c) {
  Field(c, member) = true;
  return Success();
}

// A file or folder: any text but the empty one.
template <auto member>
TStatus ReadText(const TOptionRow& row, const QStringList& values, TCommand& c) {
  if (values.back().isEmpty()) return Refuse(QLatin1String(row.name), QLatin1String(row.accepts), QString());
  Field(c, member) = values.back();
  return Success();
}

template <auto member>
TStatus ReadEach(const TOptionRow& row, const QStringList& values, TCommand& c) {
  for (const QString& value : values) {
    if (value.isEmpty()) return Refuse(QLatin1String(row.name), QLatin1String(row.accepts), QString());
  }
  Field(c, member) = values;
  return Success();
}

// "1-10,15" -> 1..10, 15.
std::optional<QList<uint32_t>> ParseSeedList(const QString& text) {
  QList<uint32_t> seeds;
  for (const QString& part : text.split(QLatin1Char(','))) {
    const QStringList ends = part.split(QLatin1Char('-'));
    if (ends.size() > 2) return std::nullopt;
    const auto first = ParseWhole(ends.front(), kSeedRange.min, kSeedRange.max);
    const auto last = ParseWhole(ends.back(), kSeedRange.min, kSeedRange.max);
    if (!first || !last || *last < *first || seeds.size() + (*last - *first) >= kMaxJobLines) return std::nullopt;
    for (qint64 s = *first; s <= *last; ++s) seeds.append(static_cast<uint32_t>(s));
  }
  return seeds;
}

// Read after --seed (the rows are read in their order).
TStatus ReadSeeds(const TOptionRow& row, const QStringList& values, TCommand& c) {
  if (c.run.seed) {
    return Refused(
        QStringLiteral("%1 and %2 cannot be combined").arg(Dashed(TOption::kSeed), Dashed(QLatin1String(row.name))));
  }
  const auto seeds = ParseSeedList(values.back());
  if (!seeds) return Refuse(QLatin1String(row.name), QLatin1String(row.accepts), values.back());
  c.seeds = *seeds;
  return Success();
}

// "vary NAME", as a refusal of a --vary value names it.
QString VaryOption(const TSettingSpec& spec) {
  return QLatin1String(OptionName(TOption::kVary)) + QLatin1Char(' ') + QLatin1String(spec.option);
}

TError RefuseRange(const TSettingSpec& spec, const QString& why, const QString& text) {
  return Refused(
      QStringLiteral("%1 %2: %3, not '%4'").arg(Dashed(TOption::kVary), QLatin1String(spec.option), why, text));
}

// "LO:HI:STEP" appends LO, LO+STEP, ... up to HI, counted in the setting's
// own units (hundredths for a rate), so 0.1:0.9:0.2 ends exactly at 0.9.
TStatus AppendRange(const TSettingSpec& spec, const QString& text, QList<int32_t>& values) {
  if (spec.kind == TSettingKind::kFlag || spec.kind == TSettingKind::kSniff)
    return RefuseRange(spec, QStringLiteral("a range is for numbers, this takes ") + AcceptedValues(spec), text);
  const QStringList parts = text.split(QLatin1Char(':'));
  if (parts.size() != 3) return RefuseRange(spec, QStringLiteral("a range is LO:HI:STEP"), text);
  const QString option = VaryOption(spec);
  const auto lo = ParseSettingValue(spec, parts[0]);
  if (!lo) return Refuse(option, AcceptedValues(spec), parts[0]);
  const auto hi = ParseSettingValue(spec, parts[1]);
  if (!hi) return Refuse(option, AcceptedValues(spec), parts[1]);
  TSettingSpec anySize = spec;  // a step is written as the values are, but may exceed them
  anySize.min = 0;
  anySize.max = std::numeric_limits<int32_t>::max();
  const auto step = ParseSettingValue(anySize, parts[2]);
  if (!step || *step <= 0)
    return RefuseRange(spec, QStringLiteral("a range's step is more than 0, written as the values are"), text);
  if (*hi < *lo) return RefuseRange(spec, QStringLiteral("a range's HI is below its LO"), text);
  if (values.size() + (*hi - *lo) / *step + 1 > kMaxJobLines)
    return RefuseRange(spec, QStringLiteral("more values than a job list's %1 lines").arg(kMaxJobLines), text);
  for (qint64 v = *lo; v <= *hi; v += *step) values << static_cast<int32_t>(v);
  return Success();
}

// "10:30:10,55": single values and ranges, in the order given.
TStatus AppendValues(const TSettingSpec& spec, const QString& list, QList<int32_t>& values) {
  for (const QString& text : list.split(QLatin1Char(','))) {
    if (text.contains(QLatin1Char(':'))) {
      if (TStatus range = AppendRange(spec, text, values); !range) return range;
      continue;
    }
    const auto value = ParseSettingValue(spec, text);
    if (!value) return Refuse(VaryOption(spec), AcceptedValues(spec), text);
    values << *value;
  }
  return Success();
}

// Read after the settings, which a --vary may not also give.
TStatus ReadVary(const TOptionRow& row, const QStringList& values, TCommand& c) {
  const QString vary = Dashed(QLatin1String(row.name));
  const auto specs = SettingSpecs();
  std::array<bool, kSettingCount> varied{};
  for (const QString& text : values) {
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    const auto index = FindSetting(text.left(eq));
    if (eq < 0 || !index) {
      return Refused(
          QStringLiteral("%1 takes NAME=V1,V2,... or NAME=LO:HI:STEP with NAME a setting such as evaporation-rate, "
                         "not '%2'")
              .arg(vary, text));
    }
    const TSettingSpec& spec = specs[*index];
    if (varied[*index]) return Refused(QStringLiteral("%1 names %2 twice").arg(vary, QLatin1String(spec.option)));
    if (c.run.settings[*index])
      return Refused(QStringLiteral("%1 is both given and varied").arg(Dashed(QLatin1String(spec.option))));
    varied[*index] = true;
    TVary axis{*index, {}};
    if (TStatus read = AppendValues(spec, text.mid(eq + 1), axis.values); !read) return read;
    c.vary << axis;
  }
  return Success();
}

// --- Designs ---

TStatus ReadDesignKind(const TOptionRow& row, const QStringList& values, TCommand& c) {
  const QString& kind = values.back();
  // --design takes the kinds that draw their points; the cells of --vary make the other.
  const TDesignKind* design = FindDesignKind(kind);
  if (!design || !DrawsItsPoints(*design))
    return Refuse(QLatin1String(row.name), DesignKindNames(DrawsItsPoints, "or"), kind);
  c.design.kind = kind;
  return Success();
}

// --- Calibration ---

TStatus ReadMethod(const TOptionRow& row, const QStringList& values, TCommand& c) {
  const QString& method = values.back();
  if (method != QLatin1String(kMethodAbc) && method != QLatin1String(kMethodNsga2))
    return Refuse(QLatin1String(row.name), QLatin1String(row.accepts), method);
  c.calibrate.method = method;
  return Success();
}

// "NAME=LO:HI" in the setting's units; a two-valued setting takes its two
// values (sniff=hill:roulette, diffuse=off:on) or its name alone for both.
TStatus ReadRanges(const TOptionRow& row, const QStringList& values, TCommand& c) {
  const QString range = Dashed(QLatin1String(row.name));
  const auto specs = SettingSpecs();
  std::array<bool, kSettingCount> ranged{};
  for (const QString& text : values) {
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    const auto index = FindSetting(text.left(eq));
    if (!index || QLatin1String(specs[*index].option) != text.left(eq)) {
      return Refused(
          QStringLiteral("%1 takes NAME=LO:HI with NAME a setting such as mark-strength, not '%2'").arg(range, text));
    }
    const TSettingSpec& spec = specs[*index];
    const QString option = QLatin1String(spec.option);
    const bool twoValued = spec.kind == TSettingKind::kFlag || spec.kind == TSettingKind::kSniff;
    if (ranged[*index]) return Refused(QStringLiteral("%1 names %2 twice").arg(range, option));
    if (c.run.settings[*index]) return Refused(QStringLiteral("%1 is both given and ranged").arg(Dashed(option)));
    ranged[*index] = true;
    if (eq < 0 && twoValued) {
      c.design.ranges << TFactorRange{*index, spec.min, spec.max};
      continue;
    }
    QStringList ends = text.mid(eq + 1).split(QLatin1Char(':'));
    const bool log = ends.size() == 3 && ends.back() == QLatin1String("log") && !twoValued;
    if (log) ends.removeLast();
    if (eq < 0 || ends.size() != 2) {
      return Refused(QStringLiteral("%1 %2 takes LO:HI, %3, not '%4'")
                         .arg(range, option,
                              twoValued ? QStringLiteral("its two values or its name alone")
                                        : QStringLiteral("in the setting's units (LO:HI:log for --calibrate)"),
                              text));
    }
    const auto lo = ParseSettingValue(spec, ends[0]);
    const auto hi = ParseSettingValue(spec, ends[1]);
    if (!lo || !hi) {
      return Refuse(QLatin1String(row.name) + QLatin1Char(' ') + option, AcceptedValues(spec), !lo ? ends[0] : ends[1]);
    }
    if (*hi <= *lo) return Refused(QStringLiteral("%1 %2: HI is above LO, not '%3'").arg(range, option, text));
    if (log && *lo <= 0)
      return Refused(QStringLiteral("%1 %2: a log range lies above 0, not '%3'").arg(range, option, text));
    c.design.ranges << TFactorRange{*index, *lo, *hi, log};
  }
  return Success();
}

// A job line's design point: "KIND,POINT,ROLE" as --grid writes it.
TStatus ReadDesignPoint(const TOptionRow& row, const QStringList& values, TCommand& c) {
  const QStringList parts = values.back().split(QLatin1Char(','));
  const auto point = parts.size() == 3 ? ParseWhole(parts[1], 0, std::numeric_limits<int32_t>::max()) : std::nullopt;
  if (!point) return Refuse(QLatin1String(row.name), QLatin1String(row.accepts), values.back());
  if (!c.run.design) c.run.design.emplace();
  c.run.design->kind = parts[0];
  c.run.design->point = static_cast<int32_t>(*point);
  c.run.design->role = parts[2];
  return Success();
}

TStatus ReadDesignFactors(const TOptionRow& row, const QStringList& values, TCommand& c) {
  if (values.back().isEmpty()) return Refuse(QLatin1String(row.name), QLatin1String(row.accepts), QString());
  if (!c.run.design) c.run.design.emplace();
  c.run.design->factors = values.back().split(QLatin1Char(','));
  return Success();
}

TStatus ReadDesignCommand(const TOptionRow& row, const QStringList& values, TCommand& c) {
  if (values.back().trimmed().isEmpty()) return Refuse(QLatin1String(row.name), QLatin1String(row.accepts), QString());
  if (!c.run.design) c.run.design.emplace();
  c.run.design->command = values.back();
  return Success();
}

// A run's design point must be one its command makes: the command is read
// as --grid reads it, and its kind, factors and number of points must agree.
TStatus CheckRunDesign(const TDesignPoint& design) {
  const QString point = Dashed(TOption::kDesignPoint);
  const QString factors = Dashed(TOption::kDesignFactors);
  const QString command = Dashed(TOption::kDesignCommand);
  const QString gridOption = Dashed(TOption::kGrid);
  if (design.kind.isEmpty() || design.factors.isEmpty() || design.command.isEmpty()) {
    return Refused(
        QStringLiteral("%1, %2 and %3 go together, as %4 writes them").arg(point, factors, command, gridOption));
  }
  if (TStatus fits = CheckDesignPoint(design); !fits)
    return Refused(point + QStringLiteral(": ") + fits.Error().message);
  const QStringList words = QProcess::splitCommand(design.command);
  TResult<TCommand> grid = words.contains(gridOption) ? TResult<TCommand>(Refused(QString()))
                                                      : ParseCommandLine(QStringList{gridOption} + words);
  const TDesignShape shape = grid ? DesignShape(*grid) : TDesignShape{};
  if (!grid || grid->kind != TCommandKind::kGrid || shape.kind.isEmpty()) {
    return Refused(QStringLiteral("%1 takes the %2 options that make a design, not '%3'")
                       .arg(command, gridOption, design.command));
  }
  if (shape.kind != design.kind || shape.factors != design.factors || design.point >= shape.indices) {
    return Refused(QStringLiteral("%1 %2,%3,%4 with %5 %6 is not a point of '%7'")
                       .arg(point, design.kind)
                       .arg(design.point)
                       .arg(design.role, factors, design.factors.join(QLatin1Char(',')), design.command));
  }
  return Success();
}

// "all", or how many.
TStatus ReadRepeat(const TOptionRow& row, const QStringList& values, TCommand& c) {
  if (values.back() == QLatin1String("all")) {
    c.repeat = kRepeatAll;
    return Success();
  }
  const auto count = ParseWhole(values.back(), row.range->min, row.range->max);
  if (!count) return Refuse(QLatin1String(row.name), QLatin1String(row.accepts), values.back());
  c.repeat = static_cast<int32_t>(*count);
  return Success();
}

// auto, linear or categorical.
TStatus ReadFactorCoding(const TOptionRow& row, const QStringList& values, TCommand& c) {
  const std::optional<TFactorCoding> coding = FindFactorCoding(values.back());
  if (!coding) return Refuse(QLatin1String(row.name), QLatin1String(row.accepts), values.back());
  c.factorCoding = *coding;
  return Success();
}

using K = TCommandKind;
constexpr uint32_t kInFolderModes = In(K::kRun) | In(K::kSummarize) | In(K::kVerify) | In(K::kBatch);
constexpr uint32_t kInRuns = kInRun | kInGrid;
constexpr uint32_t kInWorlds = kInRun | kInShow | kInGrid;

// Every option but the settings, in the order of --help and of TOption. The
// rows are read in this order, after the settings.
constexpr TOptionRow kOptionRows[] = {
    {.option = TOption::kHelp, .name = "help", .shortName = "h", .help = "this text", .chooses = K::kHelp},
    {.option = TOption::kVersion, .name = "version", .shortName = "v", .help = "the version", .chooses = K::kVersion},
    {.option = TOption::kSteps,
     .name = "steps",
     .valueName = "N",
     .help = "steps to run, {range} (default: {default})",
     .range = kCountRange,
     .defaultValue = kDefaultSteps,
     .modes = kInWorlds | kInCalibrate,
     .inJobLine = true,
     .read = ReadWhole<&TRunOptions::steps>},
    {.option = TOption::kSeed,
     .name = "seed",
     .valueName = "S",
     .help = "the run's seed, {range} (default: {default})",
     .range = kSeedRange,
     .defaultText = "from the clock, recorded",
     .modes = kInWorlds,
     .inJobLine = true,
     .read = ReadWhole<&TRunOptions::seed>},
    {.option = TOption::kOut,
     .name = "out",
     .valueName = "DIR",
     .help = "write the run's folder DIR (default: {default})",
     .defaultText = "the series to standard output",
     .accepts = "a folder",
     .modes = kInRun | In(K::kBatch),
     .read = ReadText<&TCommand::out>},
    {.option = TOption::kForce,
     .name = "force",
     .help = "replace a run already in DIR (with --jobs: each run already in its folder)",
     .modes = kInRun | In(K::kBatch),
     .read = ReadFlag<&TCommand::force>},
    {.option = TOption::kHistograms,
     .name = "histograms",
     .help = "also write genes_hist.csv: agents at each gene value, every sample",
     .modes = kInRuns,
     .inJobLine = true,
     .read = ReadFlag<&TRunOptions::histograms>},
    {.option = TOption::kPlot,
     .name = "plot",
     .help = "also write genes.png and genes.svg (the mean genes), with --histograms genes_hist.png and .svg (their "
             "distribution), and final.png (the grid)",
     .modes = kInRuns,
     .inJobLine = true,
     .read = ReadFlag<&TRunOptions::plot>},
    {.option = TOption::kSnapshotEvery,
     .name = "snapshot-every",
     .valueName = "K",
     .help = "also write snapshots/step-NNNNNNN.png every K steps, and final.png",
     .range = kCountRange,
     .modes = kInRuns,
     .inJobLine = true,
     .read = ReadWhole<&TRunOptions::snapshotEvery>},
    {.option = TOption::kPictureScale,
     .name = "picture-scale",
     .valueName = "N",
     .help = "magnify snapshots, final.png and video frames N times, {range} (default: {default})",
     .range = kPictureScaleRange,
     .defaultValue = kDefaultPictureScale,
     .modes = kInRuns,
     .inJobLine = true,
     .read = ReadWhole<&TRunOptions::pictureScale>},
    {.option = TOption::kVideo,
     .name = "video",
     .valueName = "FILE",
     .help = "also write a video of the grid into the run's folder as FILE: NAME.mp4 (H.264) or NAME.webm (VP9), "
             "encoded by ffmpeg",
     .accepts = "a file name",
     .modes = kInRuns,
     .inJobLine = true,
     .read = ReadText<&TRunOptions::video>},
    {.option = TOption::kVideoEvery,
     .name = "video-every",
     .valueName = "K",
     .help = "for --video: a frame after every K-th step (default: {default})",
     .range = kCountRange,
     .defaultValue = kDefaultVideoEvery,
     .modes = kInRuns,
     .inJobLine = true,
     .read = ReadWhole<&TRunOptions::videoEvery>},
    {.option = TOption::kAgentsEvery,
     .name = "agents-every",
     .valueName = "K",
     .help = "also write agents.csv.gz: every agent at every K-th step, K a multiple of 100",
     .range = kCountRange,
     .modes = kInRuns,
     .inJobLine = true,
     .read = ReadWhole<&TRunOptions::agentsEvery>},
    {.option = TOption::kFieldEvery,
     .name = "field-every",
     .valueName = "K",
     .help = "also write field.csv.gz: every cell's chemical, home and target flags at every K-th step, K a multiple "
             "of 100",
     .range = kCountRange,
     .modes = kInRuns,
     .inJobLine = true,
     .read = ReadWhole<&TRunOptions::fieldEvery>},
    {.option = TOption::kBirths,
     .name = "births",
     .help = "also write births.csv.gz: every birth with its parents, crossover cut and mutation",
     .modes = kInRuns,
     .inJobLine = true,
     .read = ReadFlag<&TRunOptions::births>},
    {.option = TOption::kConfig,
     .name = "config",
     .valueName = "FILE",
     .help = "repeat the run recorded in FILE (a run.json), its checkpoint checked by its SHA-256; options given "
             "beside it override it",
     .accepts = "a file",
     .modes = kInRun | kInShow,
     .inJobLine = true,
     .read = ReadText<&TRunOptions::config>},
    {.option = TOption::kCheckpointEvery,
     .name = "checkpoint-every",
     .valueName = "K",
     .help = "write checkpoint.pwk in the run's folder every K steps, after the last step, and when interrupted",
     .range = kCountRange,
     .modes = kInRuns,
     .inJobLine = true,
     .read = ReadWhole<&TRunOptions::checkpointEvery>},
    {.option = TOption::kKeepCheckpoints,
     .name = "keep-checkpoints",
     .help = "keep every checkpoint as checkpoints/step-NNNNNNN.pwk instead of one checkpoint.pwk",
     .modes = kInRuns,
     .inJobLine = true,
     .read = ReadFlag<&TRunOptions::keepCheckpoints>},
    {.option = TOption::kFrom,
     .name = "from",
     .valueName = "FILE",
     .help = "continue the world saved in the checkpoint FILE for --steps more steps; rate options branch it",
     .accepts = "a file",
     .modes = kInWorlds,
     .inJobLine = true,
     .read = ReadText<&TRunOptions::from>},
    {.option = TOption::kDesignPoint,
     .name = "design-point",
     .valueName = "KIND,POINT,ROLE",
     .help = "the run's point of a designed sweep, as --grid writes it on each job line and run.json records it: "
             "lhs,3,sample; sobol,3,AB2; morris,0,T1; factorial,5,cell",
     .accepts = "KIND,POINT,ROLE",
     .modes = kInRun,
     .inJobLine = true,
     .read = ReadDesignPoint},
    {.option = TOption::kDesignFactors,
     .name = "design-factors",
     .valueName = "NAMES",
     .help = "for --design-point: the design's factors in its order, e.g. agents,sniff",
     .accepts = "setting names joined by commas",
     .modes = kInRun,
     .inJobLine = true,
     .read = ReadDesignFactors},
    {.option = TOption::kDesignCommand,
     .name = "design-command",
     .valueName = "OPTIONS",
     .help = "for --design-point: the --grid options that make the design, as one argument",
     .accepts = "the --grid options of a design",
     .modes = kInRun,
     .inJobLine = true,
     .read = ReadDesignCommand},
    {.option = TOption::kQuiet,
     .name = "quiet",
     .help = "no progress line on standard error (it shows only on a terminal anyway)",
     .modes = kInFolderModes,
     .read = ReadFlag<&TCommand::quiet>},
    {.option = TOption::kShow,
     .name = "show",
     .help = "open the same seeded run in the window instead of running it here; with --steps it stops there",
     .modes = kInShow,
     .chooses = K::kShow},
    {.option = TOption::kGrid,
     .name = "grid",
     .help = "print a job list: the product of the --vary values and the --seeds",
     .modes = kInGrid,
     .chooses = K::kGrid},
    {.option = TOption::kVary,
     .name = "vary",
     .valueName = "NAME=V1,V2,...",
     .help = "for --grid: a setting and its values, listed or as ranges LO:HI:STEP that take LO, LO+STEP, ... up to "
             "HI (mark-strength=10:100:10, evaporation-rate=0.1:0.9:0.2), or both (10:30:10,55); may be given for "
             "several settings",
     .modes = kInGrid,
     .repeatable = true,
     .read = ReadVary},
    {.option = TOption::kSeeds,
     .name = "seeds",
     .valueName = "LIST",
     .help = "for --grid: seeds as ranges and single values, e.g. 1-10 or 1,4,9-12",
     .accepts = "seeds 0 to 4294967295 as A-B ranges or single values",
     .modes = kInGrid,
     .read = ReadSeeds},
    {.option = TOption::kDesign,
     .name = "design",
     .valueName = "KIND",
     .help = "for --grid instead of --vary: a designed sweep of the --range factors, each point snapped to a value "
             "the setting's control holds: {kinds}",
     .modes = kInGrid,
     .read = ReadDesignKind},
    {.option = TOption::kSamples,
     .name = "samples",
     .valueName = "N",
     .help = "for --design: its N, {range}",
     .range = kCountRange,
     .modes = kInGrid,
     .read = ReadWhole<&TDesignOptions::samples>},
    {.option = TOption::kRange,
     .name = "range",
     .valueName = "NAME=LO:HI",
     .help = "for --design and --calibrate: a factor and its range in the setting's units (agents=50:400, "
             "evaporation-rate=0.1:0.9); sniff, knows-center and diffuse take their two values (sniff=hill:roulette) "
             "or their name alone for both; given once for each factor, in the design's order. For --calibrate the "
             "range is a uniform prior, or with LO:HI:log a log-uniform one",
     .modes = kInGrid | kInCalibrate,
     .repeatable = true,
     .read = ReadRanges},
    {.option = TOption::kLevels,
     .name = "levels",
     .valueName = "P",
     .help = "for --design morris: the levels of its grid, an even number from 2 to 1000 (default: {default}); a "
             "step moves a factor P/(2(P-1)) of its range",
     .range = kLevelsRange,
     .defaultValue = kDefaultLevels,
     .modes = kInGrid,
     .read = ReadWhole<&TDesignOptions::levels>},
    {.option = TOption::kDesignSeed,
     .name = "design-seed",
     .valueName = "S",
     .help = "for --design lhs and morris: the seed of their draws, {range} (default: {default}); written into the "
             "design's command",
     .range = kSeedRange,
     .defaultValue = kDefaultDesignSeed,
     .modes = kInGrid,
     .read = ReadWhole<&TDesignOptions::seed>},
    // Its words take its place before the modes are told apart.
    {.option = TOption::kJob,
     .name = "job",
     .valueName = "LINE",
     .help = "the options of one job-list line as one argument, or @FILE for the one line FILE holds "
             "(pathwick_sweep uses it)",
     .modes = kSettingModes},
    {.option = TOption::kSummarize,
     .name = "summarize",
     .valueName = "DIR",
     .help = "write DIR/summary.csv, samples.csv, groups.csv and summary.png/.svg from the run folders in DIR, and "
             "compare the groups (comparison.csv, printed) when one setting varies",
     .accepts = "a folder",
     .modes = In(K::kSummarize),
     .chooses = K::kSummarize,
     .read = ReadText<&TCommand::folder>},
    {.option = TOption::kWindow,
     .name = "window",
     .valueName = "K",
     .help = "for --summarize: final values are also the mean of each run's last K samples; for --calibrate: the "
             "measures are the mean of each run's last K samples (default: the last)",
     .range = kCountRange,
     .modes = In(K::kSummarize) | kInCalibrate,
     .read = ReadWhole<&TCommand::window>},
    {.option = TOption::kGzipSamples,
     .name = "gzip-samples",
     .help = "for --summarize: write samples.csv.gz (gzip) instead of samples.csv",
     .modes = In(K::kSummarize),
     .read = ReadFlag<&TCommand::gzipSamples>},
    {.option = TOption::kMeasure,
     .name = "measure",
     .valueName = "NAME",
     .help = "for --summarize: compare and explore this measure of each run over the window: a series column's mean "
             "(mean_chemical, floor_share, ...), trip_rate or birth_rate, or FN(NAME) on a transformed scale; may "
             "be given several times or as a comma list (default: {default})",
     .defaultText = "mean_angle, mean_wiggle, trip_rate and birth_rate",
     .accepts = "a measure's name",
     .modes = In(K::kSummarize),
     .repeatable = true,
     .read = ReadEach<&TCommand::measures>},
    {.option = TOption::kTransform,
     .name = "transform",
     .valueName = "NAME=FN",
     .help = "for --summarize: analyse the measure NAME on the scale FN (log, log1p or logit); effects.csv names it "
             "FN(NAME); may be given for several measures",
     .accepts = "NAME=FN",
     .modes = In(K::kSummarize),
     .repeatable = true,
     .read = ReadEach<&TCommand::transforms>},
    {.option = TOption::kFactorCoding,
     .name = "factor-coding",
     .valueName = "HOW",
     .help = "for --summarize of a factorial: linear (each factor a line over its range: effects), categorical (a "
             "categorical ANOVA, type II sums of squares: each term's share, F and p-value) or auto (categorical when "
             "a factor has more than two levels; default: {default})",
     .defaultText = "auto",
     .accepts = "auto, linear or categorical",
     .modes = In(K::kSummarize),
     .read = ReadFactorCoding},
    {.option = TOption::kVerify,
     .name = "verify",
     .valueName = "DIR",
     .help = "repeat the run recorded in DIR in a temporary folder and compare every file's SHA-256; of a folder of "
             "runs (a sweep), check every run's files and repeat a few of them, and list every run's outcome in "
             "DIR/.sweep/verify.txt",
     .accepts = "a folder",
     .modes = In(K::kVerify),
     .chooses = K::kVerify,
     .read = ReadText<&TCommand::folder>},
    {.option = TOption::kRepeat,
     .name = "repeat",
     .valueName = "N|all",
     .help = "for --verify of a folder of runs (a sweep): repeat N of its runs, chosen by their names, or all "
             "(default: {default}); every run's files are checked in any case. Of a run folder, 0 checks its files "
             "without repeating the run",
     .range = TWholeRange{0, std::numeric_limits<int32_t>::max()},
     .defaultValue = kDefaultRepeats,
     .accepts = "a whole number from 0 to 2147483647, or all",
     .modes = In(K::kVerify),
     .read = ReadRepeat},
    {.option = TOption::kEnded,
     .name = "ended",
     .valueName = "DIR",
     .help = "print how the run in DIR ended: completed, interrupted, or none when DIR holds no record that can be "
             "read; may be given for several folders",
     .accepts = "a folder",
     .modes = In(K::kEnded),
     .chooses = K::kEnded,
     .repeatable = true,
     .read = ReadEach<&TCommand::folders>},
    {.option = TOption::kSeedOf,
     .name = "seed-of",
     .valueName = "LINE",
     .help = "print the seed the job line LINE runs with, or clock when it gives none that can be read; may be given "
             "for several lines; - reads the lines from standard input, one a line",
     .accepts = "a job line",
     .modes = In(K::kSeedOf),
     .chooses = K::kSeedOf,
     .repeatable = true,
     .read = ReadEach<&TCommand::jobLines>},
    {.option = TOption::kCheckSweep,
     .name = "check-sweep",
     .valueName = "DIR",
     .help = "pathwick_sweep's check after its runs: report every run of DIR/.sweep/runs that did not complete, then "
             "summarize those that did (with --window and --gzip-samples as --summarize)",
     .accepts = "a folder",
     .modes = In(K::kCheckSweep),
     .chooses = K::kCheckSweep,
     .read = ReadText<&TCommand::folder>},
    {.option = TOption::kSweepInterrupted,
     .name = "sweep-interrupted",
     .help = "for --check-sweep: the sweep was stopped before its runs ended",
     .modes = In(K::kCheckSweep),
     .read = ReadFlag<&TCommand::sweepInterrupted>},
    {.option = TOption::kParallelStatus,
     .name = "parallel-status",
     .valueName = "N",
     .help = "for --check-sweep: GNU parallel's exit status, {range}",
     .range = TWholeRange{0, 255},
     .modes = In(K::kCheckSweep),
     .read = ReadWhole<&TCommand::parallelStatus>},
    {.option = TOption::kSlurmSubmission,
     .name = "slurm-submission",
     .valueName = "DIR",
     .help = "for --check-sweep: first merge the job logs of the tasks of the Slurm submission DIR",
     .accepts = "a folder",
     .modes = In(K::kCheckSweep),
     .read = ReadText<&TCommand::slurmSubmission>},
    {.option = TOption::kPlanSweep,
     .name = "plan-sweep",
     .valueName = "DIR",
     .help = "pathwick_sweep's check before its runs: read its runs (folder, line number, job line, one a line) from "
             "standard input and print what becomes of each (keep, make or remake); refuses a DIR that holds "
             "anything but the sweep's own runs and files, and a run whose record differs from its job line",
     .accepts = "a folder",
     .modes = In(K::kPlanSweep),
     .chooses = K::kPlanSweep,
     .read = ReadText<&TCommand::folder>},
    {.option = TOption::kRedoChanged,
     .name = "redo-changed",
     .help = "for --plan-sweep: a run whose record differs from its job line is made again instead of refused",
     .modes = In(K::kPlanSweep),
     .read = ReadFlag<&TCommand::redoChanged>},
    {.option = TOption::kJobs,
     .name = "jobs",
     .valueName = "FILE",
     .help = "run every line of the job list FILE (- for standard input) in this one process, one after another, "
             "each into its own folder in the --out DIR: DIR/run-LLLL-seed-S as pathwick_sweep names it, or DIR/NAME "
             "for a line NAME<tab>JOB LINE; prints each run's folder and exit status as it ends, and goes on past a "
             "run that fails",
     .accepts = "a job list",
     .modes = In(K::kBatch),
     .chooses = K::kBatch,
     .read = ReadText<&TCommand::jobsFile>},
    {.option = TOption::kCalibrate,
     .name = "calibrate",
     .valueName = "DIR",
     .help = "calibrate the --range factors to the --target by ABC-SMC (or NSGA-II, --method nsga2): each "
             "generation is a sweep of pathwick_sweep in DIR/gen-NNN, the posterior DIR/posterior.csv (NSGA-II's "
             "front DIR/pareto.csv); given again (or as --calibrate DIR alone) it resumes after the last generation "
             "it finished",
     .accepts = "a folder",
     .modes = kInCalibrate,
     .chooses = K::kCalibrate,
     .read = ReadText<&TCommand::folder>},
    {.option = TOption::kTarget,
     .name = "target",
     .valueName = "NAME=VALUE",
     .help = "for --calibrate: a measure (mean_angle, mean_wiggle, trip_rate, birth_rate) and its target value; with "
             "--target-runs the measure's name alone; may be given for several measures",
     .modes = kInCalibrate,
     .repeatable = true,
     .read = ReadEach<&TCalibrateOptions::targets>},
    {.option = TOption::kTargetRuns,
     .name = "target-runs",
     .valueName = "DIR",
     .help = "for --calibrate: the target is the mean of the measures of the run folders in DIR (every measure, or "
             "those --target names)",
     .accepts = "a folder",
     .modes = kInCalibrate,
     .read = ReadText<&TCalibrateOptions::targetRuns>},
    {.option = TOption::kSeedsPerParticle,
     .name = "seeds-per-particle",
     .valueName = "K",
     .help = "for --calibrate: runs of each particle (NSGA-II's individual), their measures averaged, {range} "
             "(default: {default})",
     .range = TWholeRange{1, 1000},
     .defaultValue = 1,
     .modes = kInCalibrate,
     .read = ReadWhole<&TCalibrateOptions::seedsPerParticle>},
    {.option = TOption::kParticles,
     .name = "particles",
     .valueName = "N",
     .help = "for --calibrate --method abc: the particles kept each generation, {range} (default: {default}); "
             "the first generation draws twice as many",
     .range = TWholeRange{2, 100000},
     .defaultValue = 50,
     .modes = kInCalibrate,
     .read = ReadWhole<&TCalibrateOptions::particles>},
    {.option = TOption::kMethod,
     .name = "method",
     .valueName = "METHOD",
     .help = "for --calibrate: abc (the default), ABC-SMC's posterior, or nsga2, NSGA-II's Pareto front of the "
             "target measures' distances apart (DIR/pareto.csv, DIR/front.png), each population a sweep",
     .accepts = "abc or nsga2",
     .modes = kInCalibrate,
     .read = ReadMethod},
    {.option = TOption::kPopulation,
     .name = "population",
     .valueName = "N",
     .help = "for --calibrate --method nsga2: the individuals of each generation, a multiple of 4, {range} "
             "(default: {default})",
     .range = TWholeRange{8, 100000},
     .defaultValue = 24,
     .modes = kInCalibrate,
     .read = ReadWhole<&TCalibrateOptions::population>},
    {.option = TOption::kGenerations,
     .name = "generations",
     .valueName = "G",
     .help = "for --calibrate --method nsga2: the generations evolved after the first population, {range}; "
             "without it, as many as the --budget holds",
     .range = TWholeRange{0, 100000},
     .modes = kInCalibrate,
     .read = ReadWhole<&TCalibrateOptions::generations>},
    {.option = TOption::kBudget,
     .name = "budget",
     .valueName = "RUNS",
     .help = "for --calibrate: the runs it may make in all; ABC-SMC also stops when fewer than 5 % of a "
             "generation's particles fall within the tolerance before it, NSGA-II after its --generations",
     .range = kCountRange,
     .modes = kInCalibrate,
     .read = ReadWhole<&TCalibrateOptions::budget>},
    {.option = TOption::kCalibrationSeed,
     .name = "calibration-seed",
     .valueName = "S",
     .help = "for --calibrate: the seed of every draw and every run's seed, {range} (default: {default})",
     .range = kSeedRange,
     .defaultValue = 1,
     .modes = kInCalibrate,
     .read = ReadWhole<&TCalibrateOptions::seed>},
    {.option = TOption::kSweepJobs,
     .name = "sweep-jobs",
     .valueName = "N",
     .help = "for --calibrate: pathwick_sweep's --jobs, the runs at once on this machine (default: GNU parallel's)",
     .range = kCountRange,
     .modes = kInCalibrate,
     .read = ReadWhole<&TCalibrateOptions::sweepJobs>},
    {.option = TOption::kPlanPrecision,
     .name = "plan-precision",
     .valueName = "DIR",
     .help = "pathwick_sweep --precision's step between two rounds: read the job list of every round so far from "
             "standard input, explore the runs in DIR as --summarize does (with its --window, --measure, --transform "
             "and --factor-coding), record each named interval in DIR/.sweep/rounds.csv and print the next round's "
             "job lines, or nothing once every interval is narrow enough or the cap is reached (said on one line)",
     .accepts = "a folder",
     .modes = In(K::kPlanPrecision),
     .chooses = K::kPlanPrecision,
     .read = ReadText<&TCommand::folder>},
    {.option = TOption::kPrecision,
     .name = "precision",
     .valueName = "MEASURE[:QUANTITY]=WIDTH",
     .help = "for --plan-precision: every interval of the measure's terms (or of one quantity: S1, ST, mu_star, "
             "effect, ...) at most WIDTH wide, in the measure's units; may be given several times",
     .accepts = "MEASURE[:QUANTITY]=WIDTH",
     .modes = In(K::kPlanPrecision),
     .repeatable = true,
     .read = ReadEach<&TCommand::precision>},
    {.option = TOption::kMaxRuns,
     .name = "max-runs",
     .valueName = "N",
     .help = "for --plan-precision: the runs every round together may make, the job list's own included, {range}",
     .range = kCountRange,
     .modes = In(K::kPlanPrecision),
     .read = ReadWhole<&TCommand::maxRuns>},
    {.option = TOption::kPrecisionCheck,
     .name = "precision-check",
     .help = "for --plan-precision: only check the request and the job list on standard input (every line with its "
             "seed, no more runs than --max-runs); nothing is read from DIR or written",
     .modes = In(K::kPlanPrecision),
     .read = ReadFlag<&TCommand::precisionCheck>},
};

// The table is indexed by its option: each row stands at its enumerator's place.
constexpr bool RowsInOrder() {
  for (size_t i = 0; i < std::size(kOptionRows); ++i) {
    if (static_cast<size_t>(kOptionRows[i].option) != i) return false;
  }
  return true;
}
static_assert(RowsInOrder(), "kOptionRows lists every TOption once, in its order");
static_assert(static_cast<size_t>(kLastOption) + 1 == std::size(kOptionRows));

// No two options answer to the same name, long or short.
constexpr bool NamesUnique() {
  for (size_t i = 0; i < std::size(kOptionRows); ++i) {
    for (size_t j = i + 1; j < std::size(kOptionRows); ++j) {
      const TOptionRow& a = kOptionRows[i];
      const TOptionRow& b = kOptionRows[j];
      for (const char* x : {a.name, a.shortName}) {
        for (const char* y : {b.name, b.shortName}) {
          if (x && y && std::string_view(x) == y) return false;
        }
      }
    }
  }
  return true;
}
static_assert(NamesUnique(), "every option has its own name and short name");

// A job line runs as a run does, so what it may hold a run takes; a mode's
// option is taken by its mode.
constexpr bool ModesFit() {
  for (const TOptionRow& row : kOptionRows) {
    if (row.inJobLine && !(row.modes & kInRun)) return false;
    if (row.chooses && row.modes != 0 && row.modes != In(*row.chooses)) return false;
  }
  return true;
}
static_assert(ModesFit(), "job-line options are a run's, and a mode's option is its mode's");

constexpr const TOptionRow& Row(TOption option) { return kOptionRows[static_cast<size_t>(option)]; }

const TOptionRow* FindRow(const QString& name) {
  for (const TOptionRow& row : kOptionRows) {
    if (name == QLatin1String(row.name) || (row.shortName && name == QLatin1String(row.shortName))) return &row;
  }
  return nullptr;
}

// The mode an option chooses, by its row; a run when none is given.
const TOptionRow* ModeRow(TCommandKind kind) {
  for (const TOptionRow& row : kOptionRows) {
    if (row.chooses == kind) return &row;
  }
  return nullptr;
}

QString OptionHelp(const TOptionRow& row) {
  QString text = QLatin1String(row.help);
  if (row.range) text.replace(QStringLiteral("{range}"), RangeText(*row.range));
  text.replace(QStringLiteral("{kinds}"), DesignKindNames(DrawsItsPoints, "or", true));
  const QString byDefault = row.defaultValue ? QString::number(*row.defaultValue) : QLatin1String(row.defaultText);
  return text.replace(QStringLiteral("{default}"), byDefault);
}

// Every option and setting as the parser takes it, the settings' help naming
// `defaults`.
QList<QCommandLineOption> CommandLineOptions(const TSettingValues& defaults) {
  QList<QCommandLineOption> options;
  for (const TOptionRow& row : kOptionRows) {
    QStringList names{QLatin1String(row.name)};
    if (row.shortName) names.prepend(QLatin1String(row.shortName));
    options << QCommandLineOption(names, OptionHelp(row), QLatin1String(row.valueName));
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
    options << QCommandLineOption(QLatin1String(spec.option), text, valueName);
  }
  return options;
}

void AddOptions(QCommandLineParser& parser, const QList<QCommandLineOption>& options) {
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.setApplicationDescription(QLatin1String(kDescription));
  parser.addOptions(options);
}

// "--a, --b and --c".
QString Listed(const QStringList& names, const char* conjunction) {
  if (names.size() < 2) return names.join(QString());
  return names.mid(0, names.size() - 1).join(QStringLiteral(", ")) + QLatin1Char(' ') + QLatin1String(conjunction) +
         QLatin1Char(' ') + names.back();
}

// What a mode takes besides its own option, as the epilog says it: the list
// of what it takes, or of what it does not when that is shorter.
QString ModeTakes(TCommandKind kind) {
  const bool settings = (kSettingModes & In(kind)) != 0;
  QStringList takes;
  QStringList refuses;
  for (const TOptionRow& row : kOptionRows) {
    if (row.chooses) continue;
    const bool taken = (row.modes & In(kind)) != 0;
    // Against a run's options only: those of other modes go without saying.
    if (taken) {
      takes << Dashed(QLatin1String(row.name));
    } else if (row.modes & kInRun) {
      refuses << Dashed(QLatin1String(row.name));
    }
  }
  if (settings && refuses.size() < takes.size()) {
    return QStringLiteral("the settings and a run's options but ") + Listed(refuses, "and");
  }
  if (settings) takes.prepend(QStringLiteral("the settings"));
  return takes.isEmpty() ? QStringLiteral("nothing else") : QStringLiteral("only ") + Listed(takes, "and");
}

// Fills `text` into lines of at most `width` characters, at blanks.
QString Wrapped(const QString& text, int width) {
  QString wrapped;
  qsizetype lineStart = 0;
  for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    if (wrapped.size() > lineStart) {
      if (wrapped.size() - lineStart + 1 + word.size() > width) {
        wrapped += QLatin1Char('\n');
        lineStart = wrapped.size();
      } else {
        wrapped += QLatin1Char(' ');
      }
    }
    wrapped += word;
  }
  return wrapped + QLatin1Char('\n');
}

QString ModesParagraph() {
  QStringList modes;
  for (TCommandKind kind : {K::kShow, K::kGrid, K::kSummarize, K::kVerify, K::kBatch}) {
    modes << QStringLiteral("%1 takes %2").arg(Dashed(QLatin1String(ModeRow(kind)->name)), ModeTakes(kind));
  }
  // Of the rest, a job line may hold none.
  QStringList reserved;
  for (const TOptionRow& row : kOptionRows) {
    if (!row.inJobLine && (row.modes & kInRun)) reserved << Dashed(QLatin1String(row.name));
  }
  return Wrapped(QStringLiteral("Each mode refuses the options it would ignore: %1. A job line (--job, pathwick_sweep) "
                                "holds only the settings and a run's options but %2.")
                     .arg(modes.join(QStringLiteral("; ")), Listed(reserved, "and")),
                 kEpilogWidth);
}

// Every option written in one form: "--name" or "--name=value", whether it
// came with one dash or two, its value after a blank or after '='. A flag
// setting given bare gains "=on". Anything not an option of the table stays
// as it is, for the parser to refuse.
QStringList Normalised(const QStringList& arguments) {
  QStringList normal;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    const qsizetype dashes = a.startsWith(QLatin1String("--")) ? 2 : a.startsWith(QLatin1Char('-')) ? 1 : 0;
    const qsizetype eq = a.indexOf(QLatin1Char('='));
    const QString name = a.mid(dashes, eq < 0 ? -1 : eq - dashes);
    const TOptionRow* row = dashes > 0 ? FindRow(name) : nullptr;
    const std::optional<size_t> setting = dashes > 0 ? FindSetting(name) : std::nullopt;
    // A setting's record key (evaporation_rate) is not an option.
    const bool isSetting = setting && name == QLatin1String(SettingSpecs()[*setting].option);
    if (!row && !isSetting) {
      normal << a;
      continue;
    }
    const QString dashed = Dashed(row ? QLatin1String(row->name) : name);
    if (eq >= 0) {
      normal << dashed + a.mid(eq);
    } else if (isSetting && SettingSpecs()[*setting].kind == TSettingKind::kFlag) {
      const bool valued =
          i + 1 < arguments.size() && ParseSettingValue(SettingSpecs()[*setting], arguments[i + 1]).has_value();
      normal << dashed + QLatin1Char('=') + (valued ? arguments[++i] : QStringLiteral("on"));
    } else if ((isSetting || *row->valueName) && i + 1 < arguments.size()) {
      normal << dashed + QLatin1Char('=') + arguments[++i];
    } else {
      normal << dashed;  // a flag, or a value missing: the parser says so
    }
  }
  return normal;
}

// The option of a normalised argument ("--name[=value]"), without the dashes.
QString OptionName(const QString& normalised) {
  if (!normalised.startsWith(QLatin1String("--"))) return {};
  return normalised.mid(2).section(QLatin1Char('='), 0, 0);
}

TResult<QString> JobLineOfFile(const QString& path) {
  TResult<QByteArray> text = ReadBounded(path, kSweepFileByteLimit);
  if (!text) return Refused(text.Error().message);
  QByteArray line = *text;
  if (line.endsWith('\n')) line.chop(1);
  if (line.contains('\n')) return Refused(QStringLiteral("%1 holds more than one job line").arg(path));
  return QString::fromUtf8(line);
}

// Replaces --job LINE by the words of LINE, split as a shell splits words
// (quotes, no expansion); the arguments as they are without --job.
TResult<QStringList> ExpandJob(const QStringList& normalised) {
  QStringList expanded;
  QStringList lines;
  const QString job = Dashed(TOption::kJob);
  for (const QString& a : normalised) {
    if (a.startsWith(job + QLatin1Char('='))) {
      lines << a.mid(job.size() + 1);
    } else {
      expanded << a;  // a --job without its value is refused by the parser
    }
  }
  if (lines.isEmpty()) return normalised;
  if (lines.size() > 1) return Refused(QStringLiteral("%1 is given more than once").arg(job));
  // --job @FILE: the line is FILE's one line, for a line too long to be
  // an argument (pathwick_sweep hands such lines over so).
  if (lines.front().startsWith(QLatin1Char(kJobFileMark))) {
    TResult<QString> line = JobLineOfFile(lines.front().mid(1));
    if (!line) return line.Error();
    lines.front() = *line;
  }
  const QStringList words = Normalised(QProcess::splitCommand(lines.front()));
  for (const QString& w : words) {
    const TOptionRow* row = FindRow(OptionName(w));
    if (row && !row->inJobLine) {
      return Refused(QStringLiteral("a job line may not hold %1, but this one does: %2")
                         .arg(Dashed(QLatin1String(row->name)), lines.front()));
    }
  }
  return expanded + words;
}

// Which mode a command line that names several is taken for (and then
// refused, as that mode does not take the others).
constexpr TCommandKind kModePrecedence[] = {K::kSummarize, K::kVerify,    K::kGrid,         K::kShow,
                                            K::kEnded,     K::kSeedOf,    K::kCheckSweep,   K::kPlanSweep,
                                            K::kBatch,     K::kCalibrate, K::kPlanPrecision};

// --check-sweep writes the summary as --summarize does, and --plan-precision
// explores the runs as it does, and so they take the options that are
// --summarize's alone (or shared with --calibrate only).
bool ModeTakesRow(TCommandKind kind, const TOptionRow& row) {
  const bool summaryOption = !row.chooses && (row.modes & ~kInCalibrate) == In(K::kSummarize);
  const bool summarizes = kind == K::kCheckSweep || kind == K::kPlanPrecision;
  return (row.modes & In(kind)) != 0 || (summarizes && summaryOption);
}

class TOptionReader {
 public:
  explicit TOptionReader(QCommandLineParser& parser) : parser_(parser) {}

  TResult<TCommand> Read() {
    TCommand c;
    for (TCommandKind first : {K::kHelp, K::kVersion}) {
      if (Set(*ModeRow(first))) {
        c.kind = first;
        return c;
      }
    }
    if (!parser_.positionalArguments().isEmpty()) {
      return Refused(
          QStringLiteral("unexpected argument '%1'; options start with --").arg(parser_.positionalArguments().front()));
    }
    const QStringList names = parser_.optionNames();
    for (const QString& name : names) {
      const TOptionRow* row = FindRow(name);
      if (!(row && row->repeatable) && names.count(name) > 1)
        return Refused(QStringLiteral("%1 is given more than once").arg(Dashed(name)));
    }
    for (TOption forGrid : {TOption::kVary, TOption::kSeeds}) {
      if (Set(forGrid) && !Set(TOption::kGrid)) {
        return Refused(QStringLiteral("%1 is for job lists: give %2 too").arg(Dashed(forGrid), Dashed(TOption::kGrid)));
      }
    }
    c.kind = TCommandKind::kRun;
    for (TCommandKind mode : kModePrecedence) {
      if (Set(*ModeRow(mode))) {
        c.kind = mode;
        break;
      }
    }
    if (TStatus only = OnlyTakes(c.kind); !only) return only.Error();
    if (kSettingModes & In(c.kind)) {
      if (TStatus read = ReadSettings(c.run); !read) return read.Error();
    }
    for (const TOptionRow& row : kOptionRows) {
      if (!row.read || !Set(row)) continue;
      if (TStatus read = row.read(row, parser_.values(QLatin1String(row.name)), c); !read) return read.Error();
    }
    if (c.out.isEmpty() && c.force) {
      return Refused(
          QStringLiteral("%1 replaces a run folder: give %2 DIR").arg(Dashed(TOption::kForce), Dashed(TOption::kOut)));
    }
    if (c.kind == TCommandKind::kGrid) {
      if (TStatus design = CheckDesignOptions(c); !design) return design.Error();
    }
    if (c.kind == TCommandKind::kCalibrate) {
      if (TStatus calibrate = CheckCalibrateOptions(c); !calibrate) return calibrate.Error();
    }
    if (c.run.design) {
      if (TStatus design = CheckRunDesign(*c.run.design); !design) return design.Error();
    }
    if (!c.measures.isEmpty() || !c.transforms.isEmpty()) {
      if (auto study = ChooseSeriesMeasures(c.measures, c.transforms); !study) return study.Error();
    }
    return c;
  }

 private:
  bool Set(const TOptionRow& row) const { return parser_.isSet(QLatin1String(row.name)); }
  bool Set(TOption option) const { return Set(Row(option)); }

  // --design takes --samples and a --range for each factor, and refuses
  // --vary and the options of other kinds of design.
  TStatus CheckDesignOptions(const TCommand& c) const {
    const QString& kind = c.design.kind;
    for (const TFactorRange& range : c.design.ranges) {
      if (range.log) return Refused(QStringLiteral("a log range is for %1").arg(Dashed(TOption::kCalibrate)));
    }
    if (kind.isEmpty()) {
      for (TOption option : {TOption::kSamples, TOption::kRange, TOption::kLevels, TOption::kDesignSeed}) {
        if (Set(option)) {
          return Refused(QStringLiteral("%1 is for %2: give %2 too").arg(Dashed(option), Dashed(TOption::kDesign)));
        }
      }
      return Success();
    }
    if (!c.vary.isEmpty()) {
      return Refused(
          QStringLiteral("%1 and %2 do not mix: a designed sweep draws its points from the %3 of each factor")
              .arg(Dashed(TOption::kVary), Dashed(TOption::kDesign), Dashed(TOption::kRange)));
    }
    if (!Set(TOption::kSamples) || c.design.ranges.isEmpty())
      return Refused(QStringLiteral("%1 %2 needs %3 N and a %4 NAME=LO:HI for each factor")
                         .arg(Dashed(TOption::kDesign), kind, Dashed(TOption::kSamples), Dashed(TOption::kRange)));
    // ReadDesignKind took only a kind of the table.
    const TDesignKind& design = *FindDesignKind(kind);
    if (c.design.levels && !design.takesLevels) {
      return Refused(QStringLiteral("%1 is for %2 %3, not %4")
                         .arg(Dashed(TOption::kLevels), Dashed(TOption::kDesign),
                              DesignKindNames([](const TDesignKind& k) { return k.takesLevels; }, "or"), kind));
    }
    if (c.design.levels && *c.design.levels % 2 != 0) {
      return Refused(QStringLiteral("%1 takes an even number, so that a step of P/(2(P-1)) stays on the grid, "
                                    "not '%2'")
                         .arg(Dashed(TOption::kLevels))
                         .arg(*c.design.levels));
    }
    if (c.design.seed && !design.takesSeed) {
      return Refused(QStringLiteral("%1 is for %2: %3")
                         .arg(Dashed(TOption::kDesignSeed),
                              DesignKindNames([](const TDesignKind& k) { return k.takesSeed; }, "and"),
                              QLatin1String(design.seedless)));
    }
    const TDesignShape shape = DesignShape(c);
    if (shape.points * std::max<qint64>(1, c.seeds.size()) > kMaxJobLines)
      return Refused(QStringLiteral("the job list would have more than %1 lines").arg(kMaxJobLines));
    return Success();
  }

  // --calibrate takes a --range for each factor, a target and a --budget;
  // or its folder alone, to resume.
  TStatus CheckCalibrateOptions(const TCommand& c) const {
    const TCalibrateOptions& o = c.calibrate;
    const bool nsga2 = o.method == QLatin1String(kMethodNsga2);
    // Each method's own options, refused for the other.
    for (const TOption option : {TOption::kParticles, TOption::kPopulation, TOption::kGenerations}) {
      const bool nsgaOption = option != TOption::kParticles;
      if (Set(option) && nsgaOption != nsga2) {
        return Refused(QStringLiteral("%1 is for %2 %3, not %4")
                           .arg(Dashed(option), Dashed(TOption::kMethod),
                                QLatin1String(nsgaOption ? kMethodNsga2 : kMethodAbc),
                                QLatin1String(nsga2 ? kMethodNsga2 : kMethodAbc)));
      }
    }
    if (o.population && *o.population % 4 != 0) {
      return Refused(QStringLiteral("%1 takes a multiple of 4, as NSGA-II pairs its parents in fours, not '%2'")
                         .arg(Dashed(TOption::kPopulation))
                         .arg(*o.population));
    }
    const bool bounded = o.budget || (nsga2 && o.generations);
    const bool any = !c.design.ranges.isEmpty() || !o.targets.isEmpty() || !o.targetRuns.isEmpty() || bounded;
    if (!any) return Success();
    if (c.design.ranges.isEmpty() || (o.targets.isEmpty() && o.targetRuns.isEmpty()) || !bounded) {
      return Refused(QStringLiteral("%1 DIR needs a %2 NAME=LO:HI for each factor, a %3 NAME=VALUE for each measure "
                                    "(or %4 DIR) and a %5 RUNS (or with %6 %7, %8 G); or DIR alone to resume")
                         .arg(Dashed(TOption::kCalibrate), Dashed(TOption::kRange), Dashed(TOption::kTarget),
                              Dashed(TOption::kTargetRuns), Dashed(TOption::kBudget), Dashed(TOption::kMethod),
                              QLatin1String(kMethodNsga2), Dashed(TOption::kGenerations)));
    }
    for (const QString& t : o.targets) {
      const bool valued = t.contains(QLatin1Char('='));
      if (valued == !o.targetRuns.isEmpty()) {
        return Refused(QStringLiteral("%1 takes NAME=VALUE, or with %2 the NAME alone, not '%3'")
                           .arg(Dashed(TOption::kTarget), Dashed(TOption::kTargetRuns), t));
      }
    }
    return Success();
  }

  // Refuses every option given that the mode would ignore.
  TStatus OnlyTakes(TCommandKind kind) const {
    for (const QString& name : parser_.optionNames()) {
      const TOptionRow* row = FindRow(name);
      const bool taken = row ? ModeTakesRow(kind, *row) : (kSettingModes & In(kind)) != 0;
      if (taken) continue;
      const TOptionRow* mode = ModeRow(kind);
      const QString what = mode ? Dashed(QLatin1String(mode->name)) : QStringLiteral("a run");
      return Refused(QStringLiteral("%1 does not take %2").arg(what, Dashed(name)));
    }
    return Success();
  }

  TStatus ReadSettings(TRunOptions& run) const {
    const auto specs = SettingSpecs();
    for (size_t i = 0; i < specs.size(); ++i) {
      const QString option = QLatin1String(specs[i].option);
      if (!parser_.isSet(option)) continue;
      const TResult<int32_t> value = ReadSettingValue(specs[i], parser_.value(option));
      if (!value) return value.Error();
      run.settings[i] = *value;
    }
    return Success();
  }

  QCommandLineParser& parser_;
};

// Two or more --job: a batch given on the command line, as pathwick_sweep
// hands a chunk of its runs to one process: --out DIR --job LINE for each
// run, in its order, and beside them only --quiet and --force.
TResult<TCommand> PairedBatch(const QStringList& normalised) {
  TCommand c;
  c.kind = TCommandKind::kBatch;
  const QString out = QLatin1String(OptionName(TOption::kOut));
  std::optional<QString> folder;
  for (const QString& a : normalised) {
    const QString name = OptionName(a);
    const qsizetype eq = a.indexOf(QLatin1Char('='));
    if (name == out && eq >= 0 && !folder) {
      folder = a.mid(eq + 1);
    } else if (name == QLatin1String(OptionName(TOption::kJob)) && eq >= 0 && folder) {
      c.folders << *folder;
      c.jobLines << a.mid(eq + 1);
      folder.reset();
    } else if (name == QLatin1String(OptionName(TOption::kQuiet)) && eq < 0) {
      c.quiet = true;
    } else if (name == QLatin1String(OptionName(TOption::kForce)) && eq < 0) {
      c.force = true;
    } else {
      return Refused(
          QStringLiteral("runs given as pairs of %1 DIR %2 LINE take only %3 and %4 beside them, not '%5'")
              .arg(Dashed(TOption::kOut), Dashed(TOption::kJob), Dashed(TOption::kQuiet), Dashed(TOption::kForce), a));
    }
  }
  if (folder)
    return Refused(QStringLiteral("the last %1 has no %2 after it").arg(Dashed(TOption::kOut), Dashed(TOption::kJob)));
  return c;
}

}  // namespace

TResult<TCommand> ParseCommandLine(const QStringList& arguments) {
  const QStringList normalised = Normalised(arguments);
  const QString jobGiven = Dashed(TOption::kJob) + QLatin1Char('=');
  if (normalised.count(QStringLiteral("--job")) +
          std::count_if(normalised.begin(), normalised.end(),
                        [&](const QString& a) { return a.startsWith(jobGiven); }) >
      1) {
    return PairedBatch(normalised);
  }
  TResult<QStringList> expanded = ExpandJob(normalised);
  if (!expanded) return expanded.Error();
  // Made once: a batch parses every run's line, and the options' texts do
  // not change.
  static const QList<QCommandLineOption> options = CommandLineOptions({});
  QCommandLineParser parser;
  AddOptions(parser, options);
  if (!parser.parse(QStringList{QStringLiteral("pathwick_run")} + *expanded)) {
    QString error = parser.errorText();
    // The toolkit names every unknown option, repeats and all, so a long job
    // line of them would be refused in a message as long: past a few, the
    // first few are named and the rest counted.
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.size() > kUnknownNamed) {
      error = QStringLiteral("Unknown options: %1 and %2 more.")
                  .arg(unknown.mid(0, kUnknownNamed).join(QStringLiteral(", ")))
                  .arg(unknown.size() - kUnknownNamed);
    }
    if (!error.isEmpty()) error[0] = error[0].toLower();
    return Refused(error + QStringLiteral(" See pathwick_run --help."));
  }
  return TOptionReader(parser).Read();
}

QString HelpText(const TSettingValues& defaults) {
  QCommandLineParser parser;
  AddOptions(parser, CommandLineOptions(defaults));
  // The usage line names the program, not the path it was started from.
  QString text = parser.helpText();
  const qsizetype endOfUsage = text.indexOf(QLatin1Char('\n'));
  text.replace(0, endOfUsage, QStringLiteral("Usage: pathwick_run [options]"));
  return text + QLatin1String(kEpilogSettings) + QLatin1Char('\n') + ModesParagraph() + QLatin1String(kEpilogEnd);
}

const char* OptionName(TOption option) { return Row(option).name; }

QString Dashed(TOption option) { return Dashed(QLatin1String(OptionName(option))); }

QStringList JobLineReserved() {
  QStringList reserved;
  for (const TOptionRow& row : kOptionRows) {
    if (!row.inJobLine) reserved << Dashed(QLatin1String(row.name));
  }
  return reserved;
}

QString JobLineSeed(const QString& line) {
  const QString seed = Dashed(TOption::kSeed) + QLatin1Char('=');
  for (const QString& word : Normalised(QProcess::splitCommand(line))) {
    if (!word.startsWith(seed)) continue;
    const auto value = ParseWhole(word.mid(seed.size()), kSeedRange.min, kSeedRange.max);
    return value ? QString::number(*value) : QLatin1String(kClockSeed);
  }
  return QLatin1String(kClockSeed);
}

QString JobLineWord(const QString& word) {
  static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=+,-]+$"));
  if (plain.match(word).hasMatch()) return word;
  QString quoted = word;
  quoted.replace(QLatin1Char('"'), QStringLiteral("\"\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString JobLineWithoutSeed(const QString& line) {
  const QString seed = Dashed(TOption::kSeed) + QLatin1Char('=');
  QStringList words;
  for (const QString& word : Normalised(QProcess::splitCommand(line))) {
    if (!word.startsWith(seed)) words << JobLineWord(word);
  }
  return words.join(QLatin1Char(' '));
}
