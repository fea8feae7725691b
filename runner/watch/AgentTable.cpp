#include "AgentTable.h"

#include "CellForm.h"

namespace {

constexpr int32_t kFullTurn = 360;
// Rows are handed to the compressor in blocks of about this many bytes.
constexpr size_t kBlockBytes = 1U << 20;

}  // namespace

TAgentNumbers AgentNumbers(int32_t index, const TAgent& a) {
  return {index,
          a.colony,
          a.cellX,
          a.cellY,
          ((a.heading % kFullTurn) + kFullTurn) % kFullTurn,
          a.searching ? 1 : 0,
          a.energy,
          a.tripCount,
          a.angleGene,
          a.wiggleGene};
}

TResult<TAgentTable> TAgentTable::Open(const QString& path) {
  std::string header = "step";
  for (std::string_view column : kAgentNumberColumns) (header += ',') += column;
  header += ",chroma\n";
  TResult<TGzipFile> file = TGzipFile::OpenTable(path, header);
  if (!file) return file.Error();
  return TAgentTable(std::move(*file));
}

TStatus TAgentTable::Write(int32_t step, const TForm1& form) {
  const int32_t count = static_cast<int32_t>(form.agents.size());
  for (int32_t i = 0; i < count; ++i) {
    const TAgent& a = form.agents[i];
    rows_.Number(step);
    for (int32_t number : AgentNumbers(i, a)) rows_.Number(number);
    rows_.Text(a.chroma.text()).EndRow();
    if (rows_.Size() >= kBlockBytes) {
      if (TStatus block = WriteRows(); !block) return block;
    }
  }
  return WriteRows();
}

TStatus TAgentTable::WriteRows() {
  TStatus written = file_.Write(rows_.View());
  rows_.Clear();
  return written;
}
