// Leak checks of the window and its chart under the sanitizer build: each is
// shown, painted and run, then destroyed, and the leak checker must find
// nothing unreachable. Kept in a process of their own, so that no other test
// leaves pointers behind that hide a leak. Skipped in the normal build.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "CellForm.h"
#include "Chart.h"
#include "Dialogs.h"
#include "Runtime.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define PATHWICK_LEAK_CHECK 1
#endif

namespace {

// A chart view built with a chart of its own and then handed another one
// keeps the first unreachable for the rest of the process.
TEST(Leaks, AShownChartLeavesNothingBehind) {
#ifdef PATHWICK_LEAK_CHECK
  {
    TChart chart;
    chart.AddXY(chart.AddLineSeries("series"), 1, 2);
    chart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
    QTest::qWait(20);
  }
  QTest::qWait(5);
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "leaks are listed above";
#else
  GTEST_SKIP() << "needs the sanitizer build";
#endif
}

TEST(Leaks, AWindowRunAndClosedLeavesNothingBehind) {
#ifdef PATHWICK_LEAK_CHECK
  std::vector<std::string> messages;
  SetMessageSink([&messages](const std::string& text) { messages.push_back(text); });
  SetRandomizeSource([] { return 77u; });
  SetGeneratorStartState();
  {
    TForm1 form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QElapsedTimer clock;
    clock.start();
    while (stepCount < 5 && clock.elapsed() < 5000) QTest::qWait(2);
    EXPECT_GE(stepCount, 5);
    // "new Setup" over and over while the timer runs, with ticks between.
    for (int round = 0; round < 30; ++round) {
      form.Edit_anzAg->setText(QString::number(round % 7 * 9));
      form.B_setupClick();
      if (round % 3 == 0) QTest::qWait(2);
    }
    EXPECT_TRUE(form.Timer1->isActive());
    QTest::qWait(10);
    form.close();
    QTest::qWait(5);
  }
  QTest::qWait(5);
  SetMessageSink({});
  SetRandomizeSource({});
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "leaks are listed above";
#else
  GTEST_SKIP() << "needs the sanitizer build";
#endif
}

}  // namespace
