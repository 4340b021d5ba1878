"""koblib.Remote and koblib.Library: code files read back as written, the
library folder's changes and errors, and a library button sent through
the virtual device."""

import os
import subprocess
import sys
from pathlib import Path

import koblib
import pytest
from conftest import SERIAL, take

NEC = koblib.encode("nec", 4, 8)
TV = koblib.Remote("tv", [
    koblib.Button.of_protocol("POWER", "nec", 4, 8),
    koblib.Button.of_protocol("VOL+", "rc5", 0, 16),
    koblib.Button.of_timings("RAW", koblib.parse_ccf(koblib.encode("sony12", 1, 21).ccf)),
], brand="Acme")
# Formats that keep every kind of button: written and read again, each
# button sends what it sent (within the rounding of the format's numbers);
# the ones that say protocol codes keep them as such.
ROUND_TRIP = ["flipper", "pronto", "gc", "json"]
KEEP_PROTOCOLS = {"flipper", "json"}


@pytest.mark.parametrize("format", ROUND_TRIP)
def test_code_file_round_trip(tmp_path, format):
    path = tmp_path / ("tv." + {"flipper": "ir", "pronto": "txt", "gc": "txt"}.get(format, format))
    TV.save(path, format)
    back = koblib.Remote.load(path, format)
    assert [b.name for b in back] == [b.name for b in TV]
    for button in back:
        assert koblib.compare(button.ccf, TV[button.name].ccf), button.name
    assert (back["POWER"].protocol is not None) == (format in KEEP_PROTOCOLS)
    assert koblib.Remote.load(path) == back  # the format from the file


def test_buttons_by_name_and_their_errors():
    assert TV["POWER"].ccf == NEC.ccf
    assert TV["POWER"].code == NEC
    assert "MUTE" not in TV and len(TV) == 3
    cases = [
        (lambda: TV["MUTE"], KeyError, "no button 'MUTE'"),
        (lambda: koblib.Button("X").ccf, ValueError, "neither"),
        (lambda: koblib.Button.of_protocol("X", "nec", 4, 300).ccf, ValueError, "300"),
        (lambda: koblib.Remote("r", [TV["POWER"], TV["POWER"]]), FileExistsError, "POWER"),
        (lambda: koblib.Remote.loads("Filetype: IR signals file\nVersion: 1\nname: A\n",
                                     "flipper", "bad.ir"), ValueError, "bad.ir"),
        (lambda: koblib.Remote.loads("hello", None, None), ValueError, "format"),
        (lambda: TV.dumps("nosuch"), ValueError, "unknown format"),
        (lambda: TV.dumps("irdb"), ValueError, "RAW"),  # protocol codes only
    ]
    for call, error, fragment in cases:
        with pytest.raises(error, match=fragment):
            call()


def test_library_put_get_rename_remove(tmp_path):
    library = koblib.Library(tmp_path / "remotes")
    assert library.list() == []
    library.put(TV)
    with pytest.raises(FileExistsError):
        library.put(TV)
    library.put(TV, replace=True)
    library.put("tv", koblib.Button.of_protocol("MUTE", "nec", 4, 9))
    library.put("amp", koblib.Button.of_protocol("POWER", "rc5", 16, 12))
    assert library.list() == ["amp", "tv"]
    assert [b.name for b in library["tv"]] == ["POWER", "VOL+", "RAW", "MUTE"]
    assert library["tv"]["POWER"].ccf == NEC.ccf
    library.rename("tv", "OFF", button="POWER")
    library.rename("amp", "receiver")
    library.remove("tv", "RAW")
    assert library.list() == ["receiver", "tv"]
    assert [b.name for b in library["tv"]] == ["OFF", "VOL+", "MUTE"]
    cases = [
        (lambda: library["amp"], KeyError),
        (lambda: library.remove("tv", "RAW"), KeyError),
        (lambda: library.rename("tv", "receiver"), FileExistsError),
        (lambda: library.put("../out", TV["POWER"]), ValueError),
        (lambda: library.put("tv"), TypeError),
    ]
    for call, error in cases:
        with pytest.raises(error):
            call()
    library.remove("receiver")
    assert library.list() == ["tv"]
    assert not (tmp_path / "out.ir").exists()


def test_library_leaves_a_bad_file_alone(tmp_path):
    library = koblib.Library(tmp_path)
    library.put(TV)
    bad = tmp_path / "vcr.ir"
    bad.write_bytes(b"not a remote\n")
    assert library.list() == ["tv"]
    assert [file for file, _ in library.problems] == [str(bad)]
    with pytest.raises(ValueError, match="vcr.ir"):
        library["vcr"]
    with pytest.raises(ValueError):
        library.put("vcr", TV["POWER"], replace=True)
    assert bad.read_bytes() == b"not a remote\n"


def test_default_library_from_the_environment(tmp_path, monkeypatch):
    monkeypatch.setenv("KOB_LIBRARY", str(tmp_path))
    assert koblib.Library().path == str(tmp_path)
    for name in ("KOB_LIBRARY", "XDG_DATA_HOME", "HOME"):
        monkeypatch.delenv(name, raising=False)
    with pytest.raises(koblib.KoblibError, match="KOB_LIBRARY"):
        koblib.Library()


def test_send_a_button_the_device_loops_back_its_frames(kob, tmp_path):
    library = koblib.Library(tmp_path)
    library.put(TV)
    cases = [("POWER", lambda b: kob.send(SERIAL, b)), ("VOL+", lambda b: kob.send(b)),
             ("RAW", lambda b: kob.send(SERIAL, b, repeat=1))]
    for name, send in cases:
        button = library["tv"][name]
        code = koblib.parse_ccf(button.ccf)  # what goes out: the CCF periods
        expected = []
        silence = 0xFFFF * 4
        for sequence in [code.once] * bool(code.once) + [code.repeat] * (1 + (name == "RAW")):
            if sequence:
                expected.append(koblib.received_words(sequence, silence)[:255])
                silence = abs(sequence[-1])
        before = kob.sim.dropped(SERIAL)
        sent = send(button)
        assert [s.status for s in sent] == [0]
        got = [e.words for e in take(kob, lambda e: isinstance(e, koblib.Received),
                                     count=len(expected), timeout=10.0)]
        dropped = kob.sim.dropped(SERIAL) - before
        assert len(got) + dropped == len(expected), name
        for frame in got:
            assert tuple(frame) in [tuple(f) for f in expected], name


def test_two_processes_adding_buttons_at_once_lose_none(tmp_path):
    """Two programs, 50 buttons each, into the same remote at once."""
    script = ("import sys, koblib\n"
              "library = koblib.Library(sys.argv[1])\n"
              "for n in range(50):\n"
              "    library.put('tv', koblib.Button.of_protocol(sys.argv[2] + str(n), 'nec', 4, n))\n")
    env = dict(os.environ, PYTHONPATH=str(Path(koblib.__file__).parents[1]))
    writers = [subprocess.Popen([sys.executable, "-c", script, str(tmp_path), prefix], env=env)
               for prefix in ("a", "b")]
    assert [w.wait(timeout=120) for w in writers] == [0, 0]
    names = {b.name for b in koblib.Library(tmp_path)["tv"]}
    assert names == {p + str(n) for p in "ab" for n in range(50)}
