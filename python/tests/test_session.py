import random
import threading
import time

import pytest

import koblib
from conftest import SERIAL, carrier, example_code, take, wait_until

rng = random.Random(20261208)


def test_devices_arrive_with_their_version_and_a_second_open_is_refused(kob):
    assert (SERIAL, 0x0100) in kob.devices()
    kob.sim.attach("PY-A", version=0x0203)
    try:
        assert take(kob, lambda e: e == koblib.Arrived("PY-A"))
        assert ("PY-A", 0x0203) in kob.devices()
        with pytest.raises(koblib.KoblibError):
            kob.sim.attach("PY-A")
        with pytest.raises(koblib.KoblibError):
            koblib.open(sim=True)
    finally:
        kob.sim.detach("PY-A")
    assert take(kob, lambda e: e == koblib.Removed("PY-A"))


# Each command and the output reports (report-ID byte first, zero-padded)
# the device receives for it.
@pytest.mark.parametrize("command, reports", [
    (lambda k: k.stop(SERIAL), [b"\x00\x10"]),
    (lambda k: k.blink(SERIAL, 3), [b"\x00\x27\x03"]),
    (lambda k: k.digital_io(SERIAL, 1, 2), [b"\x00\x20\x01\x02"]),
    (lambda k: k.modulation(SERIAL, True), [b"\x00\x0C"]),
    (lambda k: k.raw_learn(SERIAL, True), [b"\x00\x21"]),
    (lambda k: k.enable_wake_from_suspend(SERIAL), [b"\x00\x23\x01"]),
    (lambda k: k.disable_wake_from_suspend(SERIAL), [b"\x00\x23\x00"]),
    (lambda k: k.program_wake_from_suspend(SERIAL, 0, b"\x01\x02"),
     [b"\x00\x24\x00\x02\x01\x02"]),
    (lambda k: k.request_wakeup_info(SERIAL, 0), [b"\x00\x26\x00"]),
])
def test_every_command_reaches_the_device(kob, command, reports):
    length = 65  # the virtual device's reports: 64 bytes and the report ID
    expected = b"".join(r.ljust(length, b"\x00") for r in reports)
    got = bytearray()
    command(kob)

    def arrived():
        got.extend(kob.sim.outputs(SERIAL))
        return len(got) >= len(expected)

    assert wait_until(arrived)
    assert bytes(got) == expected


def test_the_bootloader_command_makes_the_device_leave(kob):
    kob.sim.attach("PY-BOOT")
    assert take(kob, lambda e: e == koblib.Arrived("PY-BOOT"))
    kob.bootloader("PY-BOOT")
    assert take(kob, lambda e: e == koblib.Removed("PY-BOOT"))
    assert "PY-BOOT" not in dict(kob.devices())


def test_device_reports_become_typed_events(kob):
    a, b = rng.randrange(256), rng.randrange(256)
    kob.digital_io(SERIAL, a, b)
    assert take(kob, lambda e: isinstance(e, koblib.DigitalIO)) == [koblib.DigitalIO(SERIAL, a, b)]

    values = tuple(rng.randrange(256) for _ in range(4))
    kob.sim.buttons(SERIAL, [(k + 1, v) for k, v in enumerate(values)])
    assert take(kob, lambda e: isinstance(e, koblib.Buttons)) == [koblib.Buttons(SERIAL, values)]

    for flag in (0, 1):
        data = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 200)))
        kob.program_wake_from_suspend(SERIAL, flag, data)
        kob.request_wakeup_info(SERIAL, flag)
        assert take(kob, lambda e: isinstance(e, koblib.WakeupInfo))[0].data == data

    kob.sim.input(SERIAL, b"\x77\x01")
    status = take(kob, lambda e: isinstance(e, koblib.Status))
    assert status and status[0].code == 2 and status[0].text.startswith("77 01 ")

    words = [0xFFFF] + [rng.randrange(1, 0xFFFF) for _ in range(99)]
    kob.modulation(SERIAL, True)
    kob.raw_learn(SERIAL, True)
    kob.sim.receive(SERIAL, words, 38000)
    got = take(kob, lambda e: isinstance(e, (koblib.Received, koblib.Modulation, koblib.RawLearn)),
               count=3)
    received = [e for e in got if isinstance(e, koblib.Received)]
    assert received and received[0].words == tuple(words)
    assert received[0].text == "".join("%04X " % w for w in words)
    modulation = [e for e in got if isinstance(e, koblib.Modulation)]
    assert modulation and abs(modulation[0].frequency - 38000) < 380
    assert any(isinstance(e, koblib.RawLearn) for e in got)
    with pytest.raises(ValueError):
        kob.sim.receive(SERIAL, [0x10000], 38000)


@pytest.mark.parametrize("repeat", [0, 2])
def test_send_waits_for_the_end_and_the_loopback_hears_every_frame(kob, repeat):
    code = example_code()
    assert kob.send(SERIAL, code, repeat=repeat) == [koblib.Sent(SERIAL, 0)]
    # The once frame, then the repeat frame 1 + repeat times.
    frames = take(kob, lambda e: isinstance(e, koblib.Received), count=2 + repeat)
    assert len(frames) == 2 + repeat
    assert len({koblib.digest(f.words) for f in frames[1:]}) == 1
    with pytest.raises(koblib.KoblibError):
        kob.send("NO-SUCH", code)


def test_compare_tolerates_a_fifth():
    code = example_code().split()
    for factor, same in ((1.0, True), (1.1, True), (0.85, True), (1.5, False), (0.5, False)):
        other = code[:4] + ["%04X" % round(int(w, 16) * factor) for w in code[4:]]
        assert koblib.compare(" ".join(code), " ".join(other)) is same, factor


def test_thousands_of_events_under_load_arrive_all_and_in_order(kob):
    serial, count = "PY-LOAD", 3000
    kob.sim.attach(serial)
    assert take(kob, lambda e: e == koblib.Arrived(serial))

    def pump():
        for k in range(count):
            kob.sim.input(serial, bytes([0x20, k >> 8, k & 0xFF]))

    producer = threading.Thread(target=pump)
    producer.start()
    got = []
    end = time.monotonic() + 120.0
    # Like a real device, the virtual one drops what its reader has not
    # taken once its channel is full, and counts it: the library must lose
    # nothing beyond that, and keep the order.
    while time.monotonic() < end:
        got += take(kob, lambda e: isinstance(e, koblib.DigitalIO) and e.serial == serial,
                    count=count, timeout=1.0)
        if not producer.is_alive() and len(got) + kob.sim.dropped(serial) >= count:
            break
    producer.join()
    values = [e.first << 8 | e.second for e in got]
    assert len(values) + kob.sim.dropped(serial) == count
    assert values == sorted(set(values))
    kob.sim.detach(serial)


def test_learning_end_to_end_and_the_learned_code_sends_the_same_code(kob):
    def learn(code):
        steps = []
        learned = kob.learn(SERIAL, carrier(code), progress=steps.append,
                            started=lambda: kob.send(SERIAL, code, repeat=9, wait=False))
        assert steps == sorted(steps) and steps[-1] == 100
        return learned

    learned = learn(example_code())
    assert koblib.compare(learned, learn(learned))
    with pytest.raises(koblib.LearnTimeout):
        kob.learn(SERIAL, 38000, timeout=0.2)

    def fail(percent):
        raise RuntimeError(percent)

    with pytest.raises(RuntimeError):
        kob.learn(SERIAL, carrier(learned), progress=fail,
                  started=lambda: kob.send(SERIAL, learned, repeat=9, wait=False))


def test_close_while_events_stream_ends_the_callbacks():
    serial = "PY-CLOSE"
    kob = koblib.open(sim=True)
    kob.sim.attach(serial)
    assert take(kob, lambda e: e == koblib.Arrived(serial))
    streaming = threading.Event()
    stop = threading.Event()

    def pump():
        while not stop.is_set():
            kob.sim.input(serial, b"\x20\x01\x02")
            streaming.set()

    producer = threading.Thread(target=pump)
    producer.start()
    assert streaming.wait(30.0) and take(kob, lambda e: isinstance(e, koblib.DigitalIO))
    kob.close()
    calls = kob._native.calls
    stop.set()
    producer.join()
    events = list(kob.events())  # ends: the session is closed
    assert koblib.Removed(serial) in events
    assert kob._native.calls == calls
    kob.close()
    kob.sim.detach(serial)


def test_a_list_that_grows_between_size_and_text_is_asked_for_again():
    from koblib import _native

    calls = []

    def fill(buffer, size):
        text = b"A,B" if not calls else b"A,B,CC"  # a device arrives after the first size
        calls.append(size)
        if buffer is not None and len(text) + 1 <= size:
            buffer.value = text
        return len(text) + 1

    assert _native.listed(fill) == ["A", "B", "CC"]
    assert calls == [0, 4, 0, 7]
    assert _native.listed(lambda buffer, size: 1) == []
