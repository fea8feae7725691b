#include "Explore.h"

TExploration Explore(const std::vector<TRunMeasures>& runs, const std::vector<TStudyMeasure>& measures,
                     TFactorCoding coding) {
  TExploration exploration = Analyse(runs, measures, coding);
  exploration.table = EffectsTable(exploration);
  return exploration;
}
