"""koblib's protocols over KOBLIB_CODES: round trips through every
protocol, the one CCF conversion, the errors, and received frames that
carry their decode."""

import os
import random
import subprocess
import sys

import pytest

import koblib
from conftest import SERIAL, example_code, take

rng = random.Random(20261209)
PROTOCOLS = koblib.protocols()


def fields(protocol):
    """Field sets across a protocol's ranges: the edges and random values."""
    def pick(maximum):
        return None if maximum is None else rng.choice([0, maximum, rng.randrange(maximum + 1)])
    return [(pick(protocol.device_max), pick(protocol.subdevice_max),
             pick(protocol.function_max), pick(protocol.toggle_max)) for _ in range(6)]


def test_protocols_are_found_by_name_and_alias():
    assert PROTOCOLS
    for p in PROTOCOLS:
        for name in (p.name, p.name.lower(), *p.aliases):
            assert koblib.find_protocol(name) == p
    assert koblib.find_protocol("no such protocol") is None


@pytest.mark.parametrize("protocol", PROTOCOLS, ids=lambda p: p.name)
def test_encode_decode_round_trip(protocol):
    """A reading of each encoded first frame gives that frame again when
    encoded (protocols that share a frame read as each other), with the
    fields encoded where the reading is of the same protocol; the CCF text
    decodes alike."""
    for device, subdevice, function, toggle in fields(protocol):
        code = koblib.encode(protocol.name, device, function, subdevice=subdevice, toggle=toggle)
        assert code.carrier_hz == protocol.carrier_hz
        frame = code.once or code.repeat
        first = koblib.decode(list(frame), code.carrier_hz)
        same = [m for m in first
                if _first_frame(koblib.encode(m.protocol, m.device, m.function,
                                              subdevice=m.subdevice, toggle=m.toggle)) == frame]
        assert same, first
        assert not any(m.repeat for m in same)
        for m in same:
            if m.protocol == protocol.name:
                assert (m.device, m.function) == (device, function)
                assert subdevice is None or m.subdevice == subdevice
                assert toggle is None or m.toggle == toggle
        assert koblib.decode(code.ccf)[:len(first)] == first


def _first_frame(code):
    return code.once or code.repeat


def test_ccf_text_and_timings_convert_by_one_clock():
    for text in (example_code(), koblib.encode("nec", 4, 8).ccf):
        timings = koblib.parse_ccf(text)
        words = [int(w, 16) for w in text.split()]
        period_us = 1e6 / koblib.word_frequency(words[1])
        assert koblib.frequency_word(timings.carrier_hz) == words[1]
        assert len(timings.once) == 2 * words[2] and len(timings.repeat) == 2 * words[3]
        for got, periods in zip(timings.once + timings.repeat, words[4:]):
            assert abs(abs(got) - periods * period_us) <= 0.5
        assert koblib.parse_ccf(timings.ccf) == timings


@pytest.mark.parametrize("call", [
    lambda: koblib.encode("nec", 4, 256),
    lambda: koblib.encode("nec", 256, 4),
    lambda: koblib.encode("no such protocol", 1, 2),
    lambda: koblib.decode([9000, 4500]),
    lambda: koblib.decode([-9000, 4500]),
    lambda: koblib.decode([9000, 0, 560]),
    lambda: koblib.parse_ccf("0000 006E 0001"),
    lambda: koblib.parse_ccf("zz"),
    lambda: koblib.frame_timings([0xFFFF]),
])
def test_bad_input_raises_value_error(call):
    with pytest.raises(ValueError) as raised:
        call()
    assert str(raised.value)


def test_out_of_range_names_the_field_and_range():
    for p in PROTOCOLS:
        with pytest.raises(ValueError, match=f"function.*{p.function_max}"):
            koblib.encode(p.name, 0, p.function_max + 1)


def test_noise_decodes_to_nothing():
    for _ in range(200):
        durations = [rng.randrange(50, 20000) * (1 if k % 2 == 0 else -1)
                     for k in range(rng.randrange(1, 9))]
        assert koblib.decode(durations) == []


def test_received_frames_carry_their_decode(kob):
    code = koblib.encode("nec", 4, 8)
    kob.send(code.ccf, SERIAL, repeat=2)
    frames = take(kob, lambda e: isinstance(e, koblib.Received), count=4)
    assert frames, "no frame looped back"
    for frame in frames:
        timings, _ = koblib.frame_timings(frame.words)
        assert frame.matches == koblib.decode(list(timings))
        assert frame.matches
    assert (frames[0].matches[0].device, frames[0].matches[0].function) == (4, 8)
    assert all(f.matches[0].repeat for f in frames[1:])
    assert koblib.decode_words([0xFFFF]) == []


def test_the_library_is_found_through_its_variable(tmp_path):
    """KOBLIB_CODES_LIBRARY is tried first: a file there that is no library
    is named in the error when nothing else loads."""
    here = os.path.dirname(koblib.__file__)
    if os.path.exists(os.path.join(here, "libKOBLIB_CODES.so")):
        pytest.skip("a library beside the package would answer")
    bogus = tmp_path / "libKOBLIB_CODES.so"
    bogus.write_text("not a library")
    env = dict(os.environ, KOBLIB_CODES_LIBRARY=str(bogus), LD_LIBRARY_PATH="",
               PYTHONPATH=os.path.dirname(here))
    script = ("import koblib\ntry:\n    koblib.protocols()\n    print('loaded')\n"
              "except koblib.KoblibError as e:\n    print(e)")
    out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True,
                         text=True, cwd=str(tmp_path), check=True).stdout
    if out.strip() == "loaded":
        pytest.skip("KOBLIB_CODES is installed on the system's path")
    assert str(bogus) in out and "KOBLIB_CODES_LIBRARY" in out
