// docs/model.md states the model's numbers in tables marked
// "<!-- table: NAME -->". Each table is read here and every number in it is
// checked against a real world, so that the description and the program
// cannot drift apart unnoticed.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Calcer.h"
#include "CellForm.h"
#include "Experiment.h"
#include "SeedRule.h"
#include "Settings.h"
#include "agents_support.h"

namespace {

using Row = std::vector<std::string>;

std::string Trim(const std::string& text) {
  const size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

// The doc writes negative numbers with the minus sign U+2212.
std::string Ascii(std::string text) {
  const std::string minus = "\u2212";
  for (size_t at = text.find(minus); at != std::string::npos; at = text.find(minus, at)) {
    text.replace(at, minus.size(), "-");
  }
  return text;
}

std::string ModelDoc() {
  std::ifstream in(PATHWICK_MODEL_DOC);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The body rows of the table that follows the marker, each cell trimmed.
std::vector<Row> Table(const std::string& name, size_t columns) {
  static const std::string doc = ModelDoc();
  std::vector<Row> rows;
  const std::string marker = "<!-- table: " + name + " -->";
  const size_t at = doc.find(marker);
  if (at == std::string::npos) {
    ADD_FAILURE() << "docs/model.md has no table " << name;
    return rows;
  }
  std::istringstream lines(doc.substr(at + marker.size()));
  std::string line;
  int seen = 0;
  while (std::getline(lines, line)) {
    line = Trim(line);
    if (line.empty() && seen == 0) continue;
    if (line.empty() || line[0] != '|') break;
    if (++seen <= 2) continue;  // the header and the rule under it
    Row row;
    std::istringstream cells(line.substr(1));
    std::string cell;
    while (std::getline(cells, cell, '|')) row.push_back(Ascii(Trim(cell)));
    EXPECT_EQ(row.size(), columns) << name << ": " << line;
    if (row.size() == columns) rows.push_back(row);
  }
  EXPECT_FALSE(rows.empty()) << "table " << name << " has no rows";
  return rows;
}

int Number(const std::string& text) {
  size_t used = 0;
  const int value = std::stoi(text, &used);
  EXPECT_EQ(used, text.size()) << "not a whole number: " << text;
  return value;
}

// "a..b" or a single "a".
std::pair<std::string, std::string> Ends(const std::string& text) {
  const size_t dots = text.find("..");
  if (dots == std::string::npos) return {text, text};
  return {text.substr(0, dots), text.substr(dots + 2)};
}

std::pair<int, int> Range(const std::string& text) {
  const auto [low, high] = Ends(text);
  return {Number(low), Number(high)};
}

// A rate written in hundredths: "0.35" -> 35, "1" -> 100.
int Hundredths(const std::string& text) {
  const size_t point = text.find('.');
  if (point == std::string::npos) return 100 * Number(text);
  const std::string fraction = (text.substr(point + 1) + "00").substr(0, 2);
  return 100 * Number(text.substr(0, point)) + Number(fraction);
}

// "5k-4" at member k; a plain number stands for itself.
int AtMember(const std::string& form, int k) {
  const size_t letter = form.find('k');
  if (letter == std::string::npos) return Number(form);
  const int factor = letter == 0 ? 1 : Number(form.substr(0, letter));
  const std::string rest = form.substr(letter + 1);
  return factor * k + (rest.empty() ? 0 : Number(rest));
}

class ModelDoc : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageSink([this](const std::string& text) { messages.push_back(text); });
    FixRandomize();
    form = std::make_unique<TForm1>();
    form->Timer1->stop();
    defaults = ReadSettings(*form);
  }
  void TearDown() override {
    form.reset();
    SetMessageSink({});
    SetRandomizeSource({});
    EXPECT_TRUE(messages.empty()) << messages.front();
  }
  // Every setup reseeds from the same value, whatever source was in force.
  static void FixRandomize() {
    SetRandomizeSource([] { return 20260u; });
  }
  void SetUpWith(TSettingChanges changes) {
    FixRandomize();
    SetUpWorld(*form, agents_test::Changed(defaults, changes));
    ASSERT_TRUE(form->WorldExists());
  }

  std::unique_ptr<TForm1> form;
  TSettingValues defaults{};
  std::vector<std::string> messages;
};

TEST_F(ModelDoc, InitialFieldIsTheWorldJustSetUp) {
  SetUpWith({});
  std::set<std::string> kinds;
  for (const Row& row : Table("initial-field", 2)) {
    const int chemical = Number(row[1]);
    kinds.insert(row[0]);
    int checked = 0;
    const int32_t* amount = form->chemical.begin();
    for (const TCell& cell : form->cells) {  // both grids lie row after row
      const int32_t here = *amount++;
      const bool counts = row[0] == "every cell" || (row[0] == "home cell" && cell.isHome) ||
                          (row[0] == "target cell" && cell.isTarget);
      if (!counts) continue;
      ++checked;
      EXPECT_EQ(here, chemical) << row[0];
    }
    EXPECT_GT(checked, 0) << "no cell is a " << row[0];
  }
  EXPECT_EQ(kinds, (std::set<std::string>{"every cell", "home cell", "target cell"}));
}

// The amount for every rate of the table, from a cell at 255 in a world
// without agents, and the background an unmarked cell reaches, after exactly
// the stated number of evaporation passes.
TEST_F(ModelDoc, EvaporationAmountsAndBackgrounds) {
  SetUpWith({{"agents", 0}});
  const std::vector<Row> rows = Table("evaporation", 4);
  int nextRate = 0;
  for (const Row& row : rows) {
    const int amount = Number(row[0]);
    const auto [low, high] = Ends(row[1]);
    ASSERT_EQ(Hundredths(low), nextRate) << "the rates must follow on from the row before: " << row[1];
    nextRate = Hundredths(high) + 1;
    for (int rate = Hundredths(low); rate <= Hundredths(high); ++rate) {
      ApplySettings(*form, agents_test::Changed(defaults, {{"agents", 0}, {"evaporation-rate", rate}}));
      int32_t& corner = form->chemical[0][0];
      corner = 255;
      form->DoStep();
      EXPECT_EQ(255 - corner, amount) << "rate " << rate << "/100";
      EXPECT_EQ(EffectiveSettings(agents_test::Changed(defaults, {{"evaporation-rate", rate}}))[0], amount);
    }
  }
  EXPECT_EQ(nextRate, 101) << "the rates must end at 1";

  for (const Row& row : rows) {
    const int background = Number(row[2]);
    const int passes = Number(row[3]);
    for (const int rate : {Hundredths(Ends(row[1]).first), Hundredths(Ends(row[1]).second)}) {
      SetUpWith({{"agents", 0}, {"evaporation-rate", rate}});
      const auto allAt = [&](int value) {
        for (const int32_t amount : form->chemical) {
          if (amount != value) return false;
        }
        return true;
      };
      for (int pass = 1; pass <= passes; ++pass) {
        EXPECT_FALSE(allAt(background)) << "rate " << rate << "/100 reached " << background << " before pass " << pass;
        form->DoStep();
      }
      EXPECT_TRUE(allAt(background)) << "rate " << rate << "/100 after " << passes << " passes";
      for (int more = 0; more < 5; ++more) form->DoStep();
      EXPECT_TRUE(allAt(background)) << "rate " << rate << "/100 does not stay at " << background;
    }
  }
}

TEST_F(ModelDoc, ConeSizesOverAllHeadings) {
  SetUpWith({{"agents", 1}});
  TAgent& agent = form->agents[0];
  agent.cellX = 10;
  agent.cellY = 10;
  int nextGene = 0;
  for (const Row& row : Table("cone", 3)) {
    const auto [low, high] = Range(row[0]);
    ASSERT_EQ(low, nextGene) << row[0];
    nextGene = high + 1;
    for (int gene = low; gene <= high; ++gene) {
      size_t fewest = TAgent::kMaxCandidates;
      size_t most = 0;
      for (int heading = 0; heading < 360; ++heading) {
        agent.heading = static_cast<int16_t>(heading);
        agent.angleGene = static_cast<uint8_t>(gene);
        form->Sense(0);
        fewest = std::min(fewest, agent.candidates.size());
        most = std::max(most, agent.candidates.size());
      }
      EXPECT_EQ(fewest, static_cast<size_t>(Number(row[1]))) << "angle gene " << gene;
      EXPECT_EQ(most, static_cast<size_t>(Number(row[2]))) << "angle gene " << gene;
    }
  }
  EXPECT_EQ(nextGene, TAgent::kMaxGene + 1);
}

TEST_F(ModelDoc, RandomWalkStepForEveryHeading) {
  SetUpWith({{"agents", 1}});
  TAgent& agent = form->agents[0];
  int nextHeading = 0;
  for (const Row& row : Table("steps", 3)) {
    const auto [low, high] = Range(row[0]);
    ASSERT_EQ(low, nextHeading) << row[0];
    nextHeading = high + 1;
    for (int heading = low; heading <= high; ++heading) {
      agent.heading = static_cast<int16_t>(heading);
      agent.randomWalk(0);  // a turn of 0: the step of the heading itself
      ASSERT_EQ(agent.heading, heading);
      EXPECT_EQ(int{agent.stepX}, Number(row[1])) << "heading " << heading;
      EXPECT_EQ(int{agent.stepY}, Number(row[2])) << "heading " << heading;
    }
  }
  EXPECT_EQ(nextHeading, 360);
}

// Each move charged on the world's own cells: entering a cell just below the
// visibility threshold the doc's table assumes, and one at it.
TEST_F(ModelDoc, CostsAndMarksOfAMove) {
  constexpr int kDocVisibility = 100;  // "With V = 100" above the table
  constexpr int kLeftChemical = 10;
  constexpr int kFullEnergy = 100000;
  for (const Row& row : Table("costs", 6)) {
    const int strength = Number(row[0]);
    SetUpWith({{"agents", 1}, {"mark-strength", strength}, {"visibility-threshold", kDocVisibility}});
    TAgent& agent = form->agents[0];
    struct TCase {
      bool searching;
      int entered;
      const std::string& cost;
    };
    for (const TCase& c : {TCase{true, kDocVisibility - 1, row[1]}, TCase{true, kDocVisibility, row[2]},
                           TCase{false, kDocVisibility - 1, row[3]}, TCase{false, kDocVisibility, row[4]}}) {
      int32_t& entered = form->chemical[1][1];
      int32_t& left = form->chemical[0][0];
      entered = c.entered;
      left = kLeftChemical;
      agent.searching = c.searching;
      agent.energy = kFullEnergy;
      form->SpendEnergy(agent, entered, left);
      const std::string what = "mark strength " + row[0] + (c.searching ? ", searching" : ", returning") +
                               ", entering " + std::to_string(c.entered);
      EXPECT_EQ(kFullEnergy - agent.energy, Number(c.cost)) << what;
      EXPECT_EQ(left - kLeftChemical, c.searching ? 0 : Number(row[5])) << what;
      EXPECT_EQ(entered, c.entered) << what;
    }
  }
}

// Every draw 0..99 in a colony without trips, through Reproduce itself: the
// parent it names must be the member the table gives that draw.
TEST_F(ModelDoc, ParentDrawBeforeAnyTrip) {
  std::map<int, std::vector<int>> memberOfDraw;  // colony size -> member (from 1) of each draw
  std::map<int, std::set<int>> neverParents;     // colony size -> members that take no draw
  std::map<int, std::set<int>> named;            // colony size -> members the rows name
  for (const Row& row : Table("parent-draw", 3)) {
    const int members = Number(row[0]);
    std::vector<int>& owner = memberOfDraw.try_emplace(members, 100, 0).first->second;
    const auto [memberLow, memberHigh] = Range(row[1]);
    for (int k = memberLow; k <= memberHigh; ++k) {
      EXPECT_TRUE(named[members].insert(k).second) << "member " << k << " of " << members << " is named twice";
      if (row[2] == "none") neverParents[members].insert(k);
    }
    if (row[2] == "none") continue;
    for (int k = memberLow; k <= memberHigh; ++k) {
      const auto [low, high] = Ends(row[2]);
      for (int draw = AtMember(low, k); draw <= AtMember(high, k); ++draw) {
        ASSERT_TRUE(draw >= 0 && draw < 100) << row[2];
        EXPECT_EQ(owner[draw], 0) << "draw " << draw << " is given twice for " << members << " members";
        owner[draw] = k;
      }
    }
  }
  for (const auto& [members, owner] : memberOfDraw) {
    EXPECT_EQ(named[members].size(), static_cast<size_t>(members)) << "every member of " << members << " once";
    EXPECT_EQ(*named[members].begin(), 1);
    EXPECT_EQ(*named[members].rbegin(), members);
    for (const int member : owner) EXPECT_EQ(neverParents[members].count(member), 0u) << "member " << member;
    SetUpWith({{"agents", members * TForm1::kColonies}});
    for (const TAgent& agent : form->agents) ASSERT_EQ(agent.tripCount, 0);
    std::optional<TBirth> birth;
    form->onBirth = [&](const TBirth& b) { birth = b; };
    for (int draw = 0; draw < 100; ++draw) {
      ASSERT_NE(owner[draw], 0) << "no member takes draw " << draw << " for " << members << " members";
      agents_test::RandomizeQueue queue;
      const uint32_t seed = agents_test::SeedGivingDraw(100, draw);
      queue.seeds = {seed, seed, 0u};
      birth.reset();
      form->Reproduce(form->agents[0]);
      ASSERT_TRUE(birth.has_value());
      const std::string what = std::to_string(members) + " members, draw " + std::to_string(draw);
      EXPECT_EQ(birth->parentFirst / TForm1::kColonies + 1, owner[draw]) << what;
      EXPECT_EQ(birth->parentSecond / TForm1::kColonies + 1, owner[draw]) << what;
      EXPECT_EQ(queue.calls, 3);
    }
    form->onBirth = nullptr;
  }
}

// "a, b, c" as numbers.
std::vector<int> Numbers(const std::string& list) {
  std::vector<int> values;
  std::istringstream items(list);
  std::string item;
  while (std::getline(items, item, ',')) values.push_back(Number(Trim(item)));
  return values;
}

// Each mark strength's settled levels, from a cell of an agentless world
// given its marks one at a time, each left to settle; and the cells at each
// level in the field table of the table's run at that strength.
TEST_F(ModelDoc, SettledMarksByMarkStrength) {
  constexpr int kSettledSteps = 40;  // enough passes for any mark here to settle
  constexpr int kRunSteps = 5000;    // the run of the table's command
  constexpr int kFieldEvery = 1000;
  constexpr int kCountedStep = 4000;
  constexpr int kLowestLevel = 3;
  for (const Row& row : Table("settled-marks", 3)) {
    const int strength = Number(row[0]);
    SetUpWith({{"agents", 0}});
    int32_t& cell = form->chemical[3][3];
    for (int pass = 0; pass < kSettledSteps; ++pass) form->DoStep();
    int mark = 0;
    for (const int level : Numbers(row[1])) {
      cell += strength;
      for (int pass = 0; pass < kSettledSteps; ++pass) form->DoStep();
      EXPECT_EQ(cell, level) << "mark strength " << strength << ", mark " << ++mark;
    }

    const std::vector<int> expected = Numbers(row[2]);
    ASSERT_EQ(expected.size(), 6u) << row[2];
    std::vector<int> counted(expected.size(), 0);
    TRunPlan plan;
    plan.settings = agents_test::Changed(defaults, {{"mark-strength", strength}});
    plan.seed = 7;
    plan.steps = kRunSteps;
    plan.fieldEvery = kFieldEvery;
    TRunObserver observer;
    observer.field = [&](int32_t step, const TForm1& world) {
      if (step != kCountedStep) return;
      for (const int32_t at : world.chemical) {
        ++counted[std::clamp(at - kLowestLevel, 0, static_cast<int>(expected.size()) - 1)];
      }
    };
    ASSERT_TRUE(RunExperiment(*form, std::move(plan), observer)) << "mark strength " << strength;
    EXPECT_EQ(counted, expected) << "mark strength " << strength;
  }
}

TEST_F(ModelDoc, SeedSevenWorkedExample) {
  {
    const TSeedRule rule(7);
    SetUpWorld(*form, defaults);
  }
  const std::vector<Row> homes = Table("seed-7-homes", 3);
  EXPECT_EQ(homes.size(), static_cast<size_t>(TForm1::kColonies));
  for (const Row& row : homes) {
    const int colony = Number(row[0]);
    ASSERT_TRUE(colony >= 0 && colony < TForm1::kColonies);
    EXPECT_EQ(form->homePoints[colony], TGridPoint(Number(row[1]), Number(row[2]))) << "colony " << colony;
  }
  for (const Row& row : Table("seed-7-agents", 4)) {
    const TAgent& agent = form->agents.at(Number(row[0]));
    EXPECT_EQ(agent.heading, Number(row[1])) << "agent " << row[0];
    EXPECT_EQ(int{agent.angleGene}, Number(row[2])) << "agent " << row[0];
    EXPECT_EQ(int{agent.wiggleGene}, Number(row[3])) << "agent " << row[0];
  }
}

}  // namespace
