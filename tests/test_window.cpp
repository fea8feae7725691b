// The main window as the user meets it: captions and the values the passes
// read from them, the cell size field, the sniff mode, the agent layer, the
// statistics chart, message boxes, and whether every control's text fits.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QValueAxis>
#include <clocale>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CellForm.h"
#include "Chart.h"
#include "Dialogs.h"
#include "Panel.h"
#include "RasterLayer.h"
#include "Runtime.h"
#include "agents_support.h"

namespace {

std::string Text(const QLabel* label) { return label->text().toStdString(); }
std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }

// The decimal separator the captions are written with.
char Separator() { return std::localeconv()->decimal_point[0]; }

// position / 100 written out by hand: "0", "0.05", "0.5", "0.35", "1".
std::string Hundredths(int position) {
  const int whole = position / 100;
  const int frac = position % 100;
  std::string text = std::to_string(whole);
  if (frac == 0) return text;
  text += Separator();
  text += static_cast<char>('0' + frac / 10);
  if (frac % 10 != 0) text += static_cast<char>('0' + frac % 10);
  return text;
}

// Round(sum / n) to nearest with ties to even, in whole numbers only.
int32_t RoundedAverage(int64_t sum, int64_t n) {
  const int64_t q = sum / n;
  const int64_t twiceRest = 2 * (sum % n);
  if (twiceRest > n || (twiceRest == n && q % 2 != 0)) return static_cast<int32_t>(q + 1);
  return static_cast<int32_t>(q);
}

class WindowTest : public agents_test::WindowFixture {
 protected:
  WindowTest() : WindowFixture(20240601u) {}

  QLineSeries* Angle() const { return angleSeries; }
  QLineSeries* Wiggle() const { return wiggleSeries; }

  void NewSetup(const char* agents) {
    form->Edit_anzAg->setText(QString::fromLatin1(agents));
    form->B_setupClick();
    ASSERT_TRUE(form->WorldExists());
  }

  // Genes summing to the given totals over the whole population.
  void SetGeneSums(int32_t angleSum, int32_t wiggleSum) {
    const auto n = static_cast<int32_t>(form->agents.size());
    for (int32_t i = 0; i < n; ++i) {
      form->agents[i].angleGene = angleSum / n + (i < angleSum % n ? 1 : 0);
      form->agents[i].wiggleGene = wiggleSum / n + (i < wiggleSum % n ? 1 : 0);
    }
  }
};

// Counts the paint events a widget receives.
struct PaintCounter : QObject {
  int paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// ---------------------------------------------------------------------------
// At start

TEST_F(WindowTest, StartsWithDefaultCaptionsAndARunningTimer) {
  const std::string sep(1, Separator());
  EXPECT_EQ(Text(form->Lbl_mutate), "0" + sep + "01 %");
  EXPECT_EQ(Text(form->Lbl_strenght), "50");
  EXPECT_EQ(Text(form->Lbl_evapo), "0" + sep + "5");
  EXPECT_EQ(Text(form->Lbl_sniff), "15");
  EXPECT_EQ(Text(form->Lbl_visible), "100");
  EXPECT_EQ(Text(form->lbl_Steps), "lbl_Steps");
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Pathwick 01"));
  EXPECT_EQ(form->size(), QSize(800, 800));
  EXPECT_EQ(form->SniffMode(), smHillClimbing);
  EXPECT_FALSE(form->CB_diffuse->isEnabled());
  EXPECT_EQ(messages.size(), 0u);

  // A fresh window runs by itself: its timer steps the world.
  form.reset();
  form = std::make_unique<TForm1>();
  EXPECT_TRUE(form->Timer1->isActive());
  EXPECT_TRUE(QTest::qWaitFor([] { return stepCount >= 3; }, 5000)) << "stepCount " << stepCount;
  EXPECT_EQ(Text(form->lbl_Steps), std::to_string(stepCount));
}

TEST_F(WindowTest, ASecondWindowIsRefusedAndTheFirstKeepsItsWorld) {
  for (int i = 0; i < 5; ++i) form->DoStep();
  const TRasterLayer* layer = cellLayer.get();
  const QImage picture = layer->Image().copy();
  EXPECT_THROW(TForm1 second, std::logic_error);
  EXPECT_EQ(cellLayer.get(), layer);
  EXPECT_EQ(cellLayer->Image(), picture);
  EXPECT_EQ(stepCount, 5);
  form->DoStep();
  EXPECT_EQ(stepCount, 6);
  // Once the first has gone, a new window may be built.
  form.reset();
  EXPECT_NO_THROW(form = std::make_unique<TForm1>());
  EXPECT_TRUE(form->WorldExists());
}

// ---------------------------------------------------------------------------
// Scroll bars and their captions

struct BarCase {
  const char* name;
  QScrollBar* TForm1::*bar;
  QLabel* TForm1::*label;
  int max;
  int start;
};

std::ostream& operator<<(std::ostream& os, const BarCase& c) { return os << c.name; }

class ScrollCaptionTest : public WindowTest, public ::testing::WithParamInterface<BarCase> {
 protected:
  // What the caption must read at a position, and whether the pass reads
  // the position back from it.
  std::string Expected(int position) const {
    const std::string name = GetParam().name;
    if (name == "mutate") return Hundredths(position) + " %";
    if (name == "evapo") return Hundredths(position);
    return std::to_string(position);
  }
  void ExpectReadBack(int position) const {
    const std::string name = GetParam().name;
    if (name == "mutate") EXPECT_EQ(form->MutationRate(), static_cast<long double>(position) / 100);
    if (name == "strenght") EXPECT_EQ(form->MarkStrength(), position);
    if (name == "evapo") EXPECT_EQ(form->EvaporationRate(), static_cast<long double>(position) / 100);
    if (name == "sniff") EXPECT_EQ(form->SniffThreshold(), position);
    if (name == "visible") EXPECT_EQ(form->VisibilityThreshold(), position);
  }
};

TEST_P(ScrollCaptionTest, EveryPositionWritesItsCaptionAndReadsBack) {
  const BarCase& c = GetParam();
  QScrollBar* bar = form.get()->*c.bar;
  QLabel* label = form.get()->*c.label;
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), c.max);
  EXPECT_EQ(bar->value(), c.start);
  EXPECT_EQ(bar->pageStep(), 5);
  EXPECT_EQ(bar->singleStep(), 1);

  const std::vector<QLabel*> all{form->Lbl_mutate, form->Lbl_strenght, form->Lbl_evapo, form->Lbl_sniff,
                                 form->Lbl_visible};
  std::vector<QString> before;
  for (QLabel* l : all) before.push_back(l->text());

  // Both ends first, then every position in a scrambled order, so each
  // change really moves the bar.
  std::vector<int> positions{c.max, 0};
  for (int i = 0; i <= c.max; ++i) positions.push_back((i * 37 + 11) % (c.max + 1));
  for (int position : positions) {
    bar->setValue(position);
    ASSERT_EQ(Text(label), Expected(position)) << "position " << position;
    ExpectReadBack(position);
    // A caption that carries a value grows to show all of it.
    EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text())) << "position " << position;
  }
  // Each handler rewrites only its own caption.
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i] != label) EXPECT_EQ(all[i]->text(), before[i]);
  }
}

TEST_P(ScrollCaptionTest, LargeChangeAndArrowClicksMoveThePosition) {
  QScrollBar* bar = form.get()->*GetParam().bar;
  QLabel* label = form.get()->*GetParam().label;
  bar->setValue(10);
  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(bar->value(), 15);
  bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(bar->value(), 14);
  EXPECT_EQ(Text(label), Expected(14));
}

INSTANTIATE_TEST_SUITE_P(Bars, ScrollCaptionTest,
                         ::testing::Values(BarCase{"mutate", &TForm1::SB_mutate, &TForm1::Lbl_mutate, 100, 1},
                                           BarCase{"strenght", &TForm1::SB_strenght, &TForm1::Lbl_strenght, 100, 50},
                                           BarCase{"evapo", &TForm1::SB_evapo, &TForm1::Lbl_evapo, 100, 50},
                                           BarCase{"sniff", &TForm1::SB_sniff, &TForm1::Lbl_sniff, 100, 15},
                                           BarCase{"visible", &TForm1::SB_visible, &TForm1::Lbl_visible, 500, 100}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowTest, CaptionsAtTheEndsOfTheBars) {
  form->SB_evapo->setValue(0);
  EXPECT_EQ(Text(form->Lbl_evapo), "0");
  EXPECT_EQ(form->EvaporationRate(), 0.0L);
  form->SB_evapo->setValue(100);
  EXPECT_EQ(Text(form->Lbl_evapo), "1");
  EXPECT_EQ(form->EvaporationRate(), 1.0L);
  form->SB_mutate->setValue(100);
  EXPECT_EQ(Text(form->Lbl_mutate), "1 %");
  EXPECT_EQ(form->MutationRate(), 1.0L);
  form->SB_mutate->setValue(0);
  EXPECT_EQ(Text(form->Lbl_mutate), "0 %");
  form->SB_visible->setValue(500);
  EXPECT_EQ(Text(form->Lbl_visible), "500");
  // The widest value captions still end before the control beside them.
  form->SB_mutate->setValue(35);
  EXPECT_LE(form->Lbl_mutate->geometry().right(), form->Label8->geometry().left());
  form->SB_strenght->setValue(100);
  EXPECT_LE(form->Lbl_strenght->geometry().right(), form->Label7->geometry().left());
  for (QLabel* l : {form->Lbl_visible, form->Lbl_sniff, form->Lbl_evapo}) {
    EXPECT_LE(l->geometry().right(), form->width()) << l->text().toStdString();
  }
}

// ---------------------------------------------------------------------------
// The cell size field, typed into key by key

struct TypingCase {
  const char* keys;
  const char* text;
  std::vector<std::string> messages;
};

class EditSizeTest : public WindowTest, public ::testing::WithParamInterface<TypingCase> {};

TEST_P(EditSizeTest, TypingKeepsTheSizeWithinOneToTen) {
  const TypingCase& c = GetParam();
  form->Edit_size->setFocus();
  form->Edit_size->selectAll();
  QTest::keyClicks(form->Edit_size, QString::fromLatin1(c.keys));
  EXPECT_EQ(Text(form->Edit_size), c.text);
  EXPECT_EQ(messages, c.messages);
}

INSTANTIATE_TEST_SUITE_P(Keys, EditSizeTest,
                         ::testing::Values(TypingCase{"25", "10", {}}, TypingCase{"0", "1", {}},
                                           TypingCase{"10", "10", {}}, TypingCase{"7", "7", {}},
                                           TypingCase{"99999999999", "10", {}},
                                           // The lone minus sign is not a whole number yet.
                                           TypingCase{"-3", "1", {"'-' is not a valid integer value"}},
                                           TypingCase{"4x", "4x", {"'4x' is not a valid integer value"}}));

TEST_F(WindowTest, EmptyingTheCellSizeFieldReportsOnce) {
  form->Edit_size->setFocus();
  form->Edit_size->end(false);
  QTest::keyClick(form->Edit_size, Qt::Key_Backspace);
  EXPECT_EQ(Text(form->Edit_size), "");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "'' is not a valid integer value");

  // "new Setup" with the empty field reports it and keeps the world running.
  messages.clear();
  form->B_setupClick();
  EXPECT_EQ(messages, std::vector<std::string>{"'' is not a valid integer value"});
  ASSERT_TRUE(form->WorldExists());
  form->B_oneStepClick();
  EXPECT_EQ(stepCount, 1);

  // The next size typed takes effect at the next setup.
  messages.clear();
  QTest::keyClicks(form->Edit_size, QStringLiteral("10"));
  EXPECT_TRUE(messages.empty());
  form->B_setupClick();
  EXPECT_EQ(cellSize, 10);
  EXPECT_EQ(gridCols, 40);
}

// With no sink a real modal box opens. While it is open a second message does
// not stack another box on it and no step runs, yet the window still paints;
// once it closes, the timer steps the world again.
TEST_F(WindowTest, MessageBoxesNeverPileUpAndTheWindowKeepsPainting) {
  SetMessageSink({});
  form->show();
  form->Timer1->start();
  ASSERT_TRUE(QTest::qWaitFor([] { return stepCount >= 2; }, 5000));

  PaintCounter counter;
  form->ZeichenPanel->installEventFilter(&counter);

  int boxes = -1;
  int stepsWhileOpen = -1;
  int paintsWhileOpen = -1;
  QTimer::singleShot(50, [&] {
    ShowMessage("a second message");  // must be dropped, not stacked
    const int steps = stepCount;
    const int paints = counter.paints;
    form->ZeichenPanel->update();
    QTimer::singleShot(200, [&, steps, paints] {
      boxes = 0;
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMessageBox*>(w) && w->isVisible()) ++boxes;
      }
      stepsWhileOpen = stepCount - steps;
      paintsWhileOpen = counter.paints - paints;
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) box->accept();
      }
    });
  });
  form->Edit_size->setText(QString());  // opens the box; returns when it closes
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(stepsWhileOpen, 0);
  EXPECT_GE(paintsWhileOpen, 1);
  EXPECT_FALSE(MessageBoxOpen());
  const int after = stepCount;
  EXPECT_TRUE(QTest::qWaitFor([after] { return stepCount >= after + 2; }, 5000));
  form->ZeichenPanel->removeEventFilter(&counter);
}

// While the 1 ms timer runs the grid reaches the screen at most once a frame,
// and the last step is always shown once stepping stops.
TEST_F(WindowTest, GridRepaintsAtMostOncePerFrameAndShowsTheLastStep) {
  PaintCounter counter;
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  QTest::qWait(50);
  form->ZeichenPanel->installEventFilter(&counter);

  QElapsedTimer clock;
  const int startSteps = stepCount;
  clock.start();
  form->Timer1->start();
  QTest::qWait(500);
  form->Timer1->stop();
  const qint64 elapsed = clock.elapsed();
  const int steps = stepCount - startSteps;
  const int paints = counter.paints;
  EXPECT_GT(steps, 0);
  EXPECT_GE(paints, 1);
  EXPECT_LE(paints, steps + 1);
  EXPECT_LE(paints, elapsed / TPanel::kFrameMs + 2) << steps << " steps in " << elapsed << " ms";

  // One more step: it shows within a couple of frames.
  const int before = counter.paints;
  form->B_oneStepClick();
  EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > before; }, 1000));
  form->ZeichenPanel->removeEventFilter(&counter);
}

// ---------------------------------------------------------------------------
// Sniff mode and hide agents

TEST_F(WindowTest, RadioButtonsGiveTheSniffMode) {
  EXPECT_EQ(form->SniffMode(), smHillClimbing);
  QTest::mouseClick(form->rb_rulette, Qt::LeftButton);
  EXPECT_TRUE(form->rb_rulette->isChecked());
  EXPECT_FALSE(form->rb_hill->isChecked());
  EXPECT_EQ(form->SniffMode(), smRoulette);
  QTest::mouseClick(form->rb_hill, Qt::LeftButton);
  EXPECT_FALSE(form->rb_rulette->isChecked());
  EXPECT_EQ(form->SniffMode(), smHillClimbing);
  // Only the two buttons exclude each other: the check boxes stay as they are.
  form->CB_hideAgs->setChecked(true);
  QTest::mouseClick(form->rb_rulette, Qt::LeftButton);
  EXPECT_TRUE(form->CB_hideAgs->isChecked());
  // With neither checked, no chemical steering.
  form->rb_rulette->setAutoExclusive(false);
  form->rb_rulette->setChecked(false);
  EXPECT_EQ(form->SniffMode(), smNone);
}

int OpaquePixels(const QImage& image) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) n += qAlpha(image.pixel(x, y)) != 0;
  }
  return n;
}

TEST_F(WindowTest, HideAgentsLeavesTheAgentLayerTransparent) {
  form->B_oneStepClick();
  EXPECT_GT(OpaquePixels(agentLayer->Image()), 200) << "agents are drawn";
  form->CB_hideAgs->setChecked(true);
  EXPECT_GT(OpaquePixels(agentLayer->Image()), 200) << "nothing changes before the next step";
  form->B_oneStepClick();
  EXPECT_EQ(OpaquePixels(agentLayer->Image()), 0);
  EXPECT_EQ(agentLayer->Canvas().Pixel(200, 200), clWhite);
  form->CB_hideAgs->setChecked(false);
  form->B_oneStepClick();
  EXPECT_GT(OpaquePixels(agentLayer->Image()), 200);
}

// ---------------------------------------------------------------------------
// The chart

TEST_F(WindowTest, ChartTitlesAndAxes) {
  EXPECT_EQ(form->Chart1->TitleText(), QStringLiteral("average values of all agents"));
  const auto series = form->Chart1->chart()->series();
  ASSERT_EQ(series.size(), 2);
  EXPECT_EQ(series[0], Angle());
  EXPECT_EQ(series[1], Wiggle());
  EXPECT_EQ(Angle()->name(), QStringLiteral("average angle"));
  EXPECT_EQ(Wiggle()->name(), QStringLiteral("wiggle angle"));
  for (QLineSeries* s : {Angle(), Wiggle()}) {
    EXPECT_TRUE(s->attachedAxes().contains(form->Chart1->RightAxis()));
    EXPECT_FALSE(s->attachedAxes().contains(form->Chart1->LeftAxis()));
    EXPECT_EQ(s->count(), 0);
  }
  EXPECT_EQ(form->Chart1->RightAxis()->alignment(), Qt::AlignRight);
  EXPECT_EQ(form->Chart1->LeftAxis()->alignment(), Qt::AlignLeft);

  for (int i = 0; i < 301; ++i) form->B_oneStepClick();
  ASSERT_EQ(Angle()->count(), 4);
  double top = 0;
  for (QLineSeries* s : {Angle(), Wiggle()}) {
    for (const QPointF& p : s->points()) top = std::max(top, p.y());
  }
  for (QValueAxis* axis : {form->Chart1->LeftAxis(), form->Chart1->RightAxis()}) {
    EXPECT_EQ(axis->min(), 0.0);
    EXPECT_GE(axis->max(), top);
  }
  EXPECT_GE(form->Chart1->BottomAxis()->max(), 300.0);
}

TEST_F(WindowTest, FirstStepChartsTheRoundedInitialAverages) {
  int64_t angleSum = 0;
  int64_t wiggleSum = 0;
  for (const TAgent& a : form->agents) {
    angleSum += a.angleGene;
    wiggleSum += a.wiggleGene;
  }
  const auto n = static_cast<int64_t>(form->agents.size());
  ASSERT_EQ(n, 200);
  form->B_oneStepClick();
  ASSERT_EQ(Angle()->count(), 1);
  ASSERT_EQ(Wiggle()->count(), 1);
  EXPECT_EQ(Angle()->at(0), QPointF(0, RoundedAverage(angleSum, n)));
  EXPECT_EQ(Wiggle()->at(0), QPointF(0, RoundedAverage(wiggleSum, n)));
  EXPECT_EQ(Text(form->Lbl_avgAngle), std::to_string(RoundedAverage(angleSum, n)));
  EXPECT_EQ(Text(form->Lbl_avgWiggle), std::to_string(RoundedAverage(wiggleSum, n)));
}

TEST_F(WindowTest, SecondPointIsTakenInTheHundredAndFirstStep) {
  for (int i = 0; i < 100; ++i) form->B_oneStepClick();
  EXPECT_EQ(Angle()->count(), 1);
  form->B_oneStepClick();
  ASSERT_EQ(Angle()->count(), 2);
  ASSERT_EQ(Wiggle()->count(), 2);
  EXPECT_EQ(Angle()->at(1).x(), 100.0);
  EXPECT_EQ(Wiggle()->at(1).x(), 100.0);
  for (int i = 0; i < 99; ++i) form->B_oneStepClick();
  EXPECT_EQ(Angle()->count(), 2);
  EXPECT_EQ(Text(form->lbl_Steps), "200");
}

struct AverageCase {
  int32_t angleSum;
  int32_t wiggleSum;
  int32_t angle;
  int32_t wiggle;
};

class AverageTest : public WindowTest, public ::testing::WithParamInterface<AverageCase> {};

TEST_P(AverageTest, AveragesRoundToNearestTiesToEven) {
  const AverageCase& c = GetParam();
  NewSetup("100");
  SetGeneSums(c.angleSum, c.wiggleSum);
  form->B_oneStepClick();
  ASSERT_EQ(Angle()->count(), 1);
  EXPECT_EQ(Angle()->at(0), QPointF(0, c.angle));
  EXPECT_EQ(Wiggle()->at(0), QPointF(0, c.wiggle));
  EXPECT_EQ(Text(form->Lbl_avgAngle), std::to_string(c.angle));
  EXPECT_EQ(Text(form->Lbl_avgWiggle), std::to_string(c.wiggle));
}

INSTANTIATE_TEST_SUITE_P(Sums, AverageTest,
                         ::testing::Values(AverageCase{250, 350, 2, 4}, AverageCase{150, 450, 2, 4},
                                           AverageCase{251, 349, 3, 3}, AverageCase{0, 25500, 0, 255},
                                           AverageCase{17950, 50, 180, 0}));

TEST_F(WindowTest, NoPointsFromStep49800OnWhileTheLabelsStillUpdate) {
  stepCount = 49700;
  SetGeneSums(200 * 10, 200 * 20);
  form->B_oneStepClick();
  ASSERT_EQ(Angle()->count(), 1);
  EXPECT_EQ(Angle()->at(0), QPointF(49700, 10));
  EXPECT_EQ(Wiggle()->at(0), QPointF(49700, 20));

  stepCount = 49800;
  SetGeneSums(200 * 11, 200 * 21);
  form->B_oneStepClick();
  EXPECT_EQ(stepCount, 49801);
  EXPECT_EQ(Angle()->count(), 1);
  EXPECT_EQ(Wiggle()->count(), 1);
  EXPECT_EQ(Text(form->Lbl_avgAngle), "11");
  EXPECT_EQ(Text(form->Lbl_avgWiggle), "21");

  stepCount = 49900;
  SetGeneSums(200 * 12, 200 * 22);
  form->B_oneStepClick();
  EXPECT_EQ(Angle()->count(), 1);
  EXPECT_EQ(Text(form->Lbl_avgAngle), "12");
  EXPECT_EQ(Text(form->Lbl_avgWiggle), "22");
}

TEST_F(WindowTest, NewSetupEmptiesTheChartAndStartsAgainAtZero) {
  for (int i = 0; i < 201; ++i) form->B_oneStepClick();
  ASSERT_EQ(Angle()->count(), 3);
  const std::string lastAngle = Text(form->Lbl_avgAngle);
  // The old series are deleted by the new setup; QPointer sees that without
  // reading freed memory, and a new series may reuse a freed address.
  const QPointer<QLineSeries> oldAngle(Angle());
  const QPointer<QLineSeries> oldWiggle(Wiggle());

  form->B_setupClick();
  EXPECT_TRUE(oldAngle.isNull());
  EXPECT_TRUE(oldWiggle.isNull());
  const auto series = form->Chart1->chart()->series();
  ASSERT_EQ(series.size(), 2);
  EXPECT_EQ(series[0], Angle());
  EXPECT_EQ(series[1], Wiggle());
  EXPECT_EQ(Angle()->count(), 0);
  EXPECT_EQ(Wiggle()->count(), 0);
  EXPECT_EQ(form->Chart1->TitleText(), QStringLiteral("average values of all agents"));
  EXPECT_EQ(Text(form->Lbl_avgAngle), lastAngle) << "labels keep their value until the first sample";

  form->B_oneStepClick();
  ASSERT_EQ(Angle()->count(), 1);
  EXPECT_EQ(Angle()->at(0).x(), 0.0);
  EXPECT_EQ(Wiggle()->at(0).x(), 0.0);
}

TEST_F(WindowTest, EmptyPopulationStepsOnWithoutSamples) {
  form->B_oneStepClick();
  const std::string angle = Text(form->Lbl_avgAngle);
  const std::string wiggle = Text(form->Lbl_avgWiggle);
  NewSetup("0");
  EXPECT_TRUE(form->agents.empty());
  for (int i = 0; i < 101; ++i) form->B_oneStepClick();
  EXPECT_EQ(stepCount, 101);
  EXPECT_EQ(Text(form->lbl_Steps), "101");
  EXPECT_EQ(Angle()->count(), 0);
  EXPECT_EQ(Wiggle()->count(), 0);
  EXPECT_EQ(Text(form->Lbl_avgAngle), angle);
  EXPECT_EQ(Text(form->Lbl_avgWiggle), wiggle);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(OpaquePixels(agentLayer->Image()), 0);
}

// ---------------------------------------------------------------------------
// Readability: every caption fits the bounds of its control

TEST_F(WindowTest, EveryCaptionFitsItsControl) {
  // The window font is a font Debian ships, not a silent fallback.
  EXPECT_EQ(QFontInfo(form->font()).family(), QStringLiteral("DejaVu Sans"));
  EXPECT_EQ(form->font().pixelSize(), 10);

  for (QLabel* label : form->findChildren<QLabel*>()) {
    const QString text = label->text().trimmed();
    EXPECT_LE(label->fontMetrics().horizontalAdvance(text), label->width()) << text.toStdString();
    EXPECT_GE(label->height(), label->fontMetrics().ascent() + label->fontMetrics().descent()) << text.toStdString();
  }
  for (QAbstractButton* button : form->findChildren<QAbstractButton*>()) {
    const int text = button->fontMetrics().horizontalAdvance(button->text());
    if (qobject_cast<QPushButton*>(button)) {
      EXPECT_LE(text + 8, button->width()) << button->text().toStdString();
      continue;
    }
    // Check boxes and radio buttons: the text goes right of the indicator.
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const bool radio = qobject_cast<QRadioButton*>(button) != nullptr;
    const QRect contents = button->style()->subElementRect(
        radio ? QStyle::SE_RadioButtonContents : QStyle::SE_CheckBoxContents, &option, button);
    EXPECT_LE(text, contents.width()) << button->text().toStdString();
    EXPECT_LE(contents.right(), button->rect().right()) << button->text().toStdString();
  }
  for (QGroupBox* box : form->findChildren<QGroupBox*>()) {
    EXPECT_LE(box->fontMetrics().horizontalAdvance(box->title()) + 16, box->width()) << box->title().toStdString();
  }
  // The edit fields show six digits.
  for (QLineEdit* edit : {form->Edit_size, form->Edit_anzAg}) {
    EXPECT_LE(edit->fontMetrics().horizontalAdvance(QStringLiteral("200000")), edit->width() - 6);
  }
}

// ---------------------------------------------------------------------------
// Under a locale whose decimal separator is a comma

// Switches the C library to de_DE.UTF-8 for the life of the object, first
// compiling the locale into a folder of its own when the system lacks it.
class GermanLocale {
 public:
  GermanLocale() {
    if (!std::setlocale(LC_ALL, kName)) {
      const QString folder = dir_.path();
      QProcess::execute(QStringLiteral("localedef"), {"-i", "de_DE", "-f", "UTF-8", folder + "/de_DE.UTF-8"});
      qputenv("LOCPATH", folder.toLocal8Bit());
      set_ = std::setlocale(LC_ALL, kName) != nullptr;
    } else {
      set_ = true;
    }
  }
  ~GermanLocale() {
    std::setlocale(LC_ALL, "C");
    qunsetenv("LOCPATH");
  }
  bool Set() const { return set_; }

 private:
  static constexpr const char* kName = "de_DE.UTF-8";
  QTemporaryDir dir_;
  bool set_ = false;
};

TEST(WindowUnderGermanLocale, CaptionsShowCommasAndTheRatesReadBack) {
  GermanLocale german;
  ASSERT_TRUE(german.Set()) << "de_DE.UTF-8 could neither be set nor compiled (Debian package locales)";
  SetMessageSink([](const std::string& text) { ADD_FAILURE() << text; });
  auto form = std::make_unique<TForm1>();
  form->Timer1->stop();
  EXPECT_EQ(Text(form->Lbl_evapo), "0,5");
  EXPECT_EQ(Text(form->Lbl_mutate), "0,01 %");
  form->SB_evapo->setValue(35);
  EXPECT_EQ(Text(form->Lbl_evapo), "0,35");
  EXPECT_EQ(form->EvaporationRate(), 0.35L);
  EXPECT_EQ(form->MutationRate(), 0.01L);
  // The evaporation pass reads the caption back: 0,35 takes Round(3.5) = 4.
  form->chemical[0][0] = 50;
  form->Evaporate();
  EXPECT_EQ(form->chemical[0][0], 46);
  SetMessageSink({});
}

}  // namespace
