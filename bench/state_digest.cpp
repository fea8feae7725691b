// Prints a digest of the complete world state after fixed-seed runs at
// several settings. An optimisation must leave every digest unchanged:
// run this before and after and compare the output.
#include <QApplication>
#include <QCheckBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>

#include "CellForm.h"
#include "Panel.h"
#include "RasterLayer.h"
#include "Runtime.h"
#include "Settings.h"
#include "bench_support.h"

namespace {

struct Setting {
  const char* name;
  int cellSize;
  int agents;
  int steps;
  bool roulette;
  bool knowsCenter;
  bool diffuse;
  int evaporation;
  bool headless = false;  // cell update off and agents hidden
  int markStrength = -1;  // scroll bar position; -1 keeps the default
};

// `values` with `changes`; a name no setting has ends the program.
TSettingValues Changed(const TSettingValues& values, TSettingChanges changes) {
  const TResult<TSettingValues> changed = WithChanges(values, changes);
  if (changed) return *changed;
  std::fprintf(stderr, "state_digest: %s\n", qPrintable(changed.Error().message));
  std::exit(kExitRefused);
}

uint64_t Run(const Setting& s) {
  uint32_t clock = 7;
  SetRandomizeSource([clock]() mutable { return clock++ * 2246822519u; });
  SetGeneratorStartState();
  auto form = std::make_unique<TForm1>();
  form->Timer1->stop();
  TSettingValues values = Changed(ReadSettings(*form), {{"cell-size", s.cellSize},
                                                        {"agents", s.agents},
                                                        {"knows-center", s.knowsCenter},
                                                        {"sniff", s.roulette},
                                                        {"diffuse", s.diffuse},
                                                        {"evaporation-rate", s.evaporation}});
  if (s.markStrength >= 0) values = Changed(values, {{"mark-strength", s.markStrength}});
  form->Cb_cellUpdt->setChecked(s.headless);
  form->CB_hideAgs->setChecked(s.headless);
  SetUpWorld(*form, values);
  for (int i = 0; i < s.steps; ++i) {
    form->DoStep();
    // Paint and wipe now and then, as a user would.
    if (i % 250 == 100) {
      form->ZeichenPanelMouseDown(TMouseButton::mbLeft, 0, 0);
      for (int x = 20; x < 300; x += 3) form->ZeichenPanelMouseMove(x, x / 2 + 40);
      form->ZeichenPanelMouseUp(TMouseButton::mbLeft, 0, 0);
    }
  }
  bench::TDigest d;
  for (const TAgent& a : form->agents) {
    for (int64_t v :
         std::initializer_list<int64_t>{a.angleGene, a.wiggleGene, a.energy, a.tripCount, a.cellX, a.cellY, a.heading,
                                        a.stepX, a.stepY, a.scent, a.posX, a.posY, int32_t{a.searching}}) {
      d.Add(static_cast<uint64_t>(v));
    }
    for (char c : a.chroma) d.Add(static_cast<uint64_t>(c));
    for (double sh : a.shares) d.Add(static_cast<uint64_t>(sh * 1e9));
  }
  for (int r = 0; r < gridRows; ++r) {
    for (int c = 0; c < gridCols; ++c) {
      const TCell& cell = form->cells[c][r];
      for (int64_t v : {int64_t{form->chemical[c][r]}, int64_t{cell.drawnChemical}, int64_t{cell.grayLevel},
                        int64_t{cell.lastAgent}, int64_t{cell.State}}) {
        d.Add(static_cast<uint64_t>(v));
      }
    }
  }
  for (const TRasterLayer* layer : {cellLayer.get(), agentLayer.get()}) {
    for (int y = 0; y < layer->Height(); ++y) {
      for (int x = 0; x < layer->Width(); ++x) d.Add(layer->Canvas().Pixel(x, y));
    }
  }
  d.Add(static_cast<uint64_t>(RandSeed));
  SetRandomizeSource({});
  return d.h;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const Setting settings[] = {
      {"default", 6, 200, 3000, false, false, false, 50},
      {"roulette+centre", 4, 300, 2000, true, true, false, 30},
      {"size1", 1, 2000, 400, false, false, false, 50},
      {"diffuse", 8, 150, 1500, true, false, true, 20},
      {"size3-odd", 3, 500, 1500, false, true, false, 70},
      // A run without drawing, long enough for reproduction, and a large
      // population's first steps.
      {"headless", 2, 1000, 1500, true, false, false, 40, true},
      {"large", 1, 200000, 40, false, true, false, 50, true, 100},
      // 100,000 agents through the first generation's births: at the largest
      // mark strength the first agents run out of energy near step 330.
      {"births-100k", 1, 100000, 370, false, false, false, 50, true, 100},
  };
  for (const Setting& s : settings) std::printf("%-16s %016llx\n", s.name, static_cast<unsigned long long>(Run(s)));
  return 0;
}
