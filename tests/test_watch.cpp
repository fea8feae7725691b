// Watching and tracing a run: the agent table agrees with the series, every
// birth row is the crossover and mutation of its parents, the lineage changes
// no result and joins on across a continued run, every kept checkpoint
// continues exactly, the video holds the run's pictures, and a table that
// cannot be written fails the run when it is opened or closed.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cmath>
#include <csignal>
#include <map>
#include <random>
#include <string>

#include "Pictures.h"
#include "Watch.h"
#include "agents_support.h"

namespace {

using runner_test::RunProgram;
const auto Read = runner_test::ReadFile;

QByteArray ReadGzip(const QString& path) {
  QByteArray text;
  gzFile file = gzopen(QFile::encodeName(path).constData(), "rb");
  if (file == nullptr) return text;
  char block[1 << 16];
  for (int n; (n = gzread(file, block, sizeof block)) > 0;) text.append(block, n);
  gzclose(file);
  return text;
}

using TRow = runner_test::TCsvRow;
using runner_test::CsvRows;

// The rows of a file from `step` on, without its header.
QByteArray RowsFrom(const QByteArray& text, int step) {
  QByteArray rows;
  for (const QByteArray& line : text.split('\n').mid(1)) {
    if (!line.isEmpty() && line.left(line.indexOf(',')).toInt() >= step) rows += line + '\n';
  }
  return rows;
}

// Few agents, costly moves and frequent mutation: many births in few steps.
const QStringList kWorld{"--seed", "5", "--agents", "60", "--mark-strength", "100", "--mutation-rate", "0.3"};
constexpr int kSteps = 2400;

TEST(Watch, AgentTableAndLineageAgreeWithTheSeriesAndChangeNoResult) {
  QTemporaryDir tmp;
  const QStringList steps{"--steps", QString::number(kSteps)};
  ASSERT_EQ(
      RunProgram(kWorld + steps + QStringList{"--agents-every", "100", "--births", "--out", tmp.filePath("a")}).status,
      0);
  ASSERT_EQ(RunProgram(kWorld + steps + QStringList{"--out", tmp.filePath("plain")}).status, 0);
  const QByteArray series = Read(tmp.filePath("a/series.csv"));
  EXPECT_EQ(series, Read(tmp.filePath("plain/series.csv"))) << "recording changes no result";
  // The record repeats the tables.
  ASSERT_EQ(RunProgram({"--config", tmp.filePath("a/run.json"), "--out", tmp.filePath("again")}).status, 0);
  for (const char* name : {"/agents.csv.gz", "/births.csv.gz"}) {
    EXPECT_EQ(Read(tmp.filePath("again") + name), Read(tmp.filePath("a") + name)) << name;
  }

  QStringList header;
  const std::vector<TRow> agents = CsvRows(ReadGzip(tmp.filePath("a/agents.csv.gz")), &header);
  EXPECT_EQ(header.join(','),
            "step,agent,colony,cell_x,cell_y,heading,searching,energy,trips,angle_gene,wiggle_gene,chroma");
  const std::vector<TRow> births = CsvRows(ReadGzip(tmp.filePath("a/births.csv.gz")), &header);
  EXPECT_EQ(header.join(','),
            "step,agent,colony,parent_first,parent_second,cut,mutated_position,angle_gene,wiggle_gene,chroma");

  // The lineage, replayed from the founders (the table at step 0), gives
  // every child's chroma and genes, and the table's chromas at each sample.
  std::map<int, QString> chroma;
  std::map<int, long> birthsBefore;  // births at steps before each sample step
  size_t next = 0;
  int mutated = 0;
  for (const TRow& sample : CsvRows(series)) {
    const int step = sample.at("step").toInt();
    for (; next < births.size() && births[next].at("step").toInt() < step; ++next) {
      const TRow& b = births[next];
      const QString first = chroma.at(b.at("parent_first").toInt());
      const QString second = chroma.at(b.at("parent_second").toInt());
      const int cut = b.at("cut").toInt();
      QString child = first.left(cut) + second.mid(cut);
      // The genes come from the crossover; the mutation flips the chroma only.
      EXPECT_EQ(b.at("angle_gene").toInt(), child.left(8).toInt(nullptr, 2)) << "birth row " << next;
      EXPECT_EQ(b.at("wiggle_gene").toInt(), child.mid(8).toInt(nullptr, 2)) << "birth row " << next;
      if (!b.at("mutated_position").isEmpty()) {
        const int at = b.at("mutated_position").toInt();
        child[at] = child[at] == '0' ? '1' : '0';
        ++mutated;
      }
      EXPECT_EQ(b.at("chroma"), child) << "birth row " << next;
      EXPECT_EQ(b.at("colony").toInt(), b.at("agent").toInt() % 10);
      chroma[b.at("agent").toInt()] = b.at("chroma");
    }
    birthsBefore[step] = static_cast<long>(next);
    double angleSum = 0;
    double wiggleSum = 0;
    int count = 0;
    for (const TRow& a : agents) {
      if (a.at("step").toInt() != step) continue;
      if (step == 0) chroma[a.at("agent").toInt()] = a.at("chroma");
      EXPECT_EQ(a.at("chroma"), chroma[a.at("agent").toInt()])
          << "step " << step << " agent " << a.at("agent").toStdString();
      angleSum += a.at("angle_gene").toInt();
      wiggleSum += a.at("wiggle_gene").toInt();
      ++count;
    }
    ASSERT_EQ(count, 60) << "step " << step;
    EXPECT_EQ(QString::number(angleSum / count, 'f', 4), sample.at("mean_angle")) << "step " << step;
    EXPECT_EQ(QString::number(wiggleSum / count, 'f', 4), sample.at("mean_wiggle")) << "step " << step;
    EXPECT_EQ(birthsBefore[step], sample.at("births_total").toLong()) << "step " << step;
  }
  EXPECT_GT(next, 100U) << "the world must give births to check";
  EXPECT_GT(mutated, 10);
  EXPECT_LT(mutated, static_cast<int>(next));
}

// The field table at a sample is the world after the sample's step and the
// evaporation that opens the next, the step before the agents move: a kept
// checkpoint of that step, evaporated once, holds the same cells. Its mean
// and its share at the floor are the series' columns at that step, and
// recording it changes no other file and no other key of the record.
TEST(Watch, FieldTableIsTheCheckpointsWorldAtItsSampleAgreesWithTheSeriesAndChangesNoOtherFile) {
  QTemporaryDir tmp;
  // At the evaporation rate 0.2 (amount 2) the background settles at 4, the
  // floor itself.
  const QStringList run =
      kWorld +
      QStringList{"--steps", "1000", "--evaporation-rate", "0.2", "--checkpoint-every", "500", "--keep-checkpoints"};
  ASSERT_EQ(RunProgram(run + QStringList{"--field-every", "500", "--out", tmp.filePath("f")}).status, 0);
  ASSERT_EQ(RunProgram(run + QStringList{"--out", tmp.filePath("plain")}).status, 0);

  QJsonObject withField = runner_test::Record(tmp.filePath("f"));
  QJsonObject plain = runner_test::Record(tmp.filePath("plain"));
  EXPECT_EQ(withField["outputs"].toObject()["field_every"].toInt(), 500);
  EXPECT_FALSE(plain["outputs"].toObject().contains("field_every")) << "a run without it records no key";
  QJsonArray files = withField["files"].toArray();
  for (qsizetype i = 0; i < files.size(); ++i) {
    if (files[i].toObject()["path"] == kFieldTableName) files.removeAt(i--);
  }
  EXPECT_EQ(files.size() + 1, withField["files"].toArray().size());
  EXPECT_EQ(files, plain["files"].toArray()) << "every other file is byte-identical";
  for (QJsonObject* record : {&withField, &plain}) {
    QJsonObject outputs = (*record)["outputs"].toObject();
    outputs.remove("field_every");
    record->insert("outputs", outputs);
    record->remove("files");
    record->remove("wall_time_seconds");
  }
  EXPECT_EQ(withField, plain);

  QStringList header;
  const std::vector<TRow> field = CsvRows(ReadGzip(tmp.filePath("f/field.csv.gz")), &header);
  EXPECT_EQ(header.join(','), "step,column,row,chemical,home,target");
  TResult<TCheckpointFile> kept = ReadCheckpoint(tmp.filePath("f/checkpoints/step-0000500.pwk"));
  ASSERT_TRUE(kept.Ok()) << kept.Error().message.toStdString();
  const TCheckpoint& world = kept->checkpoint;
  const size_t cells = world.cells.size();
  ASSERT_EQ(field.size(), 2 * cells) << "the samples of steps 0 and 500";
  constexpr int kAmount = 2;                              // the evaporation rate 0.2
  std::map<int, std::pair<long, long>> chemicalAndFloor;  // by step
  int targets = 0;
  for (size_t i = 0; i < field.size(); ++i) {
    const TRow& f = field[i];
    const int step = f.at("step").toInt();
    const int chemical = f.at("chemical").toInt();
    chemicalAndFloor[step].first += chemical;
    chemicalAndFloor[step].second += chemical <= kAmount + 2 ? 1 : 0;
    ASSERT_EQ(step, i < cells ? 0 : 500) << "row " << i;
    const size_t at = i % cells;  // row after row, each row by column
    ASSERT_EQ(f.at("column").toInt(), static_cast<int>(at % world.cols)) << "row " << i;
    ASSERT_EQ(f.at("row").toInt(), static_cast<int>(at / world.cols)) << "row " << i;
    const TCell& cell = world.cells[at];
    EXPECT_EQ(f.at("home").toInt(), cell.isHome ? 1 : 0) << "row " << i;
    EXPECT_EQ(f.at("target").toInt(), cell.isTarget ? 1 : 0) << "row " << i;
    if (step != 500) continue;
    const int32_t saved = world.chemical[at];
    EXPECT_EQ(chemical, saved > kAmount + 2 ? saved - kAmount : saved) << "row " << i;
    targets += cell.isTarget ? 1 : 0;
  }
  EXPECT_EQ(targets, 25);
  int compared = 0;
  for (const TRow& sample : CsvRows(Read(tmp.filePath("f/series.csv")))) {
    const auto it = chemicalAndFloor.find(sample.at("step").toInt());
    if (it == chemicalAndFloor.end()) continue;
    const double n = static_cast<double>(cells);
    EXPECT_EQ(QString::number(it->second.first / n, 'f', 4), sample.at("mean_chemical")) << it->first;
    EXPECT_EQ(QString::number(it->second.second / n, 'f', 4), sample.at("floor_share")) << it->first;
    ++compared;
  }
  EXPECT_EQ(compared, 2);
  EXPECT_LT(chemicalAndFloor[500].second, static_cast<long>(cells)) << "trails lie above the floor";
  EXPECT_GT(chemicalAndFloor[500].second, static_cast<long>(cells) / 2) << "the background is at the floor";

  // The record repeats the table, and --verify holds the folder to it.
  ASSERT_EQ(RunProgram({"--config", tmp.filePath("f/run.json"), "--out", tmp.filePath("again")}).status, 0);
  EXPECT_EQ(Read(tmp.filePath("again/field.csv.gz")), Read(tmp.filePath("f/field.csv.gz")));
  EXPECT_EQ(RunProgram({"--verify", tmp.filePath("f"), "--quiet"}).status, 0);
  // Under diffusion evaporation does not run: there is no floor to be at.
  const runner_test::Finished diffused = RunProgram({"--seed", "5", "--steps", "100", "--diffuse", "on"});
  ASSERT_EQ(diffused.status, 0);
  const std::vector<TRow> rows = CsvRows(diffused.out.toUtf8());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("floor_share"), "");
  EXPECT_FALSE(rows[0].at("mean_chemical").isEmpty());
}

// Bytes that do not compress, from a fixed seed.
std::string Noise(size_t size) {
  std::mt19937 random(11);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

TEST(Watch, ATableThatCannotBeMadeFailsTheOpenAndOneTheDiskRefusesFailsItsWriteOrClose) {
  QTemporaryDir tmp;
  TRunFolder folder;
  ASSERT_TRUE(folder.Open(tmp.filePath("r"), false).Ok());
  TRunSpec spec;
  spec.agentsEvery = 100;
  spec.births = true;
  for (const char* table : {kAgentTableName, kLineageName}) {
    SCOPED_TRACE(table);
    const QString path = folder.Path(QLatin1String(table));
    ASSERT_TRUE(QDir().mkpath(path)) << "a folder in its place: it is refused, not replaced";
    TWatch watch(spec, folder);
    const TStatus opened = watch.Open();
    ASSERT_FALSE(opened.Ok());
    EXPECT_EQ(opened.Error().status, kExitRefused);
    EXPECT_EQ(opened.Error().message,
              "refused to write " + path + ": it is a folder, which is never followed or replaced");
    ASSERT_TRUE(QDir(path).removeRecursively());
  }

  // A disk that takes no byte (a file size limit of 0): one byte stays in
  // the compressor's buffer until the close; megabytes of noise reach the
  // disk while they are written. Neither table is put in place.
  for (const size_t size : {size_t{1}, size_t{8} << 20}) {
    SCOPED_TRACE(size);
    const QString path = tmp.filePath(QStringLiteral("full-%1.csv.gz").arg(size));
    TResult<TGzipFile> full = TGzipFile::Open(path);
    ASSERT_TRUE(full.Ok());
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit none = before;
    none.rlim_cur = 0;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &none), 0);
    const bool written = full->Write(Noise(size)).Ok();
    const TStatus closed = full->Close();
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(written, size == 1);
    ASSERT_FALSE(closed.Ok());
    // The message names the table and the system's reason.
    EXPECT_EQ(closed.Error().message, "cannot write " + path + ": File too large");
    EXPECT_FALSE(QFileInfo::exists(path));
  }
}

TEST(Watch, EveryKeptCheckpointContinuesExactlyWithItsLineage) {
  QTemporaryDir tmp;
  const QStringList outputs{"--agents-every", "100", "--births"};
  ASSERT_EQ(
      RunProgram(kWorld + outputs + QStringList{"--steps", QString::number(kSteps), "--out", tmp.filePath("a")}).status,
      0);
  // Checkpoints off the sample steps, so an interval spans each of them.
  ASSERT_EQ(RunProgram(kWorld + outputs +
                       QStringList{"--steps", "1650", "--checkpoint-every", "550", "--keep-checkpoints", "--out",
                                   tmp.filePath("k")})
                .status,
            0);
  const QJsonArray kept = runner_test::Record(tmp.filePath("k"))["checkpoints"].toArray();
  ASSERT_EQ(kept.size(), 3);
  EXPECT_FALSE(QFile::exists(tmp.filePath("k/checkpoint.pwk")));
  for (int i = 0; i < kept.size(); ++i) {
    const int step = kept[i]["step"].toInt();
    SCOPED_TRACE(step);
    EXPECT_EQ(step, 550 * (i + 1));
    const QString file = kept[i]["file"].toString();
    EXPECT_EQ(file, QStringLiteral("checkpoints/step-%1.pwk").arg(step, 7, 10, QLatin1Char('0')));
    const QString out = tmp.filePath(QStringLiteral("c%1").arg(step));
    ASSERT_EQ(RunProgram(outputs + QStringList{"--from", tmp.filePath("k/" + file), "--steps",
                                               QString::number(kSteps - step), "--out", out})
                  .status,
              0);
    for (const char* name : {"series.csv", "agents.csv.gz", "births.csv.gz"}) {
      const auto text = [&](const QString& dir) {
        const QString path = dir + "/" + name;
        return path.endsWith(".gz") ? ReadGzip(path) : Read(path);
      };
      const QByteArray continued = text(out);
      const QByteArray whole = text(tmp.filePath("a"));
      EXPECT_EQ(continued.left(continued.indexOf('\n')), whole.left(whole.indexOf('\n'))) << name;
      EXPECT_EQ(RowsFrom(continued, 0), RowsFrom(whole, step)) << name;
    }
  }
}

TEST(Watch, PicturesAreMagnifiedWholeCellsWithALabelBelowTheGrid) {
  QImage grid(161, 3, QImage::Format_RGB32);
  for (int y = 0; y < grid.height(); ++y)
    for (int x = 0; x < grid.width(); ++x) grid.setPixel(x, y, qRgb(x, 80 * y, 7));
  const QImage one = LabelledPicture(grid, 1234, 99, 1);
  const QImage three = LabelledPicture(grid, 1234, 99, 3);
  // Even sides, the strip below the grid.
  EXPECT_EQ(one.width() % 2, 0);
  EXPECT_EQ(one.height() % 2, 0);
  EXPECT_GT(one.height(), grid.height());
  EXPECT_EQ(three.size(), one.size() * 3);
  for (int y = 0; y < three.height(); ++y) {
    for (int x = 0; x < three.width(); ++x) {
      ASSERT_EQ(three.pixel(x, y), one.pixel(x / 3, y / 3)) << x << "," << y;
    }
  }
  for (int y = 0; y < grid.height(); ++y)
    for (int x = 0; x < grid.width(); ++x) ASSERT_EQ(one.pixel(x, y), grid.pixel(x, y));
  EXPECT_NE(LabelledPicture(grid, 1235, 99, 1), one) << "the label shows the step";
  EXPECT_NE(LabelledPicture(grid, 1234, 98, 1), one) << "the label shows the seed";
}

// Peak signal-to-noise ratio of two pictures of one size, in dB.
double Psnr(const QImage& a, const QImage& b) {
  double squares = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y);
      const QRgb q = b.pixel(x, y);
      for (int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)}) squares += d * d;
    }
  }
  const double mean = squares / (3.0 * a.width() * a.height());
  return 10 * std::log10(255.0 * 255.0 / std::max(mean, 1e-9));
}

// The standard output of `program` run on `arguments`; `status` receives its exit code.
QByteArray Output(const QString& program, const QStringList& arguments, int* status = nullptr) {
  QProcess process;
  process.start(program, arguments);
  process.waitForFinished(60000);
  if (status != nullptr) *status = process.exitCode();
  return process.readAllStandardOutput();
}

// The frames of a video decoded to raw RGB by ffmpeg.
QByteArray DecodedFrames(const QString& path) {
  return Output("ffmpeg", {"-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "pipe:1"});
}

TEST(Watch, VideoHoldsTheRunsPicturesAndRepeatsForTheSameSeed) {
  if (QStandardPaths::findExecutable("ffmpeg").isEmpty()) GTEST_SKIP() << "no ffmpeg on the PATH";
  QTemporaryDir tmp;
  const QStringList run{"--seed",        "3",  "--agents",         "50", "--steps",         "60",
                        "--video-every", "20", "--snapshot-every", "20", "--picture-scale", "2"};
  for (const QString video : {"v.mp4", "v.webm"}) {
    SCOPED_TRACE(video.toStdString());
    const QString a = tmp.filePath(video + "-a/");
    const QString b = tmp.filePath(video + "-b/");
    for (const QString& out : {a, b})
      ASSERT_EQ(RunProgram(run + QStringList{"--video", video, "--out", out}).status, 0);
    const QImage snapshot(a + "snapshots/step-0000060.png");
    ASSERT_FALSE(snapshot.isNull());
    EXPECT_EQ(
        QString::fromUtf8(Output("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                                             "stream=nb_read_frames,width,height", "-of", "csv=p=0", a + video}))
            .trimmed(),
        QStringLiteral("%1,%2,3").arg(snapshot.width()).arg(snapshot.height()));
    // The last frame is the snapshot of step 60, up to the encoder's loss;
    // the first (step 20) is further from it.
    const QByteArray frames = DecodedFrames(a + video);
    const qsizetype frameBytes = 3LL * snapshot.width() * snapshot.height();
    ASSERT_EQ(frames.size(), 3 * frameBytes);
    const auto frame = [&](int i) {
      return QImage(reinterpret_cast<const uchar*>(frames.constData() + i * frameBytes), snapshot.width(),
                    snapshot.height(), 3 * snapshot.width(), QImage::Format_RGB888)
          .copy();
    };
    const double near = Psnr(frame(2), snapshot);
    EXPECT_GT(near, 38.0);
    EXPECT_GT(near, Psnr(frame(0), snapshot) + 10.0);
    EXPECT_EQ(frames, DecodedFrames(b + video)) << "the same seed gives the same frames";
    EXPECT_EQ(runner_test::Record(a)["video_frames"].toInt(), 3);
  }
}

// Counts the frames of a video with ffprobe; -1 when it cannot be read.
int ProbedFrames(const QString& video) {
  int status = -1;
  const QByteArray out = Output("ffprobe",
                                {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                                 "stream=nb_read_frames", "-of", "csv=p=0", video},
                                &status);
  bool ok = false;
  const int frames = QString::fromUtf8(out).trimmed().toInt(&ok);
  return ok && status == 0 ? frames : -1;
}

TEST(Watch, AnInterruptedRunEndsItsVideoWithEveryFrameItTook) {
  if (QStandardPaths::findExecutable("ffmpeg").isEmpty()) GTEST_SKIP() << "no ffmpeg on the PATH";
  QTemporaryDir tmp;
  const runner_test::Finished interrupted = runner_test::RunInterrupted(
      {"--seed", "8", "--agents", "50", "--video", "v.mp4", "--out", tmp.filePath("r")}, tmp.path(), 500);
  EXPECT_EQ(interrupted.status, 0) << interrupted.err.toStdString();
  const QJsonObject record = runner_test::Record(tmp.filePath("r"));
  EXPECT_EQ(record["ended"].toString(), "interrupted");
  const int frames = record["video_frames"].toInt();
  EXPECT_EQ(frames, record["steps_done"].toInt() / 10);
  EXPECT_GT(frames, 0);
  EXPECT_EQ(ProbedFrames(tmp.filePath("r/v.mp4")), frames);
}

// An ffmpeg that exits 0 but makes no video, a row each: one that takes no
// frame, and one that takes them all and writes nothing. The run fails with
// one line (status 1) and leaves no run folder, so a sweep counts it failed.
TEST(Watch, AnEncoderThatEndsWellButWritesNoVideoFailsTheRun) {
  const struct {
    const char* script;
    const char* said;
  } table[] = {
      {"#!/bin/sh\nexit 0\n", "ffmpeg stopped taking the frames of v.mp4"},
      {"#!/bin/sh\ncat >/dev/null\nexit 0\n", "ffmpeg ended without error but wrote nothing to v.mp4"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.script);
    QTemporaryDir tmp;
    ASSERT_TRUE(QDir(tmp.path()).mkdir("bin"));
    QFile fake(tmp.filePath("bin/ffmpeg"));
    ASSERT_TRUE(fake.open(QIODevice::WriteOnly));
    fake.write(row.script);
    fake.close();
    fake.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", tmp.filePath("bin") + ":" + environment.value("PATH"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(PATHWICK_RUN), {"--steps", "40", "--agents", "20", "--video-every", "10", "--video",
                                                 "v.mp4", "--quiet", "--out", tmp.filePath("r")});
    ASSERT_TRUE(process.waitForFinished(60000));
    const QByteArray err = process.readAllStandardError();
    EXPECT_EQ(process.exitCode(), 1) << err.toStdString();
    EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(row.said)) << err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(tmp.filePath("r"))) << "no run folder, with or without its video";
  }
}

TEST(Watch, VideoWithoutFfmpegIsRefusedBeforeTheRun) {
  QTemporaryDir tmp;
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("PATH", tmp.filePath("empty"));
  process.setProcessEnvironment(environment);
  process.start(QStringLiteral(PATHWICK_RUN), {"--steps", "20", "--video", "v.mp4", "--out", tmp.filePath("r")});
  ASSERT_TRUE(process.waitForFinished(60000));
  EXPECT_EQ(process.exitCode(), 2);
  EXPECT_TRUE(process.readAllStandardError().contains("ffmpeg"));
  EXPECT_TRUE(QDir(tmp.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

}  // namespace
