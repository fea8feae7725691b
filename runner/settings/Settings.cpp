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
    {"agents", "agents", TSettingKind::kWhole, 0, TForm1::kMaxAgents, true,
     "agents placed by the setup, spread over the ten colonies",
     [](TForm1& f, int32_t v) { SetNumber(f.Edit_anzAg, v); }, [](const TForm1& f) { return NumberOf(f.Edit_anzAg); }},
    {"cell-size", "cell_size", TSettingKind::kWhole, TForm1::kMinCellSize, TForm1::kMaxCellSize, true,
     "edge of a cell in pixels; the grid has about 404 / size cells a side",
     [](TForm1& f, int32_t v) { SetNumber(f.Edit_size, v); }, [](const TForm1& f) { return NumberOf(f.Edit_size); }},
    {"knows-center", "knows_center", TSettingKind::kFlag, 0, 1, true,
     "searching agents head for the centre of the grid", [](TForm1& f, int32_t v) { f.CB_mCent->setChecked(v != 0); },
     [](const TForm1& f) { return int32_t{f.CB_mCent->isChecked()}; }},
    {"sniff", "sniff", TSettingKind::kSniff, 0, 1, false,
     "how an agent on a scent picks its next cell: the strongest neighbour (hill) or one drawn in "
     "proportion to the chemical (roulette)",
     [](TForm1& f, int32_t v) { (v != 0 ? f.rb_rulette : f.rb_hill)->setChecked(true); },
     [](const TForm1& f) { return int32_t{f.rb_rulette->isChecked()}; }},
    {"mutation-rate", "mutation_rate", TSettingKind::kHundredths, 0, TForm1::kMaxRate, false,
     "chance per child that one character of its chroma flips (the window shows it followed by %)",
     [](TForm1& f, int32_t v) { f.SB_mutate->setValue(v); }, [](const TForm1& f) { return f.SB_mutate->value(); }},
    {"mark-strength", "mark_strength", TSettingKind::kWhole, 0, TForm1::kMaxRate, false,
     "chemical a homeward agent lays on each cell it leaves; a move costs this much energy (half "
     "onto a trail, three times while searching off one) out of 100000 at birth",
     [](TForm1& f, int32_t v) { f.SB_strenght->setValue(v); }, [](const TForm1& f) { return f.SB_strenght->value(); }},
    {"evaporation-rate", "evaporation_rate", TSettingKind::kHundredths, 0, TForm1::kMaxRate, false,
     "chemical every cell loses per step, in tenths: 0.5 removes 5",
     [](TForm1& f, int32_t v) { f.SB_evapo->setValue(v); }, [](const TForm1& f) { return f.SB_evapo->value(); }},
    {"sniff-threshold", "sniff_threshold", TSettingKind::kWhole, 0, TForm1::kMaxRate, false,
     "scent in the cone above which an agent follows the chemical instead of wandering",
     [](TForm1& f, int32_t v) { f.SB_sniff->setValue(v); }, [](const TForm1& f) { return f.SB_sniff->value(); }},
    {"visibility-threshold", "visibility_threshold", TSettingKind::kWhole, 0, TForm1::kMaxVisibility, false,
     "chemical at or above which a cell is a trail: moves onto it cost half",
     [](TForm1& f, int32_t v) { f.SB_visible->setValue(v); }, [](const TForm1& f) { return f.SB_visible->value(); }},
    {"diffuse", "diffuse", TSettingKind::kFlag, 0, 1, false,
     "chemical spreads to the eight neighbours and decays by the evaporation rate as a fraction",
     [](TForm1& f, int32_t v) { f.CB_diffuse->setChecked(v != 0); },
     [](const TForm1& f) { return int32_t{f.CB_diffuse->isChecked()}; }},
};

// The index of a setting the program itself names, found when it compiles.
constexpr size_t IndexOf(std::string_view option) {
  size_t i = 0;
  while (i < kSettingCount && option != kSpecs[i].option) ++i;
  return i;
}
constexpr size_t kEvaporationRate = IndexOf("evaporation-rate");
constexpr size_t kDiffuse = IndexOf("diffuse");
static_assert(kEvaporationRate < kSettingCount && kDiffuse < kSettingCount, "the effective settings name settings");

// The evaporation rate as the passes read it: from the caption.
long double EvaporationRateOf(const TSettingValues& values) {
  return StrToFloat(FormatSettingValue(kSpecs[kEvaporationRate], values[kEvaporationRate]).toStdString());
}

constexpr TEffectiveSpec kEffective[kEffectiveCount] = {
    {"evaporation_amount", "evaporation-rate",
     "chemical every cell loses per step, Round(10 x evaporation rate); with diffuse on, the fraction a cell keeps",
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

QString SettingCaption(const TSettingSpec& spec) {
  static constexpr std::array<std::pair<const char*, const char*>, kSettingCount> kCaptions{{
      {"agents", "number of agents"},
      {"cell-size", "cell size"},
      {"knows-center", "agents know the centre"},
      {"sniff", "roulette sniffing"},
      {"mutation-rate", "mutation rate"},
      {"mark-strength", "mark strength"},
      {"evaporation-rate", "evaporation rate"},
      {"sniff-threshold", "sniff threshold"},
      {"visibility-threshold", "visibility threshold"},
      {"diffuse", "diffusion"},
  }};
  for (const auto& [option, caption] : kCaptions) {
    if (std::string_view(option) == spec.option) return QString::fromLatin1(caption);
  }
  return QString::fromLatin1(spec.option);
}

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
