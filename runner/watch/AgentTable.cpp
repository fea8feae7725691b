#include "AgentTable.h"

#include "CellForm.h"

namespace {

constexpr std::string_view kHeader =
    "step,agent,colony,cell_x,cell_y,heading,searching,energy,trips,angle_gene,wiggle_gene,chroma\n";
constexpr int32_t kFullTurn = 360;
// Rows are handed to the compressor in blocks of about this many bytes.
constexpr size_t kBlockBytes = 1U << 20;

}  // namespace

TResult<TAgentTable> TAgentTable::Open(const QString& path) {
  TResult<TGzipFile> file = TGzipFile::OpenTable(path, kHeader);
  if (!file) return file.Error();
  return TAgentTable(std::move(*file));
}

TStatus TAgentTable::Write(int32_t step, const TForm1& form) {
  const int32_t count = static_cast<int32_t>(form.agents.size());
  for (int32_t i = 0; i < count; ++i) {
    const TAgent& a = form.agents[i];
    rows_.Number(step).Number(i).Number(a.colony).Number(a.cellX).Number(a.cellY);
    rows_.Number(((a.heading % kFullTurn) + kFullTurn) % kFullTurn).Number(a.searching ? 1 : 0);
    rows_.Number(a.energy).Number(a.tripCount).Number(a.angleGene).Number(a.wiggleGene);
    rows_.Text(a.chroma.view()).EndRow();
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
