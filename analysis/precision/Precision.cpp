#include "Precision.h"

#include <QRegularExpression>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "Estimation.h"
#include "Tables.h"

namespace {

// The quantities of a term that carry an interval, as effects.csv names them.
constexpr std::array kIntervalQuantities{"effect", "interaction", "prcc", "S1", "ST", "mu_star", "mu", "sigma"};

QStringList IntervalQuantities() {
  QStringList names;
  for (const char* q : kIntervalQuantities) names << QLatin1String(q);
  return names;
}

QString Number(double value) { return QString::number(value, 'g', 6); }

// A named interval in words: "trip_rate, sniff threshold ST".
QString IntervalWords(const TNamedInterval& interval, const std::vector<TPrecisionTarget>& targets) {
  const TPrecisionTarget& t = targets[interval.target];
  if (!interval.made) return QStringLiteral("%1 %2").arg(t.measure, interval.quantity).trimmed();
  return QStringLiteral("%1 %2 %3").arg(t.measure, ExploreTermWords(interval.term), interval.quantity);
}

// The widest interval in words.
QString WidestWords(const TNamedInterval& widest, const std::vector<TPrecisionTarget>& targets) {
  const QString asked = Number(targets[widest.target].width);
  if (!widest.made) {
    return QStringLiteral(
               "no interval of %1 is made yet (%2 asked): the runs show no variation of it beyond the "
               "seeds' noise")
        .arg(IntervalWords(widest, targets), asked);
  }
  return QStringLiteral("the widest named interval, %1, is %2 wide (%3 asked)")
      .arg(IntervalWords(widest, targets), Number(widest.Width()), asked);
}

}  // namespace

TResult<TPrecisionTarget> ParsePrecisionTarget(const QString& text) {
  static const QRegularExpression form(QStringLiteral("^([^:=\\s]+)(?::([A-Za-z0-9_]+))?=([^=\\s]+)$"));
  const QRegularExpressionMatch match = form.match(text);
  const auto refuse = [&text](const QString& why) {
    return Refused(
        QStringLiteral("--precision takes MEASURE[:QUANTITY]=WIDTH (trip_rate:ST=0.1), not '%1': %2").arg(text, why));
  };
  if (!match.hasMatch()) return refuse(QStringLiteral("it is not of that form"));
  TPrecisionTarget target{match.captured(1), match.captured(2), 0, text};
  if (!target.quantity.isEmpty() && !IntervalQuantities().contains(target.quantity)) {
    return refuse(
        QStringLiteral("the quantities with intervals are %1").arg(IntervalQuantities().join(QStringLiteral(", "))));
  }
  bool ok = false;
  target.width = match.captured(3).toDouble(&ok);
  if (!ok || !std::isfinite(target.width) || !(target.width > 0))
    return refuse(QStringLiteral("the width is a number above 0"));
  return target;
}

TStatus CheckPrecisionTargets(const std::vector<TPrecisionTarget>& targets, const std::vector<TStudyMeasure>& study) {
  if (targets.empty()) return Refused(QStringLiteral("a precision sweep needs at least one --precision"));
  QStringList names;
  for (const TStudyMeasure& m : study) names << m.name;
  for (const TPrecisionTarget& t : targets) {
    if (!names.contains(t.measure)) {
      return Refused(QStringLiteral("--precision %1 names %2, which the summary does not study (it studies %3; "
                                    "--measure chooses others)")
                         .arg(t.text, t.measure, names.join(QStringLiteral(", "))));
    }
  }
  return Success();
}

TResult<std::vector<TNamedInterval>> NamedIntervals(const TExploration& exploration,
                                                    const std::vector<TPrecisionTarget>& targets) {
  std::vector<TNamedInterval> intervals;
  for (size_t t = 0; t < targets.size(); ++t) {
    const TPrecisionTarget& target = targets[t];
    QStringList made;
    const size_t before = intervals.size();
    for (const TEffect& e : exploration.effects) {
      if (e.measure != target.measure || !IsTermQuantity(e.quantity) || !e.low || !e.high) continue;
      if (!made.contains(e.quantity)) made << e.quantity;
      if (!target.quantity.isEmpty() && e.quantity != target.quantity) continue;
      intervals.push_back({t, e.term, e.quantity, e.estimate, *e.low, *e.high});
    }
    if (made.isEmpty()) {
      TNamedInterval none{t, {}, target.quantity, 0, 0, 0};
      none.made = false;
      intervals.push_back(none);
    } else if (intervals.size() == before) {
      return Refused(QStringLiteral("--precision %1: the %2 analysis makes no such interval of %3 (%4)")
                         .arg(target.text, exploration.analysis, target.measure,
                              made.isEmpty() ? QStringLiteral("it makes none of it")
                                             : QStringLiteral("it makes %1").arg(made.join(QStringLiteral(", ")))));
    }
  }
  return intervals;
}

TRoundPlan PlanRound(const std::vector<TJobPoint>& points, qint64 runs, const std::vector<TNamedInterval>& intervals,
                     const std::vector<TPrecisionTarget>& targets, const TExploration& exploration, qint64 maxRuns) {
  TRoundPlan plan;
  size_t fewest = std::numeric_limits<size_t>::max();
  uint32_t largestSeed = 0;
  for (const TJobPoint& p : points) {
    fewest = std::min(fewest, p.seeds.size());
    for (const uint32_t s : p.seeds) largestSeed = std::max(largestSeed, s);
  }
  const auto seeds = static_cast<int32_t>(fewest);
  plan.seedsPerPoint = seeds;
  // The interval furthest from its width, as a share of the width asked.
  const TNamedInterval* widest = nullptr;
  double wantedSeeds = 0;
  for (const TNamedInterval& i : intervals) {
    const double wanted = targets[i.target].width;
    if (!widest || i.Width() / wanted > widest->Width() / targets[widest->target].width) widest = &i;
    // An interval not made yet asks for as many seeds as a round may add.
    const double asked =
        i.made ? explore::NarrowingCount(seeds, i.Width(), wanted) : static_cast<double>(seeds) * kMostRoundGrowth;
    if (i.Width() > wanted) wantedSeeds = std::max(wantedSeeds, asked);
  }
  const QString widestWords = WidestWords(*widest, targets);
  if (wantedSeeds == 0) {
    plan.verdict = TPrecisionVerdict::kReached;
    plan.line = QStringLiteral("every named interval is narrow enough after %1 runs: %2").arg(runs).arg(widestWords);
    return plan;
  }
  // The seeds the seeds' share asks for, for a measure a target names.
  for (const TWarning& w : exploration.warnings) {
    if (w.quantity != QLatin1String("seed_share")) continue;
    for (const TPrecisionTarget& t : targets) {
      if (exploration.measures[w.measure].name == t.measure) wantedSeeds = std::max(wantedSeeds, w.count);
    }
  }
  const auto bounded = static_cast<qint64>(std::clamp(std::ceil(wantedSeeds), static_cast<double>(seeds + 1),
                                                      static_cast<double>(seeds) * kMostRoundGrowth));
  const auto added = [&points](qint64 to) {
    qint64 n = 0;
    for (const TJobPoint& p : points) n += std::max<qint64>(0, to - static_cast<qint64>(p.seeds.size()));
    return n;
  };
  qint64 next = bounded;
  while (next > seeds && (runs + added(next) > maxRuns ||
                          largestSeed + static_cast<qint64>(next) > std::numeric_limits<uint32_t>::max())) {
    --next;
  }
  if (next <= seeds) {
    plan.verdict = TPrecisionVerdict::kCapped;
    plan.line = QStringLiteral(
                    "stopped at the cap of %1 runs after %2 runs, %3 seeds per point: %4; about %5 seeds "
                    "per point would narrow it")
                    .arg(maxRuns)
                    .arg(runs)
                    .arg(seeds)
                    .arg(widestWords)
                    .arg(std::ceil(wantedSeeds));
    return plan;
  }
  for (const TJobPoint& p : points) {
    uint32_t seed = largestSeed;
    for (auto n = static_cast<qint64>(p.seeds.size()); n < next; ++n)
      plan.lines << QStringLiteral("%1 --seed %2").arg(p.line).arg(++seed);
  }
  plan.seedsPerPoint = static_cast<int32_t>(next);
  plan.line = QStringLiteral(
                  "%1 runs, to %2 seeds per point (%3 asked, at most %4 times as many a round and %5 runs "
                  "in all): %6")
                  .arg(plan.lines.size())
                  .arg(next)
                  .arg(std::ceil(wantedSeeds))
                  .arg(kMostRoundGrowth)
                  .arg(maxRuns)
                  .arg(widestWords);
  return plan;
}

QByteArray RoundsTable(const QByteArray& earlier, int32_t round, qint64 runsAdded, qint64 runs, int32_t seedsPerPoint,
                       const std::vector<TNamedInterval>& intervals, const std::vector<TPrecisionTarget>& targets) {
  const QString header = QStringLiteral(
      "round,runs_added,runs,seeds_per_point,target,measure,term,quantity,estimate,low,high,width,wanted,narrow");
  QString text = header + QLatin1Char('\n');
  const QStringList lines = QString::fromUtf8(earlier).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  if (!lines.isEmpty() && lines.front() == header) {
    for (qsizetype i = 1; i < lines.size(); ++i) {
      bool ok = false;
      const int r = lines[i].section(QLatin1Char(','), 0, 0).toInt(&ok);
      if (ok && r < round) text += lines[i] + QLatin1Char('\n');
    }
  }
  for (const TNamedInterval& i : intervals) {
    const TPrecisionTarget& t = targets[i.target];
    text += QStringList{QString::number(round),
                        QString::number(runsAdded),
                        QString::number(runs),
                        QString::number(seedsPerPoint),
                        CsvCell(t.text),
                        CsvCell(t.measure),
                        CsvCell(i.term),
                        i.quantity,
                        i.made ? Number(i.estimate) : QString(),
                        i.made ? Number(i.low) : QString(),
                        i.made ? Number(i.high) : QString(),
                        i.made ? Number(i.Width()) : QString(),
                        Number(t.width),
                        i.Width() <= t.width ? QStringLiteral("yes") : QStringLiteral("no")}
                .join(QLatin1Char(',')) +
            QLatin1Char('\n');
  }
  return text.toUtf8();
}
