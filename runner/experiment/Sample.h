// A sample of a world as it stands: the stored form of a sample is
// formats/Series.h.
#pragma once

#include <cstdint>

#include "Series.h"

class TForm1;

// Takes a sample of the world as it stands; `previous` gives the totals of
// the sample before (zeros for the first).
TSample TakeSample(const TForm1& form, int32_t avgAngle, int32_t avgWiggle, const TSample& previous);
TGeneHistogram TakeHistogram(const TForm1& form);
