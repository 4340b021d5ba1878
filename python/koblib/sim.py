"""Control of the virtual KOB-1 devices of the simulator build. Every call
may be made from any thread, whether a session is open or not."""

from __future__ import annotations

import ctypes
from typing import Sequence, Tuple

from . import _native
from .codes import word_array
from .errors import KoblibError


class Sim:
    """The simulator's devices. A fresh library has one, "SIM-0001"
    (version 0x0100, 64-byte reports, loopback on, full air time)."""

    def __init__(self, native: _native.Native) -> None:
        self._dll = native.dll

    @staticmethod
    def _check(result: int, what: str, serial: str) -> None:
        if result != 0:
            raise KoblibError(f"{what} refused for {serial!r}")

    def attach(self, serial: str, version: int = 0x0100, payload: int = 64) -> None:
        """Plugs in a device with payload-byte reports (8 to 1024)."""
        self._check(self._dll.kobsim_attach(_native.encode(serial), version, payload),
                    "attach", serial)

    def detach(self, serial: str) -> None:
        """Unplugs the device; the library reports it removed."""
        self._check(self._dll.kobsim_detach(_native.encode(serial)), "detach", serial)

    def receive(self, serial: str, words: Sequence[int], frequency: int) -> None:
        """The device hears one IR frame: at most 255 tick words (the first
        the silence before it) on a carrier of frequency Hz."""
        array = word_array(words, 0xFFFF)
        self._check(
            self._dll.kobsim_receive(_native.encode(serial), array, len(words), frequency),
            "receive", serial)

    def buttons(self, serial: str, pairs: Sequence[Tuple[int, int]]) -> None:
        """The device reports (button, value) pairs."""
        flat = bytes(b for pair in pairs for b in pair)
        data = (ctypes.c_ubyte * len(flat)).from_buffer_copy(flat)
        self._check(self._dll.kobsim_buttons(_native.encode(serial), data, len(pairs)),
                    "buttons", serial)

    def input(self, serial: str, report: bytes) -> None:
        """The device sends one raw input report (zero-padded)."""
        data = (ctypes.c_ubyte * len(report)).from_buffer_copy(report)
        self._check(self._dll.kobsim_input(_native.encode(serial), data, len(report)),
                    "input", serial)

    def outputs(self, serial: str) -> bytes:
        """The output reports the device received since the last call,
        whole and concatenated, oldest first (and removed from its log)."""
        chunks = []
        buffer = (ctypes.c_ubyte * 65536)()
        while True:
            n = self._dll.kobsim_outputs(_native.encode(serial), buffer, len(buffer))
            if n == 0:
                return b"".join(chunks)
            chunks.append(bytes(buffer[:n]))

    def dropped(self, serial: str) -> int:
        """Input reports the device dropped because the library had not
        read them yet (its channel was full); 0 for an unknown serial."""
        return int(self._dll.kobsim_dropped(_native.encode(serial)))

    def configure(self, serial: str, loopback: bool = True, air_time: int = 100) -> None:
        """loopback: the device hears what it sends; air_time: the share in
        percent of the real air time a transmission takes (0: at once)."""
        self._check(self._dll.kobsim_configure(_native.encode(serial), int(loopback), air_time),
                    "configure", serial)
