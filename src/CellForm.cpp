// The simulation driver: world state, setup, teardown and the step.
#include "CellForm.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <exception>
#include <stdexcept>

#include "Dialogs.h"
#include "Panel.h"
#include "RasterLayer.h"
#include "Runtime.h"

std::unique_ptr<TRasterLayer> cellLayer;
std::unique_ptr<TRasterLayer> agentLayer;
int32_t cellSize = 0;
int32_t halfCell = 0;
int32_t gridCols = 0;
int32_t gridRows = 0;
int32_t stepCount = 0;
bool leftPainting = false;
bool rightPainting = false;
QLineSeries* angleSeries = nullptr;
QLineSeries* wiggleSeries = nullptr;

namespace {

constexpr uint32_t kStartSeed = 1234;
constexpr int32_t kPermutationSize = 255;

std::string TextOf(const QLineEdit* edit) { return edit->text().toStdString(); }
std::string TextOf(const QLabel* label) { return label->text().toStdString(); }

}  // namespace

void SetGeneratorStartState() {
  // Seed 1234, then a permutation of 1..255 drawn by rejection: this leaves
  // the generator where the first world's home points are always the same.
  RandSeed = kStartSeed;
  std::array<bool, kPermutationSize + 1> drawn{};
  int32_t count = 0;
  while (count < kPermutationSize) {
    const int32_t value = Random(kPermutationSize) + 1;
    if (!drawn[value]) {
      drawn[value] = true;
      ++count;
    }
  }
}

TForm1::TForm1(QWidget* parent) : QWidget(parent) { Create(true); }

TForm1::TForm1(TNoFirstWorld, QWidget* parent) : QWidget(parent) { Create(false); }

void TForm1::Create(bool firstWorld) {
  // The world lives in module-level state (layers, grid size, step count):
  // a second window would take it over from under the first.
  if (instance_ != nullptr) {
    throw std::logic_error("Only one Pathwick window can exist at a time; close the other one first.");
  }
  instance_ = this;
  try {
    CreateControls();
    ConnectHandlers();
    if (firstWorld) {
      FormCreate();
    } else {
      ShowSettingValues();
    }
  } catch (...) {
    ReleaseLayers();
    instance_ = nullptr;
    throw;
  }
}

TForm1::~TForm1() {
  FormDestroy();
  instance_ = nullptr;
}

// ---------------------------------------------------------------------------
// Handlers of the driver

void TForm1::FormCreate() {
  SetupWorld();
  ShowSettingValues();
}

void TForm1::ShowSettingValues() {
  SB_mutateChange();
  SB_strenghtChange();
  SB_evapoChange();
  SB_sniffChange();
  SB_visibleChange();
}

void TForm1::FormDestroy() {
  Timer1->stop();
  ClearWorld();
}

void TForm1::closeEvent(QCloseEvent* event) {
  Timer1->stop();
  QWidget::closeEvent(event);
}

void TForm1::B_setupClick() {
  // Both fields are checked before the old world goes: a bad text leaves the
  // running (or stopped) world exactly as it was.
  if (!CheckSetupSettings()) return;
  ClearWorld();
  try {
    SetupWorld();
  } catch (const std::exception& e) {
    ShowMessage(e.what());
  }
}

void TForm1::B_stopClick() {
  if (Timer1->isActive()) {
    Timer1->stop();
  } else {
    Timer1->start();
  }
}

void TForm1::B_oneStepClick() { DoStep(); }

void TForm1::Timer1Timer() { DoStep(); }

bool TForm1::CheckSetupSettings() {
  try {
    ReadCellSize();
    ReadAgentCount();
  } catch (const EConvertError& e) {
    ShowMessage(e.what());
    return false;
  }
  return true;
}

int32_t TForm1::ReadCellSize() const {
  const int32_t size = StrToInt(TextOf(Edit_size));
  if (size < kMinCellSize || size > kMaxCellSize) {
    throw EConvertError("The cell size must lie between " + IntToStr(kMinCellSize) + " and " + IntToStr(kMaxCellSize) +
                        ", not " + IntToStr(size) + ".");
  }
  return size;
}

int32_t TForm1::ReadAgentCount() const {
  const int32_t count = StrToInt(TextOf(Edit_anzAg));
  if (count > kMaxAgents) {
    throw EConvertError("At most " + IntToStr(kMaxAgents) + " agents can be set up, not " + IntToStr(count) + ".");
  }
  return count;
}

// ---------------------------------------------------------------------------
// Setup and teardown

void TForm1::SetupWorld() {
  worldExists_ = false;
  cellSize = ReadCellSize();
  halfCell = RoundDiv(cellSize, 2);
  gridCols = RoundDiv(ZeichenPanel->width(), cellSize);
  gridRows = RoundDiv(ZeichenPanel->height(), cellSize);

  for (auto& [column, row] : homePoints) {
    column = Random(gridCols);
    row = Random(gridRows);
  }

  std::vector<TAgent>().swap(agents);
  for (auto& members : colonyMembers) std::vector<int32_t>().swap(members);
  cells.Resize(gridCols, gridRows);
  chemical.Resize(gridCols, gridRows);
  diffusionBuffer.Resize(gridCols, gridRows);
  homeDistance.Resize(gridCols, gridRows);

  CreateLayers();
  CreateCells();
  InitField(homePoints);
  MarkTarget();
  CreateAgents();
  PlaceAgents(homePoints);

  ZeichenPanel->setEnabled(true);
  stepCount = 0;
  tripsCompleted = 0;
  births = 0;
  leftPainting = false;
  rightPainting = false;
  SetupChart();
  lastStepError_.clear();
  worldExists_ = true;
  ZeichenPanel->update();
}

void TForm1::CreateLayers() {
  ReleaseLayers();
  cellLayer = std::make_unique<TRasterLayer>(ZeichenPanel->width(), ZeichenPanel->height(), false);
  agentLayer = std::make_unique<TRasterLayer>(ZeichenPanel->width(), ZeichenPanel->height(), true);
  ZeichenPanel->SetLayers({cellLayer.get(), agentLayer.get()});
}

void TForm1::ReleaseLayers() {
  // The panel lets go of the layers before they go.
  if (ZeichenPanel != nullptr) ZeichenPanel->SetLayers({});
  cellLayer.reset();
  agentLayer.reset();
}

void TForm1::CreateCells() {
  for (int32_t row = 0; row < gridRows; ++row) {
    for (int32_t column = 0; column < gridCols; ++column) {
      cells[column][row] = TCell(column * cellSize + halfCell, row * cellSize + halfCell, halfCell, 0);
    }
  }
}

void TForm1::ClearWorld() {
  worldExists_ = false;
  stepCount = 0;
  std::vector<TAgent>().swap(agents);
  for (TColonyTrips& trips : colonyTrips_) trips.Reset(0);
  ReleaseLayers();
  cells.Clear();
  chemical.Clear();
  diffusionBuffer.Clear();
  homeDistance.Clear();
}

// ---------------------------------------------------------------------------
// The step

void TForm1::DoStep() {
  // No step on a torn-down or half-built world, none inside another, and none
  // from a tick that arrives while a message box runs its own event loop.
  if (!worldExists_ || stepRunning_ || MessageBoxOpen()) return;
  stepRunning_ = true;
  try {
    if (DiffuseChecked() || CellUpdateOff()) {
      Evaporate();  // 1. chemical decays
      DrawCells();  // 2. cells that changed are redrawn
    } else {
      EvaporateAndDrawCells();  // 1. and 2. in one sweep
    }
    DrawAgents();                     // 3. agent layer redrawn; statistics every 100 steps
    MoveAgents();                     // 4. every agent senses, steers, moves and pays
    if (DiffuseChecked()) Diffuse();  // 5. chemical spreads to the neighbours
    // 6. one more step completed; the 32-bit counter stops at its limit
    // (after weeks at 1 ms a step) rather than overflowing into negatives.
    if (stepCount < INT32_MAX) ++stepCount;
    SetCaption(lbl_Steps, IntToStr(stepCount));  // 7.
    lastStepError_.clear();
  } catch (const std::exception& e) {
    stepRunning_ = false;
    ReportStepError(e.what());
    return;
  }
  stepRunning_ = false;
  ZeichenPanel->RequestRepaint();
}

void TForm1::ReportStepError(const std::string& message) {
  // A fault that recurs every tick is reported once, not once per millisecond.
  if (message == lastStepError_) return;
  lastStepError_ = message;
  ShowMessage(message);
}

// ---------------------------------------------------------------------------
// Simulation parameters

long double TForm1::MutationRate() const { return static_cast<long double>(SB_mutate->value()) / 100; }
int32_t TForm1::MarkStrength() const { return StrToInt(TextOf(Lbl_strenght)); }
long double TForm1::EvaporationRate() const { return StrToFloat(TextOf(Lbl_evapo)); }
int32_t TForm1::SniffThreshold() const { return StrToInt(TextOf(Lbl_sniff)); }
int32_t TForm1::VisibilityThreshold() const { return StrToInt(TextOf(Lbl_visible)); }
int32_t TForm1::SniffMode() const {
  if (rb_rulette->isChecked()) return smRoulette;
  if (rb_hill->isChecked()) return smHillClimbing;
  return smNone;
}
bool TForm1::KnowsCenter() const { return CB_mCent->isChecked(); }
bool TForm1::DiffuseChecked() const { return CB_diffuse->isChecked(); }
bool TForm1::HideAgents() const { return CB_hideAgs->isChecked(); }
bool TForm1::CellUpdateOff() const { return Cb_cellUpdt->isChecked(); }
