// pathwick._pathwick: one world of the window class in a Python process,
// set up, stepped, steered and read through the runner's own code: its
// command line for the settings and the seed, its plan, its run under way
// for the steps and samples, its checkpoint writer, its tables' columns.
// Beside the world, the runner's sweeps: the runs of a sweep's folder, the
// points of a --grid design and the analysis --summarize writes. The Python
// package (pathwick/__init__.py) turns what this hands out into arrays and
// tables.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AgentTable.h"
#include "Batch.h"
#include "CellForm.h"
#include "Checkpoint.h"
#include "Experiment.h"
#include "Explore.h"
#include "Figures.h"
#include "Grid.h"
#include "Lineage.h"
#include "Options.h"
#include "Panel.h"
#include "Plan.h"
#include "QtNotes.h"
#include "RasterLayer.h"
#include "Run.h"
#include "RunData.h"
#include "Series.h"
#include "Summary.h"
#include "SweepFolder.h"

namespace py = pybind11;

namespace {

// Steps between two looks for a signal (Ctrl-C) while stepping.
constexpr int32_t kSignalCheckEvery = 64;

// A refusal of bad input is a ValueError; anything that could not be done
// is a RuntimeError. The message is the runner's one line.
[[noreturn]] void Raise(const TError& error) {
  const std::string message = error.message.toStdString();
  if (error.status == kExitRefused) throw py::value_error(message);
  throw std::runtime_error(message);
}

template <class T>
T Take(TResult<T> result) {
  if (!result) Raise(result.Error());
  return std::move(*result);
}

// The toolkit's application: made once, on the offscreen platform unless
// another is asked for, with the generator in the state a program starts in.
void EnsureApplication() {
  if (QCoreApplication::instance() != nullptr) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
      throw std::runtime_error("another Qt application that is not a QApplication is running in this process");
    }
    return;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  DropQtNotes("pathwick");
  SetGeneratorStartState();
  static int argc = 1;
  static char name[] = "pathwick";
  static char* argv[] = {name, nullptr};
  static auto* app = new QApplication(argc, argv);  // lives as long as the process
  QApplication::setApplicationName(QStringLiteral("Pathwick"));
  (void)app;
}

// A birth as births.csv.gz holds it.
struct TBirthRow {
  TBirthNumbers numbers;
  std::string chroma;
};

class TWorld;
TWorld* openWorld = nullptr;  // one world at a time, as there is one window

// The settings of a new window, which fill what a run's record lacks: read
// from the first window this process makes, before anything changes them.
std::optional<TSettingValues> windowDefaults;

const TSettingValues& WindowDefaults() {
  if (!windowDefaults) {
    EnsureApplication();
    if (openWorld != nullptr) throw std::runtime_error("the window's defaults cannot be read while a world is open");
    windowDefaults = ReadSettings(*NewRunWindow());
  }
  return *windowDefaults;
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

class TWorld {
 public:
  // `arguments`: pathwick_run's options for the settings, --seed and --from.
  explicit TWorld(const std::vector<std::string>& arguments) {
    EnsureApplication();
    if (openWorld != nullptr) {
      throw std::runtime_error(
          "a world is open already, and there is one world per process: close() it (or leave its with block) "
          "first");
    }
    QStringList options;
    for (const std::string& argument : arguments) options << QString::fromStdString(argument);
    const TCommand command = Take(ParseCommandLine(options));
    if (command.kind != TCommandKind::kRun) throw py::value_error("only the settings, seed and from are accepted");
    form_ = std::make_unique<TForm1>();
    form_->Timer1->stop();
    if (!windowDefaults) windowDefaults = ReadSettings(*form_);
    TResult<TRunPlan> plan = ResolvePlan(command.run, ReadSettings(*form_), TPlanTarget::kStandardOutput);
    if (!plan) {
      form_.reset();
      Raise(plan.Error());
    }
    plan_ = std::move(*plan);
    if (plan_.seedFromClock) plan_.seed = SeedFromClock();
    plan_.births = true;
    observer_.sample = [this](const TSample& s) {
      series_ += SeriesRow(s, plan_.seriesColumns).toStdString();
      return Success();
    };
    observer_.birth = [this](int32_t step, const TBirth& b, const TForm1& form) {
      births_.push_back({BirthNumbers(step, b, form), std::string(form.agents[b.child].chroma.text())});
    };
    run_ = std::make_unique<TRunUnderWay>(*form_, plan_, observer_);
    if (TStatus prepared = run_->Prepare(std::move(plan_.from)); !prepared) {
      run_.reset();
      form_.reset();
      Raise(prepared.Error());
    }
    firstStep_ = stepCount;
    openWorld = this;
  }
  ~TWorld() { Close(); }
  TWorld(const TWorld&) = delete;
  TWorld& operator=(const TWorld&) = delete;

  void Close() {
    run_.reset();
    form_.reset();
    if (openWorld == this) openWorld = nullptr;
  }
  bool Closed() const { return form_ == nullptr; }

  // Steps `n` times; stops between steps at a signal whose handler raises.
  void Step(int64_t n) {
    Open();
    if (n < 0) throw py::value_error("step takes a number of steps of 0 or more");
    for (int64_t i = 0; i < n; ++i) {
      if (i % kSignalCheckEvery == 0 && PyErr_CheckSignals() != 0) throw py::error_already_set();
      if (stepCount == INT32_MAX) throw std::runtime_error("the step count is at its limit");
      if (TStatus stepped = run_->Step(INT32_MAX); !stepped) Raise(stepped.Error());
    }
  }

  int32_t StepCount() const {
    Open();
    return stepCount;
  }
  int32_t FirstStep() const {
    Open();
    return firstStep_;
  }
  uint32_t Seed() const {
    Open();
    return plan_.seed;
  }

  // Every setting as the command line writes it, under its run.json key.
  py::dict Settings() const {
    Open();
    py::dict settings;
    const TSettingValues values = ReadSettings(*form_);
    const auto specs = SettingSpecs();
    for (size_t i = 0; i < specs.size(); ++i) {
      settings[specs[i].key] = FormatSettingValue(specs[i], values[i]).toStdString();
    }
    return settings;
  }

  // Changes rates between steps, as a branch from a checkpoint would: all
  // are checked before any is changed; a setting fixed at setup is refused.
  void Set(const std::vector<std::pair<std::string, std::string>>& changes) {
    Open();
    TSettingTexts texts;
    for (const auto& [name, text] : changes) texts.emplace_back(Text(name), Text(text));
    const TSettingValues values = Take(ChangedBetweenSteps(ReadSettings(*form_), texts));
    ApplySettings(*form_, values);
    plan_.settings = values;
  }

  // The mouse on the panel: pressed at the first point, dragged through
  // the rest, released. The left button paints chemical, the right wipes it.
  void Drag(bool left, const std::vector<std::pair<int32_t, int32_t>>& points) {
    Open();
    if (points.empty()) return;
    const TMouseButton button = left ? TMouseButton::mbLeft : TMouseButton::mbRight;
    form_->ZeichenPanelMouseDown(button, points.front().first, points.front().second);
    for (const auto& [x, y] : points) form_->ZeichenPanelMouseMove(x, y);
    form_->ZeichenPanelMouseUp(button, points.back().first, points.back().second);
  }

  // The same drag through cells named by column and row: each at the panel
  // pixel of its top left corner, which the mouse's rounding takes to that
  // very cell. Refuses a cell off the grid, before any is painted.
  void DragCells(bool left, const std::vector<std::pair<int32_t, int32_t>>& cells) {
    Open();
    std::vector<std::pair<int32_t, int32_t>> points;
    for (const auto& [column, row] : cells) {
      if (column < 0 || row < 0 || column >= gridCols || row >= gridRows) {
        throw py::value_error("cell (" + std::to_string(column) + ", " + std::to_string(row) + ") is off the grid of " +
                              std::to_string(gridCols) + " columns and " + std::to_string(gridRows) + " rows");
      }
      points.emplace_back(column * cellSize, row * cellSize);
    }
    Drag(left, points);
  }

  // The cells: chemical, home and target, each rows x columns.
  py::tuple Field() const {
    Open();
    const Grid2D<TCell>& cells = form_->cells;
    const py::ssize_t rows = cells.Rows();
    const py::ssize_t cols = cells.Cols();
    py::array_t<int32_t> chemical({rows, cols});
    py::array_t<bool> home({rows, cols});
    py::array_t<bool> target({rows, cols});
    int32_t* c = chemical.mutable_data();
    bool* h = home.mutable_data();
    bool* t = target.mutable_data();
    const int32_t* amount = form_->chemical.begin();
    for (const TCell& cell : cells) {  // row after row, as numpy lays them out
      *c++ = *amount++;
      *h++ = cell.isHome;
      *t++ = cell.isTarget;
    }
    return py::make_tuple(chemical, home, target);
  }

  // Every agent, in the columns of agents.csv.gz after `step`, as 64-bit
  // integers as a table read back from the file has them.
  py::dict Agents() const {
    Open();
    const std::vector<TAgent>& agents = form_->agents;
    const auto n = static_cast<py::ssize_t>(agents.size());
    std::vector<py::array_t<int64_t>> arrays;
    for (size_t k = 0; k < kAgentNumberColumns.size(); ++k) arrays.emplace_back(n);
    py::list chroma;
    for (py::ssize_t i = 0; i < n; ++i) {
      const TAgent& a = agents[static_cast<size_t>(i)];
      const TAgentNumbers numbers = AgentNumbers(static_cast<int32_t>(i), a);
      for (size_t k = 0; k < numbers.size(); ++k) arrays[k].mutable_data()[i] = numbers[k];
      chroma.append(py::str(std::string(a.chroma.text())));
    }
    py::dict table;
    for (size_t k = 0; k < arrays.size(); ++k) table[py::str(std::string(kAgentNumberColumns[k]))] = arrays[k];
    table["chroma"] = chroma;
    return table;
  }

  // The births since the world was made or loaded, in the columns of
  // births.csv.gz, as a table read back from the file has them: 64-bit
  // integers, and mutated_position as reals, NaN where nothing flipped.
  py::dict Births() const {
    Open();
    const auto n = static_cast<py::ssize_t>(births_.size());
    py::dict table;
    for (size_t k = 0; k < kBirthNumberColumns.size(); ++k) {
      const py::str name{std::string(kBirthNumberColumns[k])};
      if (k == kMutatedColumn) {
        py::array_t<double> column(n);
        for (py::ssize_t i = 0; i < n; ++i) {
          const int32_t mutated = births_[static_cast<size_t>(i)].numbers[k];
          column.mutable_data()[i] =
              mutated == TForm1::kNoMutation ? std::numeric_limits<double>::quiet_NaN() : mutated;
        }
        table[name] = column;
      } else {
        py::array_t<int64_t> column(n);
        for (py::ssize_t i = 0; i < n; ++i) column.mutable_data()[i] = births_[static_cast<size_t>(i)].numbers[k];
        table[name] = column;
      }
    }
    py::list chroma;
    for (const TBirthRow& b : births_) chroma.append(py::str(b.chroma));
    table["chroma"] = chroma;
    return table;
  }

  // The samples so far as series.csv holds them, header first.
  std::string SeriesCsv() const {
    Open();
    return SeriesHeader(plan_.seriesColumns).toStdString() + series_;
  }

  // The grid as the window shows it, as an H x W x 3 array.
  py::array_t<uint8_t> Picture(int32_t scale) {
    const QImage image = GridImage(scale);
    const py::ssize_t h = image.height();
    const py::ssize_t w = image.width();
    py::array_t<uint8_t> pixels({h, w, py::ssize_t{3}});
    for (py::ssize_t y = 0; y < h; ++y) {
      std::memcpy(pixels.mutable_data(y), image.constScanLine(static_cast<int>(y)), static_cast<size_t>(w) * 3);
    }
    return pixels;
  }

  // The same picture as the bytes of a PNG file.
  py::bytes Png(int32_t scale) {
    const QImage image = GridImage(scale);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) throw std::runtime_error("the picture could not be encoded as PNG");
    return {bytes.constData(), static_cast<size_t>(bytes.size())};
  }

  // Writes the checkpoint --checkpoint-every writes for the world as it stands.
  void Save(const std::string& path) {
    Open();
    TCheckpointWriter writer(QString::fromStdString(path));
    if (TStatus written = writer.Write(*form_, run_->Rule()); !written) Raise(written.Error());
    if (TStatus finished = writer.Finish(); !finished) Raise(finished.Error());
  }

 private:
  // The grid as the window shows it: every cell drawn from its chemical as
  // it stands, the agents on top, magnified `scale` times. What a cell
  // keeps of its last drawing is part of the world (and of its checkpoint),
  // so it is put back afterwards.
  QImage GridImage(int32_t scale) {
    Open();
    if (scale < 1 || scale > kMaxPictureScale) {
      throw py::value_error("picture takes a scale from 1 to " + std::to_string(kMaxPictureScale) + ", not " +
                            std::to_string(scale));
    }
    std::vector<std::pair<int32_t, int32_t>> drawn;
    drawn.reserve(static_cast<size_t>(form_->cells.Cols()) * static_cast<size_t>(form_->cells.Rows()));
    for (const TCell& cell : form_->cells) drawn.emplace_back(cell.drawnChemical, cell.grayLevel);
    const int32_t threshold = form_->VisibilityThreshold();
    const int32_t* amount = form_->chemical.begin();
    for (TCell& cell : form_->cells) cell.Paint(cellLayer->Canvas(), *amount++, threshold);
    form_->CB_hideAgs->setChecked(false);
    form_->DrawAgentLayer();
    form_->CB_hideAgs->setChecked(true);
    QImage image = GridPicture(*form_).convertToFormat(QImage::Format_RGB888);
    form_->DrawAgentLayer();  // hidden again, as a run keeps them between pictures
    auto kept = drawn.begin();
    for (TCell& cell : form_->cells) {
      cell.drawnChemical = kept->first;
      cell.grayLevel = static_cast<uint8_t>(kept->second);
      ++kept;
    }
    if (scale > 1) image = image.scaled(image.width() * scale, image.height() * scale);
    return image;
  }

  void Open() const {
    if (form_ == nullptr) throw std::runtime_error("this world is closed");
  }

  std::unique_ptr<TForm1> form_;
  TRunPlan plan_;
  TRunObserver observer_;
  std::unique_ptr<TRunUnderWay> run_;
  std::string series_;
  std::vector<TBirthRow> births_;
  int32_t firstStep_ = 0;
};

// --- The runner's sweeps: their runs, --grid's designs, the analysis ---
// Bound through the analysis' and the command line's public functions only:
// the runs of a sweep's folder, the jobs of a --grid command, the measures
// the summary explores and Explore() itself.

// Refuses a step count, window or the like below 0.
void CheckCount(int64_t value, const char* what) {
  if (value < 0) throw py::value_error(std::string(what) + " takes a whole number of 0 or more");
}

std::vector<std::string> Names(const QStringList& names) {
  std::vector<std::string> out;
  for (const QString& name : names) out.push_back(name.toStdString());
  return out;
}

// The runs of a sweep's folder, each with the columns samples.csv begins
// its rows with: (header, [(folder name, path, row)]), header and rows as
// lines of CSV; no runs where the folder holds none.
py::tuple SweepRuns(const std::string& dir) {
  const QString folder = Text(dir);
  const QStringList header = SampleFrontHeader();
  py::list rows;
  if (!SweepRunFolders(folder).isEmpty()) {
    const std::vector<TRunFolder> runs = Take(ListSweep(folder, WindowDefaults()));
    std::vector<TSettingValues> settings;
    for (const TRunFolder& run : runs) settings.push_back(run.record.spec.settings);
    const QStringList groups = SummaryGroups(settings);
    for (size_t r = 0; r < runs.size(); ++r) {
      QStringList cells = SampleFront(runs[r].folder, groups[static_cast<qsizetype>(r)], runs[r].record);
      for (QString& cell : cells) cell = CsvCell(cell);
      rows.append(py::make_tuple(runs[r].folder.toStdString(), runs[r].path.toStdString(),
                                 cells.join(QLatin1Char(',')).toStdString()));
    }
  }
  return py::make_tuple(header.join(QLatin1Char(',')).toStdString(), rows);
}

// The analysis --summarize makes of a sweep's folder: (analysis, note, the
// text of effects.csv), the text empty when the runs' design calls for none.
py::tuple ExploreSweep(const std::string& dir, int32_t window, const std::vector<std::string>& measures,
                       const std::vector<std::string>& transforms, const std::string& coding) {
  CheckCount(window, "window");
  QStringList names, scales;
  for (const std::string& m : measures) names << Text(m);
  for (const std::string& t : transforms) scales << Text(t);
  const std::vector<TSeriesMeasure> study = Take(ChooseSeriesMeasures(names, scales));
  const std::optional<TFactorCoding> factorCoding = FindFactorCoding(Text(coding));
  if (!factorCoding) throw py::value_error("factor_coding takes auto, linear or categorical, not '" + coding + "'");
  const TExploration exploration =
      Explore(Take(StudyMeasures(Text(dir), WindowDefaults(), window, study)), StudyOf(study), *factorCoding);
  std::string effects;
  if (!exploration.analysis.isEmpty()) {
    const QTemporaryDir temporary;
    if (!temporary.isValid()) throw std::runtime_error("cannot make a temporary folder for effects.csv");
    const QString path = temporary.filePath(QLatin1String(kEffectsCsvName));
    if (TStatus written = WriteEffects(path, exploration.effects); !written) Raise(written.Error());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) throw std::runtime_error("cannot read back the effects just written");
    effects = file.readAll().toStdString();
  }
  return py::make_tuple(exploration.analysis.toStdString(), exploration.note.toStdString(), effects);
}

// The jobs of `pathwick_run --grid OPTIONS`, one dict each: every setting as
// the command line writes it, the seed (None: from the clock), the design
// point (kind, point, role; None without a design) and the job line.
py::list DesignJobs(const std::vector<std::string>& options) {
  QStringList arguments{QStringLiteral("--grid")};
  for (const std::string& option : options) arguments << Text(option);
  const TCommand command = Take(ParseCommandLine(arguments));
  if (command.kind != TCommandKind::kGrid) throw py::value_error("only the options of --grid are accepted");
  const auto specs = SettingSpecs();
  py::list jobs;
  for (const TJob& job : Take(BuildJobs(command, WindowDefaults()))) {
    py::dict row;
    for (size_t i = 0; i < specs.size(); ++i)
      row[specs[i].key] = FormatSettingValue(specs[i], job.settings[i]).toStdString();
    row["seed"] = job.seed ? py::object(py::int_(*job.seed)) : py::object(py::none());
    row["design_kind"] = job.design ? py::object(py::str(job.design->kind.toStdString())) : py::object(py::none());
    row["design_point"] = job.design ? py::object(py::int_(job.design->point)) : py::object(py::none());
    row["design_role"] = job.design ? py::object(py::str(job.design->role.toStdString())) : py::object(py::none());
    row["options"] = job.line.toStdString();
    jobs.append(row);
  }
  return jobs;
}

// `pathwick_run OPTIONS --out DIR` in this process: the run folder, its
// record and its files, as the program writes them. Needs its own window,
// so no world may be open. Gives the run's settings as the command line
// writes them, under their keys.
py::dict RunInto(const std::vector<std::string>& options) {
  EnsureApplication();
  if (openWorld != nullptr) throw std::runtime_error("a run into a folder needs the window, and a world is open");
  QStringList arguments;
  for (const std::string& option : options) arguments << Text(option);
  const TCommand command = Take(ParseCommandLine(arguments));
  if (command.kind != TCommandKind::kRun || command.out.isEmpty())
    throw py::value_error("only the options of a run into a folder (--out) are accepted");
  const std::unique_ptr<TForm1> form = NewRunWindow();
  const TSettingValues defaults = ReadSettings(*form);
  if (!windowDefaults) windowDefaults = defaults;
  TRunPlan plan = Take(ResolvePlan(command.run, defaults, TPlanTarget::kFolder));
  py::dict settings;
  const auto specs = SettingSpecs();
  for (size_t i = 0; i < specs.size(); ++i)
    settings[specs[i].key] = FormatSettingValue(specs[i], plan.settings[i]).toStdString();
  const TFigureWriter figures = [&defaults](const QString& dir, const TRunRecord& record) {
    return WriteRunFigures(dir, record, defaults);
  };
  if (TStatus ran = RunPlan(*form, std::move(plan), {command.out, command.force, true, figures, {}}); !ran)
    Raise(ran.Error());
  return settings;
}

// One line of a batch (folder name, job line) into its folder in `out`, as
// pathwick_run --jobs runs it: in a window of its own, from the state a fresh
// program starts in. Needs the window, so no world may be open. Gives the
// run's exit status (0 done, also when stopped; 1 failed; 2 refused) and why.
py::tuple RunJob(const std::string& out, const std::string& folder, const std::string& jobLine, bool force) {
  EnsureApplication();
  if (openWorld != nullptr) throw std::runtime_error("a run into a folder needs the window, and a world is open");
  const TSettingValues defaults = WindowDefaults();
  TCommand batch;
  batch.kind = TCommandKind::kBatch;
  batch.force = force;
  batch.quiet = true;
  const TBatchContext context{NewRunWindow, defaults, [&defaults](const QString& dir, const TRunRecord& record) {
                                return WriteRunFigures(dir, record, defaults);
                              }};
  const TBatchOutcome outcome = RunBatchLine({Text(folder), 0, Text(jobLine)}, Text(out), batch, context);
  return py::make_tuple(outcome.started, outcome.status, outcome.message.toStdString());
}

}  // namespace

PYBIND11_MODULE(_pathwick, m) {
  m.doc() = "The engine of pathwick: one world of the window class, stepped headless.";
  m.attr("sample_interval") = TForm1::kSampleInterval;
  m.attr("max_picture_scale") = kMaxPictureScale;
  m.attr("panel_edge") = TForm1::kPanelEdge;
  m.attr("version") = PATHWICK_VERSION;

  py::list specs;
  for (const TSettingSpec& spec : SettingSpecs()) {
    py::dict row;
    row["key"] = spec.key;
    row["option"] = spec.option;
    row["kind"] = spec.kind == TSettingKind::kWhole        ? "whole"
                  : spec.kind == TSettingKind::kHundredths ? "hundredths"
                  : spec.kind == TSettingKind::kFlag       ? "flag"
                                                           : "sniff";
    row["min"] = spec.min;
    row["max"] = spec.max;
    row["fixed_at_setup"] = spec.fixedAtSetup;
    row["meaning"] = spec.meaning;
    row["accepts"] = AcceptedValues(spec).toStdString();
    specs.append(row);
  }
  m.attr("settings") = specs;

  py::class_<TWorld>(m, "World")
      .def(py::init<const std::vector<std::string>&>(), py::arg("arguments"))
      .def("close", &TWorld::Close)
      .def_property_readonly("closed", &TWorld::Closed)
      .def("step", &TWorld::Step, py::arg("n"))
      .def_property_readonly("step_count", &TWorld::StepCount)
      .def_property_readonly("first_step", &TWorld::FirstStep)
      .def_property_readonly("seed", &TWorld::Seed)
      .def("settings", &TWorld::Settings)
      .def("set", &TWorld::Set, py::arg("changes"))
      .def("drag", &TWorld::Drag, py::arg("left"), py::arg("points"))
      .def("drag_cells", &TWorld::DragCells, py::arg("left"), py::arg("cells"))
      .def("field", &TWorld::Field)
      .def("agents", &TWorld::Agents)
      .def("births", &TWorld::Births)
      .def("series_csv", &TWorld::SeriesCsv)
      .def("picture", &TWorld::Picture, py::arg("scale"))
      .def("png", &TWorld::Png, py::arg("scale"))
      .def("save", &TWorld::Save, py::arg("path"));

  m.def(
      "setting_named", [](const std::string& name) { return Take(SettingNamed(Text(name))); }, py::arg("name"),
      "The index of the setting with this key or option; ValueError when none has it.");
  m.def(
      "sweep_run_folders", [](const std::string& dir) { return Names(SweepRunFolders(Text(dir))); }, py::arg("folder"),
      "The runs of a sweep's folder, by name, as --summarize and --verify find them.");
  m.def("sweep_runs", &SweepRuns, py::arg("folder"));
  m.def("explore", &ExploreSweep, py::arg("folder"), py::arg("window"), py::arg("measures"), py::arg("transforms"),
        py::arg("factor_coding"));
  m.def("design", &DesignJobs, py::arg("options"));
  m.def("run_into", &RunInto, py::arg("options"));
  m.def("run_job", &RunJob, py::arg("out"), py::arg("folder"), py::arg("job_line"), py::arg("force"));
}
