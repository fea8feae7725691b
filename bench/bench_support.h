// Shared by the engine's benchmarks and by core_steps, which builds against
// the engine as first written too: so it uses only what both engines have.
#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>

#include "CellForm.h"
#include "Runtime.h"

namespace bench {

// FNV-1a over the eight bytes of each value added.
struct TDigest {
  uint64_t h = 1469598103934665603ull;
  void Add(uint64_t v) {
    for (int i = 0; i < 8; ++i) {
      h ^= (v >> (8 * i)) & 0xFF;
      h *= 1099511628211ull;
    }
  }
};

// A stopped window with a world of the given size, reseeded from a fixed
// clock and stepped `warmUp` times so that trails exist.
inline std::unique_ptr<TForm1> MakeWorld(int cellSizeSetting, int agentCount, int warmUp, bool hideAgents = false,
                                         bool cellUpdateOff = false) {
  uint32_t clock = 1;
  SetRandomizeSource([clock]() mutable { return clock++ * 2654435761u; });
  auto form = std::make_unique<TForm1>();
  form->Timer1->stop();
  form->Edit_size->setText(QString::number(cellSizeSetting));
  form->Edit_anzAg->setText(QString::number(agentCount));
  form->CB_hideAgs->setChecked(hideAgents);
  form->Cb_cellUpdt->setChecked(cellUpdateOff);
  form->B_setupClick();
  for (int i = 0; i < warmUp; ++i) form->DoStep();
  return form;
}

}  // namespace bench
