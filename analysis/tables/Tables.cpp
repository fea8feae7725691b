#include "Tables.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>

#include "AtomicFile.h"
#include "DesignKind.h"

QString CsvCell(const QString& cell) {
  static const QRegularExpression special(QStringLiteral("[,\"\r\n]"));
  if (!cell.contains(special)) return cell;
  QString quoted = cell;
  quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

TStatus TCsvFile::Open() {
  if (!gzip_) {
    TResult<TAtomicFile> opened = TAtomicFile::Open(path_);
    if (!opened) return opened.Error();
    plain_.emplace(std::move(*opened));
    return Success();
  }
  TResult<TGzipFile> opened = TGzipFile::Open(path_);
  if (!opened) return opened.Error();
  compressed_.emplace(std::move(*opened));
  return Success();
}

TStatus TCsvFile::Add(const QStringList& cells) {
  QStringList quoted;
  quoted.reserve(cells.size());
  for (const QString& cell : cells) quoted << CsvCell(cell);
  const QByteArray bytes = (quoted.join(QLatin1Char(',')) + QLatin1Char('\n')).toUtf8();
  if (compressed_) return compressed_->Write(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
  if (plain_) return plain_->Write(bytes);
  return Failed(QStringLiteral("cannot write %1: it is not open").arg(path_));
}

TStatus TCsvFile::Commit() {
  if (compressed_) return compressed_->Close();
  if (plain_) return plain_->Commit();
  return Failed(QStringLiteral("cannot write %1: it is not open").arg(path_));
}

namespace {

QString Interval(const TEffect& e) {
  if (!e.low || !e.high) return QString();
  return QStringLiteral("[%1, %2]").arg(*e.low, 0, 'g', 3).arg(*e.high, 0, 'g', 3);
}

// A column of the table: a quantity, with its interval and share when any
// estimate of the column has them. A factorial's main effects and
// interactions share one column.
struct TTableColumn {
  QString quantity;
  bool interval = false;
  bool share = false;
};

// The column of an effect: its quantity's, or the one its design kind's quantities share.
QString ColumnOf(const TDesignKind* design, const TEffect& e) {
  const bool anova = e.quantity == QLatin1String(kAnovaStatistic) || e.quantity == QLatin1String(kAnovaPValue);
  return design && *design->sharedColumn && !anova ? QLatin1String(design->sharedColumn) : e.quantity;
}

QString Percent(double share) { return QStringLiteral("%1 %").arg(100 * share, 0, 'f', 0); }

// Under a measure's terms: the seeds' share of its variance, a factorial's
// shares of the seed blocks and the residual, and the warnings ("!" marks
// the estimates they concern).
QString SideLines(const TExploration& x, size_t m) {
  const QString measure = x.measures[m].name;
  QString text;
  QStringList shares;
  for (const TEffect& e : x.effects) {
    if (e.measure != measure) continue;
    if (e.quantity == QLatin1String("seed_share")) {
      text += QStringLiteral("  seeds' share of the variance: %1").arg(Percent(e.estimate));
      if (e.low && e.high) text += QStringLiteral(" [%1, %2]").arg(Percent(*e.low), Percent(*e.high));
      text += QLatin1Char('\n');
    } else if (e.quantity == QLatin1String("share")) {
      shares << QStringLiteral("%1 %2").arg(e.term == QLatin1String("seed") ? QStringLiteral("seed blocks") : e.term,
                                            Percent(e.estimate));
    }
  }
  if (!shares.isEmpty())
    text += QStringLiteral("  shares of the variance: %1\n").arg(shares.join(QStringLiteral(", ")));
  for (const TEffect& e : x.effects) {
    if (e.measure == measure && e.quantity == QLatin1String("warning"))
      text += QStringLiteral("  ! %1\n").arg(e.method);
  }
  return text;
}

// How a factorial's measure was coded, for its table's heading: with its
// factors as categories (an ANOVA) or each as a line over its range.
QString Coding(const TDesignKind* design, const TExploration& x, const QString& measure) {
  if (!design || !design->cellsFromVary) return {};
  const bool anova = std::ranges::any_of(x.effects, [&](const TEffect& e) {
    return e.measure == measure && e.quantity == QLatin1String(kAnovaStatistic);
  });
  return anova ? QStringLiteral(", factors as categories: ANOVA, type II sums of squares")
               : QStringLiteral(", factors coded linearly");
}

// A p-value to the digits it is read at.
QString PValue(double p) { return p < 0.001 ? QStringLiteral("<0.001") : QString::number(p, 'f', 3); }

// Per measure, one row per term, the largest first, and one column per quantity.
QString Table(const TExploration& x) {
  if (x.effects.empty()) return {};
  const TDesignKind* design = FindDesignKind(x.analysis);
  constexpr int kNumberWidth = 9;
  constexpr int kIntervalWidth = 21;
  constexpr size_t kTableRows = 10;  // per measure; effects.csv holds every term
  const auto order = ExploreTermOrder(x);
  QString text;
  for (size_t m = 0; m < order.size(); ++m) {
    const QString& measure = x.measures[m].name;
    if (order[m].empty()) {
      // A measure with no index but its seeds' share: its design points differ no more than their seeds.
      const QString side = SideLines(x, m);
      if (!side.isEmpty())
        text += QStringLiteral("%1 (%2): no index, the points differ no more than the seeds' noise\n%3")
                    .arg(measure, x.analysis, side);
      continue;
    }
    std::vector<TTableColumn> columns;
    qsizetype termWidth = 4;
    for (const TEffect& e : x.effects) {
      if (e.measure != measure || !IsTermQuantity(e.quantity)) continue;
      termWidth = std::max(termWidth, ExploreTermWords(e.term).size());
      const QString key = ColumnOf(design, e);
      auto column = std::ranges::find(columns, key, &TTableColumn::quantity);
      if (column == columns.end()) column = columns.insert(columns.end(), TTableColumn{key});
      column->interval = column->interval || (e.low && e.high);
      column->share = column->share || e.share.has_value();
    }
    QString header = QStringLiteral("  %1").arg(QStringLiteral("term"), -termWidth);
    for (const TTableColumn& c : columns) {
      header += QStringLiteral("  %1").arg(c.quantity, kNumberWidth);
      if (c.interval) header += QStringLiteral("  %1").arg(QStringLiteral("95 % interval"), -kIntervalWidth);
      if (c.share) header += QStringLiteral("  share");
    }
    text += QStringLiteral("%1 (%2%3):\n%4\n")
                .arg(measure, x.analysis, Coding(design, x, measure), header.trimmed().prepend(QStringLiteral("  ")));
    for (size_t shown = 0; shown < order[m].size(); ++shown) {
      if (shown == kTableRows) {
        text += QStringLiteral("  and %1 smaller in effects.csv\n").arg(order[m].size() - shown);
        break;
      }
      const TEffect& lead = x.effects[order[m][shown]];
      QString line = QStringLiteral("  %1").arg(ExploreTermWords(lead.term), -termWidth);
      for (const TTableColumn& c : columns) {
        const auto e = std::ranges::find_if(x.effects, [&](const TEffect& f) {
          return f.measure == lead.measure && f.term == lead.term && ColumnOf(design, f) == c.quantity;
        });
        const bool found = e != x.effects.end();
        // An estimate a warning concerns is marked.
        const bool warned =
            found && std::ranges::any_of(x.warnings, [&](const TWarning& w) {
              return x.measures[w.measure].name == e->measure && w.term == e->term && w.quantity == e->quantity;
            });
        const bool p = found && e->quantity == QLatin1String(kAnovaPValue);
        line += QStringLiteral("  %1%2")
                    .arg(!found ? QString()
                         : p    ? PValue(e->estimate)
                                : QString::number(e->estimate, 'g', 3),
                         kNumberWidth)
                    .arg(warned ? QStringLiteral("!") : QString());
        if (c.interval) line += QStringLiteral("  %1").arg(found ? Interval(*e) : QString(), -kIntervalWidth);
        if (c.share) {
          line += QStringLiteral("  %1").arg(
              found && e->share ? QStringLiteral("%1 %").arg(100 * *e->share, 0, 'f', 0) : QString(), 5);
        }
      }
      text += line.trimmed().prepend(QStringLiteral("  ")) + QLatin1Char('\n');
    }
    text += SideLines(x, m);
  }
  return text;
}

constexpr int kCsvDigits = 10;

QString CsvNumber(const std::optional<double>& value) {
  return value ? QString::number(*value, 'g', kCsvDigits) : QString();
}

}  // namespace

TStatus WriteEffects(const QString& path, const std::vector<TEffect>& effects) {
  QString text = QStringLiteral("measure,term,quantity,estimate,low,high,share,method\n");
  for (const TEffect& e : effects) {
    for (const std::optional<double>& value : {std::optional<double>(e.estimate), e.low, e.high, e.share}) {
      if (value && !std::isfinite(*value))
        return Failed(QStringLiteral("cannot write %1: the %2 of %3 on %4 is not a number")
                          .arg(path, e.quantity, e.term, e.measure));
    }
    const QStringList cells{
        e.measure,          e.term,  e.quantity, CsvNumber(e.estimate), CsvNumber(e.low), CsvNumber(e.high),
        CsvNumber(e.share), e.method};
    QStringList quoted;
    for (const QString& cell : cells) quoted << CsvCell(cell);
    text += quoted.join(QLatin1Char(',')) + QLatin1Char('\n');
  }
  return SaveBytes(text.toUtf8(), path);
}

QString EffectsTable(const TExploration& exploration) { return Table(exploration); }

TStatus WriteConvergence(const QString& path, const std::vector<TConvergence>& rows, const QString& rowsWord) {
  QString text = QStringLiteral("measure,term,quantity,%1,estimate,low,high\n").arg(rowsWord);
  for (const TConvergence& c : rows) {
    for (const std::optional<double>& value : {std::optional<double>(c.estimate), c.low, c.high}) {
      if (value && !std::isfinite(*value))
        return Failed(QStringLiteral("cannot write %1: the %2 of %3 on %4 at %5 %6 is not a number")
                          .arg(path, c.quantity, c.term, c.measure)
                          .arg(c.rows)
                          .arg(rowsWord));
    }
    QStringList cells{c.measure,        c.term,           c.quantity, QString::number(c.rows), CsvNumber(c.estimate),
                      CsvNumber(c.low), CsvNumber(c.high)};
    for (QString& cell : cells) cell = CsvCell(cell);
    text += cells.join(QLatin1Char(',')) + QLatin1Char('\n');
  }
  return SaveBytes(text.toUtf8(), path);
}
