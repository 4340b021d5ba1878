#!/usr/bin/env python3
"""One code, every client's path, the same timings: kob-sim's virtual
remote (the kob tool's conversion), the virtual device's loop-back of a
sent code, the LIRC plugin's conversions, and the Python package, for the
example code and a code of every protocol.

Arguments: kob-sim, the LIRC conversion helper ("-" when the plugin is not
built: that path is then reported as skipped). The libraries come from
KOBLIB_SIM_LIBRARY and KOBLIB_CODES_LIBRARY."""
import json
import os
import subprocess
import sys
import unittest
from pathlib import Path

KOB = sys.argv.pop(1)
LIRC = sys.argv.pop(1)
ROOT = Path(__file__).resolve().parents[3]
sys.path.insert(0, str(ROOT / "python"))
import koblib  # noqa: E402

SERIAL = "SIM-0001"
TIMEOUT = 120
FIRST_SILENCE_US = 0xFFFF * 4  # what a receiver reports before its first frame
REPORT_WORDS = 255


def kob(*args):
    result = subprocess.run([KOB, *args], capture_output=True, text=True, timeout=TIMEOUT)
    if result.returncode:
        raise AssertionError((args, result.stdout, result.stderr))
    return result.stdout


def codes():
    """(name, CCF text, nominal carrier) of the example code and of one
    code per protocol, its fields in the middle of their ranges."""
    example = open(Path(__file__).with_name("example_code.txt")).read().strip()
    found = [("example", example, 38000)]
    for p in json.loads(kob("protocols", "--json")):
        numbers = [str(p["device_max"] // 2)]
        if p["subdevice_max"] is not None:
            numbers.append(str(p["subdevice_max"] // 2))
        numbers.append(str(p["function_max"] // 2))
        found.append((p["name"], kob("encode", p["name"], *numbers).strip(), p["carrier_hz"]))
    return found


def expected_frames(timings, count):
    """The frames a receiver reports for the code held count frames long,
    by the Python package's conversion."""
    frames, silence = [], FIRST_SILENCE_US
    for n in range(count):
        sequence = timings.once if (n == 0 and timings.once) or not timings.repeat \
            else timings.repeat
        frames.append(koblib.received_words(sequence, silence)[:REPORT_WORDS])
        silence = abs(sequence[-1])
    return frames


class TimingsPaths(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.codes = codes()

    def test_kob_sim_remote_hears_the_python_frames(self):
        for name, ccf, _ in self.codes:
            with self.subTest(code=name):
                expected = expected_frames(koblib.parse_ccf(ccf), 3)
                heard = [json.loads(line)["words"] for line in
                         kob("--sim-remote", ccf, "listen", "--count", "2", "--json").splitlines()]
                self.assertEqual(len(heard), 2)
                # The first frame may come before the device is listened to:
                # each frame heard is one of the held button's frames.
                for frame in heard:
                    self.assertIn(tuple(frame), expected)

    def test_loop_back_of_a_sent_code_is_the_python_frames(self):
        with koblib.open(sim=True) as session:
            self.assertIsNotNone(session.wait_for_device(30.0))
            session.sim.configure(SERIAL, loopback=True, air_time=0)
            for name, ccf, _ in self.codes:
                with self.subTest(code=name):
                    timings = koblib.parse_ccf(ccf)
                    count = (1 if timings.once else 0) + (2 if timings.repeat else 0)
                    before = session.sim.dropped(SERIAL)
                    session.send(ccf, SERIAL, repeat=1, timeout=30.0)
                    got = []
                    for event in session.events(timeout=5.0):
                        if isinstance(event, koblib.Received):
                            got.append(event.words)
                            if len(got) == count:
                                break
                    dropped = session.sim.dropped(SERIAL) - before
                    self.assertEqual(len(got) + dropped, count)
                    expected = expected_frames(timings, count)
                    if dropped:
                        for frame in got:
                            self.assertIn(frame, expected)
                    else:
                        self.assertEqual(got, expected)

    def test_lirc_plugin_converts_the_same_timings(self):
        if LIRC == "-":
            self.skipTest("the LIRC plugin is not built")
        lines = []
        checks = []
        for name, ccf, carrier in self.codes:
            timings = koblib.parse_ccf(ccf)
            for sequence in (timings.once, timings.repeat):
                if not sequence:
                    continue
                # Sending: LIRC's durations end with a pulse, the gap after.
                lines.append("ccf %d %d %s" % (carrier, -sequence[-1],
                                               " ".join(str(abs(d)) for d in sequence[:-1])))
                checks.append((name, "send", sequence, timings.carrier_hz))
                # Receiving: the words of the frame heard after the sequence.
                words = koblib.received_words(sequence, FIRST_SILENCE_US)
                lines.append("frame " + " ".join(map(str, words)))
                checks.append((name, "receive", words, None))
        out = subprocess.run([LIRC], input="\n".join(lines) + "\n", capture_output=True,
                             text=True, timeout=TIMEOUT, check=True).stdout.splitlines()
        self.assertEqual(len(out), len(checks))
        for answer, (name, path, data, carrier_hz) in zip(out, checks):
            with self.subTest(code=name, path=path):
                if path == "send":
                    self.assertEqual(koblib.parse_ccf(answer),
                                     koblib.Timings(carrier_hz, tuple(data), ()))
                else:
                    timings, gap = koblib.frame_timings(data)
                    self.assertEqual([int(v) for v in answer.split()], [-gap, *timings])


if __name__ == "__main__":
    unittest.main(verbosity=2)
