"""An open library: devices, commands and the event queue.

Threads: the library runs one worker thread of its own. It does all device
I/O and calls the callbacks of this package, which copy what they are
given into event objects and put them on unbounded queues: they never wait
for a consumer (only for a lock held while a waiter joins or leaves), and
no user code runs on the worker. Events nobody takes stay queued. Everything else here runs on the thread that
calls it. The device commands only post a job and return at once.
"""

from __future__ import annotations

import atexit
import ctypes
import queue
import threading
import time
from typing import Callable, Iterator, List, Optional, Set, Tuple, Union

from . import _native
from .codes import check_code
from .errors import KoblibError, KoblibTimeout, LearnTimeout
from .events import (
    Arrived,
    Buttons,
    DigitalIO,
    Event,
    LearnProgress,
    Modulation,
    RawLearn,
    Received,
    Removed,
    Sent,
    Status,
    WakeupInfo,
)
from .remotes import Button
from .sim import Sim

_END = object()  # put on the queues when the session closes


def _to_event(slot: int, args: tuple) -> Event:
    """The event of one callback call, copied out of the library's data
    (valid only during the call)."""
    serial = _native.decode(args[0])
    if slot == 0:
        code, text = args[1], _native.decode(args[2])
        if code == 0:
            return Arrived(serial)
        if code == 1 and text == "KOB removed":
            return Removed(serial)
        return Status(serial, code, text)
    if slot == 1:
        return Sent(serial, args[1])
    if slot == 2:
        return Received(serial, _native.decode(args[1]), tuple(args[2][: args[3]]))
    if slot == 3:
        return LearnProgress(serial, args[1], _native.decode(args[2]))
    if slot == 4:
        return DigitalIO(serial, args[1], args[2])
    if slot == 5:
        return Modulation(serial, args[1], args[2])
    if slot == 6:
        return RawLearn(serial, args[1], tuple(args[2][: args[3]]))
    if slot == 7:
        return WakeupInfo(serial, args[1], ctypes.string_at(args[2], args[3]) if args[3] else b"")
    return Buttons(serial, (args[1], args[2], args[3], args[4]))


# Devices count as found once one is there and none has arrived for this
# long (seconds): the rule of every KOBLIB client.
SETTLE = 0.15


class _Deadline:
    def __init__(self, timeout: Optional[float]) -> None:
        self.end = None if timeout is None else time.monotonic() + timeout

    def left(self) -> Optional[float]:
        return None if self.end is None else max(0.0, self.end - time.monotonic())


class KOB:
    """An open library (from ``koblib.open``). One may be open per library
    build at a time. Use it as a context manager or call ``close``."""

    def __init__(self, native: _native.Native) -> None:
        self._native = native
        self._dll = native.dll
        self._events: "queue.SimpleQueue[object]" = queue.SimpleQueue()
        self._watchers: Set["queue.SimpleQueue[object]"] = set()
        self._watch_lock = threading.Lock()
        self._close_lock = threading.Lock()
        self._closed = False
        self.sim: Optional[Sim] = Sim(native) if native.sim else None
        """The virtual devices (only for ``open(sim=True)``)."""
        native.sink = self._deliver
        _native.stdout_to_stderr.divert()
        # Arrivals of the first scan may come before kob_open_ex returns:
        # the sink is set before.
        self.notices_changes = bool(self._dll.kob_open_ex(*native.callbacks))
        """False when the library could not start its device-change notifier:
        devices present at the open work, arrivals are not noticed."""
        atexit.register(self.close)

    # Runs on the library's worker thread: copy, enqueue, never wait.
    def _deliver(self, slot: int, args: tuple) -> None:
        event = _to_event(slot, args)
        self._events.put(event)
        with self._watch_lock:
            for watcher in self._watchers:
                watcher.put(event)

    def close(self) -> None:
        """Stops the library's threads; every device reports ``Removed``
        first. Once this returns no callback enters Python any more, and
        iterators of ``events`` end after the queued events. Idempotent."""
        with self._close_lock:
            if self._closed:
                return
            self._closed = True
            self._dll.kob_close()
            _native.stdout_to_stderr.restore()
            self._native.sink = None
            self._native.open_lock.release()
            self._events.put(_END)
            with self._watch_lock:
                for watcher in self._watchers:
                    watcher.put(_END)
        atexit.unregister(self.close)

    def __enter__(self) -> "KOB":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    @property
    def closed(self) -> bool:
        return self._closed

    # ---- events ---------------------------------------------------------

    def events(self, timeout: Optional[float] = None, since: str = "open") -> Iterator[Event]:
        """The events of all devices in the order the worker met them.

        Events are buffered from the open on: with since="open" (the
        default) the iteration starts with the oldest event nobody has
        taken yet (the arrivals, and the loopback frames and "Sent" of
        earlier sends, for example); since="now" drops those first (see
        clear_events) and delivers only what comes from the call on. The
        iteration ends when the session closes or, with a timeout, when no
        event comes for that many seconds. Events not taken stay queued;
        several iterators share one queue."""
        if since not in ("open", "now"):
            raise ValueError('since is "open" or "now"')
        if since == "now":
            self.clear_events()
        return self._iterate(timeout)

    def clear_events(self) -> int:
        """Drops the buffered events nobody has taken; returns how many."""
        dropped = 0
        while True:
            try:
                item = self._events.get_nowait()
            except queue.Empty:
                return dropped
            if item is _END:
                self._events.put(_END)
                return dropped
            dropped += 1

    def _iterate(self, timeout: Optional[float]) -> Iterator[Event]:
        while True:
            try:
                item = self._events.get(timeout=timeout)
            except queue.Empty:
                return
            if item is _END:
                self._events.put(_END)  # for the other iterators
                return
            yield item  # type: ignore[misc]

    def _watch(self) -> "queue.SimpleQueue[object]":
        """A queue that receives a copy of every event from now on."""
        watcher: "queue.SimpleQueue[object]" = queue.SimpleQueue()
        with self._watch_lock:
            if self._closed:
                watcher.put(_END)
            self._watchers.add(watcher)
        return watcher

    def _unwatch(self, watcher: "queue.SimpleQueue[object]") -> None:
        with self._watch_lock:
            self._watchers.discard(watcher)

    def _await(
        self,
        watcher: "queue.SimpleQueue[object]",
        deadline: _Deadline,
        done: Callable[[Event], bool],
    ) -> bool:
        """Takes events from watcher until done(event) is true (True), the
        deadline passes or the session closes (False)."""
        while True:
            try:
                item = watcher.get(timeout=deadline.left())
            except queue.Empty:
                return False
            if item is _END:
                return False
            if done(item):  # type: ignore[arg-type]
                return True

    # ---- devices --------------------------------------------------------

    def devices(self) -> List[Tuple[str, int]]:
        """(serial, version) of every attached device, by serial."""
        self._open_check()
        serials = _native.listed(self._dll.kob_list)
        return [(s, self._dll.kob_version(_native.encode(s))) for s in serials]

    def wait_for_device(self, timeout: Optional[float] = None) -> Optional[str]:
        """The serial of an attached device, waiting up to timeout seconds
        for one to arrive; None when none does. As every KOBLIB client does,
        it waits until arrivals have settled (none for SETTLE seconds), so
        that of several devices it is always the first by serial."""
        self._open_check()
        watcher = self._watch()
        deadline = _Deadline(timeout)

        def is_arrival(event: Event) -> bool:
            return isinstance(event, Arrived)

        try:
            while True:
                present = self.devices()
                left = deadline.left()
                wait = deadline if not present else _Deadline(
                    SETTLE if left is None else min(SETTLE, left))
                if not self._await(watcher, wait, is_arrival):
                    if not present and not self._closed:
                        present = self.devices()
                    return present[0][0] if present else None
        finally:
            self._unwatch(watcher)

    # ---- commands -------------------------------------------------------
    #
    # One rule for every command: the serial comes first ("" addresses
    # every device where the library allows it), what the command needs
    # after it. Arguments are checked as kob checks them (ValueError,
    # TypeError); after close every command raises KoblibError("closed").

    def _open_check(self) -> None:
        if self._closed:
            raise KoblibError("closed: the session was closed")

    @staticmethod
    def _byte(name: str, value: object, low: int = 0) -> int:
        if not isinstance(value, int) or isinstance(value, bool):
            raise TypeError(f"{name} is an int, not {type(value).__name__}")
        if not low <= value <= 255:
            raise ValueError(f"{name} is {low} to 255, not {value}")
        return value

    @staticmethod
    def _serial(serial: object) -> str:
        if not isinstance(serial, str):
            raise TypeError(f"a serial is a str, not {type(serial).__name__}")
        return serial

    def send(
        self,
        serial: Union[str, Button],
        code: Union[str, Button, None] = None,
        emitters: int = 1,
        repeat: int = 0,
        wait: bool = True,
        timeout: float = 5.0,
    ) -> List[Sent]:
        """Sends a CCF code through the emitters in the bitmask (1 to 255,
        default emitter 1), repeated repeat more times; serial ""
        addresses every device. ValueError for a code that is not one.
        The code may be a remote's Button (``send(serial, remote["POWER"])``;
        ``send(button)`` alone sends it through every device).

        With wait, returns the first ``Sent`` that each addressed device
        reports after the code was posted (a code still on the air from an
        earlier send without wait answers first); raises KoblibTimeout when
        not all have answered in time, KoblibError when no device is
        addressed. Without wait, returns [] at once.
        """
        if isinstance(serial, Button) and code is None:
            serial, code = "", serial
        self._serial(serial)
        if isinstance(code, Button):
            code = code.ccf
        try:
            code = check_code(code)
        except (TypeError, ValueError):
            # The order of an older release: send(code, serial).
            if isinstance(serial, str) and isinstance(code, str):
                try:
                    check_code(serial)
                except ValueError:
                    pass
                else:
                    raise TypeError("send(serial, code): the serial comes first") from None
            raise
        self._byte("emitters", emitters, 1)
        self._byte("repeat", repeat)
        self._open_check()
        addressed: Set[str] = set()
        if wait:
            present = {s for s, _ in self.devices()}
            addressed = present if serial == "" else present & {serial}
            if not addressed:
                raise KoblibError(f"no device {serial!r} is attached")
        watcher = self._watch() if wait else None
        try:
            self._dll.kob_sendCCF(_native.encode(serial), _native.encode(code), emitters, repeat)
            if watcher is None:
                return []
            answers: List[Sent] = []

            def is_last(event: Event) -> bool:
                if isinstance(event, Sent) and event.serial in addressed:
                    addressed.discard(event.serial)
                    answers.append(event)
                return not addressed

            if not self._await(watcher, _Deadline(timeout), is_last):
                raise KoblibTimeout(f"no end of transmission from {sorted(addressed)}")
            return answers
        finally:
            if watcher is not None:
                self._unwatch(watcher)

    def _post(self, export: str, serial: str, *args: object) -> None:
        self._serial(serial)
        self._open_check()
        getattr(self._dll, export)(_native.encode(serial), *args)

    def stop(self, serial: str = "") -> None:
        """Stops the transmission on the air."""
        self._post("kob_stopCCF", serial)

    def digital_io(self, serial: str, cmd: int, value: int) -> None:
        """Digital I/O command cmd with value (0 to 255 each); the state
        comes as DigitalIO."""
        self._post("kob_digitalIO", serial, self._byte("cmd", cmd), self._byte("value", value))

    def blink(self, serial: str = "", value: int = 1) -> None:
        """Makes the device blink; value (0 to 255) goes with the command.
        The device does not answer."""
        self._post("kob_blink", serial, self._byte("value", value))

    def modulation(self, serial: str, on: bool) -> None:
        """Carrier measurement on or off; measurements come as Modulation."""
        self._post("kob_modulation", serial, int(bool(on)))

    def raw_learn(self, serial: str, on: bool) -> None:
        """Raw learning on or off; raw pulses come as RawLearn."""
        self._post("kob_raw_learn_start" if on else "kob_raw_learn_stop", serial)

    def enable_wake_from_suspend(self, serial: str) -> None:
        """Lets the device with exactly this serial wake the host from
        suspend when it hears its wake code (see program_wake_from_suspend)."""
        self._post("kob_enable_wake_from_suspend", serial)

    def disable_wake_from_suspend(self, serial: str) -> None:
        """Stops the device with exactly this serial waking the host."""
        self._post("kob_disable_wake_from_suspend", serial)

    def program_wake_from_suspend(self, serial: str, flag: int, data: bytes) -> None:
        """Programs a wake code of at most 255 bytes (the library refuses
        longer ones: ValueError here)."""
        if not isinstance(data, (bytes, bytearray)):
            raise TypeError(f"a wake code is bytes, not {type(data).__name__}")
        if len(data) > 255:
            raise ValueError("a wake code has at most 255 bytes")
        block = (ctypes.c_ubyte * len(data)).from_buffer_copy(data)
        self._post("kob_program_wake_from_suspend", serial, flag, block, len(data))

    def request_wakeup_info(self, serial: str, value: int = 0) -> None:
        """Asks the device with exactly this serial for its wake-up
        information (value 0 to 255 goes with the request); it comes as
        WakeupInfo."""
        self._post("kob_request_wakeup_info", serial, self._byte("value", value))

    def bootloader(self, serial: str) -> None:
        """Makes the device start its serial bootloader (see koblib.upgrade)."""
        self._post("kob_bootloader", serial)

    # ---- learning -------------------------------------------------------

    def learn(
        self,
        serial: str,
        frequency: Optional[int] = None,
        timeout: float = 30.0,
        progress: Optional[Callable[[int], None]] = None,
        started: Optional[Callable[[], object]] = None,
    ) -> str:
        """Learns a code from what the device receives and returns its CCF
        text. frequency: the carrier in Hz (10000 to 500000), None to have
        it measured. KoblibError at once when no device has this serial.

        started() is called once the run has begun (to prompt a button
        press, or to send the code to learn from the loopback);
        progress(percent) for each step. Both run on this thread; what they
        raise stops the run and propagates. Raises LearnTimeout when no
        code comes within timeout seconds.
        """
        self._serial(serial)
        if frequency is not None:
            if not isinstance(frequency, int) or isinstance(frequency, bool):
                raise TypeError(f"frequency is an int in Hz, not {type(frequency).__name__}")
            if not 10000 <= frequency <= 500000:
                raise ValueError(f"frequency is 10000 to 500000 Hz, not {frequency}")
        self._open_check()
        if serial not in {s for s, _ in self.devices()}:
            raise KoblibError(f"no device {serial!r} is attached")
        watcher = self._watch()
        learned: List[str] = []
        try:
            self._dll.kob_learnCCF(_native.encode(serial), 1, frequency or 0)
            if started is not None:
                started()

            def is_done(event: Event) -> bool:
                if isinstance(event, LearnProgress) and event.serial == serial:
                    if progress is not None:
                        progress(event.progress)
                    if event.code:
                        learned.append(event.code)
                return bool(learned)

            if not self._await(watcher, _Deadline(timeout), is_done):
                raise LearnTimeout(f"no code learned from {serial!r} in {timeout} s")
            return learned[0]
        finally:
            if not learned:
                self._dll.kob_learnCCF(_native.encode(serial), 0, 0)
            self._unwatch(watcher)


def open(sim: bool = False) -> KOB:
    """Opens the library (sim: the simulator build) and starts its worker.
    Raises KoblibError when it cannot be loaded or is open already."""
    native = _native.load(sim)
    if not native.open_lock.acquire(blocking=False):
        raise KoblibError("the library is open already")
    try:
        return KOB(native)
    except BaseException:
        native.open_lock.release()
        raise
