// The video of a run: pictures of the grid piped as raw RGB frames to the
// ffmpeg program, which encodes them by the file's extension: H.264 in MP4
// or VP9 in WebM.
#pragma once

#include <QImage>
#include <QProcess>
#include <QString>
#include <memory>

inline constexpr int kVideoFramesPerSecond = 25;

class TVideo {
 public:
  // Why `file` cannot be a run's video (its extension, no ffmpeg on the
  // PATH), or empty.
  static QString Refusal(const QString& file);

  explicit TVideo(QString path);
  ~TVideo();
  TVideo(const TVideo&) = delete;
  TVideo& operator=(const TVideo&) = delete;

  // Adds a frame; the first one fixes the video's size, and every later one
  // must have it. Returns an error text or empty.
  QString AddFrame(const QImage& picture);
  // Ends the stream and waits for the encoder; an error text or empty.
  QString Close();
  int Frames() const { return frames_; }

 private:
  QString Start(const QSize& size);
  // The error of an encoder that stopped early, with the first line it said.
  QString Stopped() const;

  QString path_;
  std::unique_ptr<QProcess> encoder_;
  QSize size_;
  int frames_ = 0;
  QString error_;
};
