#include "Video.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <QStandardPaths>

namespace {

constexpr const char* kEncoderProgram = "ffmpeg";
constexpr int kStartMilliseconds = 10000;
// Frames waiting in the pipe before the run waits for the encoder.
constexpr qint64 kPipeFrames = 2;

// The container is named, not left to the name ffmpeg is given: it
// writes under a temporary name.
QStringList CodecArguments(const QString& path) {
  if (QFileInfo(path).suffix().compare(QLatin1String("webm"), Qt::CaseInsensitive) == 0) {
    return QStringLiteral(
               "-f webm -c:v libvpx-vp9 -pix_fmt yuv420p -crf 30 -b:v 0 -deadline realtime -cpu-used 8 -row-mt 1")
        .split(' ');
  }
  return QStringLiteral("-f mp4 -c:v libx264 -pix_fmt yuv420p -crf 18 -preset veryfast -movflags +faststart")
      .split(' ');
}

}  // namespace

TStatus TVideo::Accepts(const QString& file) {
  const QString suffix = QFileInfo(file).suffix().toLower();
  if (suffix != QLatin1String("mp4") && suffix != QLatin1String("webm")) {
    return Refused(QStringLiteral("--video takes a file ending in .mp4 (H.264) or .webm (VP9), not '%1'").arg(file));
  }
  if (QStandardPaths::findExecutable(QLatin1String(kEncoderProgram)).isEmpty()) {
    return Refused(QStringLiteral("--video needs the ffmpeg program on the PATH (Debian package ffmpeg)"));
  }
  return Success();
}

TVideo::TVideo(QString path) : path_(std::move(path)) {}

TVideo::~TVideo() {
  if (encoder_) {
    encoder_->kill();
    encoder_->waitForFinished();
  }
}

TStatus TVideo::Start(const QSize& size) {
  // Raw RGB frames on standard input; no audio, no metadata, bit-exact flags.
  QStringList arguments = QStringLiteral("-hide_banner -loglevel error -y -f rawvideo -pix_fmt rgb24").split(' ');
  arguments << "-video_size" << QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
  arguments << "-framerate" << QString::number(kVideoFramesPerSecond) << "-i"
            << "pipe:0";
  arguments << QStringLiteral("-an -fflags +bitexact -flags:v +bitexact -map_metadata -1").split(' ');
  TResult<TAtomicFile> file = TAtomicFile::Open(path_);
  if (!file) return file.Error();
  file_.emplace(std::move(*file));
  arguments << CodecArguments(path_) << file_->TemporaryPath();
  encoder_ = std::make_unique<QProcess>();
  encoder_->setProcessChannelMode(QProcess::SeparateChannels);
  encoder_->setStandardOutputFile(QProcess::nullDevice());
  // Its own process group: Ctrl-C stops the run, which then ends the video
  // properly, instead of reaching the encoder.
  encoder_->setChildProcessModifier([] { ::setpgid(0, 0); });
  encoder_->start(QLatin1String(kEncoderProgram), arguments);
  if (!encoder_->waitForStarted(kStartMilliseconds)) {
    return Failed(QStringLiteral("cannot start ffmpeg: %1").arg(encoder_->errorString()));
  }
  size_ = size;
  return Success();
}

TError TVideo::Stopped() const {
  const QString said =
      QString::fromLocal8Bit(encoder_->readAllStandardError()).trimmed().section(QLatin1Char('\n'), 0, 0);
  const QString text = QStringLiteral("ffmpeg stopped taking the frames of %1").arg(QFileInfo(path_).fileName());
  return Failed(said.isEmpty() ? text : text + QStringLiteral(": ") + said);
}

TStatus TVideo::AddFrame(const QImage& picture) {
  if (status_ && !encoder_) status_ = Start(picture.size());
  if (status_ && picture.size() != size_) status_ = Failed(QStringLiteral("a video frame changed its size"));
  if (status_) status_ = Send(picture);
  return status_;
}

TStatus TVideo::Send(const QImage& picture) {
  const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
  const qint64 rowBytes = static_cast<qint64>(size_.width()) * 3;
  for (int y = 0; y < rgb.height(); ++y) {
    if (encoder_->write(reinterpret_cast<const char*>(rgb.constScanLine(y)), rowBytes) != rowBytes) return Stopped();
  }
  ++frames_;
  while (encoder_->bytesToWrite() > kPipeFrames * rowBytes * size_.height()) {
    if (!encoder_->waitForBytesWritten(-1)) return Stopped();
  }
  return Success();
}

TStatus TVideo::Close() {
  if (!encoder_) return status_;
  while (status_ && encoder_->bytesToWrite() > 0) {
    if (!encoder_->waitForBytesWritten(-1)) status_ = Stopped();
  }
  encoder_->closeWriteChannel();
  encoder_->waitForFinished(-1);
  const QString messages = QString::fromLocal8Bit(encoder_->readAllStandardError()).trimmed();
  if (status_ && (encoder_->exitStatus() != QProcess::NormalExit || encoder_->exitCode() != 0)) {
    status_ = Failed(QStringLiteral("ffmpeg could not write %1: %2")
                         .arg(QFileInfo(path_).fileName(), messages.section(QLatin1Char('\n'), 0, 0)));
  }
  encoder_.reset();
  if (status_ && file_) {
    struct stat written {};
    if (::fstat(file_->Descriptor(), &written) != 0 || written.st_size == 0) {
      status_ =
          Failed(QStringLiteral("ffmpeg ended without error but wrote nothing to %1").arg(QFileInfo(path_).fileName()));
    }
  }
  if (status_ && file_) status_ = file_->Commit();
  file_.reset();
  return status_;
}
