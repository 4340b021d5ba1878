"""Fixtures: a session on the simulator build, the example code, and a
virtual bootloader on a pseudo-terminal (from KOBLIB_BOOTLOADER_PTY)."""

import os
import re
import subprocess
import sys
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
import koblib  # noqa: E402

SERIAL = "SIM-0001"
ROOT = Path(__file__).resolve().parents[2]


def example_code() -> str:
    """The example program's code, from the C tests' header."""
    header = (ROOT / "tests/support/example_code.h").read_text()
    return "".join(re.findall(r'"([0-9A-F ]+)"', header))


def carrier(code: str) -> int:
    """The carrier a code goes out on, by the one frequency-word rule."""
    return round(koblib.word_frequency(int(code.split()[1], 16)))


def wait_until(condition, timeout=30.0):
    end = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > end:
            return False
        time.sleep(0.01)
    return True


def take(kob, predicate, count=1, timeout=30.0):
    """The next count events that satisfy predicate (others are dropped)."""
    found = []
    end = time.monotonic() + timeout
    for event in kob.events(timeout=1.0):
        if predicate(event):
            found.append(event)
            if len(found) == count:
                break
        if time.monotonic() > end:
            break
    return found


@pytest.fixture
def kob():
    with koblib.open(sim=True) as session:
        assert session.wait_for_device(30.0) is not None
        session.sim.configure(SERIAL, loopback=True, air_time=0)
        session.sim.outputs(SERIAL)
        yield session


class Bootloader:
    def __init__(self, program):
        self.process = subprocess.Popen([program], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)
        first = self.process.stdout.readline().split(" ", 1)
        if first[0] != "port":
            self.process.wait()
            pytest.skip("no virtual bootloader: " + " ".join(first))
        self.port = first[1].strip()

    def request(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        return self.process.stdout.readline().strip()

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=30)


@pytest.fixture
def bootloader():
    program = os.environ.get("KOBLIB_BOOTLOADER_PTY")
    if not program:
        pytest.skip("KOBLIB_BOOTLOADER_PTY is not set")
    started = Bootloader(program)
    yield started
    started.close()


@pytest.fixture
def hex_dir():
    directory = os.environ.get("KOBLIB_TEST_HEX_DIR")
    if not directory or not (Path(directory) / "random_a.hex").exists():
        pytest.skip("KOBLIB_TEST_HEX_DIR has no test files")
    return Path(directory)
