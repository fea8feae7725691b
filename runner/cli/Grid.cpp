#include "Grid.h"

#include <QRegularExpression>
#include <map>

#include "Plan.h"

namespace {

// A word a job line can hold: quoted when it has blanks or quotes.
QString ShellWord(const QString& word) {
  static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=+,-]+$"));
  if (plain.match(word).hasMatch()) return word;
  QString quoted = word;
  quoted.replace(QLatin1Char('"'), QStringLiteral("\"\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// A setting as options on a job line, written out whatever its value.
QString OptionWords(const TSettingSpec& spec, int32_t value) {
  return Dashed(QLatin1String(spec.option)) + QLatin1Char(' ') + FormatSettingValue(spec, value);
}

// One combination of the varied values.
struct TCombination {
  TSettingValues settings;
  QStringList words;  // the varied options, as the line writes them
  QStringList named;  // the same as name=value, for messages
};

// What makes two combinations the same world: the effective settings, and
// every setting that none of them stands for.
std::pair<TSettingValues, TEffectiveValues> Condition(const TSettingValues& settings) {
  TSettingValues rest = settings;
  for (const TEffectiveSpec& effective : EffectiveSpecs()) rest[*FindSetting(QLatin1String(effective.standsFor))] = 0;
  return {rest, EffectiveSettings(settings)};
}

QStringList SameWorldWarnings(const std::vector<TCombination>& combinations) {
  std::map<std::pair<TSettingValues, TEffectiveValues>, std::vector<const TCombination*>> groups;
  std::vector<std::pair<TSettingValues, TEffectiveValues>> order;
  for (const TCombination& c : combinations) {
    auto condition = Condition(c.settings);
    auto& group = groups[condition];
    if (group.empty()) order.push_back(std::move(condition));
    group.push_back(&c);
  }
  QStringList warnings;
  for (const auto& condition : order) {
    const auto& group = groups[condition];
    if (group.size() < 2) continue;
    QStringList named;
    for (const TCombination* c : group) named << c->named.join(QLatin1Char(' '));
    QStringList effective;
    for (size_t i = 0; i < kEffectiveCount; ++i) {
      effective << QStringLiteral("%1 %2").arg(QLatin1String(EffectiveSpecs()[i].key),
                                               FormatEffectiveValue(condition.second[i]));
    }
    warnings << QStringLiteral("%1 are one condition: the same world (%2)")
                    .arg(named.join(QStringLiteral(", ")), effective.join(QStringLiteral(", ")));
  }
  return warnings;
}

}  // namespace

TResult<TJobList> BuildJobList(const TCommand& command, const TSettingValues& defaults) {
  const TRunOptions& options = command.run;
  const auto specs = SettingSpecs();
  TResult<TRunPlan> base = ResolvePlan(options, defaults, TPlanTarget::kFolder);
  if (!base) return base.Error();
  if (base->from) {
    for (const TVary& vary : command.vary) {
      const TSettingSpec& spec = specs[vary.setting];
      if (spec.fixedAtSetup) {
        return Refused(QStringLiteral("--vary %1: the checkpoint of --from fixes it at %2")
                           .arg(QLatin1String(spec.option), FormatSettingValue(spec, base->settings[vary.setting])));
      }
    }
  }

  // The options every line holds: the ones given, written out.
  QStringList fixed;
  for (size_t i = 0; i < specs.size(); ++i) {
    if (options.settings[i]) fixed << OptionWords(specs[i], *options.settings[i]);
  }
  if (options.steps) fixed << QStringLiteral("--steps %1").arg(*options.steps);
  if (options.histograms) fixed << QStringLiteral("--histograms");
  if (options.plot) fixed << QStringLiteral("--plot");
  if (options.snapshotEvery) fixed << QStringLiteral("--snapshot-every %1").arg(*options.snapshotEvery);
  if (options.checkpointEvery) fixed << QStringLiteral("--checkpoint-every %1").arg(*options.checkpointEvery);
  if (options.keepCheckpoints) fixed << QStringLiteral("--keep-checkpoints");
  if (options.pictureScale) fixed << QStringLiteral("--picture-scale %1").arg(*options.pictureScale);
  if (!options.video.isEmpty()) fixed << QStringLiteral("--video ") + ShellWord(options.video);
  if (options.videoEvery) fixed << QStringLiteral("--video-every %1").arg(*options.videoEvery);
  if (options.agentsEvery) fixed << QStringLiteral("--agents-every %1").arg(*options.agentsEvery);
  if (options.fieldEvery) fixed << QStringLiteral("--field-every %1").arg(*options.fieldEvery);
  if (options.births) fixed << QStringLiteral("--births");
  if (base->from) fixed << QStringLiteral("--from ") + ShellWord(base->fromPath);

  // The product, the first --vary outermost.
  std::vector<TCombination> combinations{{base->settings, {}, {}}};
  for (const TVary& vary : command.vary) {
    const TSettingSpec& spec = specs[vary.setting];
    std::vector<TCombination> grown;
    for (const TCombination& c : combinations) {
      for (int32_t value : vary.values) {
        TCombination next = c;
        next.settings[vary.setting] = value;
        next.words << OptionWords(spec, value);
        next.named << QLatin1String(spec.option) + QLatin1Char('=') + FormatSettingValue(spec, value);
        grown.push_back(next);
      }
      if (static_cast<qsizetype>(grown.size()) > kMaxJobLines)
        return Refused(QStringLiteral("the job list would have more than %1 lines").arg(kMaxJobLines));
    }
    combinations = std::move(grown);
  }

  // The seeds innermost.
  QStringList seedWords;
  for (uint32_t s : command.seeds) seedWords << QStringLiteral("--seed %1").arg(s);
  if (seedWords.isEmpty()) seedWords << (options.seed ? QStringLiteral("--seed %1").arg(*options.seed) : QString());
  TJobList list;
  for (const TCombination& c : combinations) {
    const QString line = (fixed + c.words).join(QLatin1Char(' '));
    for (const QString& seed : seedWords) {
      list.lines << (line + QLatin1Char(' ') + seed).trimmed();
      if (list.lines.size() > kMaxJobLines)
        return Refused(QStringLiteral("the job list would have more than %1 lines").arg(kMaxJobLines));
    }
  }
  list.sameWorld = SameWorldWarnings(combinations);
  return list;
}
