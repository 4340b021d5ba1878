"""What a user meets: bad arguments refused at once as kob refuses them,
a closed session, the buffered events, clean standard output, the
library's threads, the package's metadata and how it installs."""
import os
import re
import subprocess
import sys
import textwrap
import time
from pathlib import Path

import pytest

import koblib
from conftest import ROOT, SERIAL, carrier, example_code, take

CODE = example_code()
WORDS = CODE.split()


def bad_calls():
    """(call, exception, fragment of its message)."""
    short = " ".join(WORDS[:3] + ["0001"] + WORDS[4:-2])
    return [
        (lambda k: k.send(SERIAL, "hello"), ValueError, "not 4 hexadecimal digits"),
        (lambda k: k.send(SERIAL, None), TypeError, "not NoneType"),
        (lambda k: k.send(SERIAL, CODE, emitters=0), ValueError, "emitters is 1 to 255"),
        (lambda k: k.send(SERIAL, CODE, emitters=256), ValueError, "emitters is 1 to 255"),
        (lambda k: k.send(SERIAL, CODE, repeat=-1), ValueError, "repeat is 0 to 255"),
        (lambda k: k.send(SERIAL, CODE, emitters=1.5), TypeError, "not float"),
        (lambda k: k.send(SERIAL, "0000 006D 0044 0000 0015 0015"), ValueError, "says 68 pairs"),
        (lambda k: k.send(SERIAL, "0000 0000 0001 0000 0015 0015"), ValueError, "frequency"),
        (lambda k: k.send(SERIAL, "0000 006D 0000 0000 0015 0015"), ValueError, "says 0 pairs"),
        (lambda k: k.send(SERIAL, " ".join(["0015"] * 300)), ValueError, "at most 256"),
        (lambda k: k.send(SERIAL, short), ValueError, "but the code holds"),
        (lambda k: k.send(CODE, SERIAL), TypeError, "the serial comes first"),
        (lambda k: k.send("NO-SUCH", CODE), koblib.KoblibError, "NO-SUCH"),
        (lambda k: k.learn("NOPE", 38000), koblib.KoblibError, "NOPE"),
        (lambda k: k.learn(SERIAL, 1), ValueError, "10000 to 500000"),
        (lambda k: k.learn(SERIAL, 100), ValueError, "10000 to 500000"),
        (lambda k: k.learn(SERIAL, 2147483647), ValueError, "10000 to 500000"),
        (lambda k: k.learn(SERIAL, 38000.0), TypeError, "not float"),
        (lambda k: k.learn(None), TypeError, "a serial is a str"),
        (lambda k: k.blink(SERIAL, 300), ValueError, "value is 0 to 255"),
        (lambda k: k.digital_io(SERIAL, -1, 0), ValueError, "cmd is 0 to 255"),
        (lambda k: k.program_wake_from_suspend(SERIAL, 0, "01"), TypeError, "bytes"),
        (lambda k: k.events(since="then"), ValueError, "since"),
    ]


def test_bad_calls_fail_at_once_and_say_why(kob):
    for call, error, fragment in bad_calls():
        started = time.monotonic()
        with pytest.raises(error) as raised:
            call(kob)
        assert fragment in str(raised.value), (fragment, raised.value)
        # At once: not after a send's or a learning run's timeout.
        assert time.monotonic() - started < 2.0, fragment
    assert kob.sim.outputs(SERIAL) == b"", "a refused call reached the device"


def test_every_call_after_close_says_closed():
    kob = koblib.open(sim=True)
    kob.close()
    for call in (lambda: kob.send(SERIAL, CODE), lambda: kob.learn(SERIAL, 38000),
                 lambda: kob.blink(SERIAL), lambda: kob.devices(), lambda: kob.stop(),
                 lambda: kob.wait_for_device(0.1), lambda: kob.request_wakeup_info(SERIAL)):
        with pytest.raises(koblib.KoblibError, match="closed"):
            call()


def test_events_since_now_drops_what_came_before(kob):
    kob.send(SERIAL, CODE)
    # The loopback frames of that send are buffered; since="now" drops them.
    assert any(isinstance(e, koblib.Received) for e in kob.events(timeout=1.0))
    kob.send(SERIAL, CODE, repeat=2)
    fresh = list(kob.events(timeout=0.5, since="now"))
    assert not any(isinstance(e, (koblib.Received, koblib.Sent)) for e in fresh)
    kob.sim.receive(SERIAL, [0xFFFF, 100, 200, 100], 38000)
    assert take(kob, lambda e: isinstance(e, koblib.Received))
    kob.send(SERIAL, CODE)
    assert kob.clear_events() > 0 and kob.clear_events() == 0


def script(body, **env):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(body)], capture_output=True,
                          text=True, timeout=120,
                          env=dict(os.environ, PYTHONPATH=str(ROOT / "python"), **env),
                          cwd=str(Path(__file__).parent))


def test_learning_with_a_measured_carrier_prints_only_what_the_script_prints():
    done = script(f"""
        import threading, koblib
        from conftest import SERIAL, example_code
        with koblib.open(sim=True) as kob:
            kob.wait_for_device(30.0)
            words = [0xFFFF, 2242, 1108] + [138, 118, 138, 407] * 8 + [138]
            stop = threading.Event()
            def remote():  # a held button, heard with its carrier
                while not stop.wait(0.02):
                    kob.sim.receive(SERIAL, words, 38000)
            threading.Thread(target=remote, daemon=True).start()
            code = kob.learn(SERIAL, timeout=60.0)
            stop.set()
            print(code)
        """)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert len(lines) == 1 and koblib.check_code(lines[0]), done.stdout
    assert "stddev" in done.stderr  # the library's lines, kept, on standard error


def test_the_library_threads_block_every_signal():
    def threads():
        return set(os.listdir("/proc/self/task"))

    if not os.path.isdir("/proc/self/task"):
        pytest.skip("no /proc")
    before = threads()
    with koblib.open(sim=True) as kob:
        kob.sim.attach("PY-SIG")
        assert take(kob, lambda e: e == koblib.Arrived("PY-SIG"))
        new = threads() - before
        assert new
        checked = 0
        for task in new:
            try:
                status = Path(f"/proc/self/task/{task}/status").read_text()
            except FileNotFoundError:  # a short-lived thread that has ended since
                continue
            checked += 1
            blocked = int(re.search(r"^SigBlk:\s*([0-9a-f]+)$", status, re.M).group(1), 16)
            for signal_number in range(1, 32):
                if signal_number not in (9, 19):  # SIGKILL and SIGSTOP cannot be
                    assert blocked >> (signal_number - 1) & 1, (task, signal_number)
        assert checked
        kob.sim.detach("PY-SIG")


def test_a_library_path_that_is_wrong_is_named():
    done = script("""
        import koblib
        try:
            koblib.open(sim=True)
        except koblib.KoblibError as error:
            print(error)
        """, KOBLIB_SIM_LIBRARY="/nonexistent/libX.so")
    assert "/nonexistent/libX.so" in done.stdout and "KOBLIB_SIM_LIBRARY" in done.stdout


def test_version_and_docstrings():
    version = re.search(r'^version = "([^"]+)"', (ROOT / "python/pyproject.toml").read_text(),
                        re.M).group(1)
    assert koblib.__version__ == version
    for name in dir(koblib.KOB):
        member = getattr(koblib.KOB, name)
        if callable(member) and not name.startswith("_"):
            assert member.__doc__, name


def installer():
    """A Python with pip, setuptools and wheel (what scripts/setup.sh
    installs: Debian's python3-pip, python3-setuptools, python3-wheel)."""
    for python in (sys.executable, "/usr/bin/python3"):
        if os.path.exists(python) and subprocess.run(
                [python, "-c", "import setuptools, wheel, pip"], capture_output=True).returncode == 0:
            return python
    pytest.skip("no Python with pip, setuptools and wheel (Debian: python3-pip "
                "python3-setuptools python3-wheel)")


def test_pip_installs_without_the_network(tmp_path):
    python = installer()
    target = tmp_path / "site"
    done = subprocess.run([python, "-m", "pip", "install", "--no-build-isolation", "--no-index",
                           "--no-deps", "--target", str(target), str(ROOT / "python")],
                          capture_output=True, text=True, timeout=300, cwd=str(tmp_path))
    assert done.returncode == 0, done.stdout + done.stderr
    shown = subprocess.run([python, "-c", "import koblib; print(koblib.__version__, koblib.__file__)"],
                           capture_output=True, text=True, env=dict(os.environ, PYTHONPATH=str(target)),
                           cwd=str(tmp_path))
    assert shown.stdout.split()[0] == koblib.__version__, shown.stderr
    assert shown.stdout.split()[1].startswith(str(target))
