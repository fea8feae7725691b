// The video of a run: pictures of the grid piped as raw RGB frames to the
// ffmpeg program, which encodes them by the file's extension: H.264 in MP4
// or VP9 in WebM.
#pragma once

#include <QImage>
#include <QProcess>
#include <QString>
#include <memory>
#include <optional>

#include "AtomicFile.h"
#include "Result.h"

inline constexpr int kVideoFramesPerSecond = 25;

class TVideo {
 public:
  // Refuses `file` as a run's video for its extension, or for no ffmpeg on
  // the PATH.
  static TStatus Accepts(const QString& file);

  explicit TVideo(QString path);
  ~TVideo();
  TVideo(const TVideo&) = delete;
  TVideo& operator=(const TVideo&) = delete;

  // Adds a frame; the first one fixes the video's size, and every later one
  // must have it. Fails, and fails again at every later call, once the
  // encoder cannot be started or stops taking frames.
  TStatus AddFrame(const QImage& picture);
  // Ends the stream and waits for the encoder.
  TStatus Close();
  int Frames() const { return frames_; }

 private:
  TStatus Start(const QSize& size);
  // Writes one frame of the video's size to the encoder.
  TStatus Send(const QImage& picture);
  // The failure of an encoder that stopped early, with the first line it said.
  TError Stopped() const;

  QString path_;
  // ffmpeg writes the video under the file's temporary name, which becomes
  // the video when ffmpeg has written it whole.
  std::optional<TAtomicFile> file_;
  std::unique_ptr<QProcess> encoder_;
  QSize size_;
  int frames_ = 0;
  TStatus status_ = Success();  // the first failure, returned by every later call
};
