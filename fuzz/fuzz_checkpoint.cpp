// Fuzz target for the checkpoint reader. The input is read twice: as a whole
// file (magic, version, length, checksum) and as a payload alone, so that the
// checks behind the checksum are reached too. A payload the reader accepts
// must make a world that steps without fault.
#include <QApplication>
#include <QByteArray>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "CellForm.h"
#include "Checkpoint.h"
#include "Dialogs.h"
#include "Runtime.h"
#include "SeedRule.h"

namespace {

// Larger worlds are sound but slow to build and step; they are only decoded.
constexpr size_t kLargestSteppedWorld = 2000;
constexpr int kSteps = 3;

QApplication* app = nullptr;
TForm1* form = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int qtArgc = 1;
  static char name[] = "fuzz_checkpoint";
  static char* qtArgv[] = {name, nullptr};
  app = new QApplication(qtArgc, qtArgv);
  SetMessageSink([](const std::string& text) {
    std::fprintf(stderr, "checkpoint fault: the world reported '%s'\n", text.c_str());
    std::abort();
  });
  form = new TForm1();
  form->Timer1->stop();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  if (const TResult<TCheckpoint> whole = DecodeCheckpoint(bytes); !whole && whole.Error().message.isEmpty()) {
    std::abort();  // a refusal always says why
  }
  TResult<TCheckpoint> checkpoint = DecodeCheckpointPayload(bytes);
  if (!checkpoint) {
    if (checkpoint.Error().message.isEmpty() || checkpoint.Error().status != kExitRefused) std::abort();
    return 0;
  }
  if (checkpoint->agents.size() > kLargestSteppedWorld) return 0;
  const uint32_t seed = checkpoint->seed;
  if (!RestoreCheckpoint(*form, std::move(*checkpoint))) return 0;
  TSeedRule rule(seed, 0, TGeneratorStart::kKeep);
  for (int i = 0; i < kSteps; ++i) form->DoStep();
  return 0;
}
