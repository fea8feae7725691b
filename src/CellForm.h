// TForm1: the main window. It owns the one world (cells, agents, colonies,
// layers) and carries every pass of the simulation as a method.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ColonyTrips.h"
#include "Grid2D.h"
#include "agenten.h"
#include "cell_P.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QLineSeries;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QTimer;
class TChart;
class TPanel;
class TRasterLayer;
enum class TMouseButton;

// Module-level world state. The layers belong to the one window's world:
// built by CreateLayers, released by ReleaseLayers.
//
// Who writes these: TForm1's own passes and handlers, and outside the window
// only two places, both in runner/experiment/: RestoreCheckpoint
// (Checkpoint.cpp), which puts back a checkpoint's stepCount (and RandSeed,
// toolkit/Runtime.h), and the seed rule (runner/settings/SeedRule.cpp),
// which sets RandSeed. Everything else (formats, analysis, the command line,
// watching) only reads them, through a TForm1 it is given. Tests may set
// stepCount and RandSeed to reach a state directly.
extern std::unique_ptr<TRasterLayer> cellLayer;   // lower layer: the cells
extern std::unique_ptr<TRasterLayer> agentLayer;  // upper layer, transparent where white: the agents
extern int32_t cellSize;                          // edge of a cell in pixels, 1..10
extern int32_t halfCell;                          // RoundDiv(cellSize, 2)
extern int32_t gridCols;
extern int32_t gridRows;
extern int32_t stepCount;  // steps completed since the world was built
extern bool leftPainting;  // left button held after a press on the panel
extern bool rightPainting;
extern QLineSeries* angleSeries;
extern QLineSeries* wiggleSeries;

using TGridPoint = std::pair<int32_t, int32_t>;  // (column, row)
using THomePoints = std::array<TGridPoint, TCell::kColonies>;

// Clears the chart and gives it the gene chart's title and its two series,
// average angle then wiggle, as the window shows them.
std::pair<QLineSeries*, QLineSeries*> SetupGeneChart(TChart& chart);

// Seed 1234 and the 255-value permutation: the generator state at program start.
void SetGeneratorStartState();

// One birth as it happened: the child's agent index and colony, its
// parents' agent indices (read before the child replaced the agent at its
// index, which may be one of them), the crossover's cut and the flipped
// chroma position or TForm1::kNoMutation.
struct TBirth {
  int32_t child;
  int32_t colony;
  int32_t parentFirst;
  int32_t parentSecond;
  int32_t cut;
  int32_t mutated;
};

class TForm1 : public QWidget {
  Q_OBJECT
 public:
  static constexpr int32_t kColonies = TCell::kColonies;
  static constexpr int32_t kNoMutation = -1;
  // Steps between two statistics samples (chart points).
  static constexpr int32_t kSampleInterval = 100;
  static constexpr int32_t kMaxAgents = 1000000;
  static constexpr int32_t kMinCellSize = 1;
  static constexpr int32_t kMaxCellSize = 10;
  static constexpr int32_t kMaxRate = 100;        // the scroll bars of the rates and thresholds end here
  static constexpr int32_t kMaxVisibility = 500;  // except the visibility threshold's
  static constexpr int32_t kPanelEdge = 404;      // the drawing panel is a square of this many pixels
  // Evaporation never takes a cell to this or below: a cell at or below
  // amount + kEvaporationFloor is no longer lowered by it.
  static constexpr int32_t kEvaporationFloor = 2;
  // Deposits and painting saturate here, so that the chemical summed over the
  // eight neighbours of a cell still fits a 32-bit integer.
  static constexpr int32_t kMaxChemical = INT32_MAX / 8;

  // There is one world at a time: a second window built while one exists
  // throws std::logic_error and leaves the first untouched.
  explicit TForm1(QWidget* parent = nullptr);
  // A window whose first world its owner sets up (the runner, from its run's
  // settings): the controls and their labels, without the world FormCreate
  // would make only to be replaced.
  struct TNoFirstWorld {};
  explicit TForm1(TNoFirstWorld, QWidget* parent = nullptr);
  ~TForm1() override;

  // --- Simulation driver ---
  void SetupWorld();
  void ClearWorld();
  void DoStep();
  void CreateLayers();
  void ReleaseLayers();
  void CreateCells();
  bool WorldExists() const { return worldExists_; }

  // --- Field dynamics ---
  void InitField(const THomePoints& homePoints);
  void MarkTarget();
  void Evaporate();
  void DrawCells();
  void Diffuse();
  void NeighbourSum(int32_t column, int32_t row);
  void PaintCell(int32_t x, int32_t y);

  // --- Agents: sensing, population, movement, evolution ---
  void Sense(int32_t index);
  void CreateAgents();
  void PlaceAgents(const THomePoints& homePoints);
  void MoveAgents();
  // Charges a move into the cell whose chemical is `entered` from the one
  // whose chemical is `left`, which a homeward agent marks (the two may be
  // one cell: `entered` is read after the mark).
  void SpendEnergy(TAgent& agent, const int32_t& entered, int32_t& left);
  void Reproduce(TAgent& agent);
  // Returns the cut: the child's first `cut` chroma characters come from the
  // first parent, the rest from the second.
  int32_t Crossover(TAgent& agent, std::pair<int32_t, int32_t> parents, int32_t colony);
  // Returns the flipped chroma position (from 0), or kNoMutation.
  int32_t Mutate(TAgent& agent);

  // --- Presentation ---
  void DrawAgents();
  // Clears the agent layer and draws every agent on it unless they are hidden.
  void DrawAgentLayer();
  void SetupChart();
  void AddChartPoint(int32_t avgAngle, int32_t avgWiggle);

  // --- Event handlers ---
  void FormCreate();
  void FormDestroy();
  void B_setupClick();
  void B_stopClick();
  void B_oneStepClick();
  void Timer1Timer();
  void SB_mutateChange();
  void SB_strenghtChange();
  void SB_evapoChange();
  void SB_sniffChange();
  void SB_visibleChange();
  void Edit_sizeChange();
  void ZeichenPanelMouseDown(TMouseButton button, int32_t x, int32_t y);
  void ZeichenPanelMouseMove(int32_t x, int32_t y);
  void ZeichenPanelMouseUp(TMouseButton button, int32_t x, int32_t y);

  // --- Simulation parameters, read from the window when a pass needs them ---
  long double MutationRate() const;     // SB_mutate position / 100
  int32_t MarkStrength() const;         // Lbl_strenght caption
  long double EvaporationRate() const;  // Lbl_evapo caption
  int32_t SniffThreshold() const;       // Lbl_sniff caption
  int32_t VisibilityThreshold() const;  // Lbl_visible caption
  int32_t SniffMode() const;            // 1 roulette, 2 hill climbing, else 0
  bool KnowsCenter() const;             // CB_mCent
  bool DiffuseChecked() const;          // CB_diffuse
  bool HideAgents() const;              // CB_hideAgs
  bool CellUpdateOff() const;           // Cb_cellUpdt
  // The model's rules for an evaporation rate: chemical a cell loses per
  // step, Round(10 x rate); under diffusion, the fraction a cell keeps.
  static int32_t EvaporationAmountAt(long double rate);
  static double DiffusionFactorAt(long double rate);

  // --- World state ---
  std::vector<TAgent> agents;
  std::array<std::vector<int32_t>, kColonies> colonyMembers;
  Grid2D<TCell> cells;
  // Each cell's amount of chemical, never below 1 once initialised, in a
  // grid of its own beside the cells: the two passes that read it every
  // step (evaporation sweeps it all, sensing reads eight cells round every
  // agent) then stream 4 bytes a cell instead of the whole cell.
  Grid2D<int32_t> chemical;
  THomePoints homePoints{};  // colony k's home cell, drawn at setup
  Grid2D<long double> diffusionBuffer;
  // Distance of each cell to each home point, written once by the field
  // initialisation and read by nothing. It lives beside the cells rather
  // than in them, so that the passes over every cell step through a third
  // of the memory.
  Grid2D<std::array<int16_t, kColonies>> homeDistance;  // at most 572 on the largest grid
  // Totals since the world was set up: trips completed (an agent back home
  // from the target) and children born in place of exhausted agents.
  int64_t tripsCompleted = 0;
  int64_t births = 0;
  // Called at every statistics sample with the averages the chart receives,
  // before the agents move.
  std::function<void(int32_t avgAngle, int32_t avgWiggle)> onSample;
  // Called at every birth, once the child is complete; it changes nothing.
  std::function<void(const TBirth&)> onBirth;

  // --- Controls ---
  TPanel* ZeichenPanel = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QPushButton* B_setup = nullptr;
  QPushButton* B_stop = nullptr;
  QPushButton* B_oneStep = nullptr;
  QCheckBox* CB_mCent = nullptr;
  QLineEdit* Edit_anzAg = nullptr;
  QLabel* Lbl_TextAnzahl = nullptr;
  QLineEdit* Edit_size = nullptr;
  QLabel* Label2 = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QLabel* lbl_Steps = nullptr;
  QGroupBox* RadioGroup1 = nullptr;
  QRadioButton* rb_hill = nullptr;
  QRadioButton* rb_rulette = nullptr;
  QCheckBox* Cb_cellUpdt = nullptr;
  QCheckBox* CB_hideAgs = nullptr;
  QCheckBox* CB_diffuse = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Lbl_mutate = nullptr;
  QScrollBar* SB_mutate = nullptr;
  QLabel* Label8 = nullptr;
  QLabel* Lbl_visible = nullptr;
  QScrollBar* SB_visible = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Lbl_strenght = nullptr;
  QScrollBar* SB_strenght = nullptr;
  QLabel* Label7 = nullptr;
  QLabel* Lbl_sniff = nullptr;
  QScrollBar* SB_sniff = nullptr;
  QLabel* Label6 = nullptr;
  QLabel* Lbl_evapo = nullptr;
  QScrollBar* SB_evapo = nullptr;
  QGroupBox* GroupBox3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Lbl_avgAngle = nullptr;
  QLabel* Label10 = nullptr;
  QLabel* Lbl_avgWiggle = nullptr;
  TChart* Chart1 = nullptr;
  QTimer* Timer1 = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct TMoveCosts {
    int32_t visibilityThreshold = 0;
    int32_t markStrength = 0;
  };

  // Both constructors: the controls, their handlers, then FormCreate or,
  // without a first world, only the labels FormCreate fills.
  void Create(bool firstWorld);
  void ShowSettingValues();
  void CreateControls();
  void ConnectHandlers();
  // Reads both setup fields; on bad text reports it and returns false.
  bool CheckSetupSettings();
  // The cell size field as a number in 1..10; throws EConvertError otherwise.
  int32_t ReadCellSize() const;
  // The agent count field as a number up to kMaxAgents (0 or less: no
  // agents); throws EConvertError otherwise.
  int32_t ReadAgentCount() const;
  int32_t EvaporationAmount() const;  // chemical a cell loses per step
  // Evaporate and DrawCells in one pass, for a step that does both.
  void EvaporateAndDrawCells();
  void ChargeMove(TAgent& agent, const int32_t& entered, int32_t& left, const TMoveCosts& costs);
  void PrefetchNeighbourhood(const TAgent& agent);
  // Brings colonyTrips_ into agreement with colonyMembers and the agents'
  // trip counts, in one sweep in list order.
  void CheckColonyTrips();
  // Records agent index's trip count in its colony's trips, if they are
  // being kept up to date.
  void NoteTrips(int32_t index);
  void SampleStatistics();
  void ReportStepError(const std::string& message);
  void SetCaption(QLabel* label, const std::string& text);
  // A caption that carries a value: the label grows to fit its text.
  void ShowValue(QLabel* label, const std::string& text);

  static inline const TForm1* instance_ = nullptr;  // the window that owns the world

  bool worldExists_ = false;   // a world is completely built
  bool stepRunning_ = false;   // a step is under way; no step may start inside it
  std::string lastStepError_;  // reported once while the same error repeats
  // Each colony's trip counts in member order, for the parent draws. They
  // are checked against the agents at the first birth of a movement pass
  // (and at every birth outside one) and kept up to date for the rest of
  // the pass as trips are counted and children replace parents.
  std::array<TColonyTrips, kColonies> colonyTrips_;
  bool movingAgents_ = false;  // a movement pass is under way
  bool tripsChecked_ = false;  // colonyTrips_ agrees with the agents until this pass ends
};
