// pathwick._pathwick: one world of the window class in a Python process,
// set up, stepped, steered and read through the runner's own code: its
// command line for the settings and the seed, its plan, its run under way
// for the steps and samples, its checkpoint writer. The Python package
// (pathwick/__init__.py) turns what this hands out into arrays and tables.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QImage>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CellForm.h"
#include "Checkpoint.h"
#include "Experiment.h"
#include "Options.h"
#include "Panel.h"
#include "Plan.h"
#include "RasterLayer.h"
#include "Series.h"

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

// The toolkit's notes on its environment (no runtime folder, offscreen
// fonts) are dropped; its errors still show. Any thread may log, so this
// writes to the process's standard error, not through Python.
void DropQtNotes(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg) return;
  std::fprintf(stderr, "pathwick: %s\n", qPrintable(message));
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
  qInstallMessageHandler(DropQtNotes);
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
  int32_t step;
  int32_t agent;
  int32_t colony;
  int32_t parentFirst;
  int32_t parentSecond;
  int32_t cut;
  int32_t mutated;  // TForm1::kNoMutation when none
  int32_t angleGene;
  int32_t wiggleGene;
  std::string chroma;
};

class TWorld;
TWorld* openWorld = nullptr;  // one world at a time, as there is one window

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
      const TAgent& child = form.agents[b.child];
      births_.push_back({step, b.child, b.colony, b.parentFirst, b.parentSecond, b.cut, b.mutated, child.angleGene,
                         child.wiggleGene, std::string(child.chroma.view())});
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
    const auto specs = SettingSpecs();
    TSettingValues values = ReadSettings(*form_);
    for (const auto& [name, text] : changes) {
      const QString key = QString::fromStdString(name);
      const QString value = QString::fromStdString(text);
      const std::optional<size_t> index = FindSetting(key);
      if (!index) Raise(Refused(QStringLiteral("no setting is called '%1'").arg(key)));
      const TSettingSpec& spec = specs[*index];
      const QString dashed = Dashed(QLatin1String(spec.option));
      if (spec.fixedAtSetup) {
        Raise(Refused(
            QStringLiteral("%1 is fixed when the world is set up: it can be set only for a new world").arg(dashed)));
      }
      const std::optional<int32_t> parsed = ParseSettingValue(spec, value);
      if (!parsed) {
        Raise(Refused(QStringLiteral("%1 takes %2, not '%3'").arg(dashed, AcceptedValues(spec), value)));
      }
      values[*index] = *parsed;
    }
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
    for (const TCell& cell : cells) {  // row after row, as numpy lays them out
      *c++ = cell.chemical;
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
    static constexpr const char* kColumns[] = {"agent",     "colony", "cell_x", "cell_y",     "heading",
                                               "searching", "energy", "trips",  "angle_gene", "wiggle_gene"};
    constexpr size_t kCount = std::size(kColumns);
    std::vector<py::array_t<int64_t>> arrays;
    std::vector<int64_t*> out;
    for (size_t k = 0; k < kCount; ++k) {
      arrays.emplace_back(n);
      out.push_back(arrays.back().mutable_data());
    }
    py::list chroma;
    constexpr int32_t kFullTurn = 360;
    for (py::ssize_t i = 0; i < n; ++i) {
      const TAgent& a = agents[static_cast<size_t>(i)];
      const int32_t row[kCount] = {static_cast<int32_t>(i),
                                   a.colony,
                                   a.cellX,
                                   a.cellY,
                                   ((a.heading % kFullTurn) + kFullTurn) % kFullTurn,
                                   a.searching ? 1 : 0,
                                   a.energy,
                                   a.tripCount,
                                   a.angleGene,
                                   a.wiggleGene};
      for (size_t k = 0; k < kCount; ++k) out[k][i] = row[k];
      chroma.append(py::str(std::string(a.chroma.view())));
    }
    py::dict table;
    for (size_t k = 0; k < kCount; ++k) table[kColumns[k]] = arrays[k];
    table["chroma"] = chroma;
    return table;
  }

  // The births since the world was made or loaded, in the columns of
  // births.csv.gz, as 64-bit integers; mutated_position is -1 where nothing
  // flipped.
  py::dict Births() const {
    Open();
    const auto n = static_cast<py::ssize_t>(births_.size());
    static constexpr const char* kColumns[] = {"step",          "agent", "colony",           "parent_first",
                                               "parent_second", "cut",   "mutated_position", "angle_gene",
                                               "wiggle_gene"};
    constexpr size_t kCount = std::size(kColumns);
    std::vector<py::array_t<int64_t>> arrays;
    for (size_t k = 0; k < kCount; ++k) arrays.emplace_back(n);
    py::list chroma;
    for (py::ssize_t i = 0; i < n; ++i) {
      const TBirthRow& b = births_[static_cast<size_t>(i)];
      const int32_t row[kCount] = {b.step, b.agent,   b.colony,    b.parentFirst, b.parentSecond,
                                   b.cut,  b.mutated, b.angleGene, b.wiggleGene};
      for (size_t k = 0; k < kCount; ++k) arrays[k].mutable_data()[i] = row[k];
      chroma.append(py::str(b.chroma));
    }
    py::dict table;
    for (size_t k = 0; k < kCount; ++k) table[kColumns[k]] = arrays[k];
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
    for (TCell& cell : form_->cells) cell.Paint(cellLayer->Canvas(), threshold);
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
      .def("field", &TWorld::Field)
      .def("agents", &TWorld::Agents)
      .def("births", &TWorld::Births)
      .def("series_csv", &TWorld::SeriesCsv)
      .def("picture", &TWorld::Picture, py::arg("scale"))
      .def("png", &TWorld::Png, py::arg("scale"))
      .def("save", &TWorld::Save, py::arg("path"));
}
