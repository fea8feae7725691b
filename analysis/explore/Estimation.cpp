#include "Estimation.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <limits>

namespace explore {

QString Option(size_t setting) { return QLatin1String(SettingSpecs()[setting].option); }

std::vector<const TRunMeasures*> RunsWith(const std::vector<const TRunMeasures*>& runs, size_t m) {
  std::vector<const TRunMeasures*> with;
  for (const TRunMeasures* run : runs) {
    if (m < run->values.size() && run->values[m] && Finite(*run->values[m])) with.push_back(run);
  }
  return with;
}

TRange RangeOf(const std::vector<const TRunMeasures*>& runs, size_t setting) {
  TRange r{std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest()};
  for (const TRunMeasures* run : runs) {
    r.min = std::min(r.min, static_cast<double>(run->settings[setting]));
    r.max = std::max(r.max, static_cast<double>(run->settings[setting]));
  }
  return r;
}

TEffect MakeEffect(const TExploration& out, size_t m, QString term, QString quantity, double estimate) {
  TEffect e;
  e.measure = out.measures[m].name;
  e.term = std::move(term);
  e.quantity = std::move(quantity);
  e.estimate = estimate;
  return e;
}

TPointMeans PointMeans(const std::vector<const TRunMeasures*>& runs, size_t m) {
  std::map<std::pair<QString, int32_t>, std::pair<TPointValue, size_t>> sums;
  for (const TRunMeasures* run : RunsWith(runs, m)) {
    auto& [point, n] = sums[{run->design->role, run->design->point}];
    if (n == 0) point.run = run;
    point.value += *run->values[m];
    ++n;
  }
  TPointMeans means;
  for (auto& [key, sum] : sums) {
    sum.first.value /= static_cast<double>(sum.second);
    means.emplace(key, sum.first);
  }
  return means;
}

TSeedShare PointSeedShare(const std::vector<const TRunMeasures*>& runs, size_t m) {
  std::map<QString, size_t> index;
  std::vector<double> values;
  std::vector<size_t> point;
  for (const TRunMeasures* run : RunsWith(runs, m)) {
    QString key;
    if (run->design) {
      key = QStringLiteral("%1#%2").arg(run->design->role).arg(run->design->point);
    } else {
      for (int32_t v : run->settings) key += QString::number(v) + QLatin1Char(',');
    }
    const auto [it, added] = index.emplace(key, index.size());
    values.push_back(*run->values[m]);
    point.push_back(it->second);
  }
  return SeedShare(values, point);
}

namespace {

// The words with their one blank filled, when they have one.
QString Fill(const QString& words, const QString& with) {
  return words.contains(QLatin1String("%1")) ? words.arg(with) : words;
}

QString Percent(double share) { return QStringLiteral("%1 %").arg(100 * share, 0, 'f', 0); }

void Warn(TExploration& out, size_t m, QString term, QString quantity, QString what, QString answer, double count) {
  out.warnings.push_back(
      {m, std::move(term), std::move(quantity), std::move(what), std::move(answer), std::ceil(count)});
}

}  // namespace

void ReportSeedShare(size_t m, const TSeedShare& share, const char* point, TExploration& out) {
  const QString seed = QStringLiteral("seed");
  if (share.replicated == 0) {
    Warn(out, m, seed, QStringLiteral("seed_share"),
         QStringLiteral("one seed per %1: the runs cannot tell the seeds' noise from the factors' effects and the "
                        "indices may be mostly noise")
             .arg(QLatin1String(point)),
         QStringLiteral("run every point with --seeds 1-%1 (or more) to measure it"), kFewestSeeds);
    return;
  }
  if (!share.share) return;
  TEffect e = MakeEffect(out, m, seed, QStringLiteral("seed_share"), *share.share);
  e.low = share.low;
  e.high = share.high;
  e.share = share.share;
  e.method = QStringLiteral("one-way random-effects ANOVA over %1 points of %2 runs; F interval of ICC(1)")
                 .arg(share.points)
                 .arg(share.perPoint, 0, 'g', 3);
  out.effects.push_back(std::move(e));
  const double noise = share.meanNoise.value_or(0);
  const double between = share.between.value_or(0);
  if (noise + between > 0 && noise / (noise + between) > kNoisyMeans) {
    // σ²_w / r over σ²_w / r + σ²_b falls to kQuietMeans at r = σ²_w (1 − q) / (q σ²_b).
    const double within = share.within.value_or(0);
    const bool flat = !(between > 0);
    const double seeds = flat ? 10 * share.perPoint : within * (1 - kQuietMeans) / (kQuietMeans * between);
    Warn(out, m, seed, QStringLiteral("seed_share"),
         QStringLiteral("the seeds make %1 of the variance of the %2 means (and %3 of the runs' variance): the "
                        "indices of those means are mostly noise")
             .arg(Percent(noise / (noise + between)), QLatin1String(point), Percent(*share.share)),
         flat ? QStringLiteral("no variance between points shows beyond the seeds': %1 seeds per point (ten times as "
                               "many) or wider ranges may show an effect")
              : QStringLiteral("about %1 seeds per point would bring it below %2")
                    .arg(QStringLiteral("%1"), Percent(kQuietMeans)),
         seeds);
  }
}

QString NoiseWords(const TSeedShare& share, const char* correction) {
  if (!share.meanNoise) return QStringLiteral("point means; no replicates: the seeds' noise is not corrected");
  return QStringLiteral("means of %1 runs a point; %2").arg(share.perPoint, 0, 'g', 3).arg(QLatin1String(correction));
}

void CheckRange(const TEffect& e, size_t m, double lo, double hi, size_t rows, const QString& rowsWord,
                TExploration& out) {
  const double range = hi - lo;
  const QString bounds = QStringLiteral("%1 to %2").arg(lo).arg(hi);
  const double n = static_cast<double>(rows);
  const bool outside = e.estimate < lo || e.estimate > hi;
  if (!e.low || !e.high) {
    if (outside)
      Warn(out, m, e.term, e.quantity,
           QStringLiteral("%1 of %2 lies outside %3 and has no interval").arg(e.quantity, QStringLiteral("%1"), bounds),
           QStringLiteral("%1 %2 or more would give it one").arg(QStringLiteral("%1"), rowsWord), n + 1);
    return;
  }
  const double width = *e.high - *e.low;
  if (width > range) {
    Warn(out, m, e.term, e.quantity,
         QStringLiteral("the %1 interval of %2 is wider than %3").arg(e.quantity, QStringLiteral("%1"), bounds),
         QStringLiteral("about %1 %2 would narrow it below the range").arg(QStringLiteral("%1"), rowsWord),
         NarrowingCount(n, width, range) + 1);
  }
  if (!outside) return;
  const double wanted = range / 5;
  const double more = std::max(NarrowingCount(n, width, wanted), n + 1);
  if (*e.high < lo || *e.low > hi) {
    Warn(out, m, e.term, e.quantity,
         QStringLiteral("%1 of %2 lies outside %3 beyond its interval: noise or too few %4 bias it")
             .arg(e.quantity, QStringLiteral("%1"), bounds, rowsWord),
         QStringLiteral("more seeds per point or about %1 %2 would tell").arg(QStringLiteral("%1"), rowsWord), more);
  } else {
    Warn(out, m, e.term, e.quantity,
         QStringLiteral("%1 of %2 lies outside %3 within its interval: read it as %4")
             .arg(e.quantity, QStringLiteral("%1"), bounds, QString::number(e.estimate < lo ? lo : hi)),
         QStringLiteral("about %1 %2 would narrow the interval to a fifth of the range")
             .arg(QStringLiteral("%1"), rowsWord),
         more);
  }
}

void FinishWarnings(TExploration& out) {
  // Per measure and kind (its words), the terms and the largest count, in the order they arose.
  std::vector<std::pair<std::pair<size_t, QString>, std::pair<QStringList, const TWarning*>>> groups;
  for (const TWarning& w : out.warnings) {
    TEffect e = MakeEffect(out, w.measure, w.term, QStringLiteral("warning"), w.count);
    const QString words =
        w.term == QLatin1String("seed") || w.term == QLatin1String("design") ? w.term : ExploreTermWords(w.term);
    e.method = Fill(w.what, words) + QStringLiteral("; ") + Fill(w.answer, QString::number(w.count));
    out.effects.push_back(std::move(e));
    const std::pair<size_t, QString> key{w.measure, w.what + w.answer};
    auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == key; });
    if (group == groups.end()) group = groups.insert(groups.end(), {key, {{}, &w}});
    group->second.first << words;
    if (w.count > group->second.second->count) group->second.second = &w;
  }
  for (const auto& [key, terms] : groups) {
    const TWarning& w = *terms.second;
    out.warningLines << QStringLiteral("%1: %2; %3")
                            .arg(MeasureName(out, key.first), Fill(w.what, terms.first.join(QStringLiteral(", "))),
                                 Fill(w.answer, QString::number(w.count)));
  }
}

std::optional<qsizetype> NumberedRole(const QString& role, const QString& prefix) {
  static const QRegularExpression number(QStringLiteral("^([1-9][0-9]{0,2}|0)$"));
  if (!role.startsWith(prefix)) return std::nullopt;
  const QRegularExpressionMatch match = number.match(role.mid(prefix.size()));
  if (!match.hasMatch()) return std::nullopt;
  return match.captured(1).toInt();
}

}  // namespace explore
