// A run's place in the design of the sweep that made it.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

// run.json holds it as "design": {"kind", "factors", "point", "role",
// "command"}; the job line carries it, so a design can be re-created and
// analysed from its runs alone.
struct TDesignPoint {
  QString kind;         // the name of one of kDesignKinds (DesignKind.h)
  QStringList factors;  // the design's factors, as option names, in the design's order
  int32_t point = 0;    // the point's index in the design (a Morris trajectory's index for "morris")
  // factorial: "cell"; lhs: "sample"; sobol: "A", "B" or "AB<i>" (i the
  // 1-based index of the factor taken from B); morris: "T<k>", the
  // trajectory's k-th point, 0-based (consecutive points differ in one factor)
  QString role;
  QString command;  // the --grid options that make the design, so that it can be re-created
  bool operator==(const TDesignPoint&) const = default;
};
