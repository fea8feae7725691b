#include "Lineage.h"

#include "CellForm.h"

namespace {

constexpr std::string_view kHeader =
    "step,agent,colony,parent_first,parent_second,cut,mutated_position,angle_gene,wiggle_gene,chroma\n";
constexpr size_t kBlockBytes = 1U << 16;

}  // namespace

TLineage::TLineage(const QString& path) : file_(path) { file_.Write(kHeader); }

void TLineage::Write(int32_t step, const TBirth& birth, const TForm1& form) {
  const TAgent& child = form.agents[birth.child];
  rows_.Number(step).Number(birth.child).Number(birth.colony).Number(birth.parentFirst).Number(birth.parentSecond);
  rows_.Number(birth.cut);
  if (birth.mutated == TForm1::kNoMutation) {
    rows_.Empty();
  } else {
    rows_.Number(birth.mutated);
  }
  rows_.Number(child.angleGene).Number(child.wiggleGene).Text(child.chroma.view()).EndRow();
  if (rows_.Size() >= kBlockBytes) {
    file_.Write(rows_.View());
    rows_.Clear();
  }
}

QString TLineage::Close() {
  file_.Write(rows_.View());
  rows_.Clear();
  return file_.Close();
}
