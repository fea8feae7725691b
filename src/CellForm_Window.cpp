// The main window: controls and their handlers, the parameter captions, the
// agent layer redraw and the statistics chart.
#include <QCheckBox>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <tuple>

#include "CellForm.h"
#include "Chart.h"
#include "Dialogs.h"
#include "Panel.h"
#include "RasterLayer.h"
#include "Runtime.h"

namespace {

constexpr int kWindowWidth = 800;
constexpr int kWindowHeight = 800;
constexpr int kFontPixelHeight = 10;
constexpr int kFontStretch = 84;  // percent of the regular width
constexpr int kTimerIntervalMs = 1;
constexpr int kScrollLargeChange = 5;
constexpr int32_t kLastSampledStep = 49800;  // no chart points from here on

QLabel* MakeLabel(QWidget* parent, const char* text, int x, int y, int w, int h) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setGeometry(x, y, w, h);
  return label;
}

QScrollBar* MakeScrollBar(QWidget* parent, int x, int y, int w, int h, int max, int position) {
  auto* bar = new QScrollBar(Qt::Horizontal, parent);
  bar->setGeometry(x, y, w, h);
  bar->setRange(0, max);
  bar->setSingleStep(1);
  bar->setPageStep(kScrollLargeChange);
  bar->setValue(position);
  return bar;
}

// A rate's title, the caption showing its value and its scroll bar, the bar
// at (x, y) and the title and caption on one line above it.
std::tuple<QLabel*, QLabel*, QScrollBar*> MakeRate(QWidget* parent, const char* title, int titleWidth, int x, int y,
                                                   int captionX, int max, int position) {
  constexpr int kRowAbove = 19;
  auto* label = MakeLabel(parent, title, x + 2, y - kRowAbove, titleWidth, 12);
  auto* caption = MakeLabel(parent, "___", captionX, y - kRowAbove, 15, 12);
  return {label, caption, MakeScrollBar(parent, x, y, 121, 17, max, position)};
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* text, int x, int y, int w, int h) {
  auto* box = new QCheckBox(QString::fromUtf8(text), parent);
  box->setGeometry(x, y, w, h);
  return box;
}

QPushButton* MakeButton(QWidget* parent, const char* text, int x, int y, int w, int h) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setGeometry(x, y, w, h);
  button->setFocusPolicy(Qt::TabFocus);
  return button;
}

QLineEdit* MakeEdit(QWidget* parent, const char* text, int x, int y, int w, int h) {
  auto* edit = new QLineEdit(QString::fromUtf8(text), parent);
  edit->setGeometry(x, y, w, h);
  return edit;
}

// A group box in the classic look: the title sits on the frame's top line, so
// the frame encloses the controls placed below the title instead of running
// through them.
class TFramedGroupBox : public QGroupBox {
 public:
  using QGroupBox::QGroupBox;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int top = metrics.height() / 2;
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, top, -1, -1));
    const QRect titleRect(kTitleLeft, 0, metrics.horizontalAdvance(title()) + 2 * kTitlePadding, metrics.height());
    painter.fillRect(titleRect, palette().window());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(titleRect, Qt::AlignCenter, title());
  }

 private:
  static constexpr int kTitleLeft = 6;
  static constexpr int kTitlePadding = 2;
};

QGroupBox* MakeGroupBox(QWidget* parent, const char* title, int x, int y, int w, int h) {
  auto* box = new TFramedGroupBox(QString::fromUtf8(title), parent);
  box->setGeometry(x, y, w, h);
  return box;
}

}  // namespace

void TForm1::CreateControls() {
  setWindowTitle(QStringLiteral("Pathwick 01"));
  setGeometry(0, 0, kWindowWidth, kWindowHeight);
  setFixedSize(kWindowWidth, kWindowHeight);
  // Tahoma is not shipped with Debian. DejaVu Sans, narrowed to the width of
  // Tahoma's letters, keeps every caption within the bounds of its control:
  // from the Condensed face where it is installed, else by scaling the
  // regular face.
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(kFontPixelHeight);
  font.setStretch(kFontStretch);
  setFont(font);

  ZeichenPanel = new TPanel(this);
  ZeichenPanel->setGeometry(8, 9, kPanelEdge, kPanelEdge);

  GroupBox1 = MakeGroupBox(this, "setup settings", 440, 8, 257, 129);
  B_setup = MakeButton(GroupBox1, "new Setup", 6, 16, 75, 25);
  B_stop = MakeButton(GroupBox1, "start / stop", 86, 16, 75, 25);
  B_oneStep = MakeButton(GroupBox1, "one step", 166, 16, 75, 25);
  // Wider than its design bounds so the whole caption shows in this font.
  CB_mCent = MakeCheckBox(GroupBox1, "agents know the center position", 8, 48, 240, 17);
  Edit_anzAg = MakeEdit(GroupBox1, "200", 8, 72, 41, 20);
  Lbl_TextAnzahl = MakeLabel(GroupBox1, ": number of agents for setup", 54, 76, 129, 12);
  Edit_size = MakeEdit(GroupBox1, "6", 8, 96, 41, 20);
  Label2 = MakeLabel(GroupBox1, ": cell size -> number of cells ", 54, 100, 127, 12);

  GroupBox2 = MakeGroupBox(this, "timesteps", 440, 144, 121, 49);
  // Centred on the bounds 40, 26, 39, 12, but wide enough for long counts.
  lbl_Steps = MakeLabel(GroupBox2, "lbl_Steps", 4, 26, 113, 12);
  lbl_Steps->setAlignment(Qt::AlignCenter);

  RadioGroup1 = MakeGroupBox(this, "sniff chemicals with", 568, 144, 129, 73);
  // The radio buttons sit on the window itself, so they exclude only each other.
  rb_hill = new QRadioButton(QStringLiteral("hill climbing"), this);
  rb_hill->setGeometry(576, 168, 81, 17);
  rb_hill->setChecked(true);
  rb_rulette = new QRadioButton(QStringLiteral("rulette wheel"), this);
  rb_rulette->setGeometry(576, 192, 81, 17);

  Cb_cellUpdt = MakeCheckBox(this, "deactivate cell update", 440, 200, 121, 17);
  CB_hideAgs = MakeCheckBox(this, "hide agents", 440, 224, 81, 17);
  CB_diffuse = MakeCheckBox(this, "diffuse chemicals", 576, 224, 105, 17);
  CB_diffuse->setEnabled(false);

  std::tie(Label3, Lbl_mutate, SB_mutate) = MakeRate(this, "mutation rate :", 66, 440, 272, 530, kMaxRate, 1);
  std::tie(Label8, Lbl_visible, SB_visible) =
      MakeRate(this, "visibility threshold :", 87, 576, 272, 674, kMaxVisibility, 100);
  std::tie(Label5, Lbl_strenght, SB_strenght) = MakeRate(this, "mark strenght :", 70, 440, 320, 530, kMaxRate, 50);
  std::tie(Label7, Lbl_sniff, SB_sniff) = MakeRate(this, "sniff threshold :", 70, 576, 320, 674, kMaxRate, 15);
  std::tie(Label6, Lbl_evapo, SB_evapo) = MakeRate(this, "evaporate rate :", 72, 576, 368, 674, kMaxRate, 50);

  GroupBox3 = MakeGroupBox(this, "graph values", 440, 344, 121, 65);
  Label4 = MakeLabel(GroupBox3, "average angle :", 11, 21, 70, 12);
  Lbl_avgAngle = MakeLabel(GroupBox3, "___", 98, 21, 15, 12);
  Label10 = MakeLabel(GroupBox3, "average wiggle :", 12, 45, 75, 12);
  Lbl_avgWiggle = MakeLabel(GroupBox3, "___", 98, 45, 15, 12);

  Chart1 = new TChart(this);
  Chart1->setGeometry(8, 416, 777, 345);

  Timer1 = new QTimer(this);
  Timer1->setTimerType(Qt::PreciseTimer);
  Timer1->setInterval(kTimerIntervalMs);
  Timer1->start();
}

void TForm1::ConnectHandlers() {
  connect(B_setup, &QPushButton::clicked, this, &TForm1::B_setupClick);
  connect(B_stop, &QPushButton::clicked, this, &TForm1::B_stopClick);
  connect(B_oneStep, &QPushButton::clicked, this, &TForm1::B_oneStepClick);
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
  connect(SB_mutate, &QScrollBar::valueChanged, this, &TForm1::SB_mutateChange);
  connect(SB_strenght, &QScrollBar::valueChanged, this, &TForm1::SB_strenghtChange);
  connect(SB_evapo, &QScrollBar::valueChanged, this, &TForm1::SB_evapoChange);
  connect(SB_sniff, &QScrollBar::valueChanged, this, &TForm1::SB_sniffChange);
  connect(SB_visible, &QScrollBar::valueChanged, this, &TForm1::SB_visibleChange);
  connect(Edit_size, &QLineEdit::textChanged, this, &TForm1::Edit_sizeChange);
  ZeichenPanel->onMouseDown = [this](TMouseButton b, int32_t x, int32_t y) { ZeichenPanelMouseDown(b, x, y); };
  ZeichenPanel->onMouseMove = [this](int32_t x, int32_t y) { ZeichenPanelMouseMove(x, y); };
  ZeichenPanel->onMouseUp = [this](TMouseButton b, int32_t x, int32_t y) { ZeichenPanelMouseUp(b, x, y); };
}

void TForm1::SetCaption(QLabel* label, const std::string& text) { label->setText(QString::fromStdString(text)); }

void TForm1::ShowValue(QLabel* label, const std::string& text) {
  SetCaption(label, text);
  label->adjustSize();
}

// ---------------------------------------------------------------------------
// Parameter captions

void TForm1::SB_mutateChange() {
  ShowValue(Lbl_mutate, FloatToStr(static_cast<long double>(SB_mutate->value()) / 100) + " %");
}

void TForm1::SB_strenghtChange() { ShowValue(Lbl_strenght, IntToStr(SB_strenght->value())); }

void TForm1::SB_evapoChange() { ShowValue(Lbl_evapo, FloatToStr(static_cast<long double>(SB_evapo->value()) / 100)); }

void TForm1::SB_sniffChange() { ShowValue(Lbl_sniff, FloatToStr(static_cast<long double>(SB_sniff->value()))); }

void TForm1::SB_visibleChange() { ShowValue(Lbl_visible, FloatToStr(static_cast<long double>(SB_visible->value()))); }

void TForm1::Edit_sizeChange() {
  // Keeps the cell size within 1..10. Replacing the text raises this handler
  // again, which then finds the value in range.
  int32_t size = 0;
  try {
    size = StrToInt(Edit_size->text().toStdString());
  } catch (const EConvertError& e) {
    ShowMessage(e.what());
    return;
  }
  if (size > kMaxCellSize) {
    Edit_size->setText(QString::fromStdString(IntToStr(kMaxCellSize)));
  } else if (size < kMinCellSize) {
    Edit_size->setText(QString::fromStdString(IntToStr(kMinCellSize)));
  }
}

// ---------------------------------------------------------------------------
// Agent layer and statistics

void TForm1::DrawAgents() {
  DrawAgentLayer();
  SampleStatistics();
}

void TForm1::DrawAgentLayer() {
  agentLayer->Clear();
  if (HideAgents()) return;
  TCanvas& canvas = agentLayer->Canvas();
  for (const TAgent& agent : agents) agent.Draw(canvas);
}

void TForm1::SampleStatistics() {
  if (stepCount % kSampleInterval != 0) return;
  // An empty population has no averages: the labels keep their text and the
  // chart gets no point.
  if (agents.empty()) return;
  int32_t angleSum = 0;
  int32_t wiggleSum = 0;
  for (const TAgent& agent : agents) {
    angleSum += agent.angleGene;
    wiggleSum += agent.wiggleGene;
  }
  const auto n = static_cast<long double>(agents.size());
  const int32_t avgAngle = RoundDiv(angleSum, n);
  const int32_t avgWiggle = RoundDiv(wiggleSum, n);
  if (onSample) onSample(avgAngle, avgWiggle);
  ShowValue(Lbl_avgAngle, IntToStr(avgAngle));
  ShowValue(Lbl_avgWiggle, IntToStr(avgWiggle));
  if (stepCount < kLastSampledStep) AddChartPoint(avgAngle, avgWiggle);
}

std::pair<QLineSeries*, QLineSeries*> SetupGeneChart(TChart& chart) {
  chart.RemoveAllSeries();
  chart.SetTitleLine("average values of all agents");
  QLineSeries* angle = chart.AddLineSeries("average angle");
  QLineSeries* wiggle = chart.AddLineSeries("wiggle angle");
  return {angle, wiggle};
}

void TForm1::SetupChart() {
  angleSeries = nullptr;
  wiggleSeries = nullptr;
  std::tie(angleSeries, wiggleSeries) = SetupGeneChart(*Chart1);
}

void TForm1::AddChartPoint(int32_t avgAngle, int32_t avgWiggle) {
  Chart1->AddXY(angleSeries, stepCount, avgAngle);
  Chart1->AddXY(wiggleSeries, stepCount, avgWiggle);
}
