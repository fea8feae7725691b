"""The Python world against pathwick_run: samples, checkpoints, steering, errors, arrays, pictures."""

import io
import os
import signal
import struct
import subprocess
import sys

import numpy as np
import pandas as pd
import pytest

import pathwick

SMALL = {"agents": 150, "cell_size": 5}


def option_list(settings):
    """The settings as pathwick_run's options."""
    out = []
    for key, value in settings.items():
        text = ("on" if value else "off") if isinstance(value, bool) else str(value)
        out += ["--" + key.replace("_", "-"), text]
    return out


def rows_from(csv_text, first_step):
    """The header and the rows of series.csv text from `first_step` on."""
    lines = csv_text.splitlines(keepends=True)
    return lines[:1] + [line for line in lines[1:] if int(line.split(",", 1)[0]) >= first_step]


@pytest.mark.parametrize("seed, settings", [
    (7, {"agents": 200}),
    (11, {**SMALL, "sniff": "roulette", "knows_center": True}),
    (3, {**SMALL, "diffuse": True, "evaporation_rate": 0.2}),
    (5, {"agents": 120, "cell_size": 3, "mutation_rate": 0.25, "mark_strength": 70}),
])
def test_samples_equal_the_runners(world, runner, seed, settings):
    w = world(seed=seed, **settings)
    w.step(300)
    w.step(300)  # in two calls: stepping resumes where it stopped
    expected = runner("--seed", seed, "--steps", 600, *option_list(settings))
    assert w.series_csv() == expected
    pd.testing.assert_frame_equal(w.series, pd.read_csv(io.StringIO(expected)))
    assert w.step_count == 600 and w.seed == seed
    assert {k: w.settings[k] for k in settings} == settings


def test_checkpoint_continues_and_branches_as_the_runner_does(world, runner, tmp_path):
    path = tmp_path / "w.pwk"
    w = world(seed=3, **SMALL)
    w.step(300)
    w.save(path)
    w.step(400)
    straight = w.series_csv()
    w.save(tmp_path / "straight.pwk")
    w.close()

    loaded = pathwick.World.load(path)
    assert loaded.step_count == 300 and loaded.seed == 3
    loaded.step(400)
    assert rows_from(straight, 300) == rows_from(loaded.series_csv(), 0)
    assert loaded.series_csv() == runner("--from", path, "--steps", 400)
    loaded.save(tmp_path / "loaded.pwk")
    assert (tmp_path / "loaded.pwk").read_bytes() == (tmp_path / "straight.pwk").read_bytes()
    loaded.close()

    with pathwick.World.load(path, seed=99) as branch:
        branch.step(400)
        assert branch.series_csv() == runner("--from", path, "--seed", 99, "--steps", 400)
        assert branch.seed == 99


def test_set_between_steps_equals_a_branch_with_the_same_rates(world, tmp_path):
    path = tmp_path / "w.pwk"
    rates = {"evaporation_rate": 0.8, "sniff": "roulette", "sniff_threshold": 5}
    w = world(seed=5, **SMALL)
    w.step(300)
    w.save(path)
    w.set(**rates)
    w.step(400)
    steered = rows_from(w.series_csv(), 300)
    assert {k: w.settings[k] for k in rates} == rates
    w.close()
    with pathwick.World.load(path, **rates) as branch:
        branch.step(400)
        assert rows_from(branch.series_csv(), 0) == steered
    with pathwick.World.load(path) as unchanged:
        unchanged.step(400)
        assert rows_from(unchanged.series_csv(), 0) != steered


@pytest.fixture(scope="session")
def runner_refusal():
    program = os.environ["PATHWICK_RUN"]

    def refusal(*arguments):
        done = subprocess.run([program, *map(str, arguments)], capture_output=True, text=True, check=False,
                              env={**os.environ, "QT_QPA_PLATFORM": "offscreen"})
        assert done.returncode == 2, done.stderr
        return done.stderr.strip().removeprefix("pathwick_run: ")

    return refusal


@pytest.mark.parametrize("given, options", [
    ({"agents": -1}, ["--agents=-1"]),
    ({"cell_size": 11}, ["--cell-size=11"]),
    ({"evaporation_rate": 0.555}, ["--evaporation-rate=0.555"]),
    ({"mutation_rate": 1.5}, ["--mutation-rate=1.5"]),
    ({"sniff": "uphill"}, ["--sniff=uphill"]),
    ({"diffuse": "maybe"}, ["--diffuse=maybe"]),
    ({"visibility_threshold": 501}, ["--visibility-threshold=501"]),
    ({"seed": 2**32}, ["--seed=" + str(2**32)]),
    ({"seed": -1}, ["--seed=-1"]),
])
def test_bad_values_are_refused_with_the_runners_message(world, runner_refusal, given, options):
    with pytest.raises(ValueError) as refused:
        world(**given)
    assert str(refused.value) == runner_refusal(*options, "--steps", "1")
    world(seed=1, agents=10).close()  # nothing was left open


@pytest.mark.parametrize("change, message", [
    ({"agents": 10}, "--agents is fixed when the world is set up"),
    ({"cell_size": 4}, "--cell-size is fixed when the world is set up"),
    ({"evaporation_rate": 2}, "--evaporation-rate takes 0 to 1 in steps of 0.01, not '2'"),
    ({"mutation_rate": 0.5, "mark_strength": 101}, "--mark-strength takes a whole number from 0 to 100, not '101'"),
    ({"speed": 3}, "no setting is called 'speed'"),
])
def test_set_refuses_all_or_nothing(world, change, message):
    w = world(seed=1, agents=20)
    before = w.settings
    with pytest.raises(ValueError, match=message):
        w.set(**change)
    assert w.settings == before
    if "speed" in change:  # a new world refuses the name in the same words, before anything is made
        with pytest.raises(ValueError, match=message):
            pathwick.World(**change)


def test_one_world_at_a_time_and_none_after_close(world, tmp_path):
    w = world(seed=1, agents=20)
    with pytest.raises(RuntimeError, match="a world is open already"):
        pathwick.World(seed=2)
    with pytest.raises(RuntimeError, match="a world is open already"):
        pathwick.World.load(tmp_path / "none.pwk")
    w.close()
    w.close()
    assert w.closed and "closed" in repr(w)
    for use in (lambda: w.step(1), lambda: w.step_count, lambda: w.series, lambda: w.field(), lambda: w.agents,
                lambda: w.births, lambda: w.picture(), lambda: w.save(tmp_path / "x.pwk"), lambda: w.set(diffuse=True),
                lambda: w.paint(1, 1), lambda: w.settings):
        with pytest.raises(RuntimeError, match="this world is closed"):
            use()
    assert w._repr_png_() is None
    with pathwick.World(seed=2, agents=20) as second:
        second.step(2)
    assert second.closed


@pytest.mark.parametrize("content, message", [
    (None, "--from: "),
    (b"not a checkpoint", "--from: "),
])
def test_a_bad_checkpoint_is_refused(world, tmp_path, content, message):
    path = tmp_path / "bad.pwk"
    if content is not None:
        path.write_bytes(content)
    with pytest.raises(ValueError, match=message):
        pathwick.World.load(path)
    world(seed=1, agents=10)  # and the next world can be made


def test_a_damaged_checkpoint_is_refused(world, tmp_path):
    path = tmp_path / "w.pwk"
    w = world(seed=1, agents=30)
    w.step(10)
    w.save(path)
    w.close()
    data = bytearray(path.read_bytes())
    data[len(data) // 2] ^= 0xFF
    path.write_bytes(bytes(data))
    with pytest.raises(ValueError, match="--from: "):
        pathwick.World.load(path)


def test_arrays_agree_with_the_run_folders_tables(world, runner, tmp_path):
    # Without evaporation the field at a sample is the field after its step:
    # the sample is taken after the next step's evaporation.
    settings = {"agents": 150, "cell_size": 6, "evaporation_rate": 0}
    out = tmp_path / "run"
    runner("--seed", 4, "--steps", 1000, "--out", out, "--agents-every", 400, "--field-every", 400, "--births",
           *option_list(settings))
    w = world(seed=4, **settings)
    w.step(400)
    agents = pathwick.read_run(out, "agents")
    assert set(agents["step"]) == {0, 400, 800}
    at_400 = agents[agents["step"] == 400].drop(columns="step").reset_index(drop=True)
    pd.testing.assert_frame_equal(w.agents, at_400)
    field = pathwick.read_run(out, "field")
    field = field[field["step"] == 400]
    chemical, home, target = w.field()
    assert chemical.shape == (field["row"].max() + 1, field["column"].max() + 1)
    for name, array in (("chemical", chemical), ("home", home), ("target", target)):
        assert np.array_equal(array[field["row"], field["column"]], field[name].to_numpy().astype(array.dtype))
    w.step(600)
    births = pathwick.read_run(out, "births")
    assert len(births) > 0 and births["mutated_position"].isna().any()
    pd.testing.assert_frame_equal(w.births, births)
    assert pathwick.read_run(out).attrs["run"]["seed"] == 4


def test_read_sweep_joins_the_runs_with_their_settings(runner, tmp_path):
    for seed, rate in ((1, 0.3), (2, 0.6)):
        runner("--seed", seed, "--steps", 200, "--agents", 40, "--evaporation-rate", rate, "--out",
               tmp_path / "sweep" / f"run-{seed}")
    sweep = pathwick.read_sweep(tmp_path / "sweep")
    assert list(sweep["folder"].unique()) == ["run-1", "run-2"]
    for seed, rate in ((1, 0.3), (2, 0.6)):
        rows = sweep[sweep["seed"] == seed]
        assert set(rows["evaporation_rate"]) == {rate} and set(rows["agents"]) == {40}
        series = pathwick.read_run(tmp_path / "sweep" / f"run-{seed}")
        pd.testing.assert_frame_equal(rows[series.columns].reset_index(drop=True), series)
    (tmp_path / "empty").mkdir()
    with pytest.raises(FileNotFoundError):
        pathwick.read_sweep(tmp_path / "empty")


@pytest.mark.parametrize("cell_size, x, y, column, row", [
    (4, 40, 80, 10, 20),
    (5, 12, 13, 2, 3),  # positions round to the nearest cell, as the mouse's do
    (7, None, None, -1, -1),  # by cell: the last column and row
    (3, None, None, 0, 0),
    (5, None, None, 40, 7),
])
def test_paint_and_wipe_as_the_mouse_does(world, cell_size, x, y, column, row):
    w = world(seed=2, agents=0, cell_size=cell_size)
    rows, columns = w.chemical.shape
    column, row = column % columns, row % rows
    by_cell = x is None
    paint, wipe = (w.paint_cell, w.wipe_cell) if by_cell else (w.paint, w.wipe)
    at, step = ((column, row), 1) if by_cell else ((x, y), cell_size)
    before = w.chemical
    paint(*at)
    after = w.chemical
    assert after[row, column] == 255
    after[row, column] = before[row, column]
    assert np.array_equal(after, before)  # that cell and no other
    neighbour = (at[0] - step, at[1]) if column == columns - 1 else (at[0] + step, at[1])
    wipe([at[0], neighbour[0]], [at[1], neighbour[1]])
    chemical = w.chemical
    neighbour_column = neighbour[0] if by_cell else column + 1
    assert chemical[row, column] == 1 and chemical[row, neighbour_column] == 1
    before = w.chemical
    if by_cell:
        for off in ((-1, 0), (columns, 0), (0, rows), (0, -1)):
            with pytest.raises(ValueError, match="off the grid"):
                w.paint_cell([0, off[0]], [0, off[1]])  # refused whole: the first cell stays unpainted
    else:
        w.paint(-5, 10)
        w.paint(10_000, 10)
    assert np.array_equal(w.chemical, before)
    with pytest.raises(ValueError):
        paint([1, 2], [3])


def test_a_picture_shows_the_grid_and_changes_nothing(world, tmp_path):
    w = world(seed=6, **SMALL)
    w.step(250)
    w.save(tmp_path / "before.pwk")
    one = w.picture()
    assert one.shape == (404, 404, 3) and one.dtype == np.uint8
    assert np.array_equal(w.picture(3), one.repeat(3, axis=0).repeat(3, axis=1))
    png = w._repr_png_()
    assert png[:8] == b"\x89PNG\r\n\x1a\n" and struct.unpack(">II", png[16:24]) == (404, 404)
    # The home cells are red, the target green: both colours are on the picture.
    colours = {tuple(c) for c in one.reshape(-1, 3)}
    assert (255, 0, 0) in colours and (0, 128, 0) in colours
    with pytest.raises(ValueError):
        w.picture(0)
    w.save(tmp_path / "after.pwk")
    assert (tmp_path / "after.pwk").read_bytes() == (tmp_path / "before.pwk").read_bytes()


def test_an_interrupt_stops_between_steps_with_the_world_intact(world):
    w = world(seed=8, agents=100)

    def interrupt(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGPROF, interrupt)
    try:
        # The signal comes after some processor time, which the steps take.
        signal.setitimer(signal.ITIMER_PROF, 0.05)
        with pytest.raises(KeyboardInterrupt):
            w.step(10**9)
    finally:
        signal.setitimer(signal.ITIMER_PROF, 0)
        signal.signal(signal.SIGPROF, previous)
    done = w.step_count
    assert 0 < done < 10**9
    w.step(200)
    interrupted = w.series_csv()
    w.close()
    with pathwick.World(seed=8, agents=100) as straight:
        straight.step(done + 200)
        assert straight.series_csv() == interrupted


def test_ensemble_equals_separate_runs_and_names_a_failing_run(runner):
    runs = [{"seed": 1, "agents": 60}, {"seed": 2, "agents": 60, "sniff": "roulette"}, {"seed": 3, "agents": 60}]
    ensemble = pathwick.run_ensemble(runs, steps=300, processes=2)
    assert list(ensemble["run"].unique()) == [0, 1, 2]
    for index, run in enumerate(runs):
        settings = {k: v for k, v in run.items() if k != "seed"}
        expected = pd.read_csv(io.StringIO(runner("--seed", run["seed"], "--steps", 300, *option_list(settings))))
        rows = ensemble[ensemble["run"] == index]
        assert set(rows["seed"]) == {run["seed"]} and set(rows["agents"]) == {60}
        keys = [spec["key"] for spec in pathwick.settings]
        pd.testing.assert_frame_equal(rows.drop(columns=["run", "seed", *keys]).reset_index(drop=True), expected)
    with pytest.raises(RuntimeError, match=r"run 1 \(seed=2, agents=-5\) failed: --agents takes"):
        pathwick.run_ensemble([{"seed": 1, "agents": 20}, {"seed": 2, "agents": -5}], steps=100, processes=2)


def test_the_example_script_runs(tmp_path):
    source = os.environ.get("PATHWICK_SOURCE") or os.path.join(os.path.dirname(__file__), "..", "..")
    example = os.path.join(source, "docs", "python_example.py")
    done = subprocess.run([sys.executable, example, tmp_path, "--steps", "200"], capture_output=True, text=True,
                          check=False)
    assert done.returncode == 0, done.stderr
    png = (tmp_path / "python-field.png").read_bytes()
    assert png[:8] == b"\x89PNG\r\n\x1a\n"
    assert "avg_angle" in done.stdout and "evaporation_rate" in done.stdout


OUTSIDE = b"the user's own file, outside the folder\n"


def _plant(kind, path, outside):
    if kind == "link_outside":
        path.symlink_to(outside)
    elif kind == "link_devnull":
        path.symlink_to("/dev/null")
    elif kind == "fifo":
        os.mkfifo(path)
    elif kind == "folder":
        path.mkdir()
    else:  # a read-only second link of the file outside
        os.link(outside, path)
        path.chmod(0o444)


# What stands where save writes, and how it is named when refused; a regular
# file (None) is replaced, never written into.
HOSTILE = [("link_outside", "a symbolic link"), ("link_devnull", "a symbolic link"), ("fifo", "a FIFO"),
           ("folder", "a folder"), ("read_only_file", None)]


@pytest.mark.parametrize("kind,what", HOSTILE)
def test_save_refuses_what_is_not_a_regular_file_and_replaces_one_never_writing_outside(world, tmp_path, kind, what):
    outside = tmp_path / "outside.txt"
    outside.write_bytes(OUTSIDE)
    folder = tmp_path / "run"
    folder.mkdir()
    path = folder / "w.pwk"
    _plant(kind, path, outside)
    w = world(seed=3, **SMALL)
    w.step(10)
    if what is None:
        w.save(path)
        assert path.is_file() and not path.is_symlink()
        assert path.read_bytes()[:8] == b"PWKCHKPT"
    else:
        with pytest.raises(ValueError, match=f"refused to write {path}: it is {what}"):
            w.save(path)
        assert path.is_fifo() == (kind == "fifo") and path.is_dir() == (kind == "folder")
        assert path.is_symlink() == kind.startswith("link")
        assert not path.is_symlink() or os.readlink(path) in (str(outside), "/dev/null")
    assert outside.read_bytes() == OUTSIDE
    assert sorted(p.name for p in folder.iterdir()) == ["w.pwk"], "no temporary file is left"


def test_save_refuses_a_device_and_makes_nothing_beside_it(world):
    w = world(seed=3, **SMALL)
    with pytest.raises(ValueError, match="refused to write /dev/full: it is a device"):
        w.save("/dev/full")
    assert os.path.exists("/dev/full") and not os.path.isfile("/dev/full")
    assert not [name for name in os.listdir("/dev") if name.startswith(".full.")], "no temporary file in /dev"


def test_load_refuses_a_device_a_fifo_and_a_file_over_the_limit_before_reading_them(tmp_path):
    fifo = tmp_path / "fifo.pwk"
    os.mkfifo(fifo)
    sparse = tmp_path / "sparse.pwk"
    with open(sparse, "wb") as f:
        f.truncate(4 << 30)  # sparse: no room on the disk
    for path, why in [("/dev/zero", "it is not a regular file"), (fifo, "it is not a regular file"),
                      (sparse, "it holds 4294967296 bytes, more than the")]:
        with pytest.raises(ValueError, match=f"refused to read {path}: {why}"):
            pathwick.World.load(path)
