// What the stored formats take as fixed of the model: the number of
// colonies (the per-colony columns, the homes of a checkpoint), the values
// a gene takes (the histogram's columns) and the steps between samples.
// The formats are read without the engine (the analysis never links it);
// the experiment, which sees both, checks that they agree with it
// (experiment/Sample.cpp).
#pragma once

#include <cstdint>

struct TModelShape {
  static constexpr int32_t kColonies = 10;
  static constexpr int32_t kGeneValues = 256;  // a gene is one byte: 0..255
  static constexpr int32_t kSampleInterval = 100;
};
