#include "Lineage.h"

#include "CellForm.h"

namespace {

constexpr std::string_view kHeader =
    "step,agent,colony,parent_first,parent_second,cut,mutated_position,angle_gene,wiggle_gene,chroma\n";
constexpr size_t kBlockBytes = 1U << 16;

}  // namespace

TResult<TLineage> TLineage::Open(const QString& path) {
  TResult<TGzipFile> file = TGzipFile::OpenTable(path, kHeader);
  if (!file) return file.Error();
  return TLineage(std::move(*file));
}

TStatus TLineage::Write(int32_t step, const TBirth& birth, const TForm1& form) {
  const TAgent& child = form.agents[birth.child];
  rows_.Number(step).Number(birth.child).Number(birth.colony).Number(birth.parentFirst).Number(birth.parentSecond);
  rows_.Number(birth.cut);
  if (birth.mutated == TForm1::kNoMutation) {
    rows_.Empty();
  } else {
    rows_.Number(birth.mutated);
  }
  rows_.Number(child.angleGene).Number(child.wiggleGene).Text(child.chroma.view()).EndRow();
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
