// Choosing the analysis from the design the runs record, and the order and
// words of its terms.
#include <QMap>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <set>

#include "DesignKind.h"
#include "Estimation.h"

using explore::Option;
using explore::RangeOf;
using explore::TRange;

namespace {

// The settings that differ between runs, in the order of the settings.
std::vector<size_t> Varied(const std::vector<const TRunMeasures*>& runs) {
  std::vector<size_t> varied;
  for (size_t s = 0; s < kSettingCount; ++s) {
    for (const TRunMeasures* run : runs) {
      if (run->settings[s] != runs.front()->settings[s]) {
        varied.push_back(s);
        break;
      }
    }
  }
  return varied;
}

// The design's factors as setting indices; names no setting has are listed in `unknown`.
std::vector<size_t> DesignFactors(const TDesignPoint& design, QStringList& unknown) {
  std::vector<size_t> factors;
  for (const QString& name : design.factors) {
    if (const auto index = FindSetting(name)) {
      if (std::find(factors.begin(), factors.end(), *index) == factors.end()) factors.push_back(*index);
    } else {
      unknown << name;
    }
  }
  return factors;
}

QString Words(const QString& term) {
  QStringList words;
  for (const QString& option : term.split(QLatin1Char(':'))) {
    const auto index = FindSetting(option);
    words << (index ? SettingCaption(SettingSpecs()[*index]) : option);
  }
  return words.join(QStringLiteral(" × "));
}

// The kind of the designed runs, the most common one when they differ.
QString CommonKind(const std::vector<TRunMeasures>& runs) {
  QMap<QString, size_t> kinds;
  for (const TRunMeasures& run : runs) {
    if (run.design) ++kinds[run.design->kind];
  }
  QString kind;
  size_t most = 0;
  for (auto it = kinds.begin(); it != kinds.end(); ++it) {
    if (it.value() > most) {
      most = it.value();
      kind = it.key();
    }
  }
  return kind;
}

}  // namespace

std::optional<TFactorCoding> FindFactorCoding(const QString& name) {
  for (const TFactorCodingName& c : kFactorCodings) {
    if (name == QLatin1String(c.name)) return c.coding;
  }
  return std::nullopt;
}

TExploration Analyse(const std::vector<TRunMeasures>& runs, const std::vector<TStudyMeasure>& measures,
                     TFactorCoding coding) {
  TExploration out;
  out.measures = measures;
  out.coding = coding;
  QStringList notes;
  const QString kind = CommonKind(runs);
  std::vector<const TRunMeasures*> chosen;
  std::vector<size_t> factors;
  if (kind.isEmpty()) {
    for (const TRunMeasures& run : runs) chosen.push_back(&run);
    if (chosen.empty()) {
      out.note = QStringLiteral("no runs to analyse");
      return out;
    }
    factors = Varied(chosen);
    if (factors.size() < 2) {
      out.note = factors.empty() ? QStringLiteral("no setting varies: no effects to estimate")
                                 : QStringLiteral("one setting varies: its groups are compared, no effects estimated");
      return out;
    }
    // Without a recorded design the runs must form the product of their varied settings' values.
    std::set<std::vector<int32_t>> cells;
    size_t product = 1;
    for (size_t f : factors) {
      std::set<int32_t> values;
      for (const TRunMeasures* run : chosen) values.insert(run->settings[f]);
      product *= values.size();
    }
    for (const TRunMeasures* run : chosen) {
      std::vector<int32_t> cell;
      for (size_t f : factors) cell.push_back(run->settings[f]);
      cells.insert(cell);
    }
    if (cells.size() != product) {
      out.note = QStringLiteral(
                     "the varied settings do not form a factorial (%1 of %2 combinations) and no design is "
                     "recorded: no effects estimated")
                     .arg(cells.size())
                     .arg(product);
      return out;
    }
    const TDesignKind& vary = VaryDesignKind();
    out.analysis = QLatin1String(vary.name);
    vary.estimate(chosen, factors, out, notes);
  } else {
    size_t others = 0;
    QString command;
    for (const TRunMeasures& run : runs) {
      if (run.design && run.design->kind == kind && (chosen.empty() || run.design->command == command)) {
        if (chosen.empty()) command = run.design->command;
        chosen.push_back(&run);
      } else {
        ++others;
      }
    }
    if (others > 0) notes << QStringLiteral("%1 runs of another or no design were left out").arg(others);
    QStringList unknown;
    factors = DesignFactors(*chosen.front()->design, unknown);
    if (!unknown.isEmpty()) notes << QStringLiteral("no setting is called %1").arg(unknown.join(QStringLiteral(", ")));
    const TDesignKind* design = FindDesignKind(kind);
    if (!design) {
      out.note = QStringLiteral("the runs' design '%1' is not one this program analyses").arg(kind);
      return out;
    }
    if (design->dropsConstantFactors) {
      // A factor that does not vary in the runs has no effect to estimate.
      std::vector<size_t> varying;
      for (size_t f : factors) {
        const TRange r = RangeOf(chosen, f);
        if (r.Span() > 0)
          varying.push_back(f);
        else
          notes << QStringLiteral("%1 does not vary in the runs").arg(Option(f));
      }
      factors = varying;
    }
    if (factors.size() < design->minFactors) {
      notes.prepend(QStringLiteral("the design has too few factors to analyse"));
      out.note = notes.join(QStringLiteral("; "));
      return out;
    }
    out.analysis = kind;
    design->estimate(chosen, factors, out, notes);
  }
  explore::FinishWarnings(out);
  if (std::none_of(out.effects.begin(), out.effects.end(), [](const TEffect& e) { return IsTermQuantity(e.quantity); }))
    out.effects.clear();
  if (out.effects.empty()) {
    out.convergence.clear();
    notes.prepend(QStringLiteral("no effect could be estimated from the %1 runs").arg(chosen.size()));
    out.analysis.clear();
  }
  notes.removeDuplicates();
  out.note = notes.join(QStringLiteral("; "));
  return out;
}

std::vector<std::vector<size_t>> ExploreTermOrder(const TExploration& exploration) {
  std::vector<std::vector<size_t>> order(exploration.measures.size());
  const TDesignKind* design = FindDesignKind(exploration.analysis);
  const QString primary = design ? QLatin1String(design->mainQuantity) : QString();
  for (size_t m = 0; m < order.size(); ++m) {
    std::vector<size_t>& list = order[m];
    for (size_t i = 0; i < exploration.effects.size(); ++i) {
      const TEffect& e = exploration.effects[i];
      // A p-value goes with its term's F: never a row of its own.
      if (e.measure == exploration.measures[m].name && IsTermQuantity(e.quantity) &&
          (primary.isEmpty() || e.quantity == primary) && e.quantity != QLatin1String(kAnovaPValue))
        list.push_back(i);
    }
    // An F is ordered by the term's share, anything else by its size.
    const auto size = [&](size_t i) {
      const TEffect& e = exploration.effects[i];
      return e.quantity == QLatin1String(kAnovaStatistic) ? e.share.value_or(0) : std::abs(e.estimate);
    };
    std::stable_sort(list.begin(), list.end(), [&](size_t a, size_t b) { return size(a) > size(b); });
  }
  return order;
}

QString ExploreTermWords(const QString& term) { return Words(term); }

bool IsTermQuantity(const QString& quantity) {
  return quantity != QLatin1String("seed_share") && quantity != QLatin1String("share") &&
         quantity != QLatin1String("warning");
}

TQuantityRange QuantityRange(const QString& quantity) {
  constexpr double kInfinite = std::numeric_limits<double>::infinity();
  struct TBounded {
    const char* quantity;
    TQuantityRange range;
  };
  static constexpr std::array<TBounded, 8> kBounded{{{"S1", {0, 1}},
                                                     {"ST", {0, 1}},
                                                     {"seed_share", {0, 1}},
                                                     {"share", {0, 1}},
                                                     {"prcc", {-1, 1}},
                                                     {"mu_star", {0, kInfinite}},
                                                     {"sigma", {0, kInfinite}},
                                                     {"noise_floor", {0, kInfinite}}}};
  for (const TBounded& b : kBounded) {
    if (quantity == QLatin1String(b.quantity)) return b.range;
  }
  return {-kInfinite, kInfinite};
}
