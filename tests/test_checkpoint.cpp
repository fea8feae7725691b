// Checkpoints: a world continued from one goes on exactly as if it had never
// stopped, a branch takes its new rates from the next step, and anything
// that is not an intact checkpoint is refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScrollBar>
#include <QTemporaryDir>
#include <bit>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <tuple>

#include "CellForm.h"
#include "Checkpoint.h"
#include "Experiment.h"
#include "Runtime.h"
#include "agents_support.h"

namespace {

struct World {
  const char* name;
  int cellSize;
  int agents;
  bool diffuse;
  int first;  // steps before the checkpoint; not on a sample, so an interval spans it
  int more;   // steps after it
};

class Continued : public ::testing::TestWithParam<World> {
 protected:
  agents_test::MessageCollector messages;
  const int kFirst = GetParam().first;
  const int kMore = GetParam().more;

  TRunPlan Plan(TForm1& form, int steps) const {
    TRunPlan plan;
    plan.settings = agents_test::Changed(ReadSettings(form), {{"cell-size", GetParam().cellSize},
                                                              {"agents", GetParam().agents},
                                                              {"diffuse", GetParam().diffuse},
                                                              {"evaporation-rate", 20}});
    plan.seed = 31;
    plan.steps = steps;
    return plan;
  }
};

// Runs `plan`, collecting its samples and the checkpoint written after its
// last step (the whole final state, seed rule included).
std::vector<TSample> RunCollecting(TForm1& form, TRunPlan plan, QByteArray* last) {
  std::vector<TSample> samples;
  TRunObserver observer;
  observer.sample = [&](const TSample& s) {
    samples.push_back(s);
    return Success();
  };
  observer.checkpoint = [&](const TForm1& world, const TCheckpointRule& rule) {
    *last = EncodeCheckpoint(world, rule);
    return Success();
  };
  plan.checkpointEvery = std::max(plan.steps, 1);
  const TResult<TRunOutcome> outcome = RunExperiment(form, plan, observer);
  EXPECT_TRUE(outcome.Ok()) << outcome.Error().message.toStdString();
  return samples;
}

void ExpectSameSamples(const std::vector<TSample>& a, const std::vector<TSample>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(a[i].step, b[i].step);
    EXPECT_EQ(a[i].avgAngle, b[i].avgAngle);
    EXPECT_EQ(a[i].avgWiggle, b[i].avgWiggle);
    EXPECT_EQ(a[i].trips, b[i].trips);
    EXPECT_EQ(a[i].births, b[i].births);
    EXPECT_EQ(a[i].visibleCells, b[i].visibleCells);
    EXPECT_EQ(a[i].sdAngle, b[i].sdAngle);
  }
}

TEST_P(Continued, FromACheckpointGoesOnAsIfItHadNeverStopped) {
  auto whole = std::make_unique<TForm1>();
  QByteArray unbroken;
  const std::vector<TSample> all = RunCollecting(*whole, Plan(*whole, kFirst + kMore), &unbroken);
  whole.reset();  // one world at a time

  auto first = std::make_unique<TForm1>();
  QByteArray saved;
  std::vector<TSample> joined = RunCollecting(*first, Plan(*first, kFirst), &saved);
  first.reset();
  TResult<TCheckpoint> checkpoint = DecodeCheckpoint(saved);
  ASSERT_TRUE(checkpoint) << checkpoint.Error().message.toStdString();
  EXPECT_EQ(checkpoint->step, kFirst);
  auto second = std::make_unique<TForm1>();
  TRunPlan plan = Plan(*second, kMore);
  plan.from = std::move(*checkpoint);
  QByteArray continued;
  for (const TSample& s : RunCollecting(*second, plan, &continued)) joined.push_back(s);

  ExpectSameSamples(all, joined);
  EXPECT_GT(all.back().tripsTotal, 0);
  EXPECT_EQ(unbroken, continued) << "the final worlds, generator and reseed count differ";
  EXPECT_TRUE(messages.messages.empty());
}

TEST_P(Continued, ABranchTakesItsRatesFromTheNextStep) {
  // The window's way: the scroll bars moved between two steps.
  auto window = std::make_unique<TForm1>();
  QByteArray saved;
  std::vector<TSample> expected = RunCollecting(*window, Plan(*window, kFirst), &saved);
  const size_t before = expected.size();
  {
    TSeedRule rule(77, 0, TGeneratorStart::kKeep);  // the branch's reseeds
    window->SB_evapo->setValue(70);
    window->SB_strenght->setValue(35);
    window->onSample = [&](int32_t a, int32_t w) { expected.push_back(TakeSample(*window, a, w, expected.back())); };
    for (int i = 0; i < kMore; ++i) window->DoStep();
    window->onSample = nullptr;
  }
  window.reset();

  auto branch = std::make_unique<TForm1>();
  TResult<TCheckpoint> checkpoint = DecodeCheckpoint(saved);
  ASSERT_TRUE(checkpoint) << checkpoint.Error().message.toStdString();
  TRunPlan plan = Plan(*branch, kMore);
  plan.settings = agents_test::Changed(plan.settings, {{"evaporation-rate", 70}, {"mark-strength", 35}});
  plan.seed = 77;
  plan.branchSeed = true;
  plan.from = std::move(*checkpoint);
  QByteArray ignored;
  ExpectSameSamples({expected.begin() + static_cast<ptrdiff_t>(before), expected.end()},
                    RunCollecting(*branch, plan, &ignored));
}

INSTANTIATE_TEST_SUITE_P(Worlds, Continued,
                         ::testing::Values(World{"size6", 6, 200, false, 1300, 1700},
                                           World{"size6_diffuse", 6, 200, true, 1300, 1200},
                                           World{"size1", 1, 1500, false, 450, 350},
                                           World{"size1_diffuse", 1, 1500, true, 230, 170}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Files written by earlier programs ---

// The number of bytes before the payload: magic, format, the program's
// version with its length, the payload's length.
qsizetype PayloadStart(const QByteArray& file) {
  uint32_t versionLength = 0;
  std::memcpy(&versionLength, file.constData() + 12, sizeof versionLength);
  return 8 + 4 + 4 + static_cast<qsizetype>(versionLength) + 8;
}

TEST(CheckpointFile, AFileSavedByAnEarlierProgramLoadsContinuesAndIsWrittenAgainByteForByte) {
  const QString path = QStringLiteral(PATHWICK_TEST_DATA "/checkpoint-format1.pwk");
  const QByteArray saved = runner_test::ReadFile(path);
  ASSERT_GT(saved.size(), 1000);
  TResult<TCheckpoint> checkpoint = DecodeCheckpoint(saved);
  ASSERT_TRUE(checkpoint) << checkpoint.Error().message.toStdString();
  // The world that file was saved from: seed 5, 40 agents, cell size 9,
  // roulette, knowing the centre, evaporation 0.3, after 1234 steps.
  EXPECT_EQ(checkpoint->step, 1234);
  EXPECT_EQ(checkpoint->seed, 5u);
  EXPECT_EQ(checkpoint->agents.size(), 40u);
  EXPECT_EQ(checkpoint->settings,
            agents_test::Changed(
                checkpoint->settings,
                {{"agents", 40}, {"cell-size", 9}, {"knows-center", 1}, {"sniff", 1}, {"evaporation-rate", 30}}));
  const TCheckpointRule rule{checkpoint->seed, checkpoint->reseeds, checkpoint->sampledTrips,
                             checkpoint->sampledBirths};
  {
    auto form = std::make_unique<TForm1>();
    ASSERT_TRUE(RestoreCheckpoint(*form, std::move(*checkpoint)).Ok());
    const QByteArray again = EncodeCheckpoint(*form, rule);
    // Everything after the program's version: the whole world and its checksum's input.
    EXPECT_TRUE(again.mid(PayloadStart(again)).chopped(32) == saved.mid(PayloadStart(saved)).chopped(32))
        << "the world is written back as it was read";
  }
  // The same run today saves the same bytes.
  QTemporaryDir tmp;
  const auto today = runner_test::RunProgram({"--seed", "5", "--agents", "40", "--cell-size", "9", "--sniff",
                                              "roulette", "--knows-center", "--evaporation-rate", "0.3", "--steps",
                                              "1234", "--checkpoint-every", "1234", "--out", tmp.filePath("today")});
  ASSERT_EQ(today.status, 0) << today.err.toStdString();
  const QByteArray saves = runner_test::ReadFile(tmp.filePath("today/checkpoint.pwk"));
  EXPECT_TRUE(saves.mid(PayloadStart(saves)).chopped(32) == saved.mid(PayloadStart(saved)).chopped(32))
      << "everything after the program's version";
  // Its next 300 steps, as the program that saved it ran them.
  const auto next = runner_test::RunProgram({"--from", path, "--steps", "300"});
  EXPECT_EQ(next.status, 0) << next.err.toStdString();
  // Later programs add columns at the end of a row only: every saved cell is
  // the first of its row today.
  const QStringList saved300 =
      QString::fromUtf8(runner_test::ReadFile(QStringLiteral(PATHWICK_TEST_DATA "/checkpoint-format1-next300.csv")))
          .split('\n');
  const QStringList now300 = next.out.split('\n');
  ASSERT_EQ(now300.size(), saved300.size());
  for (qsizetype i = 0; i < saved300.size(); ++i) {
    const QStringList savedCells = saved300[i].split(',');
    EXPECT_EQ(now300[i].split(',').mid(0, savedCells.size()), savedCells) << "line " << i + 1;
  }
}

// --- Payloads the reader refuses, each for what is wrong with it ---

template <class V>
void PutAt(QByteArray& bytes, qsizetype at, V value) {  // little-endian, as the file
  for (size_t i = 0; i < sizeof value; ++i) bytes[at + i] = static_cast<char>(static_cast<uint64_t>(value) >> (8 * i));
}

TEST(CheckpointPayload, AFaultIsRefusedWithWhatIsWrong) {
  agents_test::MessageCollector messages;
  auto form = std::make_unique<TForm1>();
  SetUpWorld(*form, agents_test::Changed(ReadSettings(*form), {{"cell-size", 10}, {"agents", 20}}));
  const TResult<QByteArray> good = CheckpointPayload(EncodeCheckpoint(*form, {1, 0, 0, 0}));
  ASSERT_TRUE(good && DecodeCheckpointPayload(*good));
  // The header's fields by their places, then 22 bytes a cell; each colony
  // its size and two members; the agent count; 19 numbers an agent.
  const qsizetype cells = 180;
  const qsizetype colonies = cells + 22 * static_cast<qsizetype>(form->cells.Cols()) * form->cells.Rows();
  const qsizetype agent0 = colonies + TForm1::kColonies * 12 + 4;
  const TAgent& last = form->agents.back();  // 93 bytes, then its two lists with their counts
  const auto agent19 = good->size() - static_cast<qsizetype>(95 + 2 * last.candidates.size() + 8 * last.shares.size());
  const std::tuple<const char*, std::function<void(QByteArray&)>, const char*> table[] = {
      {"header_cut", [](QByteArray& b) { b.truncate(100); }, "cut short"},
      {"setting", [](QByteArray& b) { PutAt(b, 4, int32_t{11}); }, "setting cell_size is out of range"},
      {"negative_total", [](QByteArray& b) { PutAt(b, 60, int64_t{-1}); }, "totals are negative"},
      {"sampled_beyond_total", [](QByteArray& b) { PutAt(b, 76, int64_t{1}); }, "step count or totals"},
      {"grid", [](QByteArray& b) { PutAt(b, 92, int32_t{0}); }, "grid is 0 x"},
      {"home", [&](QByteArray& b) { PutAt(b, 100, form->cells.Cols()); }, "a home lies off the grid"},
      {"cells_cut", [](QByteArray& b) { b.truncate(cells + 100); }, "cut short"},
      {"cell", [](QByteArray& b) { PutAt(b, cells, int32_t{0}); }, "a cell holds values"},
      {"cell_state_too_wide", [](QByteArray& b) { PutAt(b, cells + 14, int32_t{128}); }, "a cell holds values"},
      {"cell_home_distance_too_wide", [](QByteArray& b) { PutAt(b, cells + 18, int32_t{32768}); }, "a cell holds"},
      {"colony_size", [&](QByteArray& b) { PutAt(b, colonies, uint32_t{3}); }, "colony 0 does not hold"},
      {"colony_member", [&](QByteArray& b) { PutAt(b, colonies + 4, int32_t{1}); }, "colony 0 does not hold"},
      {"agent_count", [&](QByteArray& b) { PutAt(b, agent0 - 4, uint32_t{21}); }, "holds 21 agents, its setting 20"},
      {"agent_colony", [&](QByteArray& b) { PutAt(b, agent0 + 16, int32_t{1}); }, "agent 0 is not one"},
      {"gene_too_wide", [&](QByteArray& b) { PutAt(b, agent19, int32_t{256}); }, "agent 19 is not one"},
      {"agent_cut", [](QByteArray& b) { b.chop(1); }, "cut short"},
      {"trailing_byte", [](QByteArray& b) { b.append('\0'); }, "bytes beyond its end"},
  };
  for (const auto& [name, fault, says] : table) {
    SCOPED_TRACE(name);
    QByteArray payload = *good;
    fault(payload);
    const TResult<TCheckpoint> decoded = DecodeCheckpointPayload(payload);
    ASSERT_FALSE(decoded.Ok());
    EXPECT_EQ(decoded.Error().status, kExitRefused);
    EXPECT_TRUE(decoded.Error().message.contains(QLatin1String(says))) << decoded.Error().message.toStdString();
  }
}

// State (8 bits in the cell) and the nearest home's distance (16 bits) are
// stored in 32: values at the ends of the cell's fields load, are restored
// and are written back byte for byte. Wider ones are refused (above).
TEST(CheckpointPayload, ACellNumberTheCellHoldsLoadsAndIsWrittenBackAsItWas) {
  agents_test::MessageCollector messages;
  auto form = std::make_unique<TForm1>();
  SetUpWorld(*form, agents_test::Changed(ReadSettings(*form), {{"cell-size", 10}, {"agents", 20}}));
  TResult<QByteArray> payload = CheckpointPayload(EncodeCheckpoint(*form, {1, 0, 0, 0}));
  ASSERT_TRUE(payload);
  PutAt(*payload, 180 + 14, int32_t{-128});
  PutAt(*payload, 180 + 18, int32_t{32767});
  TResult<TCheckpoint> decoded = DecodeCheckpointPayload(*payload);
  ASSERT_TRUE(decoded && RestoreCheckpoint(*form, std::move(*decoded)));
  EXPECT_EQ(form->cells[0][0].State, -128);
  EXPECT_EQ(form->cells[0][0].minHomeDistance, 32767);
  const TResult<QByteArray> again = CheckpointPayload(EncodeCheckpoint(*form, {1, 0, 0, 0}));
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, *payload);
}

// The agent keeps the chemical it sensed and reads its shares from it: the
// shares a stepped world stores load and are written back byte for byte;
// a share no sensing gives (one bit off), or a chroma character other than
// 0 or 1, is refused with the agent's index instead.
TEST(CheckpointPayload, SensedSharesAndTheChromaLoadAsTheyWereAndOthersAreRefused) {
  agents_test::MessageCollector messages;
  auto form = std::make_unique<TForm1>();
  SetUpWorld(*form, agents_test::Changed(ReadSettings(*form), {{"cell-size", 10}, {"agents", 20}}));
  for (int i = 0; i < 30; ++i) form->DoStep();
  const TResult<QByteArray> payload = CheckpointPayload(EncodeCheckpoint(*form, {1, 0, 0, 0}));
  ASSERT_TRUE(payload);
  TResult<TCheckpoint> decoded = DecodeCheckpointPayload(*payload);
  ASSERT_TRUE(decoded && RestoreCheckpoint(*form, std::move(*decoded)));
  const TResult<QByteArray> again = CheckpointPayload(EncodeCheckpoint(*form, {1, 0, 0, 0}));
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, *payload);

  const TAgent& last = form->agents.back();
  ASSERT_GE(last.shares.size(), 1u);
  ASSERT_GT(last.scent, 0);
  const qsizetype lastShare = payload->size() - 8;
  const auto chromaAt =
      payload->size() - static_cast<qsizetype>(16 + 1 + 2 * last.candidates.size() + 1 + 8 * last.shares.size());
  const std::pair<const char*, std::function<void(QByteArray&)>> table[] = {
      {"share_bit", [&](QByteArray& b) { b[lastShare] = static_cast<char>(b[lastShare] ^ 0x01); }},
      {"share_negative", [&](QByteArray& b) { PutAt(b, lastShare, std::bit_cast<uint64_t>(-0.0)); }},
      {"share_above_100", [&](QByteArray& b) { PutAt(b, lastShare, std::bit_cast<uint64_t>(100.5)); }},
      {"chroma_character", [&](QByteArray& b) { b[chromaAt + 3] = '2'; }},
  };
  for (const auto& [name, fault] : table) {
    SCOPED_TRACE(name);
    QByteArray bytes = *payload;
    fault(bytes);
    const TResult<TCheckpoint> refused = DecodeCheckpointPayload(bytes);
    ASSERT_FALSE(refused.Ok());
    EXPECT_EQ(refused.Error().status, kExitRefused);
    EXPECT_TRUE(refused.Error().message.contains(QLatin1String("agent 19 is not one")))
        << refused.Error().message.toStdString();
  }
}

// --- Files the program refuses ---

using runner_test::RunProgram;

// The exit status of the run the refusals below continue from: 300 steps of
// 40 agents into `dir`, with its checkpoint after the last.
int ParentRun(const QString& dir) {
  return RunProgram({"--seed", "4", "--steps", "300", "--agents", "40", "--checkpoint-every", "300", "--out", dir})
      .status;
}

TEST(CheckpointFile, RefusedFilesGiveOneLineAndStatus2AndNothingIsWritten) {
  QTemporaryDir tmp;
  ASSERT_EQ(ParentRun(tmp.filePath("a")), 0);
  const QByteArray good = runner_test::ReadFile(tmp.filePath("a/checkpoint.pwk"));
  ASSERT_GT(good.size(), 1000);
  // A bit of the last agent's last share: the checksum tells before the
  // share itself is read.
  QByteArray flipped = good;
  flipped[good.size() - 40] = static_cast<char>(flipped[good.size() - 40] ^ 0x01);
  QByteArray otherVersion = good;
  otherVersion[8] = 2;  // the format version follows the magic
  const std::pair<const char*, QByteArray> table[] = {
      {"empty", QByteArray()},
      {"not_a_checkpoint", QByteArray("step,avg_angle,avg_wiggle\n0,90,90\n")},
      {"magic_only", good.left(8)},
      {"cut_in_header", good.left(15)},
      {"cut_in_cells", good.left(good.size() / 3)},
      {"cut_before_checksum", good.left(good.size() - 32)},
      {"one_byte_short", good.left(good.size() - 1)},
      {"flipped_byte", flipped},
      {"other_version", otherVersion},
      {"trailing_byte", good + QByteArray(1, '\0')},
  };
  for (const auto& [name, bytes] : table) {
    SCOPED_TRACE(name);
    const TResult<TCheckpoint> decoded = DecodeCheckpoint(bytes);
    ASSERT_FALSE(decoded.Ok());
    EXPECT_EQ(decoded.Error().status, kExitRefused);
    EXPECT_FALSE(decoded.Error().message.isEmpty());
    const QString path = tmp.filePath(QString::fromLatin1(name) + ".pwk");
    ASSERT_TRUE(runner_test::WriteFile(path, bytes));
    const auto run = RunProgram({"--from", path, "--steps", "10", "--out", tmp.filePath("b")});
    EXPECT_EQ(run.status, 2) << run.err.toStdString();
    EXPECT_TRUE(run.err.startsWith("pathwick_run: --from: ")) << run.err.toStdString();
    EXPECT_EQ(run.err.count('\n'), 1);
    EXPECT_FALSE(QDir(tmp.filePath("b")).exists());
  }
  // A setting fixed at setup may not change; a rate may.
  const auto fixed =
      RunProgram({"--from", tmp.filePath("a/checkpoint.pwk"), "--agents", "50", "--out", tmp.filePath("b")});
  EXPECT_EQ(fixed.status, 2);
  EXPECT_TRUE(fixed.err.contains("--agents is fixed"));
  const auto rate = RunProgram({"--from", tmp.filePath("a/checkpoint.pwk"), "--agents", "40", "--evaporation-rate",
                                "0.9", "--steps", "200", "--out", tmp.filePath("b")});
  EXPECT_EQ(rate.status, 0) << rate.err.toStdString();
}

// A file that is not a regular file, or is larger than a checkpoint may be,
// is refused before it is read, whether it is named by --from, by a
// record's from.path through --config, or is the record itself.
TEST(CheckpointFile, ADeviceAFifoOrAFileOverTheLimitIsRefusedBeforeItIsReadInEveryPlaceThatReadsOne) {
  QTemporaryDir tmp;
  ASSERT_EQ(ParentRun(tmp.filePath("a")), 0);
  ASSERT_EQ(
      RunProgram({"--from", tmp.filePath("a/checkpoint.pwk"), "--steps", "100", "--out", tmp.filePath("c")}).status, 0);
  const QJsonObject continued = runner_test::Record(tmp.filePath("c"));
  // Sparse: four gigabytes that take no room on the disk.
  const QString sparse = tmp.filePath("sparse.pwk");
  const QString padded = tmp.filePath("padded.pwk");
  ASSERT_TRUE(runner_test::WriteFile(sparse, QByteArray()));
  ASSERT_TRUE(QFile::copy(tmp.filePath("a/checkpoint.pwk"), padded));
  for (const QString& path : {sparse, padded}) ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), 4LL << 30), 0);
  const QString fifo = tmp.filePath("fifo.pwk");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
  struct Hostile {
    const char* name;
    QString path;
    const char* refusal;
  };
  const Hostile files[] = {
      {"/dev/zero", "/dev/zero", "it is not a regular file"},
      {"a FIFO", fifo, "it is not a regular file"},
      {"a sparse file of 4 GB", sparse, "it holds 4294967296 bytes, more than the"},
      {"a whole checkpoint padded to 4 GB", padded, "it holds 4294967296 bytes, more than the"},
  };
  for (const Hostile& file : files) {
    QJsonObject record = continued;
    QJsonObject from = record["from"].toObject();
    from["path"] = file.path;
    record["from"] = from;
    const QString config = tmp.filePath("config.json");
    ASSERT_TRUE(runner_test::WriteFile(config, QJsonDocument(record).toJson()));
    const std::pair<const char*, QStringList> places[] = {
        {"--from", {"--from", file.path, "--steps", "10", "--out", tmp.filePath("b")}},
        {"--config's from.path", {"--config", config, "--out", tmp.filePath("b")}},
        {"--config", {"--config", file.path, "--out", tmp.filePath("b")}},
    };
    for (const auto& [place, arguments] : places) {
      SCOPED_TRACE(std::string(file.name) + " as " + place);
      const auto run = RunProgram(arguments);
      EXPECT_EQ(run.status, 2) << run.err.toStdString();
      EXPECT_TRUE(run.err.startsWith("pathwick_run: ")) << run.err.toStdString();
      EXPECT_TRUE(run.err.contains(QStringLiteral("refused to read %1: %2").arg(file.path, file.refusal)))
          << run.err.toStdString();
      EXPECT_EQ(run.err.count('\n'), 1);
      EXPECT_FALSE(QDir(tmp.filePath("b")).exists());
    }
  }
}

// A continuation never writes over the checkpoint or the record it reads,
// through a link neither, and never sets out on steps the step counter
// cannot count: each is refused in one line with status 2, every file as it
// was. Within the limit the same world runs to the counter's last step.
TEST(CheckpointFile, AContinuationThatWouldDestroyItsParentOrPassTheStepLimitIsRefused) {
  QTemporaryDir tmp;
  const QString run = tmp.filePath("a");
  ASSERT_EQ(ParentRun(run), 0);
  ASSERT_TRUE(QFile::link(run, tmp.filePath("link")));
  constexpr int32_t kLeft = 53;
  {
    agents_test::MessageCollector messages;
    auto form = std::make_unique<TForm1>();
    SetUpWorld(*form, agents_test::Changed(ReadSettings(*form), {{"cell-size", 10}, {"agents", 20}}));
    stepCount = std::numeric_limits<int32_t>::max() - kLeft;
    const QByteArray late = EncodeCheckpoint(*form, {1, 0, 0, 0});
    stepCount = 0;
    ASSERT_TRUE(runner_test::WriteFile(tmp.filePath("late.pwk"), late));
  }
  const auto files = [&] {
    QStringList listed;
    for (const QString& name : QDir(run).entryList(QDir::Files | QDir::Hidden, QDir::Name))
      listed << name + ":" + QString::fromLatin1(runner_test::ReadFile(run + "/" + name).toHex().left(64));
    return listed << QString::fromLatin1(runner_test::ReadFile(tmp.filePath("late.pwk")).toHex().right(64));
  };
  const QStringList before = files();
  const std::pair<QStringList, const char*> table[] = {
      {{"--from", "RUN/checkpoint.pwk", "--steps", "100", "--force", "--out", "RUN"},
       "--out RUN is the folder that --from reads"},
      {{"--from", "RUN/checkpoint.pwk", "--steps", "100", "--force", "--out", "TMP/link"}, "that --from reads"},
      {{"--from", "TMP/link/checkpoint.pwk", "--seed", "9", "--force", "--out", "RUN"}, "that --from reads"},
      {{"--config", "RUN/run.json", "--force", "--out", "RUN"}, "that --config reads"},
      {{"--config", "RUN/run.json", "--seed", "9", "--force", "--out", "TMP/link"}, "that --config reads"},
      {{"--from", "TMP/late.pwk", "--steps", "100", "--out", "TMP/b"},
       "--from: the checkpoint is at step 2147483594, and 100 steps more would pass the step counter's limit of "
       "2147483647; give --steps 53 or fewer"},
  };
  for (const auto& [given, says] : table) {
    QStringList arguments = given;
    arguments.replaceInStrings(QStringLiteral("RUN"), run).replaceInStrings(QStringLiteral("TMP"), tmp.path());
    SCOPED_TRACE(arguments.join(' ').toStdString());
    const auto refused = RunProgram(arguments);
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(refused.err.contains(QString::fromUtf8(says).replace(QStringLiteral("RUN"), run)))
        << refused.err.toStdString();
    EXPECT_EQ(refused.err.count('\n'), 1);
    EXPECT_EQ(files(), before);
    EXPECT_FALSE(QFileInfo::exists(tmp.filePath("b")));
  }
  const auto last =
      RunProgram({"--from", tmp.filePath("late.pwk"), "--steps", QString::number(kLeft), "--out", tmp.filePath("b")});
  ASSERT_EQ(last.status, 0) << last.err.toStdString();
  const QByteArray record = runner_test::ReadFile(tmp.filePath("b/run.json"));
  EXPECT_TRUE(record.contains("\"ended\": \"completed\"")) << record.toStdString();
  EXPECT_TRUE(record.contains("\"steps_done\": 53")) << record.toStdString();
}

}  // namespace
