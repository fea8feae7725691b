// What the suites share: generator arithmetic written out independently of
// the toolkit, seeds that give chosen draws, a queue of seeds for Randomize,
// a main window with a world of a chosen size, settings changed by name,
// the first world's expected home cells, and the world invariants. The
// invariants return their first violation as text instead of asserting, so
// the fuzz targets use them too.
#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTimer>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "CellForm.h"
#include "Dialogs.h"
#include "RasterLayer.h"
#include "Runtime.h"
#include "Settings.h"

namespace agents_test {

constexpr uint32_t kMultiplier = 134775813u;

// One step of the process-wide generator.
inline uint32_t NextSeed(uint32_t seed) { return seed * kMultiplier + 1u; }
// Random(n) taken from an already stepped seed.
inline int32_t DrawFrom(uint32_t stepped, int32_t n) {
  return static_cast<int32_t>((static_cast<uint64_t>(stepped) * static_cast<uint32_t>(n)) >> 32);
}
// The real draw taken from an already stepped seed.
inline long double RealFrom(uint32_t stepped) { return static_cast<long double>(stepped) / 4294967296.0L; }

// Generator state after `steps` draws from `seed`.
inline uint32_t Advance(uint32_t seed, int steps) {
  for (int i = 0; i < steps; ++i) seed = NextSeed(seed);
  return seed;
}

inline uint32_t InverseMultiplier() {
  uint32_t x = kMultiplier;  // Newton's iteration for the inverse modulo 2^32
  for (int i = 0; i < 5; ++i) x *= 2u - kMultiplier * x;
  return x;
}

// A seed whose next draws are Random(n1) = v1, Random(n2) = v2, ... in turn.
inline uint32_t SeedGivingDraws(const std::vector<std::pair<int32_t, int32_t>>& draws) {
  const auto [n, v] = draws.front();
  // Every stepped seed in [lo, hi) gives v as its first draw.
  const uint64_t lo = ((static_cast<uint64_t>(v) << 32) + n - 1) / n;
  const uint64_t hi = ((static_cast<uint64_t>(v + 1) << 32) + n - 1) / n;
  for (uint64_t t = lo; t < hi; ++t) {
    uint32_t s = static_cast<uint32_t>(t);
    bool ok = true;
    for (size_t k = 1; k < draws.size() && ok; ++k) {
      s = NextSeed(s);
      ok = DrawFrom(s, draws[k].first) == draws[k].second;
    }
    if (ok) return (static_cast<uint32_t>(t) - 1u) * InverseMultiplier();
  }
  ADD_FAILURE() << "no seed gives these draws";
  return 0;
}

inline uint32_t SeedGivingDraw(int32_t n, int32_t v) { return SeedGivingDraws({{n, v}}); }

// Makes Randomize hand out the queued seeds in order and collects every
// message; restores the clock and the message box when it goes.
class RandomizeQueue {
 public:
  RandomizeQueue() {
    SetRandomizeSource([this] {
      ++calls;
      if (seeds.empty()) {
        ADD_FAILURE() << "Randomize called more often than seeds were queued";
        return 0u;
      }
      const uint32_t seed = seeds.front();
      seeds.pop_front();
      return seed;
    });
  }
  ~RandomizeQueue() { SetRandomizeSource({}); }
  RandomizeQueue(const RandomizeQueue&) = delete;
  RandomizeQueue& operator=(const RandomizeQueue&) = delete;

  std::deque<uint32_t> seeds;
  int calls = 0;
};

// Randomize hands out start, start + 1, start + 2, ...
class RandomizeCounter {
 public:
  explicit RandomizeCounter(uint32_t start) : next(start) {
    SetRandomizeSource([this] { return next++; });
  }
  ~RandomizeCounter() { SetRandomizeSource({}); }
  RandomizeCounter(const RandomizeCounter&) = delete;
  RandomizeCounter& operator=(const RandomizeCounter&) = delete;

  uint32_t next;
};

class MessageCollector {
 public:
  MessageCollector() {
    SetMessageSink([this](const std::string& text) { messages.push_back(text); });
  }
  ~MessageCollector() { SetMessageSink({}); }
  MessageCollector(const MessageCollector&) = delete;
  MessageCollector& operator=(const MessageCollector&) = delete;

  std::vector<std::string> messages;
};

// The fixture of the window suites: Randomize asks `randomize` (a fixed
// value when given one), messages are collected instead of shown, and
// `form` is the window on the first world after program start, stopped
// (whether its timer ran at creation is kept).
class WindowFixture : public ::testing::Test {
 protected:
  explicit WindowFixture(uint32_t randomizeValue) : randomize_([randomizeValue] { return randomizeValue; }) {}
  explicit WindowFixture(std::function<uint32_t()> randomize) : randomize_(std::move(randomize)) {}
  void SetUp() override {
    SetMessageSink([this](const std::string& text) { messages.push_back(text); });
    SetRandomizeSource(randomize_);
    SetGeneratorStartState();  // the ten known home points of the first world
    form = std::make_unique<TForm1>();
    timerRanAtCreation = form->Timer1->isActive();
    form->Timer1->stop();
  }
  void TearDown() override {
    form.reset();
    SetMessageSink({});
    SetRandomizeSource({});
  }

  std::unique_ptr<TForm1> form;
  std::vector<std::string> messages;
  bool timerRanAtCreation = false;

 private:
  std::function<uint32_t()> randomize_;
};

// A stopped main window whose world was set up with `agentCount` agents and
// cells of `size` pixels (the first world, built by FormCreate, is replaced).
// Puts agent `index` on (column, row) with the given heading, genes 0,
// home (5, 5), not knowing the centre, with full energy.
inline void PutAgent(TForm1& form, int index, int column, int row, int heading, bool searching) {
  TAgent& a = form.agents[index];
  a.cellX = column;
  a.cellY = row;
  a.posX = column * cellSize + halfCell;
  a.posY = row * cellSize + halfCell;
  a.heading = heading;
  a.angleGene = 0;
  a.wiggleGene = 0;
  a.searching = searching;
  a.homeX = 5;
  a.homeY = 5;
  a.knowsCenter = 0;
  a.energy = 100000;
}

// The first world after SetGeneratorStartState (cell size 6, 67 x 67 cells)
// has these ten home cells (column, row), colony 0 first, in every run.
constexpr int32_t kFirstGrid = 67;
constexpr std::array<TGridPoint, TForm1::kColonies> kFirstHomes{
    {{17, 14}, {39, 53}, {35, 63}, {63, 59}, {32, 56}, {5, 51}, {21, 20}, {46, 11}, {53, 53}, {17, 54}}};

inline std::unique_ptr<TForm1> MakeWorld(int agentCount, int size = 6) {
  auto form = std::make_unique<TForm1>();
  form->Timer1->stop();
  form->Edit_anzAg->setText(QString::number(agentCount));
  form->Edit_size->setText(QString::number(size));
  form->B_setupClick();
  return form;
}

// `values` with `changes`, for settings a test names; a name no setting
// has fails the test, which goes on with `values` unchanged.
inline TSettingValues Changed(const TSettingValues& values, TSettingChanges changes) {
  const TResult<TSettingValues> changed = WithChanges(values, changes);
  if (changed) return *changed;
  ADD_FAILURE() << changed.Error().message.toStdString();
  return values;
}

}  // namespace agents_test

namespace world_invariants {

// Heading bounds between moves: -75 on large grids (a direction of -180 home
// and a turn of -255), 435 after the half turn at home and a turn of +255.
constexpr int32_t kMinHeading = -75;
constexpr int32_t kMaxHeading = 435;
constexpr int32_t kMaxGene = 255;
constexpr int32_t kBirthEnergy = 100000;
constexpr int32_t kTargetCells = 25;

inline std::string Where(const char* what, int64_t index) {
  std::ostringstream out;
  out << what << " " << index;
  return out.str();
}

// Empty when every invariant of a built world holds, else the first violation.
inline std::string CheckWorld(TForm1& form) {
  if (!form.WorldExists()) {
    if (stepCount != 0) return "no world, but stepCount is " + IntToStr(stepCount);
    if (!form.agents.empty()) return "no world, but agents remain";
    if (!form.cells.Empty()) return "no world, but cells remain";
    if (cellLayer != nullptr || agentLayer != nullptr) return "no world, but a layer remains";
    return {};
  }
  if (cellSize < TForm1::kMinCellSize || cellSize > TForm1::kMaxCellSize) return "cell size " + IntToStr(cellSize);
  if (halfCell != RoundDiv(cellSize, 2)) return "halfCell " + IntToStr(halfCell);
  if (gridCols != RoundDiv(TForm1::kPanelEdge, cellSize) || gridRows != gridCols) {
    return "grid " + IntToStr(gridCols) + " x " + IntToStr(gridRows) + " for cell size " + IntToStr(cellSize);
  }
  if (form.cells.Cols() != gridCols || form.cells.Rows() != gridRows) return "cells array does not match the grid";
  if (form.diffusionBuffer.Cols() != gridCols || form.diffusionBuffer.Rows() != gridRows) {
    return "diffusion buffer does not match the grid";
  }
  if (cellLayer == nullptr || agentLayer == nullptr) return "a layer is missing";
  if (cellLayer->Width() != TForm1::kPanelEdge || cellLayer->Height() != TForm1::kPanelEdge ||
      agentLayer->Width() != TForm1::kPanelEdge || agentLayer->Height() != TForm1::kPanelEdge) {
    return "layer size differs from the panel";
  }
  if (stepCount < 0) return "negative stepCount";

  int32_t homes = 0;
  int32_t targets = 0;
  for (int32_t row = 0; row < gridRows; ++row) {
    for (int32_t column = 0; column < gridCols; ++column) {
      const TCell& cell = form.cells[column][row];
      const int32_t chemical = form.chemical[column][row];
      if (chemical < 1) return Where("chemical below 1 at column", column) + " row " + IntToStr(row);
      if (chemical > TForm1::kMaxChemical) return Where("chemical above the limit at column", column);
      if (cell.PositionX != column * cellSize + halfCell || cell.PositionY != row * cellSize + halfCell ||
          cell.Size != halfCell) {
        return Where("cell geometry wrong at column", column) + " row " + IntToStr(row);
      }
      if (cell.grayLevel < 0 || cell.grayLevel > 255) return Where("gray level out of range at column", column);
      homes += cell.isHome ? 1 : 0;
      targets += cell.isTarget ? 1 : 0;
    }
  }
  if (homes < 1 || homes > TForm1::kColonies) return "home cells: " + IntToStr(homes);
  if (targets != kTargetCells) return "target cells: " + IntToStr(targets);

  const auto count = static_cast<int64_t>(form.agents.size());
  for (int64_t i = 0; i < count; ++i) {
    const TAgent& a = form.agents[static_cast<size_t>(i)];
    if (a.cellX < 0 || a.cellX >= gridCols || a.cellY < 0 || a.cellY >= gridRows) return Where("agent off the grid", i);
    if (a.posX != a.cellX * cellSize + halfCell || a.posY != a.cellY * cellSize + halfCell) {
      return Where("agent pixel position wrong", i);
    }
    if (a.homeX < 0 || a.homeX >= gridCols || a.homeY < 0 || a.homeY >= gridRows) return Where("home off the grid", i);
    if (!form.cells[a.homeX][a.homeY].isHome) return Where("agent's home cell is not a home", i);
    if (a.angleGene < 0 || a.angleGene > kMaxGene || a.wiggleGene < 0 || a.wiggleGene > kMaxGene) {
      return Where("gene out of 0..255, agent", i);
    }
    if (a.chroma.size() != 16 || a.chroma.text().view().find_first_not_of("01") != std::string::npos) {
      return Where("chroma not 16 characters of 0/1, agent", i) + ": '" + std::string(a.chroma) + "'";
    }
    if (a.heading < kMinHeading || a.heading > kMaxHeading) {
      return Where("heading out of range, agent", i) + ": " + IntToStr(a.heading);
    }
    if (a.stepX < -1 || a.stepX > 1 || a.stepY < -1 || a.stepY > 1) return Where("step out of range, agent", i);
    if (a.colony != static_cast<int32_t>(i % TForm1::kColonies)) return Where("wrong colony, agent", i);
    if (a.energy > kBirthEnergy) return Where("energy above birth energy, agent", i);
    if (a.tripCount < 0) return Where("negative trip count, agent", i);
    if (a.radius != 2) return Where("radius, agent", i);
    if (a.knowsCenter != 0 && a.knowsCenter != 1) return Where("knowsCenter, agent", i);
    if (a.candidates.size() != a.shares.size()) return Where("candidates and shares differ in length, agent", i);
    if (a.candidates.size() > 8) return Where("more than 8 candidates, agent", i);
  }

  // colonyMembers lists exactly the agents of each colony, in list order.
  int64_t listed = 0;
  for (int32_t c = 0; c < TForm1::kColonies; ++c) {
    const auto& members = form.colonyMembers[c];
    for (size_t k = 0; k < members.size(); ++k) {
      const int64_t expected = c + static_cast<int64_t>(k) * TForm1::kColonies;
      if (members[k] != expected) return Where("colonyMembers out of step in colony", c);
    }
    listed += static_cast<int64_t>(members.size());
  }
  if (listed != count)
    return "colonyMembers list " + std::to_string(listed) + " of " + std::to_string(count) + " agents";
  return {};
}

// The five captions show their scroll bar's position and read back as it.
inline std::string CheckCaptions(TForm1& form) {
  const auto text = [](QLabel* label) { return label->text().toStdString(); };
  const int32_t mutate = form.SB_mutate->value();
  const int32_t strength = form.SB_strenght->value();
  const int32_t evapo = form.SB_evapo->value();
  const int32_t sniff = form.SB_sniff->value();
  const int32_t visible = form.SB_visible->value();
  if (text(form.Lbl_mutate) != FloatToStr(static_cast<long double>(mutate) / 100) + " %") return "Lbl_mutate";
  if (text(form.Lbl_strenght) != IntToStr(strength)) return "Lbl_strenght";
  if (text(form.Lbl_evapo) != FloatToStr(static_cast<long double>(evapo) / 100)) return "Lbl_evapo";
  if (text(form.Lbl_sniff) != FloatToStr(sniff)) return "Lbl_sniff";
  if (text(form.Lbl_visible) != FloatToStr(visible)) return "Lbl_visible";
  try {
    if (form.MutationRate() != static_cast<long double>(mutate) / 100) return "mutation rate read back";
    if (form.MarkStrength() != strength) return "mark strength read back";
    if (form.EvaporationRate() != static_cast<long double>(evapo) / 100) return "evaporation rate read back";
    if (form.SniffThreshold() != sniff) return "sniff threshold read back";
    if (form.VisibilityThreshold() != visible) return "visibility threshold read back";
  } catch (const std::exception& e) {
    return std::string("a caption does not read back: ") + e.what();
  }
  return {};
}

}  // namespace world_invariants

#ifdef PATHWICK_RUN
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QThread>

// The runner's suites: pathwick_run started as a user starts it, and its files.
namespace runner_test {

struct Finished {
  int status = -1;  // -1 when it did not exit normally
  QString out;
  QString err;
};

// A finished process's status (-1 when it did not exit normally) and output.
inline Finished Collect(QProcess& process) {
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

inline Finished RunProgram(const QStringList& arguments) {
  QProcess process;
  process.start(QStringLiteral(PATHWICK_RUN), arguments);
  process.waitForFinished(120000);
  return Collect(process);
}

inline QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Starts pathwick_run on a run that would last for ever, lets it run for
// `runMs` once its temporary folder appears in `parent` (the signals are
// handled by then), and stops it with SIGTERM as Ctrl-C would. Returns the
// finished run's status, -1 when it did not exit normally.
inline Finished RunInterrupted(const QStringList& arguments, const QString& parent, int runMs) {
  QProcess process;
  process.start(QStringLiteral(PATHWICK_RUN), arguments + QStringList{"--steps", "2000000000"});
  if (!process.waitForStarted()) return {};
  for (int i = 0; i < 600 && QDir(parent).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty(); ++i) {
    QThread::msleep(10);
  }
  QThread::msleep(runMs);
  ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
  process.waitForFinished(60000);
  return Collect(process);
}

// Writes `bytes` to `path`; false when the file does not open.
inline bool WriteFile(const QString& path, const QByteArray& bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly) {
  QFile file(path);
  if (!file.open(mode)) return false;
  file.write(bytes);
  return true;
}

// The rows of a CSV text as column name -> cell, empty lines skipped;
// `header` receives the first line. Given `what`, every row must have as
// many cells as the header.
using TCsvRow = std::map<QString, QString>;
inline std::vector<TCsvRow> CsvRows(const QByteArray& text, QStringList* header = nullptr, const char* what = nullptr) {
  const QStringList lines = QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts);
  std::vector<TCsvRow> rows;
  if (lines.isEmpty()) return rows;
  const QStringList names = lines.front().split(',');
  if (header != nullptr) *header = names;
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QStringList cells = lines[i].split(',');
    if (what != nullptr) EXPECT_EQ(cells.size(), names.size()) << what << " line " << i + 1;
    TCsvRow row;
    for (qsizetype c = 0; c < names.size() && c < cells.size(); ++c) row[names[c]] = cells[c];
    rows.push_back(row);
  }
  return rows;
}

// A run folder's run.json (const, so that [] reads a copy of a value).
inline const QJsonObject Record(const QString& dir) {
  return QJsonDocument::fromJson(ReadFile(dir + "/run.json")).object();
}

}  // namespace runner_test
#endif
