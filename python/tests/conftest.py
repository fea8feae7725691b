"""What every test of the Python module shares: pathwick_run, and a world that is always closed."""

import os
import subprocess

import pytest

import pathwick


@pytest.fixture(scope="session")
def program():
    """Runs pathwick_run with the given options; returns the finished process, whatever its status."""
    path = os.environ.get("PATHWICK_RUN")
    if not path:
        pytest.skip("PATHWICK_RUN names no pathwick_run")

    def run(*arguments):
        return subprocess.run([path, *map(str, arguments)], capture_output=True, text=True,
                              env={**os.environ, "QT_QPA_PLATFORM": "offscreen"}, check=False)

    return run


@pytest.fixture(scope="session")
def runner(program):
    """Runs pathwick_run with the given options, which must succeed; returns its standard output."""

    def run(*arguments):
        done = program(*arguments)
        assert done.returncode == 0, done.stderr
        return done.stdout

    return run


@pytest.fixture
def world():
    """Makes worlds; whichever is still open at the end of the test is closed."""
    made = []

    def make(*arguments, **settings):
        w = pathwick.World(*arguments, **settings)
        made.append(w)
        return w

    yield make
    for w in made:
        w.close()
