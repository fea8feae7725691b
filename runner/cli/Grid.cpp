#include "Grid.h"

#include <QRegularExpression>
#include <algorithm>
#include <map>

#include "Design.h"
#include "Plan.h"

namespace {

// An option and its value as a job line writes them: "--steps 50".
QString OptionWords(TOption option, const QString& value) { return Dashed(option) + QLatin1Char(' ') + value; }
template <class T>
QString OptionWords(TOption option, T number) {
  return OptionWords(option, QString::number(number));
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
  std::optional<TDesignPoint> design;
};

// Sets of equal points (or of one world) beyond this many are counted, with
// this many as examples; a set names this many of its members, and counts
// the rest, so that a warning stays one short line however large the design.
constexpr qsizetype kListedEqualSets = 5;
constexpr qsizetype kEqualSetExamples = 3;
constexpr qsizetype kNamedMembers = 4;

// The first kNamedMembers of a set of `total` members (`names` holds at
// least those), joined, and the count of the rest.
QString FewOf(const QStringList& names, size_t total) {
  QString few = names.mid(0, kNamedMembers).join(QStringLiteral(", "));
  const size_t named = std::min(total, static_cast<size_t>(kNamedMembers));
  if (total > named) few += QStringLiteral(" and %1 more").arg(total - named);
  return few;
}

// One warning for each of `sets` when they are few, else one line that
// counts them (`counted`: its opening words) and gives a few as examples.
QStringList FewWarnings(const QStringList& sets, const QString& counted) {
  if (sets.size() <= kListedEqualSets) return sets;
  return {QStringLiteral("%1, e.g. %2").arg(counted, sets.mid(0, kEqualSetExamples).join(QStringLiteral("; ")))};
}

// The --grid options that make the design of `command`: its own, then every
// option its lines hold but the seed, so that `--grid COMMAND --seeds ...`
// prints the same job list again.
QString DesignCommand(const TCommand& command, const TDesignShape& shape, const QStringList& fixed) {
  const auto specs = SettingSpecs();
  QStringList words;
  const TDesignOptions& design = command.design;
  if (shape.design->cellsFromVary) {
    for (const TVary& vary : command.vary) {
      QStringList values;
      for (int32_t value : vary.values) values << FormatSettingValue(specs[vary.setting], value);
      words << OptionWords(TOption::kVary, QStringLiteral("%1=%2").arg(QLatin1String(specs[vary.setting].option),
                                                                       values.join(QLatin1Char(','))));
    }
  } else {
    words << OptionWords(TOption::kDesign, design.kind) << OptionWords(TOption::kSamples, design.samples);
    if (shape.design->takesLevels) words << OptionWords(TOption::kLevels, design.levels.value_or(kDefaultLevels));
    if (shape.design->takesSeed) words << OptionWords(TOption::kDesignSeed, design.seed.value_or(kDefaultDesignSeed));
    for (const TFactorRange& range : design.ranges) {
      const TSettingSpec& spec = specs[range.setting];
      words << OptionWords(TOption::kRange, QStringLiteral("%1=%2:%3")
                                                .arg(QLatin1String(spec.option), FormatSettingValue(spec, range.lo),
                                                     FormatSettingValue(spec, range.hi)));
    }
  }
  return (words + fixed).join(QLatin1Char(' '));
}

// A design point as the options of its job line.
QString DesignWords(const TDesignPoint& design) {
  const QString point = QStringLiteral("%1,%2,%3").arg(design.kind).arg(design.point).arg(design.role);
  return QStringList{OptionWords(TOption::kDesignPoint, point),
                     OptionWords(TOption::kDesignFactors, design.factors.join(QLatin1Char(','))),
                     OptionWords(TOption::kDesignCommand, JobLineWord(design.command))}
      .join(QLatin1Char(' '));
}

// The points of --design, each snapped to values the controls hold.
std::vector<TCombination> DesignedCombinations(const TCommand& command, const TDesignKind& kind,
                                               const TSettingValues& base, TDesignPoint design) {
  const TDesignOptions& options = command.design;
  const size_t k = options.ranges.size();
  const std::vector<TUnitPoint> points = kind.generate({.samples = options.samples,
                                                        .factors = k,
                                                        .levels = options.levels.value_or(kDefaultLevels),
                                                        .seed = options.seed.value_or(kDefaultDesignSeed)});
  const auto specs = SettingSpecs();
  std::vector<TCombination> combinations;
  combinations.reserve(points.size());
  for (const TUnitPoint& point : points) {
    TCombination c{base, {}, {}, {}};
    for (size_t f = 0; f < k; ++f) {
      const TFactorRange& range = options.ranges[static_cast<qsizetype>(f)];
      const int32_t value = SnapToControl(range, point.x[f]);
      c.settings[range.setting] = value;
      c.words << OptionWords(specs[range.setting], value);
      c.named << QLatin1String(specs[range.setting].option) + QLatin1Char('=') +
                     FormatSettingValue(specs[range.setting], value);
    }
    design.point = point.index;
    design.role = point.role;
    c.design = design;
    combinations.push_back(std::move(c));
  }
  return combinations;
}

// Points of a design that snapping made equal: one line per set, or a count
// and a few sets as examples when there are many.
QStringList EqualPointWarnings(const std::vector<TCombination>& combinations) {
  std::map<TSettingValues, std::vector<const TCombination*>> groups;
  std::vector<TSettingValues> order;
  for (const TCombination& c : combinations) {
    auto& group = groups[c.settings];
    if (group.empty()) order.push_back(c.settings);
    group.push_back(&c);
  }
  QStringList sets;
  qsizetype equalPoints = 0;
  const QString snapped = QStringLiteral("are one point once snapped to values the controls hold");
  for (const TSettingValues& settings : order) {
    const auto& group = groups[settings];
    if (group.size() < 2) continue;
    equalPoints += static_cast<qsizetype>(group.size());
    QStringList names;
    for (const TCombination* c : group) {
      if (names.size() == kNamedMembers) break;  // enough to name a few and count the rest
      const TDesignKind* kind = FindDesignKind(c->design->kind);
      names << QStringLiteral("%1 %2 %3")
                   .arg(QLatin1String(kind ? kind->words.point : "point"))
                   .arg(c->design->point)
                   .arg(c->design->role);
    }
    sets << QStringLiteral("%1 (%2)").arg(FewOf(names, group.size()), group.front()->named.join(QLatin1Char(' ')));
  }
  if (sets.size() <= kListedEqualSets) {
    for (QString& set : sets) set = QStringLiteral("design %1 %2").arg(set, snapped);
    return sets;
  }
  return FewWarnings(
      sets, QStringLiteral("%1 sets of design points (%2 points) %3").arg(sets.size()).arg(equalPoints).arg(snapped));
}

// What makes two combinations the same world: the effective settings, and
// every setting that none of them stands for.
std::pair<TSettingValues, TEffectiveValues> Condition(const TSettingValues& settings) {
  TSettingValues rest = settings;
  for (const TEffectiveSpec& effective : EffectiveSpecs()) rest[*FindSetting(QLatin1String(effective.standsFor))] = 0;
  return {rest, EffectiveSettings(settings)};
}

// With `skipIdentical`, a group of equal settings alone is left to
// EqualPointWarnings.
QStringList SameWorldWarnings(const std::vector<TCombination>& combinations, bool skipIdentical = false) {
  std::map<std::pair<TSettingValues, TEffectiveValues>, std::vector<const TCombination*>> groups;
  std::vector<std::pair<TSettingValues, TEffectiveValues>> order;
  for (const TCombination& c : combinations) {
    auto condition = Condition(c.settings);
    auto& group = groups[condition];
    if (group.empty()) order.push_back(std::move(condition));
    group.push_back(&c);
  }
  QStringList warnings;
  qsizetype worlds = 0;
  for (const auto& condition : order) {
    const auto& group = groups[condition];
    if (group.size() < 2) continue;
    if (skipIdentical && std::all_of(group.begin(), group.end(), [&group](const TCombination* c) {
          return c->settings == group.front()->settings;
        })) {
      continue;
    }
    QStringList named;
    for (const TCombination* c : group) {
      if (named.size() == kNamedMembers) break;  // enough to name a few and count the rest
      named << c->named.join(QLatin1Char(' '));
    }
    QStringList effective;
    for (size_t i = 0; i < kEffectiveCount; ++i) {
      effective << QStringLiteral("%1 %2").arg(QLatin1String(EffectiveSpecs()[i].key),
                                               FormatEffectiveValue(condition.second[i]));
    }
    warnings << QStringLiteral("%1 are one condition: the same world (%2)")
                    .arg(FewOf(named, group.size()), effective.join(QStringLiteral(", ")));
    ++worlds;
  }
  return FewWarnings(warnings, QStringLiteral("%1 sets of combinations are one condition each").arg(worlds));
}

// The job lines of `combinations`, the seeds innermost.
TResult<TJobList> WithSeeds(TJobList list, const TCommand& command, const QStringList& fixed,
                            const std::vector<TCombination>& combinations) {
  const TRunOptions& options = command.run;
  QStringList seedWords;
  for (uint32_t s : command.seeds) seedWords << OptionWords(TOption::kSeed, s);
  if (seedWords.isEmpty()) seedWords << (options.seed ? OptionWords(TOption::kSeed, *options.seed) : QString());
  for (const TCombination& c : combinations) {
    QStringList words = fixed + c.words;
    if (c.design) words << DesignWords(*c.design);
    const QString line = words.join(QLatin1Char(' '));
    for (const QString& seed : seedWords) {
      list.lines << (line + QLatin1Char(' ') + seed).trimmed();
      if (list.lines.size() > kMaxJobLines)
        return Refused(QStringLiteral("the job list would have more than %1 lines").arg(kMaxJobLines));
    }
  }
  return list;
}

// Refuses to vary a setting that the checkpoint of --from fixes.
TStatus ChangeableFrom(const TRunPlan& base, size_t setting, TOption how) {
  const TSettingSpec& spec = SettingSpecs()[setting];
  if (base.from && spec.fixedAtSetup) {
    return Refused(QStringLiteral("%1 %2: the checkpoint of %3 fixes it at %4")
                       .arg(Dashed(how), QLatin1String(spec.option), Dashed(TOption::kFrom),
                            FormatSettingValue(spec, base.settings[setting])));
  }
  return Success();
}

// What a --grid command makes before its seeds: the options every line
// holds, the combinations of values (or the design's points), the warnings.
struct TGridPlan {
  QStringList fixed;
  std::vector<TCombination> combinations;
  TJobList list;  // the warnings only
};

TResult<TGridPlan> PlanGrid(const TCommand& command, const TSettingValues& defaults) {
  const TRunOptions& options = command.run;
  const auto specs = SettingSpecs();
  TResult<TRunPlan> base = ResolvePlan(options, defaults, TPlanTarget::kFolder);
  if (!base) return base.Error();
  for (const TVary& vary : command.vary) {
    if (TStatus fixedHere = ChangeableFrom(*base, vary.setting, TOption::kVary); !fixedHere) return fixedHere.Error();
  }

  // The options every line holds: the ones given, written out.
  QStringList fixed;
  for (size_t i = 0; i < specs.size(); ++i) {
    if (options.settings[i]) fixed << OptionWords(specs[i], *options.settings[i]);
  }
  if (options.steps) fixed << OptionWords(TOption::kSteps, *options.steps);
  if (options.histograms) fixed << Dashed(TOption::kHistograms);
  if (options.plot) fixed << Dashed(TOption::kPlot);
  if (options.snapshotEvery) fixed << OptionWords(TOption::kSnapshotEvery, *options.snapshotEvery);
  if (options.checkpointEvery) fixed << OptionWords(TOption::kCheckpointEvery, *options.checkpointEvery);
  if (options.keepCheckpoints) fixed << Dashed(TOption::kKeepCheckpoints);
  if (options.pictureScale) fixed << OptionWords(TOption::kPictureScale, *options.pictureScale);
  if (!options.video.isEmpty()) fixed << OptionWords(TOption::kVideo, JobLineWord(options.video));
  if (options.videoEvery) fixed << OptionWords(TOption::kVideoEvery, *options.videoEvery);
  if (options.agentsEvery) fixed << OptionWords(TOption::kAgentsEvery, *options.agentsEvery);
  if (options.fieldEvery) fixed << OptionWords(TOption::kFieldEvery, *options.fieldEvery);
  if (options.births) fixed << Dashed(TOption::kBirths);
  if (base->from) fixed << OptionWords(TOption::kFrom, JobLineWord(base->fromPath));

  const TDesignShape shape = DesignShape(command);
  // ParseCommandLine gives --design only a kind that draws its points; a
  // command made otherwise may not.
  if (!command.design.kind.isEmpty() && (!shape.design || !shape.design->generate)) {
    return Refused(
        QStringLiteral("--design takes %1, not '%2'").arg(DesignKindNames(DrawsItsPoints, "or"), command.design.kind));
  }
  std::optional<TDesignPoint> design;
  if (!shape.kind.isEmpty())
    design = TDesignPoint{shape.kind, shape.factors, 0, {}, DesignCommand(command, shape, fixed)};
  TJobList list;
  if (!command.design.kind.isEmpty()) {
    for (const TFactorRange& range : command.design.ranges) {
      if (TStatus fixedHere = ChangeableFrom(*base, range.setting, TOption::kRange); !fixedHere)
        return fixedHere.Error();
    }
    std::vector<TCombination> points = DesignedCombinations(command, *shape.design, base->settings, *design);
    list.equalPoints = EqualPointWarnings(points);
    list.sameWorld = SameWorldWarnings(points, true);
    return TGridPlan{std::move(fixed), std::move(points), std::move(list)};
  }

  // The product, the first --vary outermost.
  std::vector<TCombination> combinations{{base->settings, {}, {}, {}}};
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
  if (design) {
    for (size_t i = 0; i < combinations.size(); ++i) {
      combinations[i].design = design;
      combinations[i].design->point = static_cast<int32_t>(i);
      combinations[i].design->role = QStringLiteral("cell");  // the role of VaryDesignKind's points
    }
  }
  list.sameWorld = SameWorldWarnings(combinations);
  return TGridPlan{std::move(fixed), std::move(combinations), std::move(list)};
}

}  // namespace

TResult<TJobList> BuildJobList(const TCommand& command, const TSettingValues& defaults) {
  TResult<TGridPlan> plan = PlanGrid(command, defaults);
  if (!plan) return plan.Error();
  return WithSeeds(std::move(plan->list), command, plan->fixed, plan->combinations);
}

TResult<std::vector<TJob>> BuildJobs(const TCommand& command, const TSettingValues& defaults) {
  TResult<TGridPlan> plan = PlanGrid(command, defaults);
  if (!plan) return plan.Error();
  TResult<TJobList> list = WithSeeds({}, command, plan->fixed, plan->combinations);
  if (!list) return list.Error();
  // The lines are the combinations in order, each with every seed in turn.
  std::vector<std::optional<uint32_t>> seeds(command.seeds.begin(), command.seeds.end());
  if (seeds.empty()) seeds.push_back(command.run.seed);
  std::vector<TJob> jobs;
  jobs.reserve(static_cast<size_t>(list->lines.size()));
  for (const TCombination& c : plan->combinations) {
    for (const std::optional<uint32_t>& seed : seeds) {
      jobs.push_back({c.settings, seed, c.design, list->lines[static_cast<qsizetype>(jobs.size())]});
    }
  }
  return jobs;
}
