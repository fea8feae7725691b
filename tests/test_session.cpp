// Long random sessions on the real window: a repeatable generator of user
// actions (setups with good and bad texts, scroll bars, sniff modes, check
// boxes, mouse presses, drags and releases anywhere, start/stop, single and
// timer steps) with every invariant of the world checked after every action.
// Also: the window closed while running and "new Setup" pressed over and over
// while running leave nothing behind (run under the sanitizer build, the
// leak checker sees every allocation).
#include <gtest/gtest.h>

#include <QApplication>
#include <QChart>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
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

using world_invariants::CheckCaptions;
using world_invariants::CheckWorld;

constexpr int32_t kPaintedChemical = 255;

// A small generator of its own, so that the action sequence of a seed is the
// same on every platform and is not disturbed by the simulation's generator.
class Dice {
 public:
  explicit Dice(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<uint32_t>(state_ >> 11);
  }
  int32_t Below(int32_t n) { return static_cast<int32_t>(Next() % static_cast<uint32_t>(n)); }
  int32_t Between(int32_t lo, int32_t hi) { return lo + Below(hi - lo + 1); }
  bool Chance(int32_t percent) { return Below(100) < percent; }
  template <class T, size_t N>
  const T& Pick(const std::array<T, N>& items) {
    return items[static_cast<size_t>(Below(static_cast<int32_t>(N)))];
  }

 private:
  uint64_t state_;
};

std::optional<int32_t> ReadInt(const std::string& text) {
  try {
    return StrToInt(text);
  } catch (const EConvertError&) {
    return std::nullopt;
  }
}

std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }

// Randomize hands out a spread sequence, so every setup's world differs.
class SessionBase : public agents_test::WindowFixture {
 protected:
  SessionBase() : WindowFixture([this] { return randomizeCounter++ * 2654435761u; }) {}
  uint32_t randomizeCounter = 1;
};

// ---------------------------------------------------------------------------
// The random session

class RandomSession : public SessionBase, public ::testing::WithParamInterface<uint64_t> {
 protected:
  void SetUp() override {
    SessionBase::SetUp();  // stopped: ticks are delivered by the session itself
    stepsCaption = form->lbl_Steps->text().toStdString();
    // Start from a small world, so thousands of actions stay quick.
    NewSetup("8", "12", std::nullopt);
  }

  // Records a failure with the action log, so the failing step can be replayed.
  void Require(bool ok, const std::string& what) {
    if (ok) return;
    ADD_FAILURE() << "after action " << actionIndex << " (" << lastAction << "): " << what;
    failed = true;
  }

  void CheckAll() {
    const std::string world = CheckWorld(*form);
    Require(world.empty(), world);
    const std::string captions = CheckCaptions(*form);
    Require(captions.empty(), captions);
    Require(form->lbl_Steps->text().toStdString() == stepsCaption,
            "lbl_Steps shows '" + form->lbl_Steps->text().toStdString() + "', expected '" + stepsCaption + "'");
    Require(!MessageBoxOpen(), "a message box is open");
  }

  std::vector<int32_t> Chemicals() {
    std::vector<int32_t> values;
    values.reserve(static_cast<size_t>(gridCols) * static_cast<size_t>(gridRows));
    for (int32_t amount : form->chemical) values.push_back(amount);
    return values;
  }

  // A click through QTest; QTest then holds the clicked button no more.
  void Click(QWidget* widget, QPoint where = QPoint()) {
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, where);
    held &= ~Qt::MouseButtons(Qt::LeftButton);
  }

  // --- setup texts -------------------------------------------------------

  std::string SizeText() {
    static const std::array<const char*, 14> odd{"",           " ",           "abc", "1.5", "0",
                                                 "-1",         "-2147483648", "11",  "25",  "2147483647",
                                                 "2147483648", "99999999999", " 4 ", "+3"};
    // Cell sizes 1 and 2 give grids of 404 and 202 cells a side: reached,
    // but less often, so that thousands of checked actions stay quick.
    if (dice.Chance(5)) return IntToStr(dice.Between(1, 2));
    if (dice.Chance(65)) return IntToStr(dice.Between(3, 10));
    return odd[static_cast<size_t>(dice.Below(static_cast<int32_t>(odd.size())))];
  }

  std::string CountText() {
    static const std::array<const char*, 14> odd{
        "",           " ",  "x", "12abc",       "1e3",         "1000001", "2147483647",
        "2147483648", "-1", "0", "-2147483648", "99999999999", " 7 ",     "+0"};
    if (dice.Chance(65)) return IntToStr(dice.Between(0, 40));
    return odd[static_cast<size_t>(dice.Below(static_cast<int32_t>(odd.size())))];
  }

  // Types the cell size (through Edit_sizeChange) and the number of agents,
  // then presses "new Setup"; checks what each of them made of the texts.
  // Types text into an edit field with the keyboard: everything selected,
  // then the keys one by one (an empty text deletes the selection).
  static void TypeKeys(QLineEdit* edit, const std::string& text) {
    edit->selectAll();
    if (text.empty()) {
      QTest::keyClick(edit, Qt::Key_Backspace);
    } else {
      QTest::keyClicks(edit, QString::fromStdString(text));
    }
  }

  // What Edit_sizeChange makes of a text typed key by key: every key that
  // edits the text runs it (even one that leaves the same text), a
  // replacement by the handler only when it differs; bad text is reported,
  // out-of-range values replaced.
  static std::pair<std::string, std::vector<std::string>> ExpectedTyping(std::string current, const std::string& keys) {
    std::vector<std::string> reported;
    std::function<void(const std::string&, bool)> change = [&](const std::string& next, bool byKey) {
      if (!byKey && next == current) return;
      current = next;
      const std::optional<int32_t> value = ReadInt(current);
      if (!value) {
        reported.push_back(InvalidIntegerMessage(current));
      } else if (*value > 10) {
        change("10", false);
      } else if (*value < 1) {
        change("1", false);
      }
    };
    if (keys.empty() && !current.empty()) change("", true);
    for (size_t i = 0; i < keys.size(); ++i) change(i == 0 ? keys.substr(0, 1) : current + keys[i], true);
    return {current, reported};
  }

  // Types the cell size (through Edit_sizeChange) and the number of agents,
  // by setting the texts or with the keyboard, then presses "new Setup";
  // checks what each of them made of the texts.
  void NewSetup(const std::string& sizeText, const std::string& countText, std::optional<bool> knowsCenter) {
    messages.clear();
    const std::string sizeBefore = Text(form->Edit_size);
    if (dice.Chance(30)) {
      TypeKeys(form->Edit_size, sizeText);
      const auto [text, reported] = ExpectedTyping(sizeBefore, sizeText);
      Require(Text(form->Edit_size) == text,
              "typing '" + sizeText + "' left '" + Text(form->Edit_size) + "' in Edit_size, expected '" + text + "'");
      Require(messages == reported, "typing '" + sizeText + "' into Edit_size: " + std::to_string(messages.size()) +
                                        " messages, expected " + std::to_string(reported.size()));
    } else {
      form->Edit_size->setText(QString::fromStdString(sizeText));
      const std::optional<int32_t> typed = ReadInt(sizeText);
      if (!typed) {
        Require(Text(form->Edit_size) == sizeText, "bad cell size text was replaced");
        Require(messages.size() == (sizeText == sizeBefore ? 0u : 1u), "bad cell size: wrong number of messages");
        if (!messages.empty()) Require(messages[0] == InvalidIntegerMessage(sizeText), "message: " + messages[0]);
      } else {
        Require(messages.empty(), "a whole number in Edit_size raised a message");
        const std::string expected = *typed > 10 ? "10" : *typed < 1 ? "1" : sizeText;
        Require(Text(form->Edit_size) == expected, "Edit_size holds '" + Text(form->Edit_size) + "'");
      }
    }
    messages.clear();
    if (dice.Chance(30)) {
      TypeKeys(form->Edit_anzAg, countText);
    } else {
      form->Edit_anzAg->setText(QString::fromStdString(countText));
    }
    Require(Text(form->Edit_anzAg) == countText, "Edit_anzAg holds '" + Text(form->Edit_anzAg) + "'");
    if (knowsCenter) form->CB_mCent->setChecked(*knowsCenter);
    Require(messages.empty(), "typing the number of agents raised a message");

    const std::optional<int32_t> size = ReadInt(Text(form->Edit_size));
    const std::optional<int32_t> count = ReadInt(countText);
    const bool valid = size && count && *count <= TForm1::kMaxAgents;
    const bool existed = form->WorldExists();
    const int32_t oldSize = cellSize;
    const size_t oldAgents = form->agents.size();
    const int32_t oldSteps = stepCount;
    const bool running = form->Timer1->isActive();

    if (dice.Chance(50)) {
      form->B_setupClick();
    } else {
      Click(form->B_setup);
    }
    Require(form->Timer1->isActive() == running, "new Setup changed the timer");
    if (valid) {
      ++seen.setupsBuilt;
      Require(messages.empty(), "a valid setup raised a message");
      Require(form->WorldExists(), "a valid setup left no world");
      Require(cellSize == *size, "cell size of the new world");
      Require(form->agents.size() == static_cast<size_t>(std::max(*count, 0)), "number of agents");
      Require(stepCount == 0, "stepCount after setup");
      Require(!leftPainting && !rightPainting, "painting flags survive a setup");
      Require(form->Chart1->chart()->series().size() == 2, "chart series after setup");
    } else {
      ++seen.setupsRefused;
      Require(messages.size() == 1, "a refused setup gave " + std::to_string(messages.size()) + " messages");
      Require(form->WorldExists() == existed && cellSize == oldSize && form->agents.size() == oldAgents &&
                  stepCount == oldSteps,
              "a refused setup changed the world");
      if (!messages.empty() && size && count) {
        Require(messages[0].find("1000000") != std::string::npos, "refusal does not name the limit: " + messages[0]);
      }
    }
    messages.clear();
  }

  // --- scroll bars -------------------------------------------------------

  void MoveScrollBar() {
    std::array<QScrollBar*, 5> bars{form->SB_mutate, form->SB_strenght, form->SB_evapo, form->SB_sniff,
                                    form->SB_visible};
    QScrollBar* bar = dice.Pick(bars);
    switch (dice.Below(5)) {
      case 0: bar->setValue(bar->minimum()); break;
      case 1: bar->setValue(bar->maximum()); break;
      case 2: bar->setValue(dice.Between(bar->minimum() - 50, bar->maximum() + 50)); break;  // clamped
      case 3: bar->setValue(dice.Between(bar->minimum(), bar->maximum())); break;
      default: {
        static const std::array<QAbstractSlider::SliderAction, 6> actions{
            QAbstractSlider::SliderSingleStepAdd, QAbstractSlider::SliderSingleStepSub,
            QAbstractSlider::SliderPageStepAdd,   QAbstractSlider::SliderPageStepSub,
            QAbstractSlider::SliderToMinimum,     QAbstractSlider::SliderToMaximum};
        bar->triggerAction(dice.Pick(actions));
      }
    }
    Require(bar->value() >= bar->minimum() && bar->value() <= bar->maximum(), "scroll bar off its range");
    Require(messages.empty(), "moving a scroll bar raised a message");
  }

  // --- mouse -------------------------------------------------------------

  int32_t Coordinate() {
    switch (dice.Below(10)) {
      case 0: return dice.Between(-100000, 100000);
      case 1: return dice.Chance(50) ? INT32_MIN + dice.Below(10) : INT32_MAX - dice.Below(10);
      case 2: return dice.Between(-20, -1);
      case 3: return dice.Between(TForm1::kPanelEdge - 10, TForm1::kPanelEdge + 20);
      default: return dice.Between(0, TForm1::kPanelEdge - 1);
    }
  }

  // Where a move to (x, y) paints, if anywhere: on the panel and on the grid.
  std::optional<std::pair<int32_t, int32_t>> CellAt(int32_t x, int32_t y) const {
    if (!form->WorldExists() || x < 0 || y < 0 || x >= TForm1::kPanelEdge || y >= TForm1::kPanelEdge)
      return std::nullopt;
    const int32_t column = RoundDiv(x, cellSize);
    const int32_t row = RoundDiv(y, cellSize);
    if (column >= gridCols || row >= gridRows) return std::nullopt;
    return std::make_pair(column, row);
  }

  // A move with the painting flags as they are: exactly the cell under the
  // pointer changes, or none at all.
  void MoveAndCheck(int32_t x, int32_t y, bool viaQTest) {
    const bool left = leftPainting;
    const bool right = rightPainting;
    const std::vector<int32_t> before = Chemicals();
    if (viaQTest) {
      QTest::mouseMove(form->ZeichenPanel, QPoint(x, y));
    } else {
      form->ZeichenPanelMouseMove(x, y);
    }
    const std::vector<int32_t> after = Chemicals();
    Require(before.size() == after.size(), "the grid changed size");
    const auto cell = (left || right) ? CellAt(x, y) : std::nullopt;
    size_t changed = 0;
    for (size_t i = 0; i < before.size() && i < after.size(); ++i) {
      if (before[i] == after[i]) continue;
      ++changed;
      const bool expected = cell && i == static_cast<size_t>(cell->second) * gridCols + cell->first;
      Require(expected, "a move to (" + IntToStr(x) + ", " + IntToStr(y) + ") changed a cell it does not map to");
      if (failed) break;
    }
    Require(changed <= 1, "a move changed more than one cell");
    if ((left || right) && !cell) ++seen.movesIgnored;
    if (cell) {
      ++(left ? seen.cellsPainted : seen.cellsWiped);
      const int32_t value = form->chemical[cell->first][cell->second];
      Require(value == (left ? kPaintedChemical : 1), "painted cell holds " + IntToStr(value));
    }
  }

  void MouseThroughHandlers() {
    static const std::array<TMouseButton, 3> buttons{TMouseButton::mbLeft, TMouseButton::mbRight,
                                                     TMouseButton::mbMiddle};
    switch (dice.Below(6)) {
      case 0: {
        const TMouseButton b = dice.Pick(buttons);
        const bool left = leftPainting;
        const bool right = rightPainting;
        const std::vector<int32_t> before = Chemicals();
        form->ZeichenPanelMouseDown(b, Coordinate(), Coordinate());
        Require(Chemicals() == before, "a press painted");
        Require(leftPainting == (left || b == TMouseButton::mbLeft), "left painting flag after a press");
        Require(rightPainting == (right || b == TMouseButton::mbRight), "right painting flag after a press");
        break;
      }
      case 1:
        form->ZeichenPanelMouseUp(dice.Pick(buttons), Coordinate(), Coordinate());
        Require(!leftPainting && !rightPainting, "a release left a painting flag");
        break;
      default: {
        const int32_t moves = dice.Between(1, 12);
        for (int32_t i = 0; i < moves && !failed; ++i) MoveAndCheck(Coordinate(), Coordinate(), false);
      }
    }
  }

  // Real mouse events delivered to the panel. QTest keeps the set of held
  // buttons, as the window system does; `held` mirrors it.
  void MouseThroughEvents() {
    static const std::array<Qt::MouseButton, 3> buttons{Qt::LeftButton, Qt::RightButton, Qt::MiddleButton};
    const auto point = [this] {
      return QPoint(dice.Between(-60, TForm1::kPanelEdge + 60), dice.Between(-60, TForm1::kPanelEdge + 60));
    };
    switch (dice.Below(6)) {
      case 0: {
        const Qt::MouseButton b = dice.Pick(buttons);
        QTest::mousePress(form->ZeichenPanel, b, Qt::NoModifier, point());
        held |= b;
        break;
      }
      case 1: {
        const Qt::MouseButton b = dice.Pick(buttons);
        if (held & b) {
          QTest::mouseRelease(form->ZeichenPanel, b, Qt::NoModifier, point());
          held &= ~Qt::MouseButtons(b);
          Require(!leftPainting && !rightPainting, "a release left a painting flag");
        }
        break;
      }
      default:
        // A move with no button held would go through the cursor and the
        // event loop; the session only drags.
        if (held != Qt::NoButton) {
          const int32_t moves = dice.Between(1, 12);
          for (int32_t i = 0; i < moves && !failed; ++i) {
            const QPoint p = point();
            MoveAndCheck(p.x(), p.y(), true);
          }
        }
    }
  }

  void ReleaseHeldButtons() {
    for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
      if (held & b) QTest::mouseRelease(form->ZeichenPanel, b, Qt::NoModifier, QPoint(1, 1));
    }
    held = Qt::NoButton;
  }

  // --- steps -------------------------------------------------------------

  void Steps(int32_t count, bool viaTimer) {
    const int32_t before = stepCount;
    const bool exists = form->WorldExists();
    const bool runs = form->Timer1->isActive();
    int32_t expected = 0;
    for (int32_t i = 0; i < count; ++i) {
      if (viaTimer) {
        // A tick arrives only while the timer runs.
        if (!runs) continue;
        form->Timer1Timer();
      } else if (dice.Chance(50)) {
        form->B_oneStepClick();
      } else {
        Click(form->B_oneStep);
      }
      ++expected;
    }
    Require(messages.empty(), "a step raised a message");
    if (!exists) {
      seen.stepsOnNoWorld += expected;
      Require(stepCount == 0, "a step ran on a torn-down world");
      return;
    }
    seen.stepsRun += expected;
    Require(stepCount == before + expected,
            "steps counted " + IntToStr(stepCount - before) + " of " + IntToStr(expected));
    if (expected > 0) stepsCaption = IntToStr(stepCount);
  }

  // Long runs pile marks up; the cells of a world that has run for hours are
  // set here at once, near the limit where chemical saturates.
  void Saturate() {
    if (!form->WorldExists()) return;
    const bool all = dice.Chance(30);
    for (int32_t& amount : form->chemical) {
      if (all || dice.Chance(5)) amount = TForm1::kMaxChemical - dice.Below(200);
    }
  }

  void RunSession(int32_t actions) {
    for (actionIndex = 0; actionIndex < actions && !failed; ++actionIndex) {
      const int32_t roll = dice.Below(100);
      std::ostringstream log;
      if (roll < 8) {
        const std::string size = SizeText();
        const std::string count = CountText();
        log << "new Setup '" << size << "' '" << count << "'";
        lastAction = log.str();
        std::optional<bool> centre;
        if (dice.Chance(30)) centre = dice.Chance(50);
        NewSetup(size, count, centre);
      } else if (roll < 20) {
        lastAction = "scroll bar";
        MoveScrollBar();
      } else if (roll < 24) {
        lastAction = "sniff mode";
        (dice.Chance(50) ? form->rb_hill : form->rb_rulette)->setChecked(true);
        Require(form->SniffMode() == (form->rb_rulette->isChecked() ? 1 : 2), "sniff mode");
      } else if (roll < 30) {
        std::array<QCheckBox*, 4> boxes{form->CB_mCent, form->Cb_cellUpdt, form->CB_hideAgs, form->CB_diffuse};
        QCheckBox* box = dice.Pick(boxes);
        lastAction = "check box " + box->text().toStdString();
        if (box->isEnabled() && dice.Chance(50)) {
          Click(box, QPoint(4, box->height() / 2));
        } else {
          box->setChecked(!box->isChecked());
        }
      } else if (roll < 48) {
        lastAction = "mouse via the handlers";
        MouseThroughHandlers();
      } else if (roll < 62) {
        lastAction = "mouse events on the panel";
        MouseThroughEvents();
      } else if (roll < 68) {
        lastAction = "start / stop";
        const bool running = form->Timer1->isActive();
        if (dice.Chance(50)) {
          form->B_stopClick();
        } else {
          Click(form->B_stop);
        }
        Require(form->Timer1->isActive() != running, "start / stop did not toggle the timer");
      } else if (roll < 80) {
        lastAction = "one step";
        Steps(dice.Between(1, 3), false);
      } else if (roll < 96) {
        lastAction = "timer ticks";
        Steps(dice.Between(1, 40), true);
      } else if (roll < 99) {
        lastAction = "saturate";
        Saturate();
      } else {
        lastAction = "teardown";
        ReleaseHeldButtons();
        form->ClearWorld();
      }
      Require(messages.empty() || lastAction.rfind("new Setup", 0) == 0,
              "unexpected message: " + (messages.empty() ? "" : messages[0]));
      messages.clear();
      CheckAll();
    }
    ReleaseHeldButtons();
  }

  // What the session did, so a generator that stops reaching a path fails.
  struct TCoverage {
    int setupsBuilt = 0;
    int setupsRefused = 0;
    int cellsPainted = 0;
    int cellsWiped = 0;
    int movesIgnored = 0;
    int stepsRun = 0;
    int stepsOnNoWorld = 0;
  } seen;

  Dice dice{GetParam()};
  std::string stepsCaption;
  Qt::MouseButtons held = Qt::NoButton;
  int32_t actionIndex = -1;
  std::string lastAction = "first setup";
  bool failed = false;
};

TEST_P(RandomSession, EveryInvariantHoldsAfterEveryAction) {
  CheckAll();
  RunSession(2500);
  if (failed) return;  // the session stopped early; the failure says where
  EXPECT_GE(seen.setupsBuilt, 60);
  EXPECT_GE(seen.setupsRefused, 20);
  EXPECT_GE(seen.cellsPainted, 30);
  EXPECT_GE(seen.cellsWiped, 30);
  EXPECT_GE(seen.movesIgnored, 60);
  EXPECT_GE(seen.stepsRun, 1500);
  EXPECT_GE(seen.stepsOnNoWorld, 1);
  std::printf(
      "session %llu: %d setups built, %d refused, %d cells painted, %d wiped, %d moves ignored, "
      "%d steps, %d steps refused on no world\n",
      static_cast<unsigned long long>(GetParam()), seen.setupsBuilt, seen.setupsRefused, seen.cellsPainted,
      seen.cellsWiped, seen.movesIgnored, seen.stepsRun, seen.stepsOnNoWorld);
  // The session ends on a world that still runs.
  NewSetup("6", "30", std::nullopt);
  Steps(5, false);
  CheckAll();
}

// Four sessions by default; PATHWICK_SESSION_SEEDS=N runs seeds 1..N for a
// longer search.
std::vector<uint64_t> SessionSeeds() {
  const QByteArray wanted = qgetenv("PATHWICK_SESSION_SEEDS");
  const int count = wanted.isEmpty() ? 4 : std::max(1, wanted.toInt());
  std::vector<uint64_t> seeds;
  for (int i = 1; i <= count; ++i) seeds.push_back(static_cast<uint64_t>(i));
  return seeds;
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomSession, ::testing::ValuesIn(SessionSeeds()));

// ---------------------------------------------------------------------------
// Limits a long run or a far drag reaches

class StoppedWindow : public SessionBase {
 protected:
  std::vector<int32_t> Chemicals() {
    std::vector<int32_t> values;
    for (int32_t amount : form->chemical) values.push_back(amount);
    return values;
  }

  void SendMouse(QEvent::Type type, QPointF position, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent event(type, position, form->ZeichenPanel->mapToGlobal(QPointF(0, 0)) + position, button, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(form->ZeichenPanel, &event);
  }
};

// At one step per millisecond the 32-bit step counter reaches its limit after
// about 24.8 days. It stays there: it never overflows into negative counts,
// and the chart, which takes points only below step 49800, gets none from a
// counter run backwards.
TEST_F(StoppedWindow, StepCounterStopsAtItsLimit) {
  form->B_oneStepClick();
  ASSERT_NE(angleSeries, nullptr);
  const auto points = angleSeries->count();
  stepCount = INT32_MAX - 2;  // as after weeks of running
  for (int i = 0; i < 5; ++i) form->B_oneStepClick();
  EXPECT_EQ(stepCount, INT32_MAX);
  EXPECT_EQ(form->lbl_Steps->text(), QStringLiteral("2147483647"));
  EXPECT_EQ(angleSeries->count(), points);
  const std::string fault = CheckWorld(*form);
  EXPECT_TRUE(fault.empty()) << fault;
  EXPECT_TRUE(messages.empty());
}

// A drag that leaves the window can report positions of any size; those
// beyond the 32-bit range paint nothing and are converted without overflow.
TEST_F(StoppedWindow, DragsFarBeyondAnyScreenPaintNothing) {
  const std::vector<int32_t> before = Chemicals();
  SendMouse(QEvent::MouseButtonPress, QPointF(10, 10), Qt::LeftButton, Qt::LeftButton);
  ASSERT_TRUE(leftPainting);
  for (const double far : {3e9, -3e9, 1e12, -1e12, 1e300, -1e300}) {
    SendMouse(QEvent::MouseMove, QPointF(far, 10), Qt::NoButton, Qt::LeftButton);
    SendMouse(QEvent::MouseMove, QPointF(10, far), Qt::NoButton, Qt::LeftButton);
    SendMouse(QEvent::MouseMove, QPointF(far, far), Qt::NoButton, Qt::LeftButton);
  }
  EXPECT_EQ(Chemicals(), before);
  SendMouse(QEvent::MouseButtonRelease, QPointF(4e9, -4e9), Qt::LeftButton, Qt::NoButton);
  EXPECT_FALSE(leftPainting);
  // The panel still paints where it should.
  SendMouse(QEvent::MouseButtonPress, QPointF(30, 30), Qt::LeftButton, Qt::LeftButton);
  SendMouse(QEvent::MouseMove, QPointF(30, 30), Qt::NoButton, Qt::LeftButton);
  SendMouse(QEvent::MouseButtonRelease, QPointF(30, 30), Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(form->chemical[RoundDiv(30, cellSize)][RoundDiv(30, cellSize)], kPaintedChemical);
}

// ---------------------------------------------------------------------------
// Teardown while running, and setups over and over while running

class RunningWindow : public SessionBase {
 protected:
  void SetUp() override {
    SessionBase::SetUp();
    ASSERT_TRUE(timerRanAtCreation);
    form->Timer1->start();
    form->show();
  }

  // Lets the event loop deliver timer ticks until the counter has moved.
  void RunUntilStepped(int32_t minimum) {
    QElapsedTimer clock;
    clock.start();
    while (stepCount < minimum && clock.elapsed() < 5000) QTest::qWait(2);
  }

  // Every object the window owns; a leak of children shows as growth here.
  static int ObjectCount(const QObject* root) { return static_cast<int>(root->findChildren<QObject*>().size()); }
};

TEST_F(RunningWindow, ClosingWhileRunningStopsAndReleasesEverything) {
  form->Edit_anzAg->setText("60");
  form->B_setupClick();
  RunUntilStepped(3);
  ASSERT_GE(stepCount, 3);
  const int topLevels = static_cast<int>(QApplication::topLevelWidgets().size());
  QPointer<TForm1> watched(form.get());
  // Close from inside the event loop, the way the window manager does.
  QTimer::singleShot(0, form.get(), [this] { form->close(); });
  QTest::qWait(5);
  EXPECT_FALSE(form->Timer1->isActive());
  const int32_t closedAt = stepCount;
  QTest::qWait(20);
  EXPECT_EQ(stepCount, closedAt) << "a step ran after the window closed";
  form.reset();
  EXPECT_TRUE(watched.isNull());
  EXPECT_EQ(static_cast<int>(QApplication::topLevelWidgets().size()), topLevels - 1);
  EXPECT_EQ(cellLayer, nullptr);
  EXPECT_EQ(agentLayer, nullptr);
  EXPECT_EQ(stepCount, 0);
  // Late events for the destroyed window reach nothing.
  QTest::qWait(10);
  EXPECT_TRUE(messages.empty());
}

TEST_F(RunningWindow, NewSetupOverAndOverWhileRunningLeavesNothingBehind) {
  static const std::array<const char*, 5> sizes{"6", "10", "3", "8", "1"};
  static const std::array<const char*, 5> counts{"40", "0", "7", "-3", "25"};
  RunUntilStepped(1);
  form->B_setupClick();
  const int baseline = ObjectCount(form.get());
  for (int round = 0; round < 60; ++round) {
    form->Edit_size->setText(sizes[static_cast<size_t>(round) % sizes.size()]);
    form->Edit_anzAg->setText(counts[static_cast<size_t>(round * 3) % counts.size()]);
    if (round % 2 == 0) {
      form->B_setupClick();
    } else {
      QTest::mouseClick(form->B_setup, Qt::LeftButton);
    }
    ASSERT_TRUE(form->Timer1->isActive()) << "new Setup stopped the timer in round " << round;
    ASSERT_TRUE(messages.empty()) << messages.front();
    ASSERT_EQ(stepCount, 0);
    // A few real ticks between two presses, so stepping and setups interleave.
    if (round % 4 == 0) QTest::qWait(2);
    const std::string fault = CheckWorld(*form);
    ASSERT_TRUE(fault.empty()) << "round " << round << ": " << fault;
    ASSERT_EQ(form->Chart1->chart()->series().size(), 2);
    ASSERT_EQ(form->Chart1->chart()->axes().size(), 3);
    ASSERT_EQ(ObjectCount(form.get()), baseline) << "objects left behind in round " << round;
  }
  RunUntilStepped(stepCount + 2);
  EXPECT_GE(stepCount, 1);
  const std::string fault = CheckWorld(*form);
  EXPECT_TRUE(fault.empty()) << fault;
}

}  // namespace
