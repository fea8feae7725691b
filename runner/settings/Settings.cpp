#include "Settings.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QLocale>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>

#include "CellForm.h"
#include "Runtime.h"

namespace {

constexpr int32_t kHundred = 100;
static_assert(TForm1::kMaxRate == kHundred, "a rate's scroll bar holds hundredths");

void SetNumber(QLineEdit* edit, int32_t value) { edit->setText(QString::number(value)); }
int32_t NumberOf(const QLineEdit* edit) { return edit->text().trimmed().toInt(); }

constexpr TSettingSpec kSpecs[kSettingCount] = {
    {.setting = TSetting::kAgents,
     .option = "agents",
     .key = "agents",
     .kind = TSettingKind::kWhole,
     .max = TForm1::kMaxAgents,
     .fixedAtSetup = true,
     .caption = "number of agents",
     .meaning = "agents placed by the setup, spread over the ten colonies",
     .apply = [](TForm1& f, int32_t v) { SetNumber(f.Edit_anzAg, v); },
     .read = [](const TForm1& f) { return NumberOf(f.Edit_anzAg); }},
    {.setting = TSetting::kCellSize,
     .option = "cell-size",
     .key = "cell_size",
     .kind = TSettingKind::kWhole,
     .min = TForm1::kMinCellSize,
     .max = TForm1::kMaxCellSize,
     .fixedAtSetup = true,
     .caption = "cell size",
     .meaning = "edge of a cell in pixels; the grid has about 404 / size cells a side",
     .apply = [](TForm1& f, int32_t v) { SetNumber(f.Edit_size, v); },
     .read = [](const TForm1& f) { return NumberOf(f.Edit_size); }},
    {.setting = TSetting::kKnowsCenter,
     .option = "knows-center",
     .key = "knows_center",
     .kind = TSettingKind::kFlag,
     .max = 1,
     .fixedAtSetup = true,
     .caption = "agents know the centre",
     .meaning = "searching agents head for the centre of the grid",
     .apply = [](TForm1& f, int32_t v) { f.CB_mCent->setChecked(v != 0); },
     .read = [](const TForm1& f) { return int32_t{f.CB_mCent->isChecked()}; }},
    {.setting = TSetting::kSniff,
     .option = "sniff",
     .key = "sniff",
     .kind = TSettingKind::kSniff,
     .max = 1,
     .caption = "roulette sniffing",
     .meaning = "how an agent on a scent picks its next cell: the strongest neighbour (hill) or one drawn in "
                "proportion to the chemical (roulette)",
     .apply = [](TForm1& f, int32_t v) { (v != 0 ? f.rb_rulette : f.rb_hill)->setChecked(true); },
     .read = [](const TForm1& f) { return int32_t{f.rb_rulette->isChecked()}; }},
    {.setting = TSetting::kMutationRate,
     .option = "mutation-rate",
     .key = "mutation_rate",
     .kind = TSettingKind::kHundredths,
     .max = TForm1::kMaxRate,
     .caption = "mutation rate",
     .meaning = "chance per child that one character of its chroma flips (the window shows it followed by %)",
     .apply = [](TForm1& f, int32_t v) { f.SB_mutate->setValue(v); },
     .read = [](const TForm1& f) { return f.SB_mutate->value(); }},
    {.setting = TSetting::kMarkStrength,
     .option = "mark-strength",
     .key = "mark_strength",
     .kind = TSettingKind::kWhole,
     .max = TForm1::kMaxRate,
     .caption = "mark strength",
     .meaning = "chemical a homeward agent lays on each cell it leaves; a move costs this much energy (half "
                "onto a trail, three times while searching off one) out of 100000 at birth",
     .apply = [](TForm1& f, int32_t v) { f.SB_strenght->setValue(v); },
     .read = [](const TForm1& f) { return f.SB_strenght->value(); }},
    {.setting = TSetting::kEvaporationRate,
     .option = "evaporation-rate",
     .key = "evaporation_rate",
     .kind = TSettingKind::kHundredths,
     .max = TForm1::kMaxRate,
     .caption = "evaporation rate",
     .meaning = "chemical every cell loses per step, in tenths: 0.5 removes 5",
     .apply = [](TForm1& f, int32_t v) { f.SB_evapo->setValue(v); },
     .read = [](const TForm1& f) { return f.SB_evapo->value(); }},
    {.setting = TSetting::kSniffThreshold,
     .option = "sniff-threshold",
     .key = "sniff_threshold",
     .kind = TSettingKind::kWhole,
     .max = TForm1::kMaxRate,
     .caption = "sniff threshold",
     .meaning = "scent in the cone above which an agent follows the chemical instead of wandering",
     .apply = [](TForm1& f, int32_t v) { f.SB_sniff->setValue(v); },
     .read = [](const TForm1& f) { return f.SB_sniff->value(); }},
    {.setting = TSetting::kVisibilityThreshold,
     .option = "visibility-threshold",
     .key = "visibility_threshold",
     .kind = TSettingKind::kWhole,
     .max = TForm1::kMaxVisibility,
     .caption = "visibility threshold",
     .meaning = "chemical at or above which a cell is a trail: moves onto it cost half",
     .apply = [](TForm1& f, int32_t v) { f.SB_visible->setValue(v); },
     .read = [](const TForm1& f) { return f.SB_visible->value(); }},
    {.setting = TSetting::kDiffuse,
     .option = "diffuse",
     .key = "diffuse",
     .kind = TSettingKind::kFlag,
     .max = 1,
     .caption = "diffusion",
     .meaning = "chemical spreads to the eight neighbours and decays by the evaporation rate as a fraction",
     .apply = [](TForm1& f, int32_t v) { f.CB_diffuse->setChecked(v != 0); },
     .read = [](const TForm1& f) { return int32_t{f.CB_diffuse->isChecked()}; }},
};

// The table is indexed by its setting: each row stands at its enumerator's place.
constexpr bool SpecsInOrder() {
  for (size_t i = 0; i < kSettingCount; ++i) {
    if (SettingIndex(kSpecs[i].setting) != i) return false;
  }
  return true;
}
static_assert(SpecsInOrder(), "kSpecs lists every TSetting once, in its order");

constexpr size_t kEvaporationRate = SettingIndex(TSetting::kEvaporationRate);
constexpr size_t kDiffuse = SettingIndex(TSetting::kDiffuse);

// The evaporation rate as the passes read it: from the caption.
long double EvaporationRateOf(const TSettingValues& values) {
  return StrToFloat(FormatSettingValue(kSpecs[kEvaporationRate], values[kEvaporationRate]).toStdString());
}

constexpr TEffectiveSpec kEffective[kEffectiveCount] = {
    {.key = "evaporation_amount",
     .standsFor = kSpecs[kEvaporationRate].option,
     .meaning =
         "chemical every cell loses per step, Round(10 x evaporation rate); with diffuse on, the fraction a cell keeps",
     .of =
         [](const TSettingValues& v) {
           const long double rate = EvaporationRateOf(v);
           return v[kDiffuse] != 0 ? TForm1::DiffusionFactorAt(rate)
                                   : static_cast<double>(TForm1::EvaporationAmountAt(rate));
         }},
};

}  // namespace

std::span<const TSettingSpec> SettingSpecs() { return kSpecs; }

std::span<const TEffectiveSpec> EffectiveSpecs() { return kEffective; }

TEffectiveValues EffectiveSettings(const TSettingValues& values) {
  TEffectiveValues effective{};
  for (size_t i = 0; i < kEffectiveCount; ++i) effective[i] = kEffective[i].of(values);
  return effective;
}

QString FormatEffectiveValue(double value) { return QString::number(value, 'g', QLocale::FloatingPointShortest); }

QStringList SettingColumns() {
  QStringList columns;
  for (const TSettingSpec& spec : kSpecs) columns << QLatin1String(spec.key);
  for (const TEffectiveSpec& spec : kEffective) columns << QLatin1String(spec.key);
  return columns;
}

QStringList SettingCells(const TSettingValues& values) {
  QStringList cells;
  for (size_t i = 0; i < kSettingCount; ++i) cells << FormatSettingValue(kSpecs[i], values[i]);
  for (double value : EffectiveSettings(values)) cells << FormatEffectiveValue(value);
  return cells;
}

TResult<TSettingValues> WithChanges(TSettingValues values, TSettingChanges changes) {
  for (const auto& [name, value] : changes) {
    const QString text = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    const TResult<size_t> index = SettingNamed(text);
    if (!index) return index.Error();
    values[*index] = value;
  }
  return values;
}

void SetUpWorld(TForm1& form, const TSettingValues& values) {
  ApplySettings(form, values);
  form.B_setupClick();
}

std::optional<size_t> FindSetting(const QString& optionOrKey) {
  for (size_t i = 0; i < kSettingCount; ++i) {
    if (optionOrKey == QLatin1String(kSpecs[i].option) || optionOrKey == QLatin1String(kSpecs[i].key)) return i;
  }
  return std::nullopt;
}

TResult<size_t> SettingNamed(const QString& optionOrKey) {
  const std::optional<size_t> index = FindSetting(optionOrKey);
  if (!index) return Refused(QStringLiteral("no setting is called '%1'").arg(optionOrKey));
  return *index;
}

TResult<TSettingValues> ChangedBetweenSteps(TSettingValues values, const TSettingTexts& changes) {
  for (const auto& [name, text] : changes) {
    const TResult<size_t> index = SettingNamed(name);
    if (!index) return index.Error();
    const TSettingSpec& spec = kSpecs[*index];
    if (spec.fixedAtSetup) {
      return Refused(QStringLiteral("%1 is fixed when the world is set up: it can be set only for a new world")
                         .arg(Dashed(QLatin1String(spec.option))));
    }
    const TResult<int32_t> value = ReadSettingValue(spec, text);
    if (!value) return value.Error();
    values[*index] = *value;
  }
  return values;
}

QString Dashed(const QString& option) { return QStringLiteral("--") + option; }

QString SettingCaption(const TSettingSpec& spec) { return QString::fromLatin1(spec.caption); }

QString AcceptedValues(const TSettingSpec& spec) {
  switch (spec.kind) {
    case TSettingKind::kWhole: return QStringLiteral("a whole number from %1 to %2").arg(spec.min).arg(spec.max);
    case TSettingKind::kHundredths: return QStringLiteral("0 to 1 in steps of 0.01");
    case TSettingKind::kFlag: return QStringLiteral("on or off");
    case TSettingKind::kSniff: return QStringLiteral("hill or roulette");
  }
  return {};
}

TResult<int32_t> ReadSettingValue(const TSettingSpec& spec, const QString& text) {
  const std::optional<int32_t> value = ParseSettingValue(spec, text);
  if (!value) {
    return Refused(
        QStringLiteral("%1 takes %2, not '%3'").arg(Dashed(QLatin1String(spec.option)), AcceptedValues(spec), text));
  }
  return *value;
}

std::optional<int32_t> ParseSettingValue(const TSettingSpec& spec, const QString& text) {
  switch (spec.kind) {
    case TSettingKind::kWhole: {
      static const QRegularExpression whole(QStringLiteral("^[0-9]{1,9}$"));
      if (!whole.match(text).hasMatch()) return std::nullopt;
      const int32_t value = text.toInt();
      if (value < spec.min || value > spec.max) return std::nullopt;
      return value;
    }
    case TSettingKind::kHundredths: {
      // Whole part, then at most two significant decimals; further digits
      // must be zeros, so 0.50 reads as 0.5 but 0.505 is refused.
      static const QRegularExpression decimal(QStringLiteral("^([0-9]{1,3})(?:\\.([0-9]*))?$"));
      const auto match = decimal.match(text);
      if (!match.hasMatch()) return std::nullopt;
      const QString fraction = match.captured(2);
      for (qsizetype i = 2; i < fraction.size(); ++i) {
        if (fraction[i] != QLatin1Char('0')) return std::nullopt;
      }
      const int32_t hundredths = (fraction + QStringLiteral("00")).left(2).toInt();
      const int32_t value = match.captured(1).toInt() * kHundred + hundredths;
      if (value < spec.min || value > spec.max) return std::nullopt;
      return value;
    }
    case TSettingKind::kFlag: {
      const QString t = text.toLower();
      if (t == QLatin1String("on") || t == QLatin1String("true") || t == QLatin1String("1")) return 1;
      if (t == QLatin1String("off") || t == QLatin1String("false") || t == QLatin1String("0")) return 0;
      return std::nullopt;
    }
    case TSettingKind::kSniff:
      if (text == QLatin1String("hill")) return 0;
      if (text == QLatin1String("roulette")) return 1;
      return std::nullopt;
  }
  return std::nullopt;
}

QString FormatSettingValue(const TSettingSpec& spec, int32_t value) {
  switch (spec.kind) {
    case TSettingKind::kWhole: return QString::number(value);
    case TSettingKind::kHundredths: return QString::number(static_cast<double>(value) / kHundred);
    case TSettingKind::kFlag: return value != 0 ? QStringLiteral("on") : QStringLiteral("off");
    case TSettingKind::kSniff: return value != 0 ? QStringLiteral("roulette") : QStringLiteral("hill");
  }
  return {};
}

TSettingValues ReadSettings(const TForm1& form) {
  TSettingValues values{};
  for (size_t i = 0; i < kSettingCount; ++i) values[i] = kSpecs[i].read(form);
  return values;
}

void ApplySettings(TForm1& form, const TSettingValues& values) {
  for (size_t i = 0; i < kSettingCount; ++i) kSpecs[i].apply(form, values[i]);
}
