// What a run is asked to do, in plain values: what its run.json records
// and what the experiment carries out.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "DesignPoint.h"
#include "SeriesColumns.h"
#include "Settings.h"

inline constexpr int32_t kMinPictureScale = 1;
inline constexpr int32_t kMaxPictureScale = 8;
inline constexpr int32_t kDefaultVideoEvery = 10;
inline constexpr int32_t kDefaultPictureScale = 1;  // pictures as large as the window draws them

struct TRunSpec {
  TSettingValues settings{};
  uint32_t seed = 0;
  bool seedFromClock = false;
  int32_t steps = 0;
  bool histograms = false;
  bool plot = false;
  int32_t snapshotEvery = 0;                    // 0: no snapshots
  int32_t checkpointEvery = 0;                  // 0: no checkpoints
  bool keepCheckpoints = false;                 // every checkpoint under its own step's name
  int32_t pictureScale = kDefaultPictureScale;  // magnification of every picture of the grid
  QString video;                                // the video's file name in the run's folder; empty: none
  int32_t videoEvery = kDefaultVideoEvery;      // a frame after every videoEvery-th step
  int32_t agentsEvery = 0;                      // 0: no agent table; else a multiple of the sample interval
  bool births = false;                          // the lineage: one row per birth
  int32_t fieldEvery = 0;                       // 0: no field table; else a multiple of the sample interval
  int32_t seriesColumns = kAllSeriesColumns;    // column kinds series.csv holds (kSeriesColumns' first)
  // Repeating an interrupted run: it is interrupted again after this many steps.
  std::optional<int32_t> interruptedAfter;
  // A continued world: the checkpoint's file and its SHA-256. The seed rule
  // continues the checkpoint's unless `branchSeed`: then reseeds count from
  // the checkpoint on with `seed`.
  QString fromPath;
  QString fromSha256;
  bool branchSeed = false;
  // The run's point of a designed sweep; absent for a run on its own.
  std::optional<TDesignPoint> design;
  // A picture of the grid after the last step (final.png).
  bool FinalPicture() const { return plot || snapshotEvery > 0; }
  // Pictures of the grid keep the cell layer drawn as the window draws it.
  bool Pictures() const { return FinalPicture() || !video.isEmpty(); }
  // Whether a picture is due after the world's `step`-th step.
  bool PictureDue(int32_t step) const {
    return (snapshotEvery > 0 && step % snapshotEvery == 0) || (!video.isEmpty() && step % videoEvery == 0);
  }
};
