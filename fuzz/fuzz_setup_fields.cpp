// Fuzz target for the two setup fields of the real window (offscreen): the
// input is the text typed into Edit_size (which raises Edit_sizeChange), a
// newline, the text typed into Edit_anzAg, a newline and an options byte;
// then "new Setup" is pressed and, when a world exists, one step runs.
//
// Whatever the texts, the window must end in a consistent state: a valid pair
// builds exactly the world it names, any other pair leaves the previous world
// as it was with exactly one message, and no handler crashes.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "CellForm.h"
#include "Dialogs.h"
#include "Runtime.h"
#include "agents_support.h"

namespace {

// A valid world of more agents than this is legitimately slow to build and
// step; such inputs skip "new Setup". Counts above TForm1::kMaxAgents are
// still pressed, since the window must refuse them.
constexpr int64_t kLargestFuzzedWorld = 2000;

QApplication* app = nullptr;
TForm1* form = nullptr;
std::vector<std::string> messages;
uint32_t randomizeCounter = 0;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "setup field fault: %s\n", what.c_str());
  std::fprintf(stderr, "  Edit_size '%s', Edit_anzAg '%s'\n", form->Edit_size->text().toStdString().c_str(),
               form->Edit_anzAg->text().toStdString().c_str());
  for (const auto& m : messages) std::fprintf(stderr, "  message: %s\n", m.c_str());
  std::abort();
}

// The message for bad text, as far as a C string carries it (up to a NUL).
std::string ExpectedMessage(const std::string& text) { return InvalidIntegerMessage(text).c_str(); }

std::optional<int32_t> ReadInt(const std::string& text) {
  try {
    return StrToInt(text);
  } catch (const EConvertError&) {
    return std::nullopt;
  }
}

struct TSnapshot {
  bool exists;
  int32_t cellSize;
  int32_t gridCols;
  size_t agents;
  int32_t stepCount;
  const TRasterLayer* cellLayer;
};

TSnapshot Snapshot() {
  return {form->WorldExists(), cellSize, gridCols, form->agents.size(), stepCount, cellLayer.get()};
}

bool Same(const TSnapshot& a, const TSnapshot& b) {
  return a.exists == b.exists && a.cellSize == b.cellSize && a.gridCols == b.gridCols && a.agents == b.agents &&
         a.stepCount == b.stepCount && a.cellLayer == b.cellLayer;
}

// Types text into Edit_size from a known valid state and checks what
// Edit_sizeChange made of it.
void TypeCellSize(const QString& typed) {
  form->Edit_size->setText(QStringLiteral("6"));
  if (!messages.empty()) Fail("a valid cell size raised a message");
  form->Edit_size->setText(typed);
  const std::string stored = form->Edit_size->text().toStdString();
  const std::string asTyped = typed.left(form->Edit_size->maxLength()).toStdString();
  const std::optional<int32_t> value = ReadInt(asTyped);
  if (!value) {
    // Bad text stays in the field; the message names it, once (unless the
    // text equals "6", which raises no change at all).
    if (stored != asTyped) Fail("Edit_sizeChange replaced bad text");
    const size_t expected = asTyped == "6" ? 0 : 1;
    if (messages.size() != expected) Fail("bad cell size text: " + std::to_string(messages.size()) + " messages");
    if (expected == 1 && messages[0] != ExpectedMessage(asTyped)) Fail("message text: " + messages[0]);
  } else {
    if (!messages.empty()) Fail("a whole number in Edit_size raised a message");
    const std::string expected = *value > TForm1::kMaxCellSize   ? IntToStr(TForm1::kMaxCellSize)
                                 : *value < TForm1::kMinCellSize ? IntToStr(TForm1::kMinCellSize)
                                                                 : asTyped;
    if (stored != expected) Fail("Edit_size holds '" + stored + "', expected '" + expected + "'");
  }
  messages.clear();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // A command line of its own: the fuzzer's options are none of Qt's business.
  static int qtArgc = 1;
  static char qtName[] = "fuzz_setup_fields";
  static char* qtArgv[] = {qtName, nullptr};
  app = new QApplication(qtArgc, qtArgv);
  SetMessageSink([](const std::string& text) { messages.push_back(text); });
  SetRandomizeSource([] { return randomizeCounter++; });
  SetGeneratorStartState();
  form = new TForm1;
  form->Timer1->stop();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t first = input.find('\n');
  const std::string sizeText = input.substr(0, first);
  std::string countText;
  uint8_t options = 0;
  if (first != std::string::npos) {
    const size_t second = input.find('\n', first + 1);
    countText = input.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    if (second != std::string::npos && second + 1 < input.size()) options = static_cast<uint8_t>(input[second + 1]);
  }
  messages.clear();
  randomizeCounter = 0;

  TypeCellSize(QString::fromUtf8(sizeText.data(), static_cast<qsizetype>(sizeText.size())));
  form->Edit_anzAg->setText(QString::fromUtf8(countText.data(), static_cast<qsizetype>(countText.size())));
  form->CB_mCent->setChecked((options & 1) != 0);
  if (!messages.empty()) Fail("typing into Edit_anzAg raised a message");

  const std::string sizeField = form->Edit_size->text().toStdString();
  const std::string countField = form->Edit_anzAg->text().toStdString();
  const std::optional<int32_t> sizeValue = ReadInt(sizeField);
  const std::optional<int32_t> count = ReadInt(countField);
  if (sizeValue && count && *count > kLargestFuzzedWorld && *count <= TForm1::kMaxAgents) return 0;

  const TSnapshot before = Snapshot();
  form->B_setup->click();
  const TSnapshot after = Snapshot();

  if (sizeValue && count && *count <= TForm1::kMaxAgents) {
    if (!messages.empty()) Fail("a valid setup raised: " + messages[0]);
    if (!after.exists) Fail("a valid setup left no world");
    if (cellSize != *sizeValue) Fail("cell size " + IntToStr(cellSize));
    if (form->agents.size() != static_cast<size_t>(*count > 0 ? *count : 0)) Fail("wrong number of agents");
    if (stepCount != 0) Fail("stepCount after setup");
  } else {
    if (messages.size() != 1) Fail("a refused setup gave " + std::to_string(messages.size()) + " messages");
    const std::string expected = !sizeValue ? ExpectedMessage(sizeField)
                                 : !count   ? ExpectedMessage(countField)
                                            : std::string();
    if (!expected.empty() && messages[0] != expected) Fail("message '" + messages[0] + "'");
    if (expected.empty() && messages[0].find(IntToStr(TForm1::kMaxAgents)) == std::string::npos) {
      Fail("the refusal does not name the limit: " + messages[0]);
    }
    if (!Same(before, after)) Fail("a refused setup changed the world");
  }
  std::string fault = world_invariants::CheckWorld(*form);
  if (!fault.empty()) Fail(fault);

  if (form->WorldExists()) {
    const int32_t steps = stepCount;
    messages.clear();
    form->B_oneStep->click();
    if (!messages.empty()) Fail("a step raised: " + messages[0]);
    if (stepCount != steps + 1) Fail("one step did not count");
    fault = world_invariants::CheckWorld(*form);
    if (!fault.empty()) Fail("after one step: " + fault);
  }
  return 0;
}
