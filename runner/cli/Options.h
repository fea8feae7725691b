// The command line of pathwick_run, parsed into plain values: nothing is
// read from a file here (Plan.h resolves what a run needs from its files).
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>

#include "Exploration.h"  // TFactorCoding
#include "Result.h"
#include "RunSetup.h"
#include "Settings.h"

enum class TCommandKind {
  kRun,
  kShow,
  kGrid,
  kSummarize,
  kVerify,
  kHelp,
  kVersion,
  kEnded,
  kSeedOf,
  kCheckSweep,
  kPlanSweep,
  kBatch,
  kCalibrate,
  kPlanPrecision
};

// Every option of pathwick_run but the settings, in the order of --help. The
// option table names each once; code that writes or asks for an option
// (job lines, --verify's repeats, the refusals) takes its name from there.
enum class TOption : uint8_t {
  kHelp,
  kVersion,
  kSteps,
  kSeed,
  kOut,
  kForce,
  kHistograms,
  kPlot,
  kSnapshotEvery,
  kPictureScale,
  kVideo,
  kVideoEvery,
  kAgentsEvery,
  kFieldEvery,
  kBirths,
  kConfig,
  kCheckpointEvery,
  kKeepCheckpoints,
  kFrom,
  kDesignPoint,
  kDesignFactors,
  kDesignCommand,
  kQuiet,
  kShow,
  kGrid,
  kVary,
  kSeeds,
  kDesign,
  kSamples,
  kRange,
  kLevels,
  kDesignSeed,
  kJob,
  kSummarize,
  kWindow,
  kGzipSamples,
  kMeasure,
  kTransform,
  kFactorCoding,
  kVerify,
  kRepeat,
  kEnded,
  kSeedOf,
  kCheckSweep,
  kSweepInterrupted,
  kParallelStatus,
  kSlurmSubmission,
  kPlanSweep,
  kRedoChanged,
  kJobs,
  kCalibrate,
  kTarget,
  kTargetRuns,
  kSeedsPerParticle,
  kParticles,
  kMethod,
  kPopulation,
  kGenerations,
  kBudget,
  kCalibrationSeed,
  kSweepJobs,
  kPlanPrecision,
  kPrecision,
  kMaxRuns,
  kPrecisionCheck,
};
inline constexpr TOption kLastOption = TOption::kPrecisionCheck;

// The option's name without the dashes ("steps"), and as the command line
// writes it ("--steps").
const char* OptionName(TOption option);
QString Dashed(TOption option);

// --verify --repeat: every run; not given: a run folder is repeated, a
// folder of runs has kDefaultRepeats of its runs repeated.
inline constexpr int32_t kRepeatAll = -1;
inline constexpr int32_t kRepeatUnset = -2;
inline constexpr int32_t kDefaultRepeats = 3;

// What the command line says about a run, each item only when it is given.
struct TRunOptions {
  std::array<std::optional<int32_t>, kSettingCount> settings;
  std::optional<int32_t> steps;
  std::optional<uint32_t> seed;
  bool histograms = false;
  bool plot = false;
  std::optional<int32_t> snapshotEvery;
  std::optional<int32_t> checkpointEvery;
  bool keepCheckpoints = false;
  std::optional<int32_t> pictureScale;
  QString video;  // the video's file name in the run's folder
  std::optional<int32_t> videoEvery;
  std::optional<int32_t> agentsEvery;
  std::optional<int32_t> fieldEvery;
  bool births = false;
  QString config;  // a run.json to repeat
  QString from;    // a checkpoint to continue
  // The run's point of a designed sweep, as its job line gives it
  // (--design-point, --design-factors, --design-command).
  std::optional<TDesignPoint> design;
};

// One --vary of --grid: a setting and the values it takes, in order.
struct TVary {
  size_t setting = 0;
  QList<int32_t> values;
};

// One factor of --design: a setting and the values its points are drawn
// from, lo < hi in the setting's own units (hundredths for a rate, 0 and 1
// for a two-valued setting).
struct TFactorRange {
  size_t setting = 0;
  int32_t lo = 0;
  int32_t hi = 0;
  bool log = false;  // --calibrate: log-uniform ("LO:HI:log")
};

inline constexpr int32_t kDefaultLevels = 4;
inline constexpr uint32_t kDefaultDesignSeed = 1;

// --design and what shapes it; an empty kind: a plain --grid.
struct TDesignOptions {
  QString kind;  // the name of a design kind that draws its points (DesignKind.h)
  int32_t samples = 0;
  std::optional<int32_t> levels;  // for a kind that takesLevels
  std::optional<uint32_t> seed;   // for a kind that takesSeed: the seed of its draws
  QList<TFactorRange> ranges;     // in the order given
};

// --calibrate --method: ABC-SMC (the default) or NSGA-II.
inline constexpr const char* kMethodAbc = "abc";
inline constexpr const char* kMethodNsga2 = "nsga2";

// --calibrate and what shapes it; the factors are the --range ones
// (TDesignOptions::ranges), the steps and window the run's and --window.
struct TCalibrateOptions {
  QString method;       // kMethodAbc or kMethodNsga2; empty: not given (ABC-SMC, or the folder's)
  QStringList targets;  // "NAME=VALUE", or "NAME" alone beside --target-runs
  QString targetRuns;   // a folder of reference runs whose measures are the target
  std::optional<int32_t> seedsPerParticle;
  std::optional<int32_t> particles;    // ABC-SMC
  std::optional<int32_t> population;   // NSGA-II
  std::optional<int32_t> generations;  // NSGA-II
  std::optional<int32_t> budget;
  std::optional<uint32_t> seed;
  std::optional<int32_t> sweepJobs;  // pathwick_sweep's --jobs
};

struct TCommand {
  TCommandKind kind = TCommandKind::kRun;
  TRunOptions run;
  QString out;  // kRun: the run folder; empty: the series goes to standard output; kBatch: the folder of its runs
  bool force = false;
  bool quiet = false;
  QList<TVary> vary;         // kGrid
  QList<uint32_t> seeds;     // kGrid: the seeds of --seeds
  TDesignOptions design;     // kGrid
  QString folder;            // kSummarize, kVerify, kCheckSweep, kPlanSweep
  int32_t window = 0;        // kSummarize, kCheckSweep: samples a run's final mean spans (0: the last only)
  bool gzipSamples = false;  // kSummarize, kCheckSweep: samples.csv.gz instead of samples.csv
  QStringList measures;      // kSummarize, kCheckSweep: the study's measures as given (none: the default four)
  QStringList transforms;    // kSummarize, kCheckSweep: NAME=FN, the scale of a measure
  TFactorCoding factorCoding = TFactorCoding::kAuto;  // kSummarize, kCheckSweep: how a factorial codes its factors
  QStringList folders;             // kEnded: the run folders asked about, in order; kBatch: those of its pairs
  QStringList jobLines;            // kSeedOf: the job lines asked about, in order; kBatch: those of its pairs
  int32_t repeat = kRepeatUnset;   // kVerify: runs to repeat, kRepeatAll for every one; kRepeatUnset: not given
  bool sweepInterrupted = false;   // kCheckSweep: the sweep was stopped before its runs ended
  int32_t parallelStatus = 0;      // kCheckSweep: GNU parallel's exit status
  QString slurmSubmission;         // kCheckSweep: the Slurm submission whose tasks' job logs are merged first
  bool redoChanged = false;        // kPlanSweep: a run whose record differs from its job line is made again
  QString jobsFile;                // kBatch: the job lines to run, one after another; "-" for standard input
  TCalibrateOptions calibrate;     // kCalibrate (its folder is `folder`)
  QStringList precision;           // kPlanPrecision: MEASURE[:QUANTITY]=WIDTH, as given
  std::optional<int32_t> maxRuns;  // kPlanPrecision: the cap on the runs of every round
  bool precisionCheck = false;     // kPlanPrecision: only check the request and the job list
};

inline constexpr int32_t kDefaultSteps = 10000;
inline constexpr qsizetype kMaxJobLines = 1000000;
// --job @FILE takes the job line FILE holds; --seed-of - reads its job lines
// from standard input. Either way a line too long to be an argument passes.
inline constexpr char kJobFileMark = '@';
inline constexpr const char* kStandardInputName = "-";

// Parses `arguments` (without the program name); refuses with one line.
TResult<TCommand> ParseCommandLine(const QStringList& arguments);

// --help: every option with its default, the seed rule and the exit statuses.
QString HelpText(const TSettingValues& defaults);

// The options a job line may not hold, dashed, in the order of --help.
QStringList JobLineReserved();

// The seed a job line runs with, as --seed-of prints it: the number, or
// "clock" when the line gives no seed that can be read.
QString JobLineSeed(const QString& line);

// A word as a job line holds it: quoted when it has blanks or quotes.
QString JobLineWord(const QString& word);

// A job line's options without its seed, each in one form and quoted as a
// job line writes them, so that two lines that differ only in their seeds
// give the same text; "--seed S" after it makes a line of that seed.
QString JobLineWithoutSeed(const QString& line);
