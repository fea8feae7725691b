// The chart component: a two-dimensional line chart with a title, a bottom
// axis for x and two vertical axes whose minimum stays 0 while their maximum
// follows the data.
#pragma once

#include <QChartView>
#include <QString>
#include <string>

class QChart;
class QLineSeries;
class QValueAxis;

class TChart : public QChartView {
  Q_OBJECT
 public:
  explicit TChart(QWidget* parent = nullptr);

  // Removes and deletes every series of the chart.
  void RemoveAllSeries();
  // Replaces the title's lines by one line.
  void SetTitleLine(const std::string& line);
  QString TitleText() const;
  // A new line series: values cleared, titled, attached, bound to the right axis.
  QLineSeries* AddLineSeries(const std::string& title);
  // Appends (x, y) to a series of this chart and widens the axes to hold it.
  void AddXY(QLineSeries* series, double x, double y);

  QValueAxis* LeftAxis() const { return leftAxis_; }
  QValueAxis* RightAxis() const { return rightAxis_; }
  QValueAxis* BottomAxis() const { return bottomAxis_; }

 private:
  void GrowAxes(double x, double y);

  QChart* chart_ = nullptr;
  QValueAxis* leftAxis_ = nullptr;
  QValueAxis* rightAxis_ = nullptr;
  QValueAxis* bottomAxis_ = nullptr;
};
