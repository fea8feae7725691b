// The settings of a run: one value for each control of the window that
// shapes the world, held as the control holds it (a scroll bar's position,
// a field's number, a box's check). One table describes every setting once:
// its option, its key in the records, the values it takes, and how it is
// set on and read back from the window.
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "Result.h"

class TForm1;

enum class TSettingKind {
  kWhole,       // a whole number in min..max
  kHundredths,  // 0 to 1 in steps of 0.01, held as 0..100
  kFlag,        // on or off
  kSniff,       // hill climbing (0) or roulette wheel (1)
};

// Every setting, in the order of the options, the records and the columns:
// a setting's enumerator is its index in TSettingValues.
enum class TSetting : uint8_t {
  kAgents,
  kCellSize,
  kKnowsCenter,
  kSniff,
  kMutationRate,
  kMarkStrength,
  kEvaporationRate,
  kSniffThreshold,
  kVisibilityThreshold,
  kDiffuse,
};

struct TSettingSpec {
  TSetting setting;    // its place in the table
  const char* option;  // command-line option without the dashes
  const char* key;     // key in run.json and column in summary.csv
  TSettingKind kind;
  int32_t min = 0;
  int32_t max;
  bool fixedAtSetup = false;  // takes effect only when a world is set up
  const char* caption;        // a few words for tables and figures (SettingCaption)
  const char* meaning;        // one line for --help, in the model's own units
  void (*apply)(TForm1& form, int32_t value);
  int32_t (*read)(const TForm1& form);
};

inline constexpr size_t kSettingCount = static_cast<size_t>(TSetting::kDiffuse) + 1;
using TSettingValues = std::array<int32_t, kSettingCount>;
constexpr size_t SettingIndex(TSetting setting) { return static_cast<size_t>(setting); }

// Every setting, in the order of the options, the records and the columns.
std::span<const TSettingSpec> SettingSpecs();
// The index of the setting with this option name or key, if any.
std::optional<size_t> FindSetting(const QString& optionOrKey);
// The same, or the refusal of a name that no setting has.
TResult<size_t> SettingNamed(const QString& optionOrKey);

// An option as the command line writes it: "--" and its name.
QString Dashed(const QString& option);
// The setting in a few words, as a table or a figure names it: "mutation
// rate", "roulette sniffing"; a flag's or the sniffing's words say what its
// higher value (on, roulette) means.
QString SettingCaption(const TSettingSpec& spec);
// "0 to 1 in steps of 0.01", "0..100", "hill or roulette", ...
QString AcceptedValues(const TSettingSpec& spec);
// Reads a value as written on the command line; nothing if it is not one the
// control can hold. Flags read "on"/"off" (also "true"/"false", "1"/"0").
std::optional<int32_t> ParseSettingValue(const TSettingSpec& spec, const QString& text);
// The same, or the command line's refusal: "--agents takes a whole number
// from 0 to 5000, not '-1'".
TResult<int32_t> ReadSettingValue(const TSettingSpec& spec, const QString& text);
// The value as the command line writes it: 0.5, 0.01, 200, hill, on.
QString FormatSettingValue(const TSettingSpec& spec, int32_t value);

// The window's controls as they stand.
TSettingValues ReadSettings(const TForm1& form);
// Sets every control; the next setup and every later pass use the values.
void ApplySettings(TForm1& form, const TSettingValues& values);
// The one way a new world is made from settings (runner, benchmarks,
// tests): the controls are set, then the window's setup runs under
// whatever seed rule is in force.
void SetUpWorld(TForm1& form, const TSettingValues& values);

// `values` with some settings changed, named by option or key; refuses a
// name that no setting has.
using TSettingChanges = std::initializer_list<std::pair<std::string_view, int32_t>>;
TResult<TSettingValues> WithChanges(TSettingValues values, TSettingChanges changes);

// `values` of a world that is set up already, changed between two steps:
// each change names a setting by option or key and gives its value as the
// command line writes it. All are checked before any is taken; refuses a
// name no setting has, a value the setting does not take, and a setting
// fixed at setup.
using TSettingTexts = std::vector<std::pair<QString, QString>>;
TResult<TSettingValues> ChangedBetweenSteps(TSettingValues values, const TSettingTexts& changes);

// What the model makes of the settings, where different settings can come
// to the same thing: evaporation rates of 0.15, 0.2 and 0.25 all remove 2
// per step. Recorded beside the settings and compared by --grid.
struct TEffectiveSpec {
  const char* key;        // key in run.json's "effective" and column in summary.csv
  const char* standsFor;  // the setting whose every value it decides (the option)
  const char* meaning;    // one line, in the model's own units
  double (*of)(const TSettingValues& values);
};
inline constexpr size_t kEffectiveCount = 1;
using TEffectiveValues = std::array<double, kEffectiveCount>;
std::span<const TEffectiveSpec> EffectiveSpecs();
TEffectiveValues EffectiveSettings(const TSettingValues& values);
QString FormatEffectiveValue(double value);

// The settings, then the effective settings: the keys as columns of a
// table, and one run's values in the same order.
QStringList SettingColumns();
QStringList SettingCells(const TSettingValues& values);
