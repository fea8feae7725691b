// Fuzz target for reading a run record (run.json) from its bytes.
//
// A refusal is one line that names the record, with the refusal status. A
// record that is accepted, written out again as pathwick_run writes it,
// reads back to the same record: writing that one gives the same bytes.
#include <QByteArray>
#include <QJsonDocument>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "RunRecord.h"

namespace {

const QString kName = QStringLiteral("fuzz/run.json");

[[noreturn]] void Fail(const char* what, const QByteArray& input, const QString& detail = {}) {
  std::fprintf(stderr, "run record fault: %s\n", what);
  if (!detail.isEmpty()) std::fprintf(stderr, "  %s\n", qPrintable(detail));
  std::fprintf(stderr, "  input: %s\n", input.left(2000).constData());
  std::abort();
}

// Settings a record lacks take these; any fixed values within range do.
TSettingValues Defaults() {
  TSettingValues values{};
  const auto specs = SettingSpecs();
  for (size_t i = 0; i < specs.size(); ++i) values[i] = specs[i].min;
  return values;
}

QByteArray Written(const TRunRecord& record) { return QJsonDocument(RecordToJson(record)).toJson(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const TSettingValues defaults = Defaults();
  const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const TResult<TRunRecord> record = ParseRunRecord(input, kName, defaults);
  if (!record) {
    const TError& error = record.Error();
    if (error.status != kExitRefused) Fail("a refusal with another status", input, error.message);
    if (!error.message.startsWith(kName)) Fail("a refusal that does not name the record", input, error.message);
    if (error.message.contains(QLatin1Char('\n')) || error.message.contains(QLatin1Char('\r')))
      Fail("a refusal of more than one line", input, error.message);
    return 0;
  }
  const QByteArray once = Written(*record);
  const TResult<TRunRecord> again = ParseRunRecord(once, kName, defaults);
  if (!again) Fail("a record as written is refused", input, again.Error().message);
  const QByteArray twice = Written(*again);
  if (twice != once) Fail("a record does not read back as written", input, QString::fromUtf8(once + "\n--\n" + twice));
  return 0;
}
