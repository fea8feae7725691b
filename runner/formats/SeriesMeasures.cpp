#include "SeriesMeasures.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "ModelShape.h"
#include "SeriesColumns.h"

namespace {

// A rate: the growth of a cumulative column per kRateSteps steps.
struct TRateSpec {
  const char* name;
  TSeriesColumn total;
};
constexpr std::array kRates{TRateSpec{"trip_rate", TSeriesColumn::kTripsTotal},
                            TRateSpec{"birth_rate", TSeriesColumn::kBirthsTotal}};

struct TTransformSpec {
  TMeasureTransform transform;
  const char* name;
};
constexpr std::array kTransforms{TTransformSpec{TMeasureTransform::kLog, "log"},
                                 TTransformSpec{TMeasureTransform::kLog1p, "log1p"},
                                 TTransformSpec{TMeasureTransform::kLogit, "logit"}};

// The columns whose values are genes, 0 to kGeneValues - 1 (a per-colony one by its stem).
constexpr std::array kGeneColumnSpecs{TSeriesColumn::kAvgAngle,    TSeriesColumn::kAvgWiggle,
                                      TSeriesColumn::kMeanAngle,   TSeriesColumn::kMeanWiggle,
                                      TSeriesColumn::kColonyAngle, TSeriesColumn::kColonyWiggle};

const char* TransformName(TMeasureTransform transform) {
  for (const TTransformSpec& t : kTransforms) {
    if (t.transform == transform) return t.name;
  }
  return "";
}

std::optional<TMeasureTransform> FindTransform(const QString& name) {
  for (const TTransformSpec& t : kTransforms) {
    if (name == QLatin1String(t.name)) return t.transform;
  }
  return std::nullopt;
}

// The series columns a window mean can be taken of: every one but the step.
QStringList MeanColumns() {
  QStringList columns = SeriesColumnNames();
  columns.removeAll(QLatin1String(SeriesColumnSpec(TSeriesColumn::kStep).name));
  return columns;
}

// The column spec a column's name (angle_c3, mean_chemical) belongs to.
std::optional<TSeriesColumn> SpecOf(const QString& name) {
  std::optional<TSeriesColumn> found;
  ForEachSeriesCell([&](TSeriesColumn column, int32_t colony) {
    if (!found && SeriesColumnName(column, colony) == name) found = column;
  });
  return found;
}

// What a default measure is called in words, or the column's meaning.
QString RawWords(const QString& base) {
  for (const TDefaultStudyMeasure& m : kDefaultStudyMeasures) {
    if (base == QLatin1String(m.name)) return QLatin1String(m.words);
  }
  const std::optional<TSeriesColumn> spec = SpecOf(base);
  if (!spec) return base;
  const TSeriesColumnSpec& s = SeriesColumnSpec(*spec);
  if (!s.perColony) return QLatin1String(s.meaning);
  return QStringLiteral("%1 (%2)").arg(QString(QLatin1String(s.meaning)).section(QLatin1Char(';'), 0, 0), base);
}

TBounds RawBounds(const QString& base) {
  const std::optional<TSeriesColumn> spec = SpecOf(base);
  if (spec && std::ranges::find(kGeneColumnSpecs, *spec) != kGeneColumnSpecs.end())
    return {0.0, static_cast<double>(TModelShape::kGeneValues - 1)};
  if (spec == TSeriesColumn::kFloorShare) return {0.0, 1.0};
  return {0.0, std::nullopt};  // counts, their rates and spreads, the chemical
}

// The bounds of a scale, from the raw bounds.
TBounds ScaledBounds(const TBounds& raw, TMeasureTransform transform) {
  const auto map = [&](const std::optional<double>& v, double (*f)(double)) -> std::optional<double> {
    if (!v) return std::nullopt;
    const double y = f(*v);
    return std::isfinite(y) ? std::optional<double>(y) : std::nullopt;
  };
  switch (transform) {
    case TMeasureTransform::kNone: return raw;
    case TMeasureTransform::kLog1p:
      return {map(raw.lowest, [](double v) { return std::log1p(v); }),
              map(raw.highest, [](double v) { return std::log1p(v); })};
    case TMeasureTransform::kLog: return {std::nullopt, map(raw.highest, [](double v) { return std::log(v); })};
    case TMeasureTransform::kLogit: return {};
  }
  return {};
}

// The measure of that raw name on that scale; nothing for a name no column or rate has.
std::optional<TSeriesMeasure> Make(const QString& base, TMeasureTransform transform) {
  TSeriesMeasure m;
  m.base = base;
  m.transform = transform;
  const auto rate = std::ranges::find_if(kRates, [&](const TRateSpec& r) { return base == QLatin1String(r.name); });
  if (rate != kRates.end()) {
    m.kind = TMeasureKind::kRate;
    m.column = SeriesColumnName(rate->total);
  } else if (MeanColumns().contains(base)) {
    m.kind = TMeasureKind::kWindowMean;
    m.column = base;
  } else {
    return std::nullopt;
  }
  const QString words = RawWords(base);
  if (transform == TMeasureTransform::kNone) {
    m.study = {base, words};
  } else {
    const QString fn = QLatin1String(TransformName(transform));
    m.study = {QStringLiteral("%1(%2)").arg(fn, base), transform == TMeasureTransform::kLog1p
                                                           ? QStringLiteral("log(1 + %1)").arg(words)
                                                           : QStringLiteral("%1(%2)").arg(fn, words)};
  }
  m.bounds = ScaledBounds(RawBounds(base), transform);
  return m;
}

// "FN(NAME)" split into its transform and name; a plain name as it is.
std::optional<std::pair<QString, TMeasureTransform>> Split(const QString& name) {
  const qsizetype open = name.indexOf(QLatin1Char('('));
  if (open < 0) return std::pair{name, TMeasureTransform::kNone};
  if (!name.endsWith(QLatin1Char(')'))) return std::nullopt;
  const auto transform = FindTransform(name.left(open));
  if (!transform) return std::nullopt;
  return std::pair{name.mid(open + 1, name.size() - open - 2), *transform};
}

TError Unknown(const QString& name) {
  return Refused(QStringLiteral("--measure: no measure is called '%1'; the known ones are %2, each also as FN(NAME) "
                                "with FN %3")
                     .arg(name, KnownMeasureNames(), KnownTransformNames()));
}

}  // namespace

std::optional<double> TSeriesMeasure::Scaled(double raw) const {
  double y = raw;
  switch (transform) {
    case TMeasureTransform::kNone: break;
    case TMeasureTransform::kLog: y = raw > 0 ? std::log(raw) : NAN; break;
    case TMeasureTransform::kLog1p: y = raw > -1 ? std::log1p(raw) : NAN; break;
    case TMeasureTransform::kLogit: y = raw > 0 && raw < 1 ? std::log(raw / (1 - raw)) : NAN; break;
  }
  return std::isfinite(y) ? std::optional<double>(y) : std::nullopt;
}

std::vector<TSeriesMeasure> DefaultSeriesMeasures() {
  std::vector<TSeriesMeasure> measures;
  for (const TDefaultStudyMeasure& m : kDefaultStudyMeasures)
    measures.push_back(*Make(QLatin1String(m.name), TMeasureTransform::kNone));
  return measures;
}

QString KnownMeasureNames() {
  QStringList names;
  for (const TRateSpec& r : kRates) names << QLatin1String(r.name);
  // A per-colony column reads as its range of colonies.
  for (const TSeriesColumnSpec& spec : kSeriesColumns) {
    if (spec.column == TSeriesColumn::kStep) continue;
    names << (spec.perColony
                  ? QStringLiteral("%1%2 to %1%3").arg(QLatin1String(spec.name)).arg(0).arg(kSeriesColonies - 1)
                  : QLatin1String(spec.name));
  }
  return names.join(QStringLiteral(", "));
}

QString KnownTransformNames() {
  QStringList names;
  for (const TTransformSpec& t : kTransforms) names << QLatin1String(t.name);
  return names.join(QStringLiteral(", "));
}

TResult<std::vector<TSeriesMeasure>> ChooseSeriesMeasures(const QStringList& names, const QStringList& transforms) {
  std::vector<TSeriesMeasure> chosen;
  for (const QString& given : names) {
    for (const QString& part : given.split(QLatin1Char(','))) {
      const QString name = part.trimmed();
      const auto split = Split(name);
      const std::optional<TSeriesMeasure> m = split ? Make(split->first, split->second) : std::nullopt;
      if (!m) return Unknown(name);
      if (std::ranges::find(chosen, m->study.name, [](const TSeriesMeasure& c) { return c.study.name; }) ==
          chosen.end())
        chosen.push_back(*m);
    }
  }
  if (chosen.empty()) chosen = DefaultSeriesMeasures();
  for (const QString& given : transforms) {
    const qsizetype eq = given.indexOf(QLatin1Char('='));
    const QString name = given.left(eq);
    const auto transform = eq > 0 ? FindTransform(given.mid(eq + 1)) : std::nullopt;
    if (!transform) {
      return Refused(
          QStringLiteral("--transform takes NAME=FN with FN %1, not '%2'").arg(KnownTransformNames(), given));
    }
    const auto at = std::ranges::find_if(
        chosen, [&](const TSeriesMeasure& c) { return c.transform == TMeasureTransform::kNone && c.base == name; });
    if (at == chosen.end()) {
      QStringList studied;
      for (const TSeriesMeasure& c : chosen) studied << c.study.name;
      return Refused(QStringLiteral("--transform %1: the study has no measure %2 on its raw scale (it has %3)")
                         .arg(given, name, studied.join(QStringLiteral(", "))));
    }
    *at = *Make(name, *transform);
  }
  // A transform can make a measure one already chosen on that scale: it counts once.
  std::vector<TSeriesMeasure> unique;
  for (TSeriesMeasure& m : chosen) {
    if (std::ranges::find(unique, m.study.name, [](const TSeriesMeasure& u) { return u.study.name; }) == unique.end())
      unique.push_back(std::move(m));
  }
  return unique;
}
