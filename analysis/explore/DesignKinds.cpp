// The table of design kinds. A kind's file defines its parts in its own
// namespace; its row here names them, its options and its words.
#include <QStringList>
#include <algorithm>
#include <array>

#include "DesignKind.h"

namespace explore::factorial_design {
bool FitsRole(const QString& role, qsizetype factors);
void Estimate(const std::vector<const TRunMeasures*>& runs, const std::vector<size_t>& factors, TExploration& out,
              QStringList& notes);
}  // namespace explore::factorial_design

namespace explore::lhs_design {
bool FitsRole(const QString& role, qsizetype factors);
qint64 PointCount(qint64 samples, qint64 factors);
std::vector<TUnitPoint> Generate(const TDesignDraw& draw);
void Estimate(const std::vector<const TRunMeasures*>& runs, const std::vector<size_t>& factors, TExploration& out,
              QStringList& notes);
}  // namespace explore::lhs_design

namespace explore::sobol_design {
bool FitsRole(const QString& role, qsizetype factors);
qint64 PointCount(qint64 samples, qint64 factors);
std::vector<TUnitPoint> Generate(const TDesignDraw& draw);
void Estimate(const std::vector<const TRunMeasures*>& runs, const std::vector<size_t>& factors, TExploration& out,
              QStringList& notes);
}  // namespace explore::sobol_design

namespace explore::morris_design {
bool FitsRole(const QString& role, qsizetype factors);
qint64 PointCount(qint64 samples, qint64 factors);
std::vector<TUnitPoint> Generate(const TDesignDraw& draw);
void Estimate(const std::vector<const TRunMeasures*>& runs, const std::vector<size_t>& factors, TExploration& out,
              QStringList& notes);
}  // namespace explore::morris_design

namespace {

constexpr std::array kDesignKinds{
    TDesignKind{
        .name = "factorial",
        .cellsFromVary = true,
        .fitsRole = explore::factorial_design::FitsRole,
        .estimate = explore::factorial_design::Estimate,
        .minFactors = 2,
        .dropsConstantFactors = true,
        .sharedColumn = "effect",
        .words = {.analysis = "Factorial effects",
                  .axis = "effect from the factor's low to its high end, 95 % interval",
                  .point = "point"},
    },
    TDesignKind{
        .name = "lhs",
        .takesSeed = true,
        .fitsRole = explore::lhs_design::FitsRole,
        .pointCount = explore::lhs_design::PointCount,
        .generate = explore::lhs_design::Generate,
        .estimate = explore::lhs_design::Estimate,
        .correlationAxis = true,
        .words = {.analysis = "Partial rank correlations, Latin hypercube",
                  .axis = "partial rank correlation, 95 % interval",
                  .point = "point",
                  .draws = "a Latin hypercube of --samples N points"},
    },
    TDesignKind{
        .name = "sobol",
        .seedless = "a Sobol sequence draws nothing",
        .fitsRole = explore::sobol_design::FitsRole,
        .pointCount = explore::sobol_design::PointCount,
        .generate = explore::sobol_design::Generate,
        .estimate = explore::sobol_design::Estimate,
        .mainQuantity = "ST",
        .words = {.analysis = "Sobol indices",
                  .axis = "share of the measure's variance, 95 % bootstrap interval",
                  .point = "point",
                  .draws = "Saltelli's N(k+2) points for k factors from a Sobol sequence"},
    },
    TDesignKind{
        .name = "morris",
        .takesLevels = true,
        .takesSeed = true,
        .fitsRole = explore::morris_design::FitsRole,
        .pointCount = explore::morris_design::PointCount,
        .generate = explore::morris_design::Generate,
        .estimate = explore::morris_design::Estimate,
        .mainQuantity = "mu_star",
        .words = {.analysis = "Morris screening",
                  .axis = "elementary effect over the factor's whole range",
                  .point = "trajectory",
                  .draws = "N trajectories of k+1 points on a --levels grid"},
    },
};

// Two or more --vary make the one kind whose cells come from them.
static_assert(std::ranges::count_if(kDesignKinds, &TDesignKind::cellsFromVary) == 1);
// A kind that --design draws has its point count and its generator.
static_assert(std::ranges::all_of(kDesignKinds, [](const TDesignKind& kind) {
  return kind.cellsFromVary || (kind.pointCount && kind.generate && *kind.words.draws);
}));

}  // namespace

std::span<const TDesignKind> DesignKinds() { return kDesignKinds; }

const TDesignKind* FindDesignKind(const QString& name) {
  for (const TDesignKind& kind : kDesignKinds) {
    if (name == QLatin1String(kind.name)) return &kind;
  }
  return nullptr;
}

const TDesignKind& VaryDesignKind() { return *std::ranges::find_if(kDesignKinds, &TDesignKind::cellsFromVary); }

bool DrawsItsPoints(const TDesignKind& kind) { return kind.generate != nullptr; }

QString DesignKindNames(bool (*which)(const TDesignKind&), const char* last, bool draws) {
  QStringList names;
  for (const TDesignKind& kind : kDesignKinds) {
    if (!which(kind)) continue;
    names << QLatin1String(kind.name);
    if (draws) names.back() += QStringLiteral(" (%1)").arg(QLatin1String(kind.words.draws));
  }
  if (names.size() < 2) return names.join(QString());
  const QString tail = names.takeLast();
  return names.join(QStringLiteral(", ")) + QLatin1Char(' ') + QLatin1String(last) + QLatin1Char(' ') + tail;
}
