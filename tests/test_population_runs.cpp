// Whole runs of the population: a run is repeatable when Randomize is, and
// long random runs across every setting keep the agents and the field sound
// after every step.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CellForm.h"
#include "Settings.h"
#include "agents_support.h"

using agents_test::MessageCollector;
using agents_test::RandomizeCounter;

namespace {

// Everything an agent and a cell hold, as one comparable record.
struct Snapshot {
  std::vector<std::vector<int64_t>> agents;
  std::vector<std::string> chromas;
  std::vector<std::vector<int64_t>> cells;
  int32_t steps = 0;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(TForm1& form) {
  Snapshot s;
  for (const TAgent& a : form.agents) {
    std::vector<int64_t> v{a.angleGene, a.wiggleGene, a.energy,  a.tripCount, a.colony,      a.cellX,     a.cellY,
                           a.homeX,     a.homeY,      a.centerX, a.centerY,   a.knowsCenter, a.searching, a.posX,
                           a.posY,      a.radius,     a.heading, a.stepX,     a.stepY,       a.scent};
    for (const auto& [dx, dy] : a.candidates) {
      v.push_back(dx);
      v.push_back(dy);
    }
    for (double share : a.shares) v.push_back(static_cast<int64_t>(share * 1e9));
    s.agents.push_back(std::move(v));
    s.chromas.push_back(a.chroma);
  }
  for (int32_t row = 0; row < gridRows; ++row) {
    for (int32_t column = 0; column < gridCols; ++column) {
      const TCell& c = form.cells[column][row];
      s.cells.push_back({form.chemical[column][row], c.drawnChemical, c.isHome, c.isTarget, c.lastAgent, c.State});
    }
  }
  s.steps = stepCount;
  return s;
}

// Builds the first world as at program start with Randomize counting up from
// `seed`, runs `steps` steps and returns the state; also how often Randomize ran.
Snapshot RunWorld(uint32_t seed, int steps, uint32_t* reseeds) {
  SetGeneratorStartState();
  RandomizeCounter counter(seed);
  TForm1 form;
  form.Timer1->stop();
  for (int i = 0; i < steps; ++i) form.DoStep();
  *reseeds = counter.next - seed;
  return Take(form);
}

}  // namespace

TEST(PopulationRun, FixedReseedsGiveIdenticalWorldsAfter3000Steps) {
  MessageCollector messages;
  uint32_t reseedsA = 0;
  uint32_t reseedsB = 0;
  const Snapshot a = RunWorld(424242u, 3000, &reseedsA);
  const Snapshot b = RunWorld(424242u, 3000, &reseedsB);
  EXPECT_EQ(a.steps, 3000);
  EXPECT_EQ(reseedsA, reseedsB);
  EXPECT_GT(reseedsA, 2u + 3u * 50u) << "many reproductions happened during the run";
  EXPECT_TRUE(a.agents == b.agents);
  EXPECT_TRUE(a.chromas == b.chromas);
  EXPECT_TRUE(a.cells == b.cells);

  uint32_t reseedsC = 0;
  const Snapshot c = RunWorld(424243u, 300, &reseedsC);
  const Snapshot a300 = RunWorld(424242u, 300, &reseedsA);
  EXPECT_FALSE(c.agents == a300.agents) << "other reseeds give another run";
  EXPECT_TRUE(messages.messages.empty());
}

// ---------------------------------------------------------------------------
// Invariants over random runs

namespace {

struct Settings {
  int size, agents, mutate, visible, strength, sniff, evapo, mode;
  bool knowsCenter, diffuse, cellUpdateOff, hideAgents, lowEnergy;
  int steps;
};

std::string Describe(const Settings& s) {
  std::ostringstream out;
  out << "size " << s.size << ", agents " << s.agents << ", mutate " << s.mutate << ", visible " << s.visible
      << ", strength " << s.strength << ", sniff " << s.sniff << ", evapo " << s.evapo << ", mode " << s.mode
      << ", knowsCenter " << s.knowsCenter << ", diffuse " << s.diffuse << ", low energy " << s.lowEnergy << ", steps "
      << s.steps;
  return out.str();
}

// First violated invariant, or empty.
std::string Violation(TForm1& form, const std::vector<std::pair<int32_t, int32_t>>& homes, int agentCount,
                      int knowsCenter) {
  std::ostringstream out;
  if (static_cast<int>(form.agents.size()) != agentCount) return "agent count changed";
  for (int c = 0; c < 10; ++c) {
    const auto& members = form.colonyMembers[c];
    size_t k = 0;
    for (int i = c; i < agentCount; i += 10, ++k) {
      if (k >= members.size() || members[k] != i)
        return "colony " + std::to_string(c) + " lost member " + std::to_string(i);
    }
    if (k != members.size()) return "colony " + std::to_string(c) + " has extra members";
  }
  const int32_t center = RoundDiv(gridCols, 2);
  for (int i = 0; i < agentCount; ++i) {
    const TAgent& a = form.agents[i];
    out.str("");
    out << "agent " << i << ": ";
    if (a.cellX < 0 || a.cellX >= gridCols || a.cellY < 0 || a.cellY >= gridRows) {
      out << "off the grid at " << a.cellX << "," << a.cellY;
      return out.str();
    }
    if (a.posX != a.cellX * cellSize + halfCell || a.posY != a.cellY * cellSize + halfCell) {
      out << "pixel position " << a.posX << "," << a.posY << " for cell " << a.cellX << "," << a.cellY;
      return out.str();
    }
    if (a.angleGene < 0 || a.angleGene > 255 || a.wiggleGene < 0 || a.wiggleGene > 255) {
      out << "genes " << int{a.angleGene} << "/" << int{a.wiggleGene};
      return out.str();
    }
    if (a.chroma.size() != 16 || a.chroma.text().view().find_first_not_of("01") != std::string::npos) {
      out << "chroma '" << a.chroma << "'";
      return out.str();
    }
    if (a.heading < -75 || a.heading > 435) {
      out << "heading " << a.heading;
      return out.str();
    }
    if (a.colony != i % 10 || a.homeX != homes[i].first || a.homeY != homes[i].second) {
      out << "colony or home changed";
      return out.str();
    }
    if (a.centerX != center || a.centerY != center || a.radius != 2 || a.knowsCenter != knowsCenter) {
      out << "fixed fields changed";
      return out.str();
    }
    if (a.candidates.empty() || a.candidates.size() > 8 || a.shares.size() != a.candidates.size()) {
      out << a.candidates.size() << " candidates, " << a.shares.size() << " shares";
      return out.str();
    }
    if (a.stepX < -1 || a.stepX > 1 || a.stepY < -1 || a.stepY > 1 || a.energy > 100000 || a.tripCount < 0) {
      out << "step " << a.stepX << "," << a.stepY << ", energy " << a.energy << ", trips " << a.tripCount;
      return out.str();
    }
  }
  for (int32_t row = 0; row < gridRows; ++row) {
    for (int32_t column = 0; column < gridCols; ++column) {
      const int32_t chemical = form.chemical[column][row];
      if (chemical < 1) {
        out.str("");
        out << "cell " << column << "," << row << " holds chemical " << chemical;
        return out.str();
      }
    }
  }
  return {};
}

}  // namespace

TEST(PopulationRun, RandomSettingsKeepEveryInvariantAfterEveryStep) {
  MessageCollector messages;
  SetGeneratorStartState();
  RandomizeCounter counter(99u);
  std::mt19937 rng(20240611u);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };

  int64_t agentSteps = 0;
  int reproductionsSeen = 0;
  int minHeading = 0;
  std::vector<Settings> runs;
  // Fixed corners first (the smallest and the largest cells, both sniff
  // modes, strong marks), then random settings.
  runs.push_back({1, 300, 100, 0, 100, 0, 0, 1, false, false, false, false, true, 100});
  runs.push_back({10, 400, 100, 500, 100, 100, 100, 2, true, true, false, false, true, 1500});
  runs.push_back({2, 250, 50, 100, 100, 15, 50, 2, false, false, false, true, true, 400});
  runs.push_back({3, 300, 0, 20, 80, 5, 10, 1, true, false, true, false, true, 600});
  for (int w = 0; w < 10; ++w) {
    Settings s{};
    s.size = pick(1, 10);
    s.agents = pick(1, 300);
    s.mutate = pick(0, 100);
    s.visible = pick(0, 500);
    s.strength = pick(0, 100);
    s.sniff = pick(0, 100);
    s.evapo = pick(0, 100);
    s.mode = pick(0, 5) == 0 ? 0 : pick(1, 2);
    s.knowsCenter = pick(0, 1);
    s.diffuse = pick(0, 1);
    s.cellUpdateOff = pick(0, 3) == 0;
    s.hideAgents = pick(0, 3) == 0;
    s.lowEnergy = pick(0, 1);
    // A grid of 1-pixel cells has 163216 of them: fewer steps there.
    s.steps = s.size == 1 ? pick(60, 100) : s.size == 2 ? pick(100, 200) : pick(300, 1200);
    runs.push_back(s);
  }

  for (const Settings& s : runs) {
    SCOPED_TRACE(Describe(s));
    auto form = std::make_unique<TForm1>();
    form->Timer1->stop();
    SetUpWorld(*form, agents_test::Changed(ReadSettings(*form), {{"cell-size", s.size},
                                                                 {"agents", s.agents},
                                                                 {"knows-center", s.knowsCenter},
                                                                 {"mutation-rate", s.mutate},
                                                                 {"visibility-threshold", s.visible},
                                                                 {"mark-strength", s.strength},
                                                                 {"sniff-threshold", s.sniff},
                                                                 {"evaporation-rate", s.evapo},
                                                                 {"diffuse", s.diffuse}}));
    ASSERT_EQ(cellSize, s.size);
    form->Cb_cellUpdt->setChecked(s.cellUpdateOff);
    form->CB_hideAgs->setChecked(s.hideAgents);
    if (s.mode == 0) {
      form->rb_hill->setAutoExclusive(false);
      form->rb_rulette->setAutoExclusive(false);
      form->rb_hill->setChecked(false);
      form->rb_rulette->setChecked(false);
    } else {
      (s.mode == 1 ? form->rb_rulette : form->rb_hill)->setChecked(true);
    }
    ASSERT_EQ(form->SniffMode(), s.mode);
    std::vector<std::pair<int32_t, int32_t>> homes;
    for (TAgent& a : form->agents) {
      homes.emplace_back(a.homeX, a.homeY);
      // Exhausted early, so that children are born throughout the run.
      if (s.lowEnergy) a.energy = pick(0, 3000);
    }
    const uint32_t reseedsBefore = counter.next;
    for (int step = 0; step < s.steps; ++step) {
      form->DoStep();
      ASSERT_EQ(stepCount, step + 1);
      const std::string violation = Violation(*form, homes, s.agents, s.knowsCenter ? 1 : 0);
      ASSERT_EQ(violation, "") << "after step " << step + 1;
      for (const TAgent& a : form->agents) {
        minHeading = std::min<int>(minHeading, a.heading);
      }
    }
    reproductionsSeen += static_cast<int>((counter.next - reseedsBefore) / 3);
    agentSteps += static_cast<int64_t>(s.agents) * s.steps;
  }
  EXPECT_TRUE(messages.messages.empty()) << messages.messages.front();
  EXPECT_GT(agentSteps, 1000000);
  EXPECT_GT(reproductionsSeen, 1000);
  EXPECT_LT(minHeading, 0) << "headings below 0 occur between moves";
}
