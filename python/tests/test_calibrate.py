"""pathwick.calibrate: the command's calibration, the same folder, the same posterior."""

import os

import pytest

import pathwick

QUESTION = {"ranges": {"sniff_threshold": (10, 90), "mark_strength": (5, 100, "log")},
            "target": {"trip_rate": 3, "mean_angle": 40}, "steps": 200, "particles": 2, "budget": 6,
            "calibration_seed": 3, "settings": {"agents": 30}}


def test_calibrate_gives_the_commands_posterior(program, tmp_path):
    done = program("--calibrate", tmp_path / "command", "--range", "sniff-threshold=10:90",
                   "--range", "mark-strength=5:100:log", "--target", "trip_rate=3", "--target", "mean_angle=40",
                   "--steps", 200, "--particles", 2, "--budget", 6, "--calibration-seed", 3, "--agents", 30)
    assert done.returncode == 0, done.stderr
    posterior = pathwick.calibrate(tmp_path / "python", runner=os.environ["PATHWICK_RUN"], **QUESTION)
    command = (tmp_path / "command" / "posterior.csv").read_bytes()
    assert command == (tmp_path / "python" / "posterior.csv").read_bytes()
    assert list(posterior.columns[:4]) == ["generation", "particle", "sniff-threshold", "sniff-threshold_run"]
    assert len(posterior) == 2
    assert posterior["weight"].sum() == pytest.approx(1)
    for folder in posterior["run_folders"]:
        assert (tmp_path / "python" / folder / "run.json").is_file()
    # Given again, the finished calibration is read back, not run again.
    again = pathwick.calibrate(tmp_path / "python", runner=os.environ["PATHWICK_RUN"], **QUESTION)
    assert again.equals(posterior)


@pytest.mark.parametrize("change, message", [({"ranges": {"sniff_threshold": (90, 10)}}, "HI is above LO"),
                                             ({"target": {"speed": 3}}, "measure"),
                                             ({"budget": 3}, "budget"),
                                             ({"method": "nsga2"}, "--particles is for --method abc")])
def test_calibrate_refuses_with_the_commands_message(tmp_path, change, message):
    with pytest.raises(ValueError, match=message):
        pathwick.calibrate(tmp_path / "c", runner=os.environ["PATHWICK_RUN"], **{**QUESTION, **change})


NSGA2 = {"ranges": {"sniff_threshold": (10, 90), "mark_strength": (5, 100, "log")},
         "target": {"trip_rate": 3, "mean_angle": 40}, "steps": 100, "method": "nsga2", "population": 8,
         "generations": 1, "calibration_seed": 4, "settings": {"agents": 20}}


def test_calibrate_nsga2_gives_the_commands_front(program, tmp_path):
    done = program("--calibrate", tmp_path / "command", "--method", "nsga2", "--range", "sniff-threshold=10:90",
                   "--range", "mark-strength=5:100:log", "--target", "trip_rate=3", "--target", "mean_angle=40",
                   "--steps", 100, "--population", 8, "--generations", 1, "--calibration-seed", 4, "--agents", 20)
    assert done.returncode == 0, done.stderr
    front = pathwick.calibrate(tmp_path / "python", runner=os.environ["PATHWICK_RUN"], **NSGA2)
    assert (tmp_path / "command" / "pareto.csv").read_bytes() == (tmp_path / "python" / "pareto.csv").read_bytes()
    assert len(front) >= 1 and (front["rank"] == 0).all()
    assert {"distance_trip_rate", "distance_mean_angle", "crowding"} <= set(front.columns)
    for folder in front["run_folders"]:
        assert (tmp_path / "python" / folder / "run.json").is_file()
