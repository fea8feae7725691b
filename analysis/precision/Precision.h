// Precision on request: a sweep grown in rounds until the intervals it
// names are narrow enough, or its cap on runs is reached. Round 0 is the
// job list as given; each later round adds seeds to every design point, and
// is a job list of its own that pathwick_sweep runs like any other. After a
// round the runs so far are explored (as the summary explores them), each
// named interval's width is recorded in OUTDIR/.sweep/rounds.csv, and the
// next round is sized from those widths and the seeds' share.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "Exploration.h"
#include "Result.h"

// One --precision MEASURE[:QUANTITY]=WIDTH: every interval of the measure's
// terms (or of one quantity of them: ST, mu_star, effect, ...) should be at
// most WIDTH wide, in the measure's own units (on its scale).
struct TPrecisionTarget {
  QString measure;   // as effects.csv names it: "trip_rate", "log1p(trip_rate)"
  QString quantity;  // empty: every quantity of the measure's terms that has an interval
  double width = 0;
  QString text;  // as given
};
TResult<TPrecisionTarget> ParsePrecisionTarget(const QString& text);

// The study measures' names a target may name; refuses one the study lacks.
TStatus CheckPrecisionTargets(const std::vector<TPrecisionTarget>& targets, const std::vector<TStudyMeasure>& study);

// A named interval as a round found it.
struct TNamedInterval {
  size_t target = 0;  // its index in the request's targets
  QString term;
  QString quantity;
  double estimate = 0;
  double low = 0;
  double high = 0;
  // An interval not made yet: the runs so far show no variation of the
  // measure beyond the seeds' noise (or too little for an analysis), which
  // more seeds may show. Its width counts as infinite.
  bool made = true;
  double Width() const { return made ? high - low : std::numeric_limits<double>::infinity(); }
};
// Every interval the targets name, in the exploration's order. A target of
// a measure the exploration made no interval of at all stands as one
// interval not made yet; a target of a quantity the analysis does not make
// while it makes others of the measure (an ST of a factorial) is refused,
// naming those it makes.
TResult<std::vector<TNamedInterval>> NamedIntervals(const TExploration& exploration,
                                                    const std::vector<TPrecisionTarget>& targets);

// The design's points as the job list's lines make them: a point is a
// line without its seed, and its runs are the seeds it is run with.
struct TJobPoint {
  QString line;  // the point's job line without a seed, to which a round adds "--seed S"
  std::vector<uint32_t> seeds;
};

// Why the rounds end, or that they go on.
enum class TPrecisionVerdict : uint8_t { kReached, kCapped, kNextRound };

struct TRoundPlan {
  TPrecisionVerdict verdict = TPrecisionVerdict::kNextRound;
  int32_t seedsPerPoint = 0;  // the fewest seeds any point has, after the next round when there is one
  QStringList lines;          // the next round's job lines, one per run
  QString line;               // one line in words: the verdict, or what the next round adds and why
};

// The sizes a round may take: the seeds per point the widest interval asks
// for grow by at most this factor a round, as the width is an estimate.
inline constexpr int32_t kMostRoundGrowth = 4;

// The next round from the intervals of the runs so far: every named interval
// at most its width: reached. Otherwise every point is brought to the seeds
// the widest interval asks for, were its width to shrink as 1/sqrt(seeds per
// point) (NarrowingCount), and at least to those the seeds' share warning
// names for a named measure (ReportSeedShare); at least one more than now,
// at most kMostRoundGrowth times as many, and within `maxRuns` runs in all.
// When the cap leaves no room for one more seed at every point: capped. New
// seeds follow the largest seed of the list, in order.
TRoundPlan PlanRound(const std::vector<TJobPoint>& points, qint64 runs, const std::vector<TNamedInterval>& intervals,
                     const std::vector<TPrecisionTarget>& targets, const TExploration& exploration, qint64 maxRuns);

// OUTDIR/.sweep/rounds.csv: one row per round and named interval (round,
// runs_added, runs, seeds_per_point, target, measure, term, quantity,
// estimate, low, high, width, wanted, narrow; the four numbers empty for an
// interval not made yet). `earlier` is the file as it
// stands; its rows of round `round` and after are replaced, so that a round
// recorded again (a resumed sweep) gives the same file.
QByteArray RoundsTable(const QByteArray& earlier, int32_t round, qint64 runsAdded, qint64 runs, int32_t seedsPerPoint,
                       const std::vector<TNamedInterval>& intervals, const std::vector<TPrecisionTarget>& targets);

// The comment a round's lines start with in the job list of every round
// (OUTDIR/.sweep/precision.jobs): "# round N: ...". Round 0 is the job
// list as given, before the first such line.
inline constexpr const char* kRoundMark = "# round ";
inline constexpr const char* kRoundsTableName = "rounds.csv";
inline constexpr const char* kPrecisionJobsName = "precision.jobs";
