#!/usr/bin/env python3
"""kob-sim remote from the outside: every subcommand against a library in
a temporary folder, its output and exit status; buttons learned from and
sent through the virtual device, whose frames are the button's timings."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

KOB = sys.argv.pop(1)
ROOT = Path(__file__).resolve().parents[3]
sys.path.insert(0, str(ROOT / "python"))
import koblib  # noqa: E402

TIMEOUT = 120
FIRST_SILENCE_US = 0xFFFF * 4
FLIPPER = """Filetype: IR signals file
Version: 1
#
name: POWER
type: parsed
protocol: NEC
address: 04 00 00 00
command: 08 00 00 00
#
name: MUTE
type: raw
frequency: 38000
duty_cycle: 0.330000
data: 9000 4500 560 560 560 1690 560 40000
"""
LIRC = """begin remote
  name  living
  bits           16
  flags SPACE_ENC|CONST_LENGTH
  header       9000  4500
  one           560  1690
  zero          560   560
  ptrail        560
  repeat       9000  2250
  pre_data_bits   16
  pre_data       0x20DF
  gap          108000
  frequency    38000
  begin codes
    KEY_POWER    0x10EF
  end codes
end remote
begin remote
  name learned
  flags RAW_CODES
  frequency 36000
  gap 40000
  begin raw_codes
    name KEY_MUTE
      3000 1000 500 1000 500 2000
  end raw_codes
end remote
"""


def frames(timings, count):
    """The frames a receiver hears of a code held count frames long."""
    found, silence = [], FIRST_SILENCE_US
    for n in range(count):
        sequence = timings.once if (n == 0 and timings.once) or not timings.repeat \
            else timings.repeat
        found.append(tuple(koblib.received_words(sequence, silence)[:255]))
        silence = abs(sequence[-1])
    return found


class Remote(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.library = os.path.join(self.dir, "remotes")
        for name, text in (("tv.ir", FLIPPER), ("home.lircd.conf", LIRC)):
            with open(self.path(name), "w") as f:
                f.write(text)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def kob(self, *args):
        return subprocess.run([KOB, "--library", self.library, *args], capture_output=True,
                              text=True, timeout=TIMEOUT)

    def run_table(self, table):
        for args, status, out, err in table:
            with self.subTest(args=args):
                done = self.kob(*args)
                self.assertEqual(done.returncode, status, (args, done.stdout, done.stderr))
                if out is not None:
                    self.assertEqual(done.stdout, out, args)
                self.assertIn(err, done.stderr, args)
                if status:  # one line says why
                    self.assertEqual(len(done.stderr.strip().splitlines()), 1, done.stderr)
                    self.assertTrue(done.stderr.startswith("kob: "), done.stderr)

    def test_subcommands_and_their_errors(self):
        tv = self.path("tv.ir")
        copy = self.path("copy.ir")
        conf = self.path("living.conf")
        pronto = self.path("tv.pronto")
        self.run_table([
            (["remote", "list"], 0, "", ""),
            (["remote", "import", tv], 0, "tv 2 buttons\n", ""),
            (["remote", "import", tv], 1, "", "exists"),
            (["remote", "import", tv, "--as", "tv2"], 0, "tv2 2 buttons\n", ""),
            (["remote", "import", self.path("home.lircd.conf")], 0,
             "living 1 button\nlearned 1 button\n", ""),
            (["remote", "import", self.path("home.lircd.conf"), "--as", "x"], 2, "",
             "holds 2 remotes"),
            (["remote", "import", self.path("missing.ir")], 2, "", "cannot read"),
            (["remote", "import", tv, "--format", "nosuch"], 2, "", "unknown format"),
            (["remote", "list"], 0, "learned 1 button\nliving 1 button\ntv 2 buttons\n"
             "tv2 2 buttons\n", ""),
            (["remote", "list", "tv"], 0, "POWER nec1:4:8\nMUTE raw (4 pairs, 38 kHz)\n", ""),
            (["remote", "list", "nope"], 2, "", 'no remote "nope"'),
            (["compare", "tv/POWER", "nec:4:8"], 0, "equal\n", ""),
            (["send", "tv/POWER"], 0, "SIM-0001 IR Sent: 0\n", ""),
            (["remote", "send", "tv", "MUTE", "--repeat", "2"], 0, "SIM-0001 IR Sent: 0\n", ""),
            (["remote", "send", "tv", "NOPE"], 2, "", 'no button "NOPE"'),
            (["send", "nope/POWER"], 2, "", 'no remote "nope"'),
            (["remote", "export", "tv", "--format", "flipper", "-o", copy], 0, "", ""),
            (["remote", "import", copy, "--as", "copy"], 0, "copy 2 buttons\n", ""),
            (["compare", "copy/MUTE", "tv/MUTE"], 0, "equal\n", ""),
            (["remote", "export", "living", "--format", "lirc", "-o", conf], 0, "", ""),
            (["remote", "import", conf, "--as", "lirc"], 0, "lirc 1 button\n", ""),
            (["compare", "lirc/KEY_POWER", "living/KEY_POWER"], 0, "equal\n", ""),
            (["remote", "export", "tv", "--format", "nosuch"], 2, "", "unknown format"),
            (["remote", "export", "tv", "--format", "irdb"], 2, "", "MUTE"),  # no raw in irdb
            (["remote", "export", "tv", "--format", "pronto", "-o", pronto], 0, "", ""),
            (["remote", "import", pronto, "--as", "pronto"], 0, "pronto 2 buttons\n", ""),
            (["compare", "pronto/POWER", "tv/POWER"], 0, "equal\n", ""),
            (["remote", "rename", "tv", "POWER", "OFF"], 0, "", ""),
            (["remote", "rename", "tv", "television"], 0, "", ""),
            (["remote", "rename", "television", "tv2"], 1, "", "already"),
            (["remote", "rename", "television", "../up"], 2, "", ""),
            (["remote", "remove", "television", "OFF"], 0, "", ""),
            (["remote", "remove", "television", "OFF"], 2, "", "no button"),
            (["remote", "list", "television"], 0, "MUTE raw (4 pairs, 38 kHz)\n", ""),
            (["remote", "remove", "television"], 0, "", ""),
            (["remote", "remove", "television"], 2, "", "no remote"),
        ])
        self.assertFalse(os.path.exists(os.path.join(self.dir, "up.ir")))
        listed = json.loads(self.kob("remote", "list", "tv2", "--json").stdout)
        self.assertEqual([b["name"] for b in listed["buttons"]], ["POWER", "MUTE"])
        self.assertEqual((listed["buttons"][0]["protocol"], listed["buttons"][0]["device"],
                          listed["buttons"][0]["function"]), ("NEC1", 4, 8))
        self.assertEqual(listed["buttons"][1]["once"] + listed["buttons"][1]["repeat"],
                         [9000, -4500, 560, -560, 560, -1690, 560, -40000])
        exported = self.kob("remote", "export", "tv2", "--format", "flipper")
        self.assertEqual(koblib.Remote.loads(exported.stdout, "flipper", "tv2.ir"),
                         koblib.Library(self.library)["tv2"])

    def test_a_bad_file_is_named_and_left_alone(self):
        self.assertEqual(self.kob("remote", "import", self.path("tv.ir")).returncode, 0)
        bad = os.path.join(self.library, "vcr.ir")
        with open(bad, "w") as f:
            f.write("Filetype: IR signals file\nVersion: 1\nname: X\ntype: raw\n")
        before = open(bad).read()
        listed = self.kob("remote", "list")
        self.assertEqual((listed.returncode, listed.stdout), (2, "tv 2 buttons\n"))
        self.assertIn(bad, listed.stderr)
        self.run_table([
            (["remote", "list", "vcr"], 2, "", bad),
            (["send", "vcr/X"], 2, "", bad),
            (["remote", "learn", "vcr", "X"], 2, "", bad),
            (["remote", "rename", "vcr", "X", "Y"], 2, "", bad),
            (["remote", "export", "vcr", "--format", "json"], 2, "", bad),
            (["remote", "list", "tv"], 0, None, ""),
        ])
        self.assertEqual(open(bad).read(), before)

    def test_sim_remote_plays_a_library_button(self):
        """A lircd.conf remote imported, one button the virtual remote
        holds: every frame heard is one of that button's frames."""
        self.kob("remote", "import", self.path("home.lircd.conf"))
        library = koblib.Library(self.library)
        for remote, button in (("living", "KEY_POWER"), ("learned", "KEY_MUTE")):
            with self.subTest(button=button):
                expected = frames(koblib.parse_ccf(library[remote][button].ccf), 3)
                heard = self.kob("--sim-remote", remote + "/" + button, "listen", "--count", "2",
                                 "--json")
                self.assertEqual(heard.returncode, 0, heard.stderr)
                lines = heard.stdout.splitlines()
                self.assertEqual(len(lines), 2)
                for line in lines:
                    self.assertIn(tuple(json.loads(line)["words"]), expected)

    def test_learn_stores_a_protocol_code_or_raw_timings(self):
        no_protocol = "0000 006D 0000 0003 0100 0020 0040 0020 0020 0400"
        self.run_table([
            (["--sim-remote", "nec:4:8", "remote", "learn", "tv", "POWER", "--frequency",
              "38000"], 0, "tv/POWER nec1:4:8\n", "learning"),
            (["--sim-remote", "nec:4:9", "remote", "learn", "tv", "POWER"], 1, "", "exists"),
            (["--sim-remote", "nec:4:9", "remote", "learn", "tv", "POWER", "--force",
              "--frequency", "38000"], 0, "tv/POWER nec1:4:9\n", ""),
            (["--sim-remote", "rc5:0:12", "remote", "learn", "tv", "--all", "A", "B",
              "--frequency", "36000"], 0, None, "2 of 2"),
            (["--sim-remote", no_protocol, "remote", "learn", "tv", "RAW"], 0, None, ""),
            (["remote", "learn", "tv", "A", "B"], 2, "", "--all"),
            (["remote", "learn", "tv", "--all", "C", "C"], 2, "", "twice"),
            (["remote", "learn", "a/b", "C"], 2, "", ""),
            (["remote", "learn", "tv", "bad\x01name"], 2, "", ""),
        ])
        library = koblib.Library(self.library)["tv"]
        self.assertEqual([b.name for b in library], ["POWER", "A", "B", "RAW"])
        self.assertEqual([library[n].protocol for n in ("A", "B")], ["RC5", "RC5"])
        self.assertIsNone(library["RAW"].protocol)
        self.assertRegex(self.kob("remote", "list", "tv").stdout,
                         r"(?m)^RAW raw \(\d+ pairs, \d+(\.\d)? kHz\)$")


if __name__ == "__main__":
    unittest.main(verbosity=2)
