"""Sweeps from Python against pathwick_run: the runs of a folder, ensembles as sweeps, designs and analyses."""

import ast
import io
import os
import re
import shlex
import subprocess
import sys

import numpy as np
import pandas as pd
import pytest

import pathwick

KEYS = [spec["key"] for spec in pathwick.settings]
SOURCE = os.environ.get("PATHWICK_SOURCE") or os.path.join(os.path.dirname(__file__), "..", "..")


def one_run(runner, folder, seed, rate, *more):
    runner("--seed", seed, "--steps", 200, "--agents", 40, "--evaporation-rate", rate, "--out", folder, *more)


def flat(runner, root):
    one_run(runner, root / "run-1", 1, 0.3, "--checkpoint-every", 100)
    one_run(runner, root / "run-2", 2, 0.6)
    # A branch from run-1's checkpoint: its parent is that checkpoint.
    checkpoint = sorted((root / "run-1").glob("*.pwk"))[0]
    runner("--from", checkpoint, "--steps", 100, "--out", root / "run-3")
    (root / ".hidden").mkdir()
    (root / "notes").mkdir()
    return ["run-1", "run-2", "run-3"]


def nested(runner, root):
    one_run(runner, root / "run-1", 1, 0.3)
    one_run(runner, root / "deeper" / "run-2", 2, 0.6)  # two levels down: not a run of root
    return ["run-1"]


def single(runner, root):
    one_run(runner, root, 1, 0.3)  # root is itself a run's folder
    return []


@pytest.mark.parametrize("layout", [flat, nested, single])
def test_read_sweep_reads_the_runs_summarize_reads(runner, program, tmp_path, layout):
    root = tmp_path / "sweep"
    expected = layout(runner, root)
    assert pathwick.sweep_runs(root) == expected
    done = program("--summarize", root)
    if not expected:
        assert done.returncode == 2 and "holds no run folders" in done.stderr
        with pytest.raises(FileNotFoundError):
            pathwick.read_sweep(root)
        return
    assert done.returncode == 0, done.stderr
    sweep = pathwick.read_sweep(root)
    samples = pd.read_csv(root / "samples.csv")
    pd.testing.assert_frame_equal(sweep, samples)
    assert list(sweep["folder"].unique()) == expected
    assert {"group", "evaporation_amount", "parent", "start_step"} <= set(sweep.columns)
    if layout is flat:
        assert set(sweep.loc[sweep["folder"] == "run-3", "parent"].dropna()) != set()
        assert sweep.loc[sweep["folder"] != "run-3", "parent"].isna().all()
        assert set(sweep["evaporation_amount"]) == {3, 6}


def test_ensemble_rows_carry_the_settings_and_its_folders_are_a_sweep(runner, program, tmp_path):
    runs = [{"seed": 1, "agents": 40, "evaporation_rate": 0.3}, {"seed": 2, "agents": 40, "evaporation_rate": 0.6},
            {"seed": 3, "agents": 40, "sniff": "roulette"}]
    out = tmp_path / "ensemble"
    with pathwick.World(seed=1, agents=0) as blank:
        window = blank.settings
    frame = pathwick.run_ensemble(runs, steps=200, processes=2, out=out)
    assert pathwick.sweep_runs(out) == ["run-0000", "run-0001", "run-0002"]
    assert list(frame.columns[:2 + len(KEYS)]) == ["run", "seed", *KEYS]
    for index, run in enumerate(runs):
        rows = frame[frame["run"] == index]
        defaults = {key: value for key, value in window.items() if key not in run and key != "agents"}
        for key, value in {**defaults, **run}.items():
            assert set(rows[key]) == {value}, key
        options = [f"--{key.replace('_', '-')}={value}" for key, value in run.items()]
        expected = pd.read_csv(io.StringIO(runner(*options, "--steps", 200)))
        pd.testing.assert_frame_equal(rows.drop(columns=["run", "seed", *KEYS]).reset_index(drop=True), expected)
    # Each folder holds the bytes pathwick_run --out writes for the same run alone, wall time apart.
    for index, run in enumerate(runs):
        alone = tmp_path / f"alone-{index}"
        options = [f"--{key.replace('_', '-')}={value}" for key, value in run.items()]
        runner("--quiet", "--out", alone, *options, "--steps", 200)
        made = out / f"run-{index:04d}"
        assert sorted(p.name for p in made.iterdir()) == sorted(p.name for p in alone.iterdir())
        for file in alone.iterdir():
            ours, theirs = (made / file.name).read_bytes(), file.read_bytes()
            if file.name == "run.json":
                ours, theirs = (re.sub(rb'"wall_time_seconds": [0-9.e-]+', b"", text) for text in (ours, theirs))
            assert ours == theirs, f"{made / file.name} differs from the run made alone"
    runner("--summarize", out)
    runner("--verify", out, "--repeat", 1)
    sweep = pathwick.read_sweep(out)
    series_columns = list(frame.columns[2 + len(KEYS):])
    pd.testing.assert_frame_equal(sweep[series_columns], frame[series_columns])
    with pytest.raises(RuntimeError, match=r"run 0 \(seed=1, .*\) failed: .*"):
        pathwick.run_ensemble(runs[:1], steps=100, out=out)
    again = pathwick.run_ensemble(runs[:1], steps=300, out=out, force=True)
    rewritten = pathwick.read_run(out / "run-0000")
    assert rewritten.attrs["run"]["samples"] == 3  # the new run's, in place of the old one
    pd.testing.assert_frame_equal(again[rewritten.columns], rewritten)
    assert len(rewritten) != len(pathwick.read_run(out / "run-0001"))


def test_ensemble_runs_from_a_script_on_standard_input(tmp_path):
    script = ("import pathwick\n"
              "frame = pathwick.run_ensemble([{'seed': 1, 'agents': 30}, {'seed': 2, 'agents': 30}], steps=100,"
              " processes=2)\n"
              "print(sorted(set(frame['run'])), sorted(set(frame['seed'])))\n")
    done = subprocess.run([sys.executable, "-"], input=script, capture_output=True, text=True, cwd=tmp_path,
                          check=False)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "[0, 1] [1, 2]"


def test_a_designs_jobs_are_the_grids_lines_and_its_analysis_is_summarizes(runner, tmp_path):
    options = "--vary agents=20,40 --vary evaporation-rate=0.3,0.6 --seeds 1,2 --steps 700"
    jobs = pathwick.design(options)
    assert list(jobs["options"]) == runner("--grid", *shlex.split(options)).splitlines()
    assert list(jobs.columns) == ["seed", *KEYS, "design_kind", "design_point", "design_role", "options"]
    assert len(jobs) == 8 and set(jobs["design_kind"]) == {"factorial"} and set(jobs["seed"]) == {1, 2}
    assert set(zip(jobs["agents"], jobs["evaporation_rate"])) == {(20, 0.3), (20, 0.6), (40, 0.3), (40, 0.6)}
    root = tmp_path / "factorial"
    for index, line in enumerate(jobs["options"]):
        runner(*shlex.split(line), "--out", root / f"job-{index}")
    with pytest.raises(ValueError):
        pathwick.explore(tmp_path / "none")
    runner("--summarize", root, "--window", 2)
    effects = pathwick.explore(root, window=2)
    pd.testing.assert_frame_equal(effects, pd.read_csv(root / "effects.csv"))
    assert effects.attrs["analysis"] == "factorial"
    assert set(effects["measure"]) <= {"mean_angle", "mean_wiggle", "trip_rate", "birth_rate"}
    assert not pathwick.explore(root).equals(effects)  # the window changes the measures
    # Other measures, on their scale, as --summarize --measure makes them; an unknown one is refused.
    chosen = pathwick.explore(root, window=2, measures=["mean_chemical"], transforms=["mean_chemical=log1p"],
                              factor_coding="categorical")
    runner("--summarize", root, "--window", 2, "--measure", "mean_chemical", "--transform", "mean_chemical=log1p",
           "--factor-coding", "categorical")
    pd.testing.assert_frame_equal(chosen, pd.read_csv(root / "effects.csv"))
    assert set(chosen["measure"]) == {"log1p(mean_chemical)"}
    # The ANOVA's F and p for each term, the seeds' share beside them, and a warning only where the seeds dominate.
    assert set(chosen["quantity"]) - {"warning"} == {"F", "p", "seed_share"}
    assert set(chosen[chosen["quantity"] == "F"]["term"]) == {"agents", "evaporation-rate", "agents:evaporation-rate",
                                                              "seed"}
    with pytest.raises(ValueError, match="no measure is called 'chemical'"):
        pathwick.explore(root, measures=["chemical"])
    # summary.csv and read_sweep carry each run's design point and role.
    summary = pd.read_csv(root / "summary.csv")
    assert set(summary["design_kind"]) == {"factorial"} and "window_mean_chemical" in summary.columns
    sweep = pathwick.read_sweep(root)
    assert {"design_kind", "design_point", "design_role"} <= set(sweep.columns)


@pytest.mark.parametrize("options, kind, rows, roles", [
    (["--design", "lhs", "--samples", "5", "--range", "agents=20:100", "--range", "mutation-rate=0:1",
      "--seeds", "4"], "lhs", 5, {"sample"}),
    ("--design morris --samples 2 --range agents=20:100 --range diffuse=off:on", "morris", 6, {"T0", "T1", "T2"}),
    ("--vary agents=10,20", None, 2, {None}),
])
def test_design_points(options, kind, rows, roles):
    jobs = pathwick.design(options)
    assert len(jobs) == rows and set(jobs["design_role"]) == roles
    assert set(jobs["design_kind"]) == {kind}
    assert jobs["agents"].between(10, 100).all()


def test_a_refused_design_and_an_unexplorable_sweep(runner, program, tmp_path):
    with pytest.raises(ValueError) as refused:
        pathwick.design("--vary agents=-1")
    assert str(refused.value) == program("--grid", "--vary", "agents=-1").stderr.strip().removeprefix("pathwick_run: ")
    for seed in (1, 2):
        one_run(runner, tmp_path / "plain" / f"run-{seed}", seed, 0.3)
    with pytest.raises(ValueError):
        pathwick.explore(tmp_path / "plain")


def test_tables_need_pandas_and_say_so(world, monkeypatch, tmp_path):
    w = world(seed=1, agents=20)
    w.step(100)
    monkeypatch.setitem(sys.modules, "pandas", None)
    for use in (lambda: w.agents, lambda: w.births, lambda: w.series, lambda: pathwick.read_sweep(tmp_path),
                lambda: pathwick.design("--vary agents=1,2")):
        with pytest.raises(ImportError, match="pandas"):
            use()
    assert w.field()[0].shape == w.chemical.shape  # arrays need no pandas


def declared_minimum():
    with open(os.path.join(SOURCE, "CMakeLists.txt"), encoding="utf-8") as f:
        found = re.search(r"find_package\(Python (\d+)\.(\d+)", f.read())
    return int(found.group(1)), int(found.group(2))


@pytest.mark.parametrize("name", ["__init__.py", "_tables.py", "_ensemble.py"])
def test_the_package_parses_as_the_declared_minimum_python(name):
    with open(os.path.join(SOURCE, "python", "pathwick", name), encoding="utf-8") as f:
        ast.parse(f.read(), filename=name, feature_version=declared_minimum())


def test_a_failing_run_stops_the_runs_under_way(tmp_path):
    # The second run would take minutes: the ensemble ends as soon as the first has failed.
    runs = [{"seed": 1, "agents": -5}, {"seed": 2, "agents": 400}]
    with pytest.raises(RuntimeError, match=r"run 0 \(seed=1, agents=-5\) failed: --agents takes"):
        pathwick.run_ensemble(runs, steps=2_000_000, processes=2, out=tmp_path / "stopped")
    # The failed run left nothing; the stopped one, if it had started, records that it was interrupted.
    for name in pathwick.sweep_runs(tmp_path / "stopped"):
        record = pathwick.read_run(tmp_path / "stopped" / name).attrs["run"]
        assert name == "run-0001" and record["ended"] == "interrupted"


@pytest.mark.parametrize("worker, said", [
    ("import os, signal; os.kill(os.getpid(), signal.SIGSEGV)", "the worker was killed by signal 11 (SIGSEGV)"),
    ("import os; os.abort()", "the worker was killed by signal 6 (SIGABRT)"),
    ("import sys; sys.exit(3)", "the worker ended with status 3"),
])
def test_a_worker_that_dies_without_a_result_fails_its_run_naming_how(worker, said, monkeypatch):
    monkeypatch.setattr("pathwick._ensemble._WORKER", worker)
    with pytest.raises(RuntimeError, match=r"run 0 \(seed=1\) failed: " + re.escape(said) + "$"):
        pathwick.run_ensemble([{"seed": 1}], steps=10)


# --- The analyses recomputed from summary.csv alone, without a run's record ---

def point_means(summary, y):
    """Each design point's mean of column y over its seeds, and the one-way ANOVA of the seeds within the points.

    The seeds' share is sigma2_w / (sigma2_w + sigma2_b) of the one-way random-effects ANOVA (Searle, Casella and
    McCulloch 1992, Variance Components, 3.5-3.6): MSW and MSB the mean squares within and between the a points of
    N runs, n0 = (N - sum n_i^2 / N) / (a - 1), sigma2_b = max(0, (MSB - MSW) / n0); the noise a point's mean keeps
    is MSW times the mean of 1 / n_i.
    """
    groups = summary.groupby(["design_role", "design_point"])[y]
    means, counts = groups.mean(), groups.count()
    runs, points = len(summary), len(means)
    within = ((summary[y] - groups.transform("mean")) ** 2).sum() / (runs - points)
    between = (counts * (means - summary[y].mean()) ** 2).sum() / (points - 1)
    n0 = (runs - (counts ** 2).sum() / runs) / (points - 1)
    sigma2_b = max(0.0, (between - within) / n0)
    return means, within / (within + sigma2_b), within * (1 / counts).mean()


def sobol_indices(means, noise, k):
    """S1 (Saltelli et al. 2010, Comput. Phys. Commun. 181, 259-270, Table 2 (b)) and ST (Jansen 1999, Comput.
    Phys. Commun. 117, 35-43) of each factor on outputs centred by the mean of f(A) and f(B), with the noise the
    seeds leave in the point means taken from the variance and from the total index's numerator."""
    a, b = means["A"].to_numpy(), means["B"].to_numpy()
    centre = np.concatenate([a, b]).mean()
    variance = np.concatenate([a - centre, b - centre]).var() - noise
    indices = {}
    for i in range(1, k + 1):
        ab = means[f"AB{i}"].to_numpy()
        indices[i] = (np.mean((b - centre) * (ab - a)) / variance, (np.mean((a - ab) ** 2) / 2 - noise) / variance)
    return indices


def grid_runs(runner, root, options):
    for index, line in enumerate(runner("--grid", *shlex.split(options)).splitlines()):
        runner(*shlex.split(line), "--out", root / f"run-{index:03d}")


def estimate(effects, measure, term, quantity):
    rows = effects[(effects["measure"] == measure) & (effects["term"] == term) & (effects["quantity"] == quantity)]
    assert len(rows) == 1, (measure, term, quantity)
    return rows.iloc[0]


def test_sobol_indices_and_the_seeds_share_recompute_from_summary_csv_alone(runner, tmp_path):
    factors = ["agents", "evaporation-rate"]
    root = tmp_path / "sobol"
    grid_runs(runner, root, "--design sobol --samples 8 --range agents=20:80 --range evaporation-rate=0.2:0.8"
                            " --seeds 1-3 --steps 400")
    runner("--summarize", root, "--window", 2, "--measure", "mean_chemical,trip_rate")
    summary, effects = pd.read_csv(root / "summary.csv"), pd.read_csv(root / "effects.csv")
    checked = 0
    for measure, column in [("mean_chemical", "window_mean_chemical"), ("trip_rate", "trip_rate")]:
        means, share, noise = point_means(summary, column)
        assert estimate(effects, measure, "seed", "seed_share")["estimate"] == pytest.approx(share, rel=1e-3)
        rows = means.unstack(level=0)  # a row per design row, a column per role
        # Every index the program printed; a measure within the seeds' noise has none.
        for i, (s1, st) in sobol_indices(rows, noise, len(factors)).items():
            for quantity, value in (("S1", s1), ("ST", st)):
                printed = effects[(effects["measure"] == measure) & (effects["term"] == factors[i - 1]) &
                                  (effects["quantity"] == quantity)]["estimate"]
                assert len(printed) == (1 if np.concatenate([rows["A"], rows["B"]]).var() > noise else 0)
                for p in printed:
                    assert p == pytest.approx(value, rel=1e-3, abs=1e-4), (measure, factors[i - 1], quantity)
                    checked += 1
    assert checked >= 4


def test_a_factorial_recomputes_from_summary_csv_alone_as_statsmodels_fits_it(runner, tmp_path):
    smf = pytest.importorskip("statsmodels.formula.api")
    anova_lm = pytest.importorskip("statsmodels.stats.anova").anova_lm
    root = tmp_path / "factorial"
    grid_runs(runner, root, "--vary agents=20,50 --vary evaporation-rate=0.2,0.5,0.8 --seeds 1-3 --steps 400")
    # A factor of three levels: a categorical ANOVA, Type II sums of squares, with the seeds as blocks.
    runner("--summarize", root, "--window", 2, "--measure", "mean_angle")
    summary = pd.read_csv(root / "summary.csv")
    y = summary["window_mean_angle"]
    effects = pd.read_csv(root / "effects.csv")
    model = smf.ols("y ~ C(agents) * C(evaporation_rate) + C(seed)", data=summary.assign(y=y)).fit()
    table = anova_lm(model, typ=2)
    total = ((y - y.mean()) ** 2).sum()
    for term, row in {"agents": "C(agents)", "evaporation-rate": "C(evaporation_rate)",
                      "agents:evaporation-rate": "C(agents):C(evaporation_rate)", "seed": "C(seed)"}.items():
        f = estimate(effects, "mean_angle", term, "F")
        assert f["estimate"] == pytest.approx(table.loc[row, "F"], rel=1e-3), term
        assert f["share"] == pytest.approx(table.loc[row, "sum_sq"] / total, rel=1e-3, abs=1e-6), term
        assert estimate(effects, "mean_angle", term, "p")["estimate"] == pytest.approx(table.loc[row, "PR(>F)"],
                                                                                       rel=1e-2, abs=1e-6), term
    # The same runs coded linearly, -1 to +1 over each factor's range: the effect is twice the coefficient.
    runner("--summarize", root, "--window", 2, "--measure", "mean_angle", "--factor-coding", "linear")
    effects = pd.read_csv(root / "effects.csv")
    coded = summary.assign(y=y, a=np.interp(summary["agents"], [20, 50], [-1, 1]),
                           e=np.interp(summary["evaporation_rate"], [0.2, 0.8], [-1, 1]))
    linear = smf.ols("y ~ a * e + C(seed)", data=coded).fit()
    intervals = linear.conf_int()
    # An interaction is the half-difference of one factor's effects at the other's two ends: 2 b_ae too.
    for term, name, quantity in (("agents", "a", "effect"), ("evaporation-rate", "e", "effect"),
                                 ("agents:evaporation-rate", "a:e", "interaction")):
        row = estimate(effects, "mean_angle", term, quantity)
        assert row["estimate"] == pytest.approx(2 * linear.params[name], rel=1e-3, abs=1e-6), term
        assert row["low"] == pytest.approx(2 * intervals.loc[name, 0], rel=1e-3, abs=1e-6), term
    # The seeds' share within the cells, the one-way ANOVA over the cells.
    assert estimate(effects, "mean_angle", "seed", "seed_share")["estimate"] == pytest.approx(
        point_means(summary, "window_mean_angle")[1], rel=1e-3)
