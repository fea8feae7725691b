#include "Explore.h"

TExploration Explore(const std::vector<TRunMeasures>& runs) {
  TExploration exploration = Analyse(runs);
  exploration.table = EffectsTable(exploration);
  return exploration;
}
