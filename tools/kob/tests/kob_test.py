#!/usr/bin/env python3
"""kob-sim from the outside: every subcommand's output and exit status,
the bad inputs, and the plot's geometry against the code's durations."""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

KOB = sys.argv.pop(1)
CODE = os.path.join(os.path.dirname(__file__), "example_code.txt")
TIMEOUT = 120  # generous: the machine is shared
# Received words (4 us ticks): a lead-in silence, a leader, bits, a stop.
RECEIVED = [0xFFFE, 2242, 1108, 138, 118, 138, 407, 138, 407, 138]
# The clock of every CCF frequency word: a word w stands for CLOCK / w Hz.
CLOCK_HZ = 0x400000


def kob(*args, **kw):
    return subprocess.run([KOB, *args], capture_output=True, text=True, timeout=TIMEOUT, **kw)


def words(text):
    digits = re.sub(r"[^0-9A-Fa-f]", "", text)
    return [int(digits[k:k + 4], 16) for k in range(0, len(digits) - 3, 4)]


class Kob(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp()
        cls.code = open(CODE).read().strip()
        cls.words = words(cls.code)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def assertExit(self, result, status, args):
        self.assertEqual(result.returncode, status, (args, result.stdout, result.stderr))
        if status:  # one clear line (after any progress lines)
            lines = result.stderr.strip().splitlines()
            self.assertEqual([l for l in lines if l.startswith("kob:")], lines[-1:], args)

    def test_usage_errors_exit_2(self):
        empty = self.path("empty.txt")
        open(empty, "w").close()
        for args in (["frobnicate"], ["list", "--bogus"], ["send"], ["send", "xyz"],
                     ["send", "@" + self.path("missing")], ["hash", "@" + empty],
                     ["compare", self.code, "@" + self.path("missing")],
                     ["plot", "0000 006E", "-o", self.path("x.svg")],
                     ["--sim-devices", "200", "list"], ["listen", "--count", "0"],
                     ["send", self.code, "--emitters", "0"], ["--sim-remote", "zz", "listen"],
                     ["upgrade", "somewhere", self.path("missing.hex")], ["upgrade"],
                     ["encode", "nec", "4"], ["encode", "nec", "4", "0x1FF"],
                     ["encode", "nec", "4", "8", "9", "10"], ["encode", "nosuch", "1", "2"],
                     ["encode", "nec", "four", "8"], ["encode", "nec", "4", "-8"],
                     ["decode"], ["decode", "0000 006E", "--timings", "+9000"],
                     ["decode", "--timings", "+9000 +4500"], ["decode", "--timings", "+0"],
                     ["decode", "--timings", "x"], ["decode", "--words"],
                     ["send", "nec:4:999"], ["send", "nosuch:1:2"], ["send", "nec:4"],
                     ["send", "nec:4:8:9:10"], ["--sim-remote", "nec:4:0x100", "listen"]):
            with self.subTest(args=args):
                self.assertExit(kob(*args), 2, args)

    def test_help_documents_exit_codes(self):
        for sub in ([], ["list"], ["send"], ["listen"], ["learn"], ["compare"], ["hash"],
                    ["plot"], ["ports"], ["upgrade"], ["probe"], ["bootloader"], ["decode"],
                    ["encode"], ["protocols"]):
            with self.subTest(sub=sub):
                result = kob(*sub, "--help")
                self.assertExit(result, 0, sub)
                self.assertIn("Exit codes", result.stdout)

    def test_list_and_send_per_device(self):
        for n in (0, 1, 3):
            with self.subTest(devices=n):
                listed = kob("--sim-devices", str(n), "list", "--json")
                self.assertExit(listed, 0, n)
                serials = [d["serial"] for d in json.loads(listed.stdout)]
                self.assertEqual(len(set(serials)), n)
                sent = kob("--sim-devices", str(n), "send", "@" + CODE)
                self.assertExit(sent, 0 if n else 1, n)
                self.assertEqual(sorted(re.findall(r"^(\S+) IR Sent: 0$", sent.stdout, re.M)),
                                 sorted(serials))
        self.assertExit(kob("--serial", "NOPE", "send", self.code), 1, "unknown serial")

    def test_listen_frames_text_and_json_agree(self):
        text = kob("--sim-remote", "@" + CODE, "listen", "--count", "3")
        js = kob("--sim-remote", "@" + CODE, "listen", "--count", "3", "--json")
        self.assertExit(text, 0, "text")
        self.assertExit(js, 0, "json")
        lines = text.stdout.splitlines()
        objects = [json.loads(line) for line in js.stdout.splitlines()]
        self.assertEqual(len(lines), 3)
        self.assertEqual(len(objects), 3)
        # The two runs need not hear the same frames (the first frame of a
        # held button has another lead-in), but every frame the same digest.
        for line, obj in zip(lines, objects):
            serial, digest, rest = line.split(" | ")[0].split(" ", 2)
            self.assertEqual((serial, digest, len(words(rest))),
                             (obj["serial"], obj["digest"], len(obj["words"])))
            self.assertEqual(obj["duration_us"], 4 * sum(obj["words"][1:]))
            self.assertEqual(kob("hash", rest).stdout.strip(), digest)
            self.assertEqual(kob("hash", " ".join("%04X" % w for w in obj["words"])).stdout.strip(),
                             obj["digest"])

    def test_listen_times_out_and_stops_on_ctrl_c(self):
        self.assertExit(kob("listen", "--count", "1", "--timeout", "0.3"), 1, "timeout")
        p = subprocess.Popen([KOB, "--sim-remote", "@" + CODE, "listen"], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
        self.assertTrue(p.stdout.readline())
        p.send_signal(signal.SIGINT)
        self.assertEqual(p.wait(TIMEOUT), 0)

    def test_learn_gives_the_repeated_frame(self):
        out = self.path("learned.txt")
        for args in (["--frequency", "38000"], []):
            with self.subTest(args=args):
                result = kob("--sim-remote", "@" + CODE, "learn", "-o", out, *args)
                self.assertExit(result, 0, args)
                self.assertIn("100 %", result.stderr)
                learned = words(open(out).read())
                # The first frame heard joins the repeated one (within the
                # learner's tolerance): the code repeats the repeat sequence.
                once, repeat = self.words[2], self.words[3]
                expected = [0, 0x400000 // 38130 if not args else 0x006E, 0, repeat] + \
                    self.words[4 + 2 * once:]
                self.assertEqual(kob("compare", " ".join("%04X" % w for w in expected),
                                     "@" + out).stdout.strip(), "equal")
                self.assertEqual(learned[1], expected[1])
        failed = kob("learn", "--timeout", "0.5")
        self.assertExit(failed, 1, "nothing heard")
        self.assertIn("lacked", failed.stderr)

    def test_compare_and_hash_tolerate_jitter_only(self):
        def text(values):
            return " ".join("%04X" % v for v in values)
        ws = self.words
        jitter = ws[:5] + [v + v // 10 for v in ws[5:]]
        for b, same in ((ws, True), (jitter, True), (ws[:5] + [ws[5] * 2] + ws[6:], False),
                        (ws[:-2], False)):
            with self.subTest(same=same, length=len(b)):
                result = kob("compare", text(ws), text(b))
                self.assertEqual((result.stdout.strip(), result.returncode),
                                 ("equal", 0) if same else ("different", 1))
        frame = RECEIVED
        for b, same in ((frame, True), ([w + 1 for w in frame], True),
                        (frame[:5] + [frame[6], frame[5]] + frame[7:], False)):
            with self.subTest(hash_same=same):
                digests = {kob("hash", text(x)).stdout.strip() for x in (frame, b)}
                self.assertEqual(len(digests) == 1, same)

    def plotted(self, *args):
        svg = self.path("plot.svg")
        self.assertExit(kob("plot", *args, "-o", svg), 0, args)
        root = ET.parse(svg).getroot()  # well-formed
        ns = "{http://www.w3.org/2000/svg}"
        scale = float(root.get("data-px-per-us"))
        pulses = []
        for el in root.iter():
            cls = el.get("class", "")
            if el.tag == ns + "rect" and cls == "mark":
                self.assertAlmostEqual(float(el.get("width")), float(el.get("data-us")) * scale, 2)
                pulses.append(float(el.get("data-us")))
            elif el.tag == ns + "line" and cls.startswith("space"):
                width = float(el.get("x2")) - float(el.get("x1"))
                if cls == "space":  # cut spaces are drawn short
                    self.assertAlmostEqual(width, float(el.get("data-us")) * scale, 2)
                pulses.append(float(el.get("data-us")))
        return pulses

    def test_plot_durations_to_scale(self):
        period = 1e6 * self.words[1] / CLOCK_HZ
        pulses = self.plotted("@" + CODE)
        self.assertEqual(len(pulses), len(self.words) - 4)
        for got, w in zip(pulses, self.words[4:]):
            self.assertAlmostEqual(got, w * period, delta=0.5)  # whole microseconds
        pulses = self.plotted("--words", " ".join("%04X" % w for w in RECEIVED))
        self.assertEqual(pulses, [4.0 * w for w in RECEIVED[1:]])

    # ---- protocols ----------------------------------------------------

    def protocols(self):
        listed = kob("protocols", "--json")
        self.assertExit(listed, 0, "protocols")
        return json.loads(listed.stdout)

    def decoded(self, *args, status=0):
        result = kob("decode", *args, "--json")
        self.assertExit(result, status, args)
        return json.loads(result.stdout)

    def test_protocols_text_and_json_agree(self):
        protocols = self.protocols()
        self.assertGreater(len(protocols), 0)
        lines = kob("protocols").stdout.splitlines()
        self.assertEqual([l.split()[0] for l in lines], [p["name"] for p in protocols])
        for line, p in zip(lines, protocols):
            with self.subTest(protocol=p["name"]):
                self.assertIn("function 0..%d" % p["function_max"], line)
                self.assertIn("%d Hz" % p["carrier_hz"], line)

    def encoded(self, protocol, numbers, toggle=None):
        args = [protocol] + [str(n) for n in numbers] + \
            ([] if toggle is None else ["--toggle", str(toggle)])
        result = kob("encode", *args, "--json")
        self.assertExit(result, 0, args)
        return json.loads(result.stdout)

    def test_encode_decode_round_trip_every_protocol(self):
        """Every protocol at the edges and the middle of its ranges, numbers
        in decimal and hexadecimal: the CCF code and its first frame's
        timings decode alike, and a reading, encoded again, gives the same
        first frame (protocols that share a frame read as each other)."""
        for p in self.protocols():
            subs = [None] if p["subdevice_max"] is None else [0, p["subdevice_max"]]
            for device, sub, function in [(0, subs[0], p["function_max"]),
                                          (p["device_max"], subs[-1], 0),
                                          (p["device_max"] // 3, subs[-1], p["function_max"] // 2)]:
                numbers = [device] + ([] if sub is None else [sub]) + [function]
                with self.subTest(protocol=p["name"], numbers=numbers):
                    args = [p["name"].lower()] + [hex(n) if k % 2 else str(n)
                                                  for k, n in enumerate(numbers)]
                    code = json.loads(kob("encode", *args, "--json").stdout)
                    self.assertEqual(code["ccf"], kob("encode", *args).stdout.strip())
                    first = "once" if code["once"] else "repeat"
                    heard = [m for m in self.decoded(code["ccf"])
                             if m.get("sequence", first) == first]
                    self.assertTrue(heard)
                    timings = kob("encode", *args, "--timings").stdout.splitlines()[0]
                    by_timings = self.decoded("--timings", timings, "--carrier",
                                              str(p["carrier_hz"]))
                    self.assertEqual([{k: v for k, v in m.items() if k != "sequence"}
                                      for m in heard], by_timings)
                    same = []
                    for m in heard:
                        again = [m["device"]] + \
                            ([] if m["subdevice"] is None else [m["subdevice"]]) + [m["function"]]
                        if self.encoded(m["protocol"], again, m["toggle"])[first] == code[first]:
                            same.append(m)
                    self.assertTrue(same, heard)
                    self.assertFalse(any(m["repeat"] for m in same))
            # Sent as PROTOCOL:DEVICE[:SUBDEVICE]:FUNCTION (the last case).
            sent = kob("send", ":".join([p["name"]] + [str(n) for n in numbers]))
            self.assertExit(sent, 0, ("send", numbers))
            self.assertRegex(sent.stdout, r"IR Sent: 0")

    def test_encode_out_of_range_names_the_field(self):
        for p in self.protocols():
            numbers = [str(p["device_max"] + 1)] + \
                ([] if p["subdevice_max"] is None else ["0"]) + ["0"]
            with self.subTest(protocol=p["name"]):
                result = kob("encode", p["name"], *numbers)
                self.assertExit(result, 2, numbers)
                self.assertIn("device", result.stderr)
                self.assertIn(str(p["device_max"]), result.stderr)

    def test_decode_of_noise_says_so(self):
        for timings in ("+100 -100 +100 -100 +100", "+20000 -20000 +20000"):
            with self.subTest(timings=timings):
                result = kob("decode", "--timings", timings)
                self.assertExit(result, 1, timings)
                self.assertEqual(result.stdout, "")

    def test_listen_decodes_each_frame_as_the_code_it_came_from(self):
        """The virtual remote holds a protocol code: every frame heard
        decodes (text and JSON alike) as the once or the repeat sequence of
        that code, the same toggle in every frame."""
        for code in ("nec:4:8", "rc5:0:12"):
            with self.subTest(code=code):
                ccf = kob("encode", *code.split(":")).stdout.strip()
                sequences = {}
                for m in self.decoded(ccf):
                    sequences.setdefault(m.get("sequence", "once"), m)
                texts = {re.sub(r"^(once|repeat): ", "", l)
                         for l in kob("decode", ccf).stdout.splitlines()}
                text = kob("--sim-remote", code, "listen", "--count", "3")
                js = kob("--sim-remote", code, "listen", "--count", "3", "--json")
                self.assertExit(text, 0, code)
                self.assertExit(js, 0, code)
                objects = [json.loads(line) for line in js.stdout.splitlines()]
                toggles = set()
                for line, obj in zip(text.stdout.splitlines(), objects):
                    self.assertTrue(obj["decode"], obj)
                    first = obj["decode"][0]
                    self.assertIn(first, [{k: v for k, v in m.items() if k != "sequence"}
                                          for m in sequences.values()])
                    toggles.add(first["toggle"])
                    heard = self.decoded("--words", " ".join("%04X" % w for w in obj["words"]))
                    self.assertEqual(heard, obj["decode"])
                    readings = line.split(" | ")[1:]
                    self.assertTrue(readings, line)
                    self.assertIn(readings[0], texts)
                self.assertEqual(len(toggles), 1)

    def test_learn_names_the_protocol(self):
        result = kob("--sim-remote", "nec:4:8", "learn", "--frequency", "38000")
        self.assertExit(result, 0, "learn")
        said = re.findall(r"(?m)^learned: (.*)$", result.stderr)
        self.assertEqual(len(said), 1)
        found = self.decoded(result.stdout.strip(), status=0 if said[0] != "no known protocol"
                             else 1)
        if found:
            self.assertTrue(said[0].startswith(found[0]["protocol"]))

    def test_upgrade_probe_ports_bootloader(self):
        if not shutil.which("objcopy"):
            self.skipTest("no objcopy to make a firmware file")
        image = self.path("fw.bin")
        with open(image, "wb") as f:
            f.write(os.urandom(5000))
        hexfile = self.path("fw.hex")
        subprocess.run(["objcopy", "-I", "binary", "-O", "ihex", image, hexfile], check=True)
        done = kob("--sim-bootloader", "upgrade", hexfile)
        self.assertExit(done, 0, "upgrade")
        for phase in ("write", "verify"):
            self.assertRegex(done.stderr, r"(?m)^%s\s+100 %%$" % phase)
        self.assertExit(kob("upgrade", self.path("no-port"), hexfile), 1, "no port")
        self.assertExit(kob("probe", self.path("no-port")), 1, "probe")
        self.assertExit(kob("--sim-bootloader", "probe"), 0, "probe sim")
        ports = kob("--sim-bootloader", "ports")
        self.assertExit(ports, 0, "ports")
        self.assertTrue(ports.stdout.split())
        found = kob("--sim-bootloader", "bootloader")
        self.assertExit(found, 0, "bootloader")
        self.assertTrue(os.path.isabs(found.stdout.strip()))
        self.assertExit(kob("bootloader", "--timeout", "0.3"), 1, "no new port")


if __name__ == "__main__":
    unittest.main(verbosity=2)
