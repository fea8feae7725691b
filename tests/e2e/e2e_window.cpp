// End-to-end test: starts the real program under the X server in DISPLAY,
// clicks and types with xdotool, and judges what the window shows from
// screenshots. Captions are compared with the same labels rendered by a
// TForm1 built in this process, unshown, on the same X server and fonts.
//
// Usage: e2e_window <path of pathwick_02_evolve> [gtest flags]
// Exits 77 (a skip for CTest) when DISPLAY is not set.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "../agents_support.h"
#include "CellForm.h"
#include "Dialogs.h"
#include "Runtime.h"

namespace {

constexpr int kSkipExitCode = 77;
constexpr int kPollMs = 100;
constexpr int kShortTimeoutMs = 10000;
constexpr int kLongTimeoutMs = 30000;

QString programPath;

// Panel origin in the window, cell size of the first world and its ten home
// cells (column, row), which are the same in every run.
constexpr QPoint kPanelOrigin(8, 9);
constexpr int kFirstCellSize = 6;
using agents_test::kFirstGrid;
using agents_test::kFirstHomes;
const QRect kGridRect(kPanelOrigin, QSize(TForm1::kPanelEdge, TForm1::kPanelEdge));

const QRgb kRed = qRgb(255, 0, 0);
const QRgb kGreen = qRgb(0, 128, 0);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kAgentOutline = qRgb(128, 128, 128);

// Waits by running the event loop, so this process stays responsive.
void Pause(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
}

bool PollUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < timeoutMs) {
    if (done()) return true;
    Pause(kPollMs);
  }
  return done();
}

QString Xdotool(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral("xdotool"), args);
  if (!p.waitForFinished(kShortTimeoutMs)) {
    p.kill();
    p.waitForFinished();
    ADD_FAILURE() << "xdotool " << args.join(' ').toStdString() << " did not finish";
    return {};
  }
  return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

int CountPixels(const QImage& image, const QRect& rect, const std::function<bool(QRgb)>& match) {
  int n = 0;
  const QRect r = rect.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y) {
    for (int x = r.left(); x <= r.right(); ++x) n += match(image.pixel(x, y) | 0xFF000000u) ? 1 : 0;
  }
  return n;
}

bool SameRegion(const QImage& a, const QImage& b, const QRect& rect) { return a.copy(rect) == b.copy(rect); }

// A pixel of a chart line: clearly coloured, not a shade of gray.
bool Coloured(QRgb p) {
  const int r = qRed(p);
  const int g = qGreen(p);
  const int b = qBlue(p);
  return std::max({r, g, b}) - std::min({r, g, b}) > 60;
}

// Pixel rectangle of a cell in window coordinates.
QRect CellRect(int column, int row, int size) {
  return QRect(kPanelOrigin + QPoint(column * size, row * size), QSize(size, size));
}

class ProgramTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    SetMessageSink([](const std::string&) {});  // the reference window reports nothing
    SetGeneratorStartState();
    reference = new TForm1();
    reference->Timer1->stop();
    reference->setAttribute(Qt::WA_DontShowOnScreen);

    program = new QProcess();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    program->setProcessEnvironment(env);
    program->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program->start(programPath, {});
    if (!program->waitForStarted(kShortTimeoutMs)) return;
    // Only a window that is mapped and titled exactly so counts.
    PollUntil(
        [] {
          const QString ids = Xdotool({"search", "--onlyvisible", "--name", "^Pathwick 01$"});
          if (ids.isEmpty()) return false;
          window = ids.split('\n').first().toULongLong();
          return true;
        },
        kLongTimeoutMs);
  }

  static void TearDownTestSuite() {
    if (program) {
      program->terminate();
      if (!program->waitForFinished(kShortTimeoutMs)) {
        program->kill();
        program->waitForFinished();
      }
      delete program;
      program = nullptr;
    }
    delete reference;
    reference = nullptr;
    SetMessageSink({});
  }

  // With PATHWICK_E2E_SHOTS set to a folder, each test leaves its last view there.
  void TearDown() override {
    const QString folder = qEnvironmentVariable("PATHWICK_E2E_SHOTS");
    if (folder.isEmpty() || window == 0) return;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    Shot().save(folder + '/' + QString::fromLatin1(info->name()) + QStringLiteral(".png"));
  }

  void SetUp() override {
    ASSERT_NE(program, nullptr);
    ASSERT_EQ(program->state(), QProcess::Running) << "the program is not running";
    ASSERT_NE(window, 0u) << "no window titled \"Pathwick 01\" appeared";
  }

  static QImage Shot() {
    return QGuiApplication::primaryScreen()
        ->grabWindow(static_cast<WId>(window))
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
  }

  static void Click(QPoint p) {
    Xdotool({"mousemove", "--window", QString::number(window), QString::number(p.x()), QString::number(p.y()), "click",
             "1"});
  }
  static void Click(QWidget* control) { Click(control->mapTo(reference, control->rect().center())); }

  // Selects the whole text of an edit field and types over it.
  static void TypeInto(QLineEdit* edit, const QString& text) {
    Click(edit);
    Xdotool({"key", "--clearmodifiers", "ctrl+a"});
    Xdotool({"type", "--delay", "30", text});
  }

  // The centre of a scroll bar's arrow.
  static QPoint ArrowOf(QScrollBar* bar, bool right) {
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = Qt::Horizontal;
    option.state |= QStyle::State_Horizontal;
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->value();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    option.subControls = QStyle::SC_All;
    const QRect arrow = bar->style()->subControlRect(
        QStyle::CC_ScrollBar, &option, right ? QStyle::SC_ScrollBarAddLine : QStyle::SC_ScrollBarSubLine, bar);
    return bar->mapTo(reference, arrow.center());
  }

  // Where a caption shows, in window coordinates: wide enough for any value.
  static QRect CaptionRect(QLabel* label) {
    const QPoint topLeft = label->mapTo(reference, QPoint(0, 0));
    const int width = label == reference->lbl_Steps ? label->width() : 44;
    return QRect(topLeft - QPoint(2, 1), QSize(width + 4, label->height() + 2));
  }

  static void Keep(const char* name) {
    const QString folder = qEnvironmentVariable("PATHWICK_E2E_SHOTS");
    if (!folder.isEmpty()) Shot().save(folder + '/' + QString::fromLatin1(name) + QStringLiteral(".png"));
  }

  static QImage Reference() { return reference->grab().toImage().convertToFormat(QImage::Format_RGB32); }

  // Polls until the caption on screen equals the reference's rendering.
  static bool CaptionMatches(QLabel* label) {
    const QImage expected = Reference();
    const QRect rect = CaptionRect(label);
    return PollUntil([&] { return SameRegion(Shot(), expected, rect); }, kShortTimeoutMs);
  }

  static bool GridChanges() {
    const QImage first = Shot();
    return PollUntil([&] { return !SameRegion(first, Shot(), kGridRect); }, kShortTimeoutMs);
  }

  // The grid shows the same pixels over a whole second.
  static bool GridHolds() {
    const QImage first = Shot();
    for (int i = 0; i < 5; ++i) {
      Pause(200);
      if (!SameRegion(first, Shot(), kGridRect)) return false;
    }
    return true;
  }

  static bool GridSettles() { return PollUntil(GridHolds, kLongTimeoutMs); }

  static QRect PlotRect() {
    // The chart's drawing area without its title, axis labels and legend.
    const QRect chart(8, 416, 777, 345);
    return chart.adjusted(45, 35, -45, -75);
  }

  static inline TForm1* reference = nullptr;
  static inline QProcess* program = nullptr;
  static inline unsigned long long window = 0;
};

TEST_F(ProgramTest, WindowIsTitledAndRuns) {
  EXPECT_EQ(Xdotool({"getwindowname", QString::number(window)}), QStringLiteral("Pathwick 01"));
  const QImage shot = Shot();
  EXPECT_EQ(shot.size(), QSize(800, 800));
  EXPECT_TRUE(GridChanges()) << "the grid does not move while the timer runs";
}

// What is wrong with the first world's home cells and target in a shot; empty when nothing is.
std::string FirstWorldFaults(const QImage& shot) {
  std::string faults;
  // A home cell stays red where no agent stands on it; elsewhere agents
  // leave at most a few red pixels in a cell.
  constexpr int kHomeRed = 16;
  for (int row = 0; row < kFirstGrid; ++row) {
    for (int column = 0; column < kFirstGrid; ++column) {
      const bool home = std::find(kFirstHomes.begin(), kFirstHomes.end(), std::pair{column, row}) != kFirstHomes.end();
      const int red = CountPixels(shot, CellRect(column, row, kFirstCellSize), [](QRgb p) { return p == kRed; });
      const std::string cell = "(" + std::to_string(column) + ", " + std::to_string(row) + ")";
      if (home && red < kHomeRed) faults += "home cell " + cell + " is not red; ";
      if (!home && red >= kHomeRed) faults += "cell " + cell + " is red but no home; ";
    }
  }
  // The 5 x 5 target area around cell (34, 34) is green, its surroundings are not.
  const QRect target = CellRect(32, 32, kFirstCellSize).united(CellRect(36, 36, kFirstCellSize));
  const auto green = [](QRgb p) { return p == kGreen; };
  const int inside = CountPixels(shot, target, green);
  if (inside < target.width() * target.height() * 6 / 10) faults += "target area not green; ";
  const QRect around = target.adjusted(-kFirstCellSize, -kFirstCellSize, kFirstCellSize, kFirstCellSize);
  if (CountPixels(shot, around, green) - inside >= 100) faults += "green around the target area; ";
  return faults;
}

TEST_F(ProgramTest, FirstWorldShowsTenHomeCellsAndTheTarget) {
  // Agents may crowd a cell for a moment, so a few shots are allowed.
  std::string faults;
  PollUntil(
      [&] {
        faults = FirstWorldFaults(Shot());
        return faults.empty();
      },
      kShortTimeoutMs);
  EXPECT_EQ(faults, "");
}

TEST_F(ProgramTest, CaptionsAtStartMatchTheRenderedLabels) {
  for (QLabel* label : {reference->Lbl_mutate, reference->Lbl_strenght, reference->Lbl_evapo, reference->Lbl_sniff,
                        reference->Lbl_visible}) {
    EXPECT_TRUE(CaptionMatches(label)) << label->text().toStdString();
  }
}

TEST_F(ProgramTest, StartStopHaltsAndResumesTheGrid) {
  Click(reference->B_stop);
  EXPECT_TRUE(GridSettles()) << "the grid keeps changing after stop";
  EXPECT_TRUE(GridHolds());
  Click(reference->B_stop);
  EXPECT_TRUE(GridChanges()) << "the grid does not move after start";
  Click(reference->B_stop);
  EXPECT_TRUE(GridSettles());
}

TEST_F(ProgramTest, ScrollBarArrowsRewriteTheCaptions) {
  // Stopped from the test before. One click on an arrow moves by one.
  const QImage before = Shot();
  for (int i = 0; i < 3; ++i) {
    Click(ArrowOf(reference->SB_evapo, true));
    Pause(150);
  }
  Click(ArrowOf(reference->SB_mutate, false));
  Pause(150);
  for (int i = 0; i < 2; ++i) {
    Click(ArrowOf(reference->SB_visible, true));
    Pause(150);
  }
  reference->SB_evapo->setValue(53);
  reference->SB_mutate->setValue(0);
  reference->SB_visible->setValue(102);
  EXPECT_TRUE(CaptionMatches(reference->Lbl_evapo));
  EXPECT_TRUE(CaptionMatches(reference->Lbl_mutate));
  EXPECT_TRUE(CaptionMatches(reference->Lbl_visible));
  // A neighbouring value renders differently.
  reference->SB_evapo->setValue(52);
  EXPECT_FALSE(SameRegion(Shot(), Reference(), CaptionRect(reference->Lbl_evapo)));
  reference->SB_evapo->setValue(53);
  // The comparison tells values apart: the old captions no longer match.
  const QImage now = Shot();
  for (QLabel* label : {reference->Lbl_evapo, reference->Lbl_mutate, reference->Lbl_visible}) {
    EXPECT_FALSE(SameRegion(before, now, CaptionRect(label))) << label->text().toStdString();
  }
  // The captions the bars were not moved for are unchanged.
  for (QLabel* label : {reference->Lbl_strenght, reference->Lbl_sniff}) {
    EXPECT_TRUE(SameRegion(before, now, CaptionRect(label))) << label->text().toStdString();
  }
}

TEST_F(ProgramTest, NewSetupAndOneStepWhileStopped) {
  Click(reference->B_setup);
  EXPECT_TRUE(GridSettles());
  // A new world has an empty chart.
  EXPECT_TRUE(PollUntil([] { return CountPixels(Shot(), PlotRect(), Coloured) == 0; }, kShortTimeoutMs))
      << "the chart still shows lines after new Setup";

  // "one step" writes 1, then 2, into the step counter, and the grid stays put between.
  reference->B_setupClick();
  reference->B_oneStepClick();
  ASSERT_EQ(reference->lbl_Steps->text(), QStringLiteral("1"));
  Click(reference->B_oneStep);
  EXPECT_TRUE(CaptionMatches(reference->lbl_Steps)) << "step counter does not show 1";
  EXPECT_TRUE(GridHolds());
  reference->B_oneStepClick();
  Click(reference->B_oneStep);
  EXPECT_TRUE(CaptionMatches(reference->lbl_Steps)) << "step counter does not show 2";
  EXPECT_TRUE(GridHolds());
}

TEST_F(ProgramTest, TypedSettingsTakeEffectAtTheNextSetup) {
  // 25 typed into the cell size is kept at 10; no agents at all.
  TypeInto(reference->Edit_anzAg, QStringLiteral("0"));
  Keep("typed_agents");
  TypeInto(reference->Edit_size, QStringLiteral("25"));
  Keep("typed_size");
  Click(reference->B_setup);
  Click(reference->B_oneStep);
  // A grid of 40 x 40 cells of 10 pixels: the target covers cells 18..22.
  // A home cell may lie in the target area and show red there.
  const QRect target = CellRect(18, 18, 10).united(CellRect(22, 22, 10));
  const auto green = [](QRgb p) { return p == kGreen; };
  const auto targetShown = [](QRgb p) { return p == kGreen || p == kRed; };
  EXPECT_TRUE(PollUntil([&] { return CountPixels(Shot(), target, targetShown) == 50 * 50; }, kShortTimeoutMs))
      << "the target is not 5 x 5 cells of 10 pixels";
  const QImage shot = Shot();
  EXPECT_GE(CountPixels(shot, target, green), 50 * 50 / 2);
  EXPECT_EQ(CountPixels(shot, target.adjusted(-1, -1, 1, 1), green), CountPixels(shot, target, green))
      << "green outside the target area";
  // Without agents the grid holds only white cells, red homes and the green target.
  const int others = CountPixels(shot, kGridRect, [](QRgb p) { return p != kWhite && p != kRed && p != kGreen; });
  EXPECT_EQ(others, 0);
  EXPECT_GE(CountPixels(shot, kGridRect, [](QRgb p) { return p == kRed; }), 100) << "no home cell of 10 x 10";

  // Back to 200 agents of size 6, and running: agents are drawn again.
  TypeInto(reference->Edit_anzAg, QStringLiteral("200"));
  TypeInto(reference->Edit_size, QStringLiteral("6"));
  Click(reference->B_setup);
  Click(reference->B_stop);
  EXPECT_TRUE(GridChanges());
  EXPECT_TRUE(PollUntil([] { return CountPixels(Shot(), kGridRect, [](QRgb p) { return p == kAgentOutline; }) > 100; },
                        kShortTimeoutMs))
      << "no agents drawn";
}

TEST_F(ProgramTest, ChartDrawsLinesAfterSomeHundredSteps) {
  // Running since the test before; a line needs two samples, 101 steps.
  EXPECT_TRUE(PollUntil([] { return CountPixels(Shot(), PlotRect(), Coloured) > 50; }, kLongTimeoutMs))
      << "no chart lines";
}

TEST_F(ProgramTest, EmptyCellSizeShowsOneMessageBoxAndTheRunGoesOn) {
  Click(reference->Edit_size);
  Xdotool({"key", "--clearmodifiers", "ctrl+a"});
  Xdotool({"key", "BackSpace"});
  QString boxes;
  EXPECT_TRUE(PollUntil(
      [&] {
        boxes = Xdotool({"search", "--onlyvisible", "--name", "^Pathwick$"});
        return !boxes.isEmpty();
      },
      kShortTimeoutMs))
      << "no message box";
  Keep("message_box");
  // More keys while the box is open stack no second box.
  Xdotool({"key", "BackSpace"});
  Pause(300);
  boxes = Xdotool({"search", "--onlyvisible", "--name", "^Pathwick$"});
  EXPECT_EQ(boxes.split('\n', Qt::SkipEmptyParts).size(), 1) << boxes.toStdString();
  // While it is open the world waits; once it is closed the run goes on.
  EXPECT_TRUE(GridSettles());
  if (!boxes.isEmpty()) {
    const QString box = boxes.split('\n').first();
    Xdotool({"windowactivate", "--sync", box});
    Xdotool({"windowfocus", "--sync", box});
    Xdotool({"key", "--window", box, "Return"});
  }
  EXPECT_TRUE(PollUntil(
      [] {
        return Xdotool({"search", "--onlyvisible", "--name", "^Pathwick$"}).isEmpty();
      },
      kShortTimeoutMs))
      << "the message box does not close";
  EXPECT_TRUE(GridChanges()) << "the run does not go on after the message";
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("DISPLAY")) {
    std::printf(
        "e2e_window: SKIPPED: DISPLAY is not set; the end-to-end test needs an X server "
        "(run it through scripts/test.sh or under xvfb-run -a).\n");
    return kSkipExitCode;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <path of pathwick_02_evolve> [gtest flags]\n", argv[0]);
    return 2;
  }
  programPath = QString::fromLocal8Bit(argv[1]);
  // This process grabs the real screen and renders the reference window on
  // the same X server as the program.
  qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
