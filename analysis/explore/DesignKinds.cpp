// The table of design kinds: a row a kind, each defined in the kind's own
// file beside its generator, roles and estimator.
#include <QStringList>
#include <algorithm>
#include <array>

#include "DesignKind.h"

namespace explore {
// Each kind's row, defined in the kind's own file.
extern const TDesignKind kFactorialDesign, kLhsDesign, kSobolDesign, kMorrisDesign;
}  // namespace explore

namespace {

// Every kind, in the order messages and --help list them.
constexpr std::array kDesignKinds{&explore::kFactorialDesign, &explore::kLhsDesign, &explore::kSobolDesign,
                                  &explore::kMorrisDesign};

}  // namespace

std::span<const TDesignKind* const> DesignKinds() { return kDesignKinds; }

const TDesignKind* FindDesignKind(const QString& name) {
  for (const TDesignKind* kind : kDesignKinds) {
    if (name == QLatin1String(kind->name)) return kind;
  }
  return nullptr;
}

const TDesignKind& VaryDesignKind() {
  return **std::ranges::find_if(kDesignKinds, [](const TDesignKind* kind) { return kind->cellsFromVary; });
}

bool DrawsItsPoints(const TDesignKind& kind) { return kind.generate != nullptr; }

QString DesignKindNames(bool (*which)(const TDesignKind&), const char* last, bool draws) {
  QStringList names;
  for (const TDesignKind* kind : kDesignKinds) {
    if (!which(*kind)) continue;
    names << QLatin1String(kind->name);
    if (draws) names.back() += QStringLiteral(" (%1)").arg(QLatin1String(kind->words.draws));
  }
  if (names.size() < 2) return names.join(QString());
  const QString tail = names.takeLast();
  return names.join(QStringLiteral(", ")) + QLatin1Char(' ') + QLatin1String(last) + QLatin1Char(' ') + tail;
}
