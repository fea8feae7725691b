#include "FieldTable.h"

#include "CellForm.h"

namespace {

constexpr std::string_view kHeader = "step,column,row,chemical,home,target\n";
// Rows are handed to the compressor in blocks of about this many bytes.
constexpr size_t kBlockBytes = 1U << 20;

}  // namespace

TResult<TFieldTable> TFieldTable::Open(const QString& path) {
  TResult<TGzipFile> file = TGzipFile::OpenTable(path, kHeader);
  if (!file) return file.Error();
  return TFieldTable(std::move(*file));
}

TStatus TFieldTable::Write(int32_t step, const TForm1& form) {
  const Grid2D<TCell>& cells = form.cells;
  for (int32_t row = 0; row < cells.Rows(); ++row) {
    for (int32_t column = 0; column < cells.Cols(); ++column) {
      const TCell& cell = cells[column][row];
      rows_.Number(step).Number(column).Number(row).Number(form.chemical[column][row]);
      rows_.Number(cell.isHome ? 1 : 0).Number(cell.isTarget ? 1 : 0).EndRow();
    }
    if (rows_.Size() >= kBlockBytes) {
      if (TStatus block = WriteRows(); !block) return block;
    }
  }
  return WriteRows();
}

TStatus TFieldTable::WriteRows() {
  TStatus written = file_.Write(rows_.View());
  rows_.Clear();
  return written;
}
