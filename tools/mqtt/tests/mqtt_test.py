#!/usr/bin/env python3
"""kob-mqtt-sim against a real Mosquitto broker that this test starts.

Usage: mqtt_test.py KOB_MQTT_SIM KOB_SIM

The broker listens on 127.0.0.1 at free ports: a plain listener and a TLS
listener (CA and server certificate made here with openssl), both with a
password file made with mosquitto_passwd. mosquitto_sub and mosquitto_pub
are the other clients. Every process started here is stopped here, also
when a check fails. Exit 77 when mosquitto or its clients are missing.
"""
import json
import pwd
import re
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import traceback

SKIP = 77
USER = "kobtest"
PASSWORD = "s3cret-pass"
WAIT = 20.0  # seconds: the bound of every wait; nothing sleeps a fixed time

started = []  # every process this test starts, stopped at exit
LOG_DIR = None  # the bridges' logs, in the test's folder


def stop_all():
    for proc in reversed(started):
        if proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()


def spawn(args, **kw):
    proc = subprocess.Popen(args, **kw)
    started.append(proc)
    return proc


def on_signal(signum, _frame):
    stop_all()
    sys.exit(128 + signum)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(predicate, what, bound=WAIT):
    """Polls predicate until it holds; fails naming what was awaited."""
    deadline = time.monotonic() + bound
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.02)
    raise AssertionError("no %s within %.0f s" % (what, bound))


def run(args, **kw):
    # Bounded: a client that hangs fails here, naming itself, not at ctest's limit.
    kw.setdefault("timeout", WAIT)
    return subprocess.run(args, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          **kw)


class Pki:
    """A CA, a server certificate for 127.0.0.1 it signed, and another CA."""

    def __init__(self, folder):
        self.folder = folder
        self.ca = self._ca("ca", "kob test CA")
        self.other_ca = self._ca("other", "another CA")
        key = os.path.join(folder, "server.key")
        csr = os.path.join(folder, "server.csr")
        self.server_cert = os.path.join(folder, "server.crt")
        self.server_key = key
        ext = os.path.join(folder, "server.ext")
        with open(ext, "w") as f:
            f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n")
        run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
             "-subj", "/CN=localhost"])
        run(["openssl", "x509", "-req", "-in", csr, "-CA", self.ca, "-CAkey",
             os.path.join(folder, "ca.key"), "-CAcreateserial", "-out", self.server_cert,
             "-days", "2", "-extfile", ext])

    def _ca(self, name, cn):
        key = os.path.join(self.folder, name + ".key")
        cert = os.path.join(self.folder, name + ".crt")
        run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
             "-out", cert, "-days", "2", "-subj", "/CN=" + cn])
        return cert


class Broker:
    def __init__(self, folder, pki):
        self.folder = folder
        self.port = free_port()
        self.tls_port = free_port()
        passwords = os.path.join(folder, "passwords")
        run(["mosquitto_passwd", "-c", "-b", passwords, USER, PASSWORD])
        os.chmod(passwords, 0o600)
        self.config = os.path.join(folder, "mosquitto.conf")
        with open(self.config, "w") as f:
            # Run as root, the broker would switch to its own user, which
            # cannot read this test's folder: it stays the user it is.
            f.write("user %s\n" % pwd.getpwuid(os.getuid()).pw_name)
            f.write("per_listener_settings true\n"
                    "persistence false\n"
                    "set_tcp_nodelay true\n"
                    "log_dest stderr\n"
                    "listener %d 127.0.0.1\n"
                    "allow_anonymous false\n"
                    "password_file %s\n"
                    "listener %d 127.0.0.1\n"
                    "allow_anonymous false\n"
                    "password_file %s\n"
                    "cafile %s\ncertfile %s\nkeyfile %s\n"
                    % (self.port, passwords, self.tls_port, passwords, pki.ca, pki.server_cert,
                       pki.server_key))
        self.proc = None
        self.start()

    def start(self):
        log = open(os.path.join(self.folder, "broker.log"), "a")
        self.proc = spawn(["mosquitto", "-c", self.config], stdout=log, stderr=log)

        def listening():
            if self.proc.poll() is not None:
                raise AssertionError("mosquitto ended: see " + log.name)
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                    return True
            except OSError:
                return False

        wait_until(listening, "broker listening on port %d" % self.port)

    def kill(self):
        self.proc.kill()
        self.proc.wait()


class Subscriber:
    """mosquitto_sub on patterns; every message kept as (topic, retained, payload)."""

    def __init__(self, broker, patterns):
        probe = "probe/%d/%f" % (os.getpid(), time.time())
        args = ["mosquitto_sub", "-h", "127.0.0.1", "-p", str(broker.port), "-u", USER, "-P",
                PASSWORD, "-q", "1", "-F", "%r %t %p", "-t", probe]
        for p in patterns:
            args += ["-t", p]
        self.proc = spawn(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.messages = []
        self.lock = threading.Lock()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        # Subscribed once a probe comes back.
        self.broker = broker

        def probed():
            publish(broker, probe, "p", qos=0)
            return self.wait(lambda t, r, p: t == probe, "probe", bound=0.5, fail=False)

        wait_until(probed, "subscription of mosquitto_sub")

    def _read(self):
        for line in self.proc.stdout:
            line = line.decode("utf-8", "replace").rstrip("\n")
            retained, _, rest = line.partition(" ")
            topic, _, payload = rest.partition(" ")
            with self.lock:
                self.messages.append((topic, retained == "1", payload))

    def all(self, match, since=0):
        with self.lock:
            return [m for m in self.messages[since:] if match(*m)]

    def wait(self, match, what, bound=WAIT, count=1, fail=True, since=0):
        try:
            return wait_until(lambda: (lambda found: found if len(found) >= count else None)(
                self.all(match, since)), what, bound)
        except AssertionError:
            if fail:
                raise
            return None

    def json(self, topic):
        return [json.loads(p) for t, _, p in self.all(lambda t, r, p: t == topic) if p]

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise AssertionError("mosquitto_sub did not end on SIGTERM")


def publish(broker, topic, payload, qos=1, retain=False):
    args = ["mosquitto_pub", "-h", "127.0.0.1", "-p", str(broker.port), "-u", USER, "-P",
            PASSWORD, "-q", str(qos), "-t", topic]
    if retain:
        args.append("-r")
    if isinstance(payload, str):
        payload = payload.encode("utf-8")
    # The payload from a file: it may be large or hold any byte.
    with tempfile.NamedTemporaryFile(delete=False) as f:
        f.write(payload)
    try:
        run(args + ["-f", f.name])
    finally:
        os.unlink(f.name)


class Bridge:
    def __init__(self, program, broker, node, extra=(), env_password=True, port=None,
                 expect_connect=True, control=False, library=None):
        self.node = node
        self.log = tempfile.NamedTemporaryFile(prefix="bridge-%s-" % node, suffix=".log",
                                               dir=LOG_DIR, delete=False)
        env = dict(os.environ)
        env.pop("KOB_MQTT_PASSWORD", None)
        if env_password:
            env["KOB_MQTT_PASSWORD"] = PASSWORD
        if library:
            # --sim-remote REMOTE/BUTTON reads the same folder.
            env["KOB_LIBRARY"] = library
            extra = list(extra) + ["--library", library]
        args = [program, "--host", "127.0.0.1", "--port", str(port or broker.port), "--node",
                node, "--username", USER] + list(extra)
        if control:
            args.append("--sim-control")
        self.proc = spawn(args, stdout=self.log, stderr=self.log, env=env,
                          stdin=subprocess.PIPE if control else subprocess.DEVNULL)
        if expect_connect:
            wait_until(lambda: self._alive() and "connected to the broker" in self.text(),
                       "connection of bridge " + node)

    def _alive(self):
        if self.proc.poll() is not None:
            raise AssertionError("bridge %s ended (%d):\n%s" % (self.node, self.proc.returncode,
                                                                 self.text()))
        return True

    def text(self):
        with open(self.log.name, errors="replace") as f:
            return f.read()

    def control(self, line):
        """A command for the virtual devices (--sim-control), once it is done."""
        done = "sim-control: ok " + line
        before = self.text().count(done)
        self.proc.stdin.write((line + "\n").encode())
        self.proc.stdin.flush()
        wait_until(lambda: self._alive() and self.text().count(done) > before, line)

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=WAIT)
        return self.proc.returncode


# ---- the cases -----------------------------------------------------------

NEC_CCF = ("0000 006D 0022 0002 0155 00AA 0015 0015 0015 0040 0015 0015 0015 0015 0015 0015 "
           "0015 0015 0015 0015 0015 0015 0015 0040 0015 0015 0015 0040 0015 0040 0015 0040 "
           "0015 0040 0015 0040 0015 0040 0015 0015 0015 0015 0015 0015 0015 0040 0015 0015 "
           "0015 0015 0015 0015 0015 0015 0015 0040 0015 0040 0015 0040 0015 0015 0015 0040 "
           "0015 0040 0015 0040 0015 0040 0015 05ED 0155 0055 0015 0E47")


def ccf_durations(text):
    """The microseconds of a CCF text's once and repeat sequences."""
    words = [int(w, 16) for w in text.split()]
    period = words[1] / 4194304.0 * 1e6
    return [round(w * period) * (1 if n % 2 == 0 else -1) for n, w in enumerate(words[4:])]


def close(a, b, share=0.1, floor=60):
    return abs(a - b) <= max(abs(b) * share, floor)


def frame_like(received, sent):
    """The frame a receiver hears of sent: the same durations, the last space open."""
    want = sent[:-1] if len(sent) % 2 == 0 else sent
    return len(received) == len(want) and all(close(r, s) for r, s in zip(received, want))


def check_received_frames(program, broker):
    """A held remote: every frame reaches the subscriber with timings, ccf, decode."""
    sub = Subscriber(broker, ["kob/rx/#"])
    bridge = Bridge(program, broker, "rx", ["--sim-remote", NEC_CCF, "--no-discovery"])
    topic = "kob/rx/SIM-0001/received"
    sub.wait(lambda t, r, p: t == topic, "received frames", count=3)
    bridge.stop()
    frames = sub.json(topic)
    once = ccf_durations(NEC_CCF)[:68]
    repeat = ccf_durations(NEC_CCF)[68:]
    assert any(frame_like(f["timings"], once) for f in frames), frames[0]
    assert any(frame_like(f["timings"], repeat) for f in frames)
    for f in frames:
        for key in ("timings", "modulation", "ccf", "decoded", "button", "repeat", "time"):
            assert key in f, (key, f)
        assert all(v > 0 if n % 2 == 0 else v < 0 for n, v in enumerate(f["timings"])), f
        # The CCF text holds the same durations.
        assert frame_like(ccf_durations(f["ccf"])[:len(f["timings"])], f["timings"]), f
        assert abs(f["time"] - time.time()) < 3600, f
        for d in f["decoded"]:
            assert set(d) == {"protocol", "device", "subdevice", "function", "toggle", "repeat",
                              "kernel_protocol", "kernel_scancode"}, d
    # The repeat frames read as repeats, the first frame as a code.
    assert any(f["repeat"] and f["decoded"] for f in frames)
    assert any(not f["repeat"] and f["decoded"] for f in frames), [f["decoded"] for f in frames]
    sub.stop()
    # A remote given by protocol: its fields come back in the decode.
    sub = Subscriber(broker, ["kob/rx/#"])
    bridge = Bridge(program, broker, "rx", ["--sim-remote", "nec:4:8", "--no-discovery",
                                            "--sim-devices", "2"])
    for serial in ("SIM-0001", "SIM-0002"):
        sub.wait(lambda t, r, p: t == "kob/rx/%s/received" % serial and any(
            d["protocol"] == "NEC1" and d["device"] == 4 and d["function"] == 8 and
            not d["repeat"] for d in json.loads(p)["decoded"]), "decode of nec:4:8 on " + serial)
    bridge.stop()
    sub.stop()
    print("received frames: %d messages, decoded as %s" %
          (len(frames), sorted({d["protocol"] for f in frames for d in f["decoded"]})))


def learn_cases(broker, sub, node, cases):
    """Publishes each learn; an error must hold its word, a result pass its check."""
    results = []
    for n, (payload, status, check) in enumerate(cases):
        errors = len(sub.all(lambda t, r, p: t == "kob/%s/error" % node))
        learned = len(sub.json("kob/%s/SIM-0001/learned" % node))
        publish(broker, "kob/%s/SIM-0001/learn" % node, json.dumps(payload))
        if status is None:
            found = sub.wait(lambda t, r, p: t == "kob/%s/error" % node,
                             "error of learn %s" % payload, count=errors + 1)
            error = json.loads(found[-1][2])["error"]
            assert check in error, (payload, error)
            print("  %-50s -> %s" % (json.dumps(payload), error))
            continue
        sub.wait(lambda t, r, p: t == "kob/%s/SIM-0001/learned" % node, "learned code",
                 bound=90, count=learned + 1)
        result = sub.json("kob/%s/SIM-0001/learned" % node)[-1]
        assert result["status"] == status and result["id"] == payload["id"], result
        check(result)
        results.append(result)
    return results


def check_learn(program, broker, kob_sim):
    """Learning a held remote: the code and its decode on .../learned, stored as a button of
    the library when one is named; refusals."""
    def decoded_7_9(result):
        once = result["decoded"]["once"] + result["decoded"]["repeat"]
        # The learner keeps what the held button sends most: a frame with
        # its fields or the protocol's repeat frame.
        assert any(d["protocol"] == "NEC1" and (d["repeat"] or (d["device"] == 7 and
                                                                 d["function"] == 9))
                   for d in once), result
        assert ccf_durations(result["ccf"]), result
        assert "file" not in result, result

    sub = Subscriber(broker, ["kob/ln/#"])
    bridge = Bridge(program, broker, "ln", ["--sim-remote", "nec:7:9", "--no-discovery"])
    learn_cases(broker, sub, "ln", [
        # (payload, the status on .../learned or None, a word of the error or a check)
        ({"remote": "tv", "button": "power"}, None, "--library"),
        ({"timeout": "soon"}, None, "timeout"),
        ({"timeout": 0}, None, "timeout"),
        ({"timeout": 60, "id": "l1"}, "learned", decoded_7_9),
    ])
    assert len(sub.json("kob/ln/SIM-0001/learned")) == 1
    assert bridge.stop() == 0
    sub.stop()

    library = library_folder()

    def listed():
        out = run([kob_sim, "--library", library, "remote", "list", "tv", "--json"]).stdout
        return {b["name"]: b for b in json.loads(out)["buttons"]}

    def stored(result):
        assert result["remote"] == "tv" and result["button"] == "NEW", result
        assert result["kind"] == "protocol" and result["code"] == "nec1:7:9", result
        assert result["file"] == os.path.join(library, "tv.ir"), result
        button = listed()["NEW"]
        assert (button["protocol"], button["device"], button["function"]) == ("NEC1", 7, 9), \
            button

    sub = Subscriber(broker, ["kob/ls/#", "homeassistant/button/#"])
    # NEC2 sends its whole frame while held: the code learned is NEC1's.
    bridge = Bridge(program, broker, "ls", ["--sim-remote", "nec2:7:9"], library=library)
    before = listed()
    learn_cases(broker, sub, "ls", [
        ({"remote": "tv", "button": "POWER"}, None, "exists"),
        ({"remote": "tv/x", "button": "NEW"}, None, "remote name"),
        ({"remote": "tv", "button": ""}, None, "name"),
        ({"remote": "tv", "button": 5}, None, "names"),
        ({"remote": "tv", "button": "NEW", "force": "yes"}, None, "force"),
    ])
    assert listed() == before, listed()
    learn_cases(broker, sub, "ls", [
        ({"remote": "tv", "button": "NEW", "id": "s1", "timeout": 60}, "learned", stored),
        # Once stored, a second learn without force is refused; with it, replaces.
        ({"remote": "tv", "button": "NEW", "id": "s2"}, None, "exists"),
        ({"remote": "tv", "button": "NEW", "id": "s3", "force": True}, "learned", stored),
    ])
    assert sorted(listed()) == sorted(list(before) + ["NEW"]), listed()
    # The bridge reads the library again: the held remote is now that button, which has
    # its entity.
    sub.wait(lambda t, r, p: "kob_ls_" in t and p and json.loads(p)["name"] == "tv NEW",
             "button entity of tv/NEW")
    seen = len(sub.messages)
    sub.wait(lambda t, r, p: t == "kob/ls/SIM-0001/received" and json.loads(p)["button"] ==
             "tv/NEW", "a frame of tv/NEW", since=seen)
    assert bridge.stop() == 0
    sub.stop()
    print("  stored: tv/NEW %s" % listed()["NEW"]["code"])


def check_sends(program, broker):
    """Every payload kind reaches the device ("sent") and goes on the air (loopback)."""
    sub = Subscriber(broker, ["kob/tx/#"])
    bridge = Bridge(program, broker, "tx", ["--sim-devices", "2", "--no-discovery"])
    nec = {"protocol": "NEC1", "device": 4, "function": 8}
    timings = [9000, -4500] + [560, -560, 560, -1690] * 16 + [560]
    cases = [
        # (name, topic's serial or "" for all, payload, what the loopback frame must show)
        ("ccf", "SIM-0001", {"ccf": NEC_CCF},
         lambda f: frame_like(f["timings"], ccf_durations(NEC_CCF)[:68])),
        ("timings", "SIM-0002", {"timings": timings, "modulation": 38000, "repeat_count": 1},
         lambda f: frame_like(f["timings"], timings)),
        ("protocol", "SIM-0001", dict(nec),
         lambda f: any(d["protocol"] == "NEC1" and d["device"] == 4 and d["function"] == 8
                       and not d["repeat"] for d in f["decoded"])),
        ("protocol, all devices", "", dict(nec, subdevice=251, emitters=3),
         lambda f: any(d["protocol"] == "NEC1" and d["device"] == 4 and d["subdevice"] == 251
                       and d["function"] == 8 for d in f["decoded"])),
    ]
    for n, (name, serial, payload, heard) in enumerate(cases):
        payload["id"] = "%s-%d" % (name, n)
        topic = "kob/tx/%s/send" % serial if serial else "kob/tx/send"
        targets = [serial] if serial else ["SIM-0001", "SIM-0002"]
        seen = len(sub.all(lambda t, r, p: True))
        publish(broker, topic, json.dumps(payload))
        for target in targets:
            sub.wait(lambda t, r, p: t == "kob/tx/%s/sent" % target and
                     json.loads(p)["id"] == payload["id"], "sent of " + name)
            result = [m for m in sub.json("kob/tx/%s/sent" % target)
                      if m["id"] == payload["id"]]
            assert result == [{"id": payload["id"], "serial": target, "status": "sent"}], result
            # The virtual device hears what it sent.
            sub.wait(lambda t, r, p: t == "kob/tx/%s/received" % target and
                     sub.messages.index((t, r, p)) >= seen and heard(json.loads(p)),
                     "loopback frame of " + name + " on " + target)
        print("send by %s: sent on %s, heard back" % (name, ",".join(targets)))
    # The second send repeats the signal once: it is heard twice.
    heard_timings = [f for f in sub.json("kob/tx/SIM-0002/received")
                     if frame_like(f["timings"], timings)]
    assert len(heard_timings) >= 2, len(heard_timings)
    assert not sub.all(lambda t, r, p: t == "kob/tx/error"), sub.all(lambda t, r, p: True)
    assert bridge.stop() == 0
    sub.stop()


def check_sent_results(program, broker):
    """"sent" follows the device's "IR Sent"; a device that never answers or goes away fails."""
    sub = Subscriber(broker, ["kob/st/#"])
    bridge = Bridge(program, broker, "st", ["--no-discovery", "--sim-devices", "3",
                                            "--sent-timeout", "3"], control=True)
    # The once frame, then the repeat frame 1 + repeat times: each
    # heard (loopback) as it ends; "IR Sent" comes after the last.
    cases = [
        # (id, serial, air time %, repeat, status, a word of the error, whilst on the air)
        ("first", "SIM-0001", 100, 2, "sent", None, None),
        ("second", "SIM-0001", 100, 0, "sent", None, None),
        ("never answered", "SIM-0002", 1000, 8, "timeout", "IR Sent", None),
        ("unplugged", "SIM-0003", 1000, 8, "failed", "removed", "detach SIM-0003"),
    ]
    for name, serial, air, repeat, status, word, action in cases:
        bridge.control("air-time %s %d" % (serial, air))
        publish(broker, "kob/st/%s/send" % serial, json.dumps({"ccf": NEC_CCF, "id": name,
                                                               "repeat": repeat}))
        if action:
            sub.wait(lambda t, r, p: t == "kob/st/%s/received" % serial, "first frame of " + name)
            bridge.control(action)
    heard = {}  # serial -> frames heard so far
    for name, serial, air, repeat, status, word, action in cases:
        found = sub.wait(lambda t, r, p: t == "kob/st/%s/sent" % serial and
                         json.loads(p)["id"] == name, "result of " + name)
        result = json.loads(found[0][2])
        assert result["status"] == status, result
        assert word is None or word in result["error"], result
        if status == "sent":
            # Every frame of the code was heard before its result.
            heard[serial] = heard.get(serial, 0) + 2 + repeat
            before = sub.messages[:sub.messages.index(found[0])]
            frames = [m for m in before if m[0] == "kob/st/%s/received" % serial]
            assert len(frames) >= heard[serial], (name, len(frames), heard[serial])
        print("  %-16s -> %s %s" % (name, result["status"], result.get("error", "")))
    assert [m["id"] for m in sub.json("kob/st/SIM-0001/sent")] == ["first", "second"]
    # The late "IR Sent" of the code that timed out is nobody's: the next
    # send has its own.
    sub.wait(lambda t, r, p: t == "kob/st/SIM-0002/received", "the slow code's frames",
             count=10, bound=60)
    bridge.control("air-time SIM-0002 100")
    publish(broker, "kob/st/SIM-0002/send", json.dumps({"ccf": NEC_CCF, "id": "after"}))
    sub.wait(lambda t, r, p: t == "kob/st/SIM-0002/sent" and '"after"' in p, "result of after")
    sub.wait(lambda t, r, p: t == "kob/st/SIM-0002/received", "frames of after", count=12)
    assert [(m["id"], m["status"]) for m in sub.json("kob/st/SIM-0002/sent")] == [
        ("never answered", "timeout"), ("after", "sent")], sub.json("kob/st/SIM-0002/sent")
    assert bridge.stop() == 0, bridge.text()
    sub.stop()


LIBRARY_TV = """Filetype: IR signals file
Version: 1
#
name: POWER
type: parsed
protocol: NEC
address: 04 00 00 00
command: 08 00 00 00
#
name: SUB
type: parsed
protocol: NECext
address: 04 05 00 00
command: 08 F7 00 00
#
name: MUTE
type: raw
frequency: 38000
duty_cycle: 0.330000
data: 9000 4500 560 560 560 1690 560 40000
"""


def library_folder(text=LIBRARY_TV):
    library = tempfile.mkdtemp(prefix="library-", dir=LOG_DIR)
    with open(os.path.join(library, "tv.ir"), "w") as f:
        f.write(text)
    return library


def check_named_buttons(program, broker):
    """Sends by remote and button from the library folder; unknown names refused."""
    library = library_folder()
    sub = Subscriber(broker, ["kob/nb/#"])
    bridge = Bridge(program, broker, "nb", ["--no-discovery"], library=library)
    cases = [
        # (remote, button, status of the result or None, what the loopback frame or error shows)
        ("tv", "POWER", "sent", lambda f: any(d["protocol"] == "NEC1" and d["device"] == 4 and
                                              d["function"] == 8 for d in f["decoded"])),
        ("tv", "MUTE", "sent", lambda f: frame_like(f["timings"], [9000, -4500, 560, -560, 560,
                                                                   -1690, 560, -40000])),
        ("tv", "NOPE", None, "no button"),
        ("radio", "POWER", None, "no remote"),
    ]
    for n, (remote, button, status, check) in enumerate(cases):
        seen = len(sub.messages)
        publish(broker, "kob/nb/SIM-0001/send",
                json.dumps({"remote": remote, "button": button, "id": n}))
        if status is None:
            found = sub.wait(lambda t, r, p: t == "kob/nb/error", "error of " + button,
                             since=seen)
            assert check in json.loads(found[0][2])["error"], found
            continue
        sub.wait(lambda t, r, p: t == "kob/nb/SIM-0001/sent" and json.loads(p)["id"] == n,
                 "sent of " + button)
        sub.wait(lambda t, r, p: t == "kob/nb/SIM-0001/received" and check(json.loads(p)),
                 "loopback frame of " + button, since=seen)
        print("  %s/%s: sent, heard back" % (remote, button))
    assert bridge.stop() == 0, bridge.text()
    sub.stop()


def check_received_buttons(program, broker):
    """A frame equal to a library button names it in "button"; other frames null."""
    library = library_folder()
    cases = [
        # (--sim-remote, the button its first frame is)
        ("tv/POWER", "tv/POWER"),
        ("nec:4:5:8", "tv/SUB"),  # the subdevice tells it from POWER
        ("tv/MUTE", "tv/MUTE"),
        ("nec:4:9", None),
        ("nec:4:6:8", None),
    ]
    for remote, want in cases:
        sub = Subscriber(broker, ["kob/rb/#"])
        bridge = Bridge(program, broker, "rb", ["--sim-remote", remote, "--no-discovery"],
                        library=library)
        topic = "kob/rb/SIM-0001/received"
        sub.wait(lambda t, r, p: t == topic, "frames of " + remote, count=3)
        bridge.stop()
        frames = sub.json(topic)
        first = [f for f in frames if not f["repeat"]]
        assert first and all(f["button"] == want for f in first), (remote, frames)
        # A repeat frame without the code's fields is no button.
        assert all(f["button"] in (None, want) for f in frames), (remote, frames)
        sub.stop()
        print("  %-10s -> button %s" % (remote, want))


def bad_payloads(max_age):
    big_list = list(range(1, 100001))
    return [
        # (name, payload bytes, a word the error must hold)
        ("not JSON", b"send it", "JSON"),
        ("JSON list", b"[1, 2]", "object"),
        ("JSON string", b'"ccf"', "object"),
        ("empty object", b"{}", "one of"),
        ("empty payload", b"", "JSON"),
        ("invalid UTF-8", b'{"ccf": "\xff\xfe"}', "JSON"),
        ("two kinds", json.dumps({"ccf": NEC_CCF, "protocol": "NEC1"}).encode(), "only one"),
        ("named button, no library", json.dumps({"remote": "tv", "button": "power"}).encode(),
         "--library"),
        ("ccf a number", json.dumps({"ccf": 5}).encode(), "string"),
        ("ccf not hex", json.dumps({"ccf": "0000 006D zz"}).encode(), "ccf"),
        ("ccf pair counts", json.dumps({"ccf": "0000 006D 0005 0000 0155 00AA"}).encode(),
         "ccf"),
        ("ccf too long", json.dumps({"ccf": " ".join(["0000", "006D", "0000", "0100"] +
                                                     ["0015"] * 512)}).encode(), "ccf"),
        ("timings not a list", json.dumps({"timings": 5, "modulation": 38000}).encode(),
         "list"),
        ("timings empty", json.dumps({"timings": [], "modulation": 38000}).encode(), "empty"),
        ("timings strings", json.dumps({"timings": ["9000"], "modulation": 38000}).encode(),
         "timings[0]"),
        ("timings start on a space", json.dumps({"timings": [-9000, 4500],
                                                 "modulation": 38000}).encode(), "timings[0]"),
        ("timings zero", json.dumps({"timings": [9000, 0, 560], "modulation": 38000}).encode(),
         "timings[1]"),
        ("timings huge", json.dumps({"timings": [9000, -10 ** 15],
                                     "modulation": 38000}).encode(), "timings[1]"),
        ("100,000 timings", json.dumps({"timings": big_list, "modulation": 38000}).encode(),
         "100000 entries"),
        ("timings without modulation", json.dumps({"timings": [9000, -4500, 560]}).encode(),
         "modulation"),
        ("modulation negative", json.dumps({"timings": [9000, -4500, 560],
                                            "modulation": -38000}).encode(), "modulation"),
        ("modulation huge", json.dumps({"timings": [9000, -4500, 560],
                                        "modulation": 10 ** 12}).encode(), "modulation"),
        ("modulation a string", json.dumps({"timings": [9000, -4500, 560],
                                            "modulation": "38k"}).encode(), "modulation"),
        ("unknown protocol", json.dumps({"protocol": "NoSuchProto", "device": 1,
                                         "function": 1}).encode(), "unknown protocol"),
        ("protocol a number", json.dumps({"protocol": 7, "device": 1, "function": 1}).encode(),
         "protocol"),
        ("protocol without function", json.dumps({"protocol": "NEC1", "device": 1}).encode(),
         "function"),
        ("device out of range", json.dumps({"protocol": "NEC1", "device": 256,
                                            "function": 1}).encode(), "device"),
        ("function negative", json.dumps({"protocol": "NEC1", "device": 1,
                                          "function": -1}).encode(), "function"),
        ("subdevice negative", json.dumps({"protocol": "NEC1", "device": 1, "subdevice": -1,
                                           "function": 1}).encode(), "subdevice"),
        ("toggle the protocol lacks", json.dumps({"protocol": "NEC1", "device": 1,
                                                  "function": 1, "toggle": 1}).encode(),
         "no toggle"),
        ("device 2^64", b'{"protocol": "NEC1", "device": 18446744073709551615, "function": 1}',
         "device"),
        ("device a fraction", json.dumps({"protocol": "NEC1", "device": 1.5,
                                          "function": 1}).encode(), "device"),
        ("device 1e300", b'{"protocol": "NEC1", "device": 1e300, "function": 1}', "device"),
        ("emitters 0", json.dumps({"ccf": NEC_CCF, "emitters": 0}).encode(), "emitters"),
        ("emitters 256", json.dumps({"ccf": NEC_CCF, "emitters": 256}).encode(), "emitters"),
        ("repeat negative", json.dumps({"ccf": NEC_CCF, "repeat": -1}).encode(), "repeat"),
        ("repeat a string", json.dumps({"ccf": NEC_CCF, "repeat": "3"}).encode(), "repeat"),
        ("id an object", json.dumps({"ccf": NEC_CCF, "id": {"a": 1}}).encode(), "id"),
        ("1 MB payload", json.dumps({"ccf": NEC_CCF, "pad": "x" * (1 << 20)}).encode(),
         "larger"),
        ("stale send", json.dumps({"ccf": NEC_CCF, "time": time.time() - 3 * max_age}).encode(),
         "max-age"),
    ]


def check_bad_payloads(program, broker):
    """Each bad payload: one error message, quoting topic and payload; nothing sent."""
    sub = Subscriber(broker, ["kob/bad/#"])
    bridge = Bridge(program, broker, "bad", ["--no-discovery", "--max-age", "5"])
    topic = "kob/bad/SIM-0001/send"
    table = bad_payloads(5)
    for n, (name, payload, word) in enumerate(table):
        publish(broker, topic, payload)
        errors = sub.wait(lambda t, r, p: t == "kob/bad/error", "error for " + name,
                          count=n + 1)
        error = json.loads(errors[n][2])
        assert set(error) == {"error", "topic", "payload"}, error
        assert word.lower() in error["error"].lower(), (name, error["error"])
        assert error["topic"] == topic, error
        quoted = payload[:200].decode("utf-8", "replace")
        assert error["payload"] == quoted, (name, error["payload"][:80])
        print("  %-28s -> %s" % (name, error["error"]))
    # A send to a device that is not there: an error and a failed result.
    publish(broker, "kob/bad/NO-SUCH/send", json.dumps({"ccf": NEC_CCF, "id": 7}))
    errors = sub.wait(lambda t, r, p: t == "kob/bad/error", "error for the missing device",
                      count=len(table) + 1)
    assert "NO-SUCH" in json.loads(errors[-1][2])["error"], errors[-1]
    sub.wait(lambda t, r, p: t == "kob/bad/NO-SUCH/sent", "failed result")
    assert sub.json("kob/bad/NO-SUCH/sent")[0]["status"] == "failed"
    print("  %-28s -> %s" % ("device not there", json.loads(errors[-1][2])["error"]))
    # Then a good send: its result is the only one, its frames the only ones heard.
    publish(broker, topic, json.dumps({"ccf": NEC_CCF, "id": "after", "time": time.time()}))
    sub.wait(lambda t, r, p: t == "kob/bad/SIM-0001/sent" and '"after"' in p,
             "sent of the good send")
    results = sub.json("kob/bad/SIM-0001/sent")
    assert [m["id"] for m in results if m["status"] == "sent"] == ["after"], results
    # The stale send has a result too: expired.
    assert [m["status"] for m in results if m["id"] != "after"] == ["expired"], results
    sub.wait(lambda t, r, p: t == "kob/bad/SIM-0001/received", "frames of the good send",
             count=2)
    # Nothing else went on the air: every frame heard is one of that code.
    frames = sub.json("kob/bad/SIM-0001/received")
    durations = ccf_durations(NEC_CCF)
    assert all(frame_like(f["timings"], durations[:68]) or frame_like(f["timings"], durations[68:])
               for f in frames), frames
    assert len(sub.all(lambda t, r, p: t == "kob/bad/error")) == len(table) + 1
    assert bridge.stop() == 0, bridge.text()
    sub.stop()


def check_discovery(program, broker):
    """Complete discovery configs; republished on Home Assistant's birth; gone with the device."""
    sub = Subscriber(broker, ["homeassistant/#", "kob/ha/#"])
    bridge = Bridge(program, broker, "ha", ["--sim-devices", "2"])
    for serial in ("SIM-0001", "SIM-0002"):
        topic = "homeassistant/device/kob_ha_%s/config" % serial
        sub.wait(lambda t, r, p: t == topic and p, "discovery of " + serial)
        config = sub.json(topic)[-1]
        dev = config["dev"]
        assert dev["ids"] and serial in dev["ids"][0] and dev["mdl"] == "KOB-1", dev
        assert dev["sn"] == serial and dev["name"] and dev["sw"] and dev["via_device"], dev
        assert config["o"]["name"] == "kob-mqtt", config
        assert config["avty"] == [{"t": "kob/ha/status"}, {"t": "kob/ha/%s/status" % serial}]
        assert config["avty_mode"] == "all", config
        cmps = config["cmps"]
        ids = [c["uniq_id"] for c in cmps.values()]
        assert len(set(ids)) == len(ids), ids
        platforms = sorted(c["p"] for c in cmps.values())
        assert platforms == ["event", "infrared", "infrared", "sensor"], platforms
        base = "kob/ha/" + serial
        for c in cmps.values():
            if c["p"] == "infrared" and c["schema"] == "emitter":
                assert c["cmd_t"] == base + "/send", c
            elif c["p"] == "infrared":
                assert c["schema"] == "receiver" and c["stat_t"] == base + "/received", c
            elif c["p"] == "event":
                assert c["stat_t"] == base + "/received" and "NEC1" in c["evt_typ"], c
                assert "unknown" in c["evt_typ"] and c["val_tpl"], c
            else:
                assert c["stat_t"] == base + "/received" and c["val_tpl"], c
    status = sub.wait(lambda t, r, p: t == "kob/ha/status", "status")
    assert status[-1][2] == "online", status
    devices = sub.json("kob/ha/devices")[-1]
    assert [d["serial"] for d in devices] == ["SIM-0001", "SIM-0002"], devices
    # Home Assistant comes online: every config again.
    before = len(sub.all(lambda t, r, p: t.startswith("homeassistant/device/")))
    publish(broker, "homeassistant/status", "online", qos=0)
    sub.wait(lambda t, r, p: t.startswith("homeassistant/device/"), "configs after the birth",
             count=before + 2)
    assert bridge.stop() == 0
    status = sub.wait(lambda t, r, p: t == "kob/ha/status" and p == "offline", "offline")
    # It said goodbye: the broker does not send the last will ("offline" again).
    broker_log = os.path.join(broker.folder, "broker.log")
    wait_until(lambda: re.search(r"Client kob-mqtt-ha (disconnected|closed its connection)",
                                 open(broker_log, errors="replace").read()), "the broker's log")
    assert "kob-mqtt-ha closed its connection" not in open(broker_log, errors="replace").read()
    # Stopping the bridge keeps the devices in discovery (unavailable, not removed).
    assert all(p for t, r, p in sub.all(lambda t, r, p: t.startswith("homeassistant/device/")))
    sub.stop()
    # A fresh subscriber sees the retained state: offline, configs kept.
    late = Subscriber(broker, ["homeassistant/device/#", "kob/ha/status"])
    late.wait(lambda t, r, p: t == "kob/ha/status" and r and p == "offline", "retained offline")
    late.wait(lambda t, r, p: t.startswith("homeassistant/device/") and r, "retained configs",
              count=2)
    late.stop()
    print("discovery: 2 device configs, complete; republished on birth; offline on stop")


def check_discovery_buttons(program, broker):
    """A button entity per library button: pressing it sends that button; one that leaves
    the library leaves discovery when the bridge starts again."""
    library = library_folder()
    sub = Subscriber(broker, ["homeassistant/#", "kob/hb/#"])
    base = "kob/hb/SIM-0001"
    device_topic = "homeassistant/device/kob_hb_SIM-0001/config"

    def button_configs(since=0):
        """The button configurations now on the broker, by name."""
        last = {}
        for t, r, p in sub.messages[since:]:
            if t.startswith("homeassistant/button/") and "kob_hb_" in t:
                last[t] = p
        return {json.loads(p)["name"]: (t, json.loads(p)) for t, p in last.items() if p}

    def started(names):
        seen = len(sub.messages)
        bridge = Bridge(program, broker, "hb", [], library=library)
        sub.wait(lambda t, r, p: t == device_topic and p, "device discovery", since=seen)
        wait_until(lambda: sorted(button_configs(seen)) == sorted(names), "buttons %s" % names)
        return bridge, seen

    names = ["tv POWER", "tv SUB", "tv MUTE"]
    bridge, seen = started(names)
    device = sub.json(device_topic)[-1]
    events = [c for c in device["cmps"].values() if c["p"] == "event"][0]
    assert {"tv/POWER", "tv/SUB", "tv/MUTE", "NEC1", "unknown"} <= set(events["evt_typ"]), events
    configs = button_configs(seen)
    ids = set()
    for name, (topic, c) in sorted(configs.items()):
        remote, button = name.split(" ")
        assert topic == "homeassistant/button/%s/config" % c["uniq_id"], (topic, c)
        assert c["cmd_t"] == base + "/send" and c["qos"] == 1, c
        assert json.loads(c["pl_prs"]) == {"remote": remote, "button": button}, c
        assert c["dev"]["ids"] == device["dev"]["ids"], (c, device["dev"])
        assert c["avty"] == device["avty"] and c["avty_mode"] == "all", c
        assert c["o"]["name"] == "kob-mqtt", c
        ids.add(c["uniq_id"])
        # Pressed: Home Assistant publishes pl_prs on cmd_t; the device sends the button
        # and hears it back as that button.
        now = len(sub.messages)
        publish(broker, c["cmd_t"], c["pl_prs"])
        sub.wait(lambda t, r, p: t == base + "/sent" and json.loads(p)["status"] == "sent",
                 "sent of " + name, since=now)
        sub.wait(lambda t, r, p: t == base + "/received" and
                 json.loads(p)["button"] == remote + "/" + button, "frame of " + name, since=now)
        print("  %-9s %s: pressed, heard back" % (name, c["uniq_id"]))
    assert len(ids) == len(names), ids

    def events_now():
        device = sub.json(device_topic)[-1]
        return [c for c in device["cmps"].values() if c["p"] == "event"][0]["evt_typ"]

    def leaves(button, since):
        """button left the library: its entity and its event type go."""
        topic = configs["tv " + button][0]
        sub.wait(lambda t, r, p: t == topic and not p, "removal of tv " + button, since=since)
        wait_until(lambda: "tv/" + button not in events_now(), "event types without " + button)
        assert "tv/POWER" in events_now(), events_now()

    def library_without(*buttons):
        text = LIBRARY_TV
        for button in buttons:
            start = text.index("#\nname: " + button + "\n")
            end = text.find("#\n", start + 2)
            text = text[:start] + (text[end:] if end >= 0 else "")
        with open(os.path.join(library, "tv.ir"), "w") as f:
            f.write(text)

    # MUTE leaves the library while the bridge runs: the bridge sees the folder change.
    now = len(sub.messages)
    library_without("MUTE")
    leaves("MUTE", now)
    assert bridge.stop() == 0, bridge.text()
    # SUB leaves it while the bridge is away: its entity goes at the next start.
    library_without("MUTE", "SUB")
    bridge, seen = started(["tv POWER"])
    leaves("SUB", seen)
    assert bridge.stop() == 0, bridge.text()
    sub.stop()
    late = Subscriber(broker, ["homeassistant/button/#"])
    retained = late.wait(lambda t, r, p: r and "kob_hb_" in t, "retained buttons")
    assert [json.loads(p)["name"] for t, r, p in retained] == ["tv POWER"], retained
    late.stop()
    print("  tv MUTE left the library while running, tv SUB while away: both entities removed")


def check_discovery_removal(program, broker):
    """A device away for the grace leaves discovery; back in time, or the bridge stopping, keeps it."""
    sub = Subscriber(broker, ["homeassistant/device/#", "kob/gone/#"])
    config = "homeassistant/device/kob_gone_%s/config"
    status = "kob/gone/%s/status"

    def retained_view(topic):
        """The payloads on topic, a repeated one once."""
        found = [p for t, r, p in sub.all(lambda t, r, p: t == topic)]
        return [p for n, p in enumerate(found) if n == 0 or found[n - 1] != p]

    cases = [
        # (grace, devices, (command, the status it brings), serial, its statuses, removed)
        (30, 2, [("detach SIM-0002", "offline"), ("attach SIM-0002", "online")], "SIM-0002",
         ["online", "offline", "online"], False),
        (30, 2, [("detach SIM-0002", "offline")], "SIM-0002", ["online", "offline"], False),
        # After a restart without it: its retained configuration tells it was here.
        (1, 1, [], "SIM-0002", ["offline", ""], True),
        (1, 1, [("detach SIM-0001", "offline")], "SIM-0001", ["online", "offline", ""], True),
    ]
    for grace, devices, commands, serial, want, removed in cases:
        seen = len(sub.messages)
        bridge = Bridge(program, broker, "gone", ["--sim-devices", str(devices),
                                                  "--removal-grace", str(grace)], control=True)
        sub.wait(lambda t, r, p: t == "kob/gone/devices", "devices", since=seen)
        for command, brings in commands:
            now = len(sub.messages)
            if brings == "offline":
                # The device is up before it goes.
                sub.wait(lambda t, r, p: t == status % serial and p == "online", "online")
            bridge.control(command)
            sub.wait(lambda t, r, p: t == status % serial and p == brings,
                     "status after " + command, since=now)
        if removed:
            sub.wait(lambda t, r, p: t == config % serial and not p, "removal of " + serial)
            sub.wait(lambda t, r, p: t == status % serial and not p, "status cleared")
        assert bridge.stop() == 0, bridge.text()
        mine = [p for t, r, p in sub.messages[seen:] if t == status % serial]
        got = [p for n, p in enumerate(mine) if n == 0 or mine[n - 1] != p]
        assert got == want, (serial, got, want)
        configs = retained_view(config % serial)
        assert configs and (configs[-1] == "") == removed, configs
        print("  grace %2d s, %-38s -> %s %s" % (
            grace, ", ".join(c for c, _ in commands) or "restart without it", serial,
            "removed" if removed else "kept"))
    # Nothing retained is left of the devices that went.
    late = Subscriber(broker, ["homeassistant/device/#", "kob/gone/+/status"])
    left = late.all(lambda t, r, p: r and ("kob_gone_" in t or t.startswith("kob/gone/")))
    assert not left, left
    late.stop()
    sub.stop()


def check_broker_restart(program, broker):
    """Broker killed and started again: the bridge reconnects and republishes."""
    bridge = Bridge(program, broker, "rs", ["--no-discovery"])
    broker.kill()
    wait_until(lambda: "lost" in bridge.text(), "log line of the lost connection")
    broker.start()
    # The broker keeps nothing: only a republished state can reach this one.
    sub = Subscriber(broker, ["kob/rs/#"])
    sub.wait(lambda t, r, p: t == "kob/rs/status" and p == "online", "status after restart",
             bound=60)
    sub.wait(lambda t, r, p: t == "kob/rs/devices", "devices after restart")
    publish(broker, "kob/rs/SIM-0001/send", json.dumps({"ccf": NEC_CCF, "id": "again"}))
    sub.wait(lambda t, r, p: t == "kob/rs/SIM-0001/sent", "sent after restart")
    assert bridge.text().count("connected to the broker") >= 2, bridge.text()
    assert bridge.stop() == 0
    sub.stop()
    print("broker restart: bridge log\n    " + bridge.text().strip().replace("\n", "\n    "))


def check_two_nodes(program, broker):
    """Two bridges on one broker: each its own devices, commands and frames."""
    sub = Subscriber(broker, ["kob/#"])
    a = Bridge(program, broker, "node-a", ["--no-discovery"])
    b = Bridge(program, broker, "node-b", ["--no-discovery", "--sim-devices", "3"])
    sub.wait(lambda t, r, p: t == "kob/node-b/devices" and len(json.loads(p)) == 3,
             "devices of node-b")
    assert [d["serial"] for d in sub.json("kob/node-a/devices")[-1]] == ["SIM-0001"]
    publish(broker, "kob/node-a/SIM-0001/send", json.dumps({"ccf": NEC_CCF, "id": "to-a"}))
    publish(broker, "kob/node-b/send", json.dumps({"protocol": "NEC1", "device": 1,
                                                   "function": 2, "id": "to-b"}))
    sub.wait(lambda t, r, p: t == "kob/node-a/SIM-0001/sent", "sent on node-a")
    sub.wait(lambda t, r, p: t.startswith("kob/node-b/") and t.endswith("/sent"),
             "sent on node-b", count=3)
    sub.wait(lambda t, r, p: t == "kob/node-a/SIM-0001/received", "frames on node-a", count=2)
    sub.wait(lambda t, r, p: t == "kob/node-b/SIM-0003/received", "frames on node-b")
    assert [m["id"] for m in sub.json("kob/node-a/SIM-0001/sent")] == ["to-a"]
    for serial in ("SIM-0001", "SIM-0002", "SIM-0003"):
        assert [m["id"] for m in sub.json("kob/node-b/%s/sent" % serial)] == ["to-b"], serial
    # Each node heard only its own code.
    for f in sub.json("kob/node-a/SIM-0001/received"):
        assert not any(d["device"] == 1 and d["function"] == 2 for d in f["decoded"]), f
    for f in sub.json("kob/node-b/SIM-0001/received"):
        assert not frame_like(f["timings"], ccf_durations(NEC_CCF)[:68]), f
    a.stop()
    sub.wait(lambda t, r, p: t == "kob/node-a/status" and p == "offline", "node-a offline")
    publish(broker, "kob/node-b/SIM-0002/send", json.dumps({"ccf": NEC_CCF, "id": "b-alone"}))
    sub.wait(lambda t, r, p: t == "kob/node-b/SIM-0002/sent" and "b-alone" in p,
             "node-b goes on alone")
    assert b.stop() == 0
    sub.stop()
    print("two nodes: node-a 1 device, node-b 3 devices; sends and frames stay apart")


def check_refusals(program, broker, pki, folder):
    """Start-up refusals: each a clear log line and a non-zero exit."""
    open_file = os.path.join(folder, "password-open")
    closed_file = os.path.join(folder, "password-closed")
    wrong_file = os.path.join(folder, "password-wrong")
    for path, text, mode in ((open_file, PASSWORD, 0o644), (closed_file, PASSWORD, 0o600),
                             (wrong_file, "not-it", 0o600)):
        with open(path, "w") as f:
            f.write(text + "\n")
        os.chmod(path, mode)
    cases = [
        # (name, options, password in the environment, port, words of the log line)
        ("wrong password", ["--password-file", wrong_file], False, broker.port,
         ["refused", "not authori"]),
        ("no password", [], False, broker.port, ["refused", "not authori"]),
        ("wrong CA", ["--cafile", pki.other_ca], True, broker.tls_port, ["TLS", "cafile"]),
        ("world-readable password file", ["--password-file", open_file], False, broker.port,
         ["read by every user"]),
        ("cert without key", ["--cafile", pki.ca, "--cert", pki.server_cert], True,
         broker.tls_port, ["--key"]),
    ]
    for name, options, env_password, port, words in cases:
        bridge = Bridge(program, broker, "refused", options, env_password=env_password,
                        port=port, expect_connect=False)
        code = bridge.proc.wait(timeout=WAIT)
        log = bridge.text()
        assert code != 0, (name, log)
        assert "connected to the broker" not in log, (name, log)
        for word in words:
            assert word.lower() in log.lower(), (name, word, log)
        lines = [l for l in log.splitlines() if all(w.lower() in l.lower() for w in words)]
        assert lines, (name, log)
        print("  %-28s exit %d: %s" % (name, code, lines[0]))
    # The right CA and the password file: connected over TLS.
    sub = Subscriber(broker, ["kob/tls/#"])
    bridge = Bridge(program, broker, "tls", ["--cafile", pki.ca, "--password-file", closed_file,
                                             "--no-discovery"], env_password=False,
                    port=broker.tls_port)
    sub.wait(lambda t, r, p: t == "kob/tls/status" and p == "online", "status over TLS")
    assert bridge.stop() == 0
    sub.stop()
    print("  TLS with the right CA and a closed password file: connected")


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    program, kob_sim = sys.argv[1:]
    missing = [t for t in ("mosquitto", "mosquitto_sub", "mosquitto_pub", "mosquitto_passwd",
                           "openssl") if shutil.which(t) is None and
               not os.path.exists("/usr/sbin/" + t)]
    if missing:
        print("SKIP: %s not installed (scripts/setup.sh all installs them)" % ", ".join(missing))
        return SKIP
    if shutil.which("mosquitto") is None:
        os.environ["PATH"] += os.pathsep + "/usr/sbin"
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    folder = tempfile.mkdtemp(prefix="kob-mqtt-test-")
    global LOG_DIR
    LOG_DIR = folder
    failures = 1  # until the checks have run
    try:
        pki = Pki(folder)
        broker = Broker(folder, pki)
        checks = [
            ("received frames", lambda: check_received_frames(program, broker)),
            ("sends", lambda: check_sends(program, broker)),
            ("sent results", lambda: check_sent_results(program, broker)),
            ("named buttons", lambda: check_named_buttons(program, broker)),
            ("received buttons", lambda: check_received_buttons(program, broker)),
            ("learn", lambda: check_learn(program, broker, kob_sim)),
            ("bad payloads", lambda: check_bad_payloads(program, broker)),
            ("discovery", lambda: check_discovery(program, broker)),
            ("discovery buttons", lambda: check_discovery_buttons(program, broker)),
            ("discovery removal", lambda: check_discovery_removal(program, broker)),
            ("two nodes", lambda: check_two_nodes(program, broker)),
            ("refusals", lambda: check_refusals(program, broker, pki, folder)),
            ("broker restart", lambda: check_broker_restart(program, broker)),
        ]
        failures = 0
        only = os.environ.get("KOB_MQTT_TEST_ONLY")
        for name, check in checks:
            if only and only not in name:
                continue
            print("== " + name, flush=True)
            try:
                check()
            except Exception:
                failures += 1
                traceback.print_exc()
                print("FAILED: " + name, flush=True)
            # What one check started does not outlive it.
            for proc in list(started):
                if proc is not broker.proc and proc.poll() is None:
                    proc.terminate()
                    proc.wait(timeout=WAIT)
    finally:
        stop_all()
        if failures == 0:
            shutil.rmtree(folder, ignore_errors=True)
        else:
            print("broker files and logs kept in " + folder)
    print("%d check(s) failed" % failures if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
