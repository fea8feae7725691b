// The one look of every chart the figures draw: the font, a chart's title
// and frame, and series put on their axes.
#pragma once

#include <QFont>
#include <QString>

// The pixel size of every figure's title.
inline constexpr int kTitlePixels = 18;

class QAbstractAxis;
class QAbstractSeries;
class QChart;

// The figures' font at `pixelSize`.
QFont Font(int pixelSize, bool bold = false);
// A chart's title in bold, its square frame and margins, its legend's font.
void StyleChart(QChart* chart, const QString& title);
// Adds `series` to `chart` on the axes x and y.
void Attach(QChart* chart, QAbstractSeries* series, QAbstractAxis* x, QAbstractAxis* y);
// Takes `series` out of the legend (its markers stay hidden).
void HideFromLegend(QChart* chart, QAbstractSeries* series);
