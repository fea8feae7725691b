#include "Lineage.h"

#include "CellForm.h"

namespace {

constexpr size_t kBlockBytes = 1U << 16;

}  // namespace

TBirthNumbers BirthNumbers(int32_t step, const TBirth& birth, const TForm1& form) {
  const TAgent& child = form.agents[birth.child];
  return {step,      birth.child,   birth.colony,    birth.parentFirst, birth.parentSecond,
          birth.cut, birth.mutated, child.angleGene, child.wiggleGene};
}

TResult<TLineage> TLineage::Open(const QString& path) {
  std::string header;
  for (std::string_view column : kBirthNumberColumns) (header += column) += ',';
  header += "chroma\n";
  TResult<TGzipFile> file = TGzipFile::OpenTable(path, header);
  if (!file) return file.Error();
  return TLineage(std::move(*file));
}

TStatus TLineage::Write(int32_t step, const TBirth& birth, const TForm1& form) {
  const TBirthNumbers numbers = BirthNumbers(step, birth, form);
  for (size_t c = 0; c < numbers.size(); ++c) {
    if (c == kMutatedColumn && numbers[c] == TForm1::kNoMutation) {
      rows_.Empty();
    } else {
      rows_.Number(numbers[c]);
    }
  }
  rows_.Text(form.agents[birth.child].chroma.text()).EndRow();
  return rows_.Size() >= kBlockBytes ? WriteRows() : Success();
}

TStatus TLineage::Close() {
  TStatus rows = WriteRows();
  TStatus closed = file_.Close();
  return rows ? closed : rows;
}

TStatus TLineage::WriteRows() {
  TStatus written = file_.Write(rows_.View());
  rows_.Clear();
  return written;
}
