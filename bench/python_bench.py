"""What the Python module costs beside pathwick_run.

    PYTHONPATH=build/python python3 bench/python_bench.py build/runner/pathwick_run

1. Reading the chemical field of the largest grid (cell size 1, 404 x 404
   cells) as arrays: the median of many reads.
2. A step of World.step(n) against a step of pathwick_run's loop, for the
   same world: each program's time for 2 x S steps less its time for S
   steps, so that neither's start-up counts; the best of a few repeats.
   Processor time, not the wall clock's: on a shared machine the wall
   clock counts the waits for a core too.
"""

import os
import resource
import subprocess
import sys
import time

import pathwick

SETTINGS = {"seed": 7, "agents": 2000, "cell_size": 3}
STEPS = 2000
REPEATS = 3


def field_read_ms():
    with pathwick.World(seed=1, agents=0, cell_size=1) as world:
        assert world.chemical.shape == (404, 404)
        times = []
        for _ in range(200):
            start = time.process_time()
            world.field()
            times.append(time.process_time() - start)
        return sorted(times)[len(times) // 2] * 1e3


def world_seconds(steps):
    with pathwick.World(**SETTINGS) as world:
        start = time.process_time()
        world.step(steps)
        return time.process_time() - start


def runner_seconds(runner, steps):
    options = [f"--{key.replace('_', '-')}={value}" for key, value in SETTINGS.items()]
    env = {**os.environ, "QT_QPA_PLATFORM": "offscreen"}
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run([runner, *options, f"--steps={steps}"], check=True, stdout=subprocess.DEVNULL, env=env)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime + after.ru_stime) - (before.ru_utime + before.ru_stime)


def per_step_us(measure):
    best = min(measure(2 * STEPS) - measure(STEPS) for _ in range(REPEATS))
    return best / STEPS * 1e6


def main():
    runner = sys.argv[1] if len(sys.argv) > 1 else "pathwick_run"
    print(f"field of 404 x 404 cells read as arrays: {field_read_ms():.2f} ms (median of 200)")
    python = per_step_us(world_seconds)
    native = per_step_us(lambda steps: runner_seconds(runner, steps))
    print(f"a step of {SETTINGS}: World.step {python:.1f} us, pathwick_run {native:.1f} us "
          f"({(python / native - 1) * 100:+.1f} %)")


if __name__ == "__main__":
    main()
