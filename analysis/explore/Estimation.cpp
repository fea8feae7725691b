#include "Estimation.h"

#include <QRegularExpression>
#include <algorithm>
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

std::optional<qsizetype> NumberedRole(const QString& role, const QString& prefix) {
  static const QRegularExpression number(QStringLiteral("^([1-9][0-9]{0,2}|0)$"));
  if (!role.startsWith(prefix)) return std::nullopt;
  const QRegularExpressionMatch match = number.match(role.mid(prefix.size()));
  if (!match.hasMatch()) return std::nullopt;
  return match.captured(1).toInt();
}

}  // namespace explore
