"""Loading the C library and declaring its functions for ctypes.

The 32-bit Windows DLL uses the stdcall convention for its exports and its
callbacks; Linux (and 64-bit Windows, where ctypes treats both alike) uses
the platform's default. ``WinDLL``/``WINFUNCTYPE`` and ``CDLL``/``CFUNCTYPE``
are picked accordingly.

A loaded library is kept for the life of the process: its callback table
keeps pointers to the ctypes callback objects made here, so neither may be
freed while the library can call them.
"""

from __future__ import annotations

import ctypes
import os
import sys
import threading
from pathlib import Path
from typing import Callable, Dict, Optional

from .errors import KoblibError

_WINDOWS = sys.platform == "win32"
if _WINDOWS:
    _Loader = ctypes.WinDLL  # type: ignore[attr-defined]
    FUNCTYPE = ctypes.WINFUNCTYPE  # type: ignore[attr-defined]
else:
    _Loader = ctypes.CDLL
    FUNCTYPE = ctypes.CFUNCTYPE

# Serial numbers, codes and texts are 8-bit strings; surrogateescape makes
# every byte string round-trip through str.
ENCODING = "utf-8"


def encode(text: str) -> bytes:
    return text.encode(ENCODING, "surrogateescape")


def decode(raw: Optional[bytes]) -> str:
    return raw.decode(ENCODING, "surrogateescape") if raw else ""


c_char_p = ctypes.c_char_p
c_uint = ctypes.c_uint
c_int = ctypes.c_int
c_ubyte = ctypes.c_ubyte
P_uint = ctypes.POINTER(ctypes.c_uint)
P_ubyte = ctypes.POINTER(ctypes.c_ubyte)

# The nine host callbacks, in slot order, and the upgrade progress.
STATUS_CB = FUNCTYPE(None, c_char_p, c_ubyte, c_char_p)
IR_SENT_CB = FUNCTYPE(None, c_char_p, c_ubyte)
IR_RECEIVED_CB = FUNCTYPE(None, c_char_p, c_char_p, P_uint, c_uint)
LEARN_CB = FUNCTYPE(None, c_char_p, c_int, c_char_p)
DIGITAL_IO_CB = FUNCTYPE(None, c_char_p, c_ubyte, c_ubyte)
MODULATION_CB = FUNCTYPE(None, c_char_p, c_uint, c_uint)
RAW_LEARN_CB = FUNCTYPE(None, c_char_p, c_uint, P_uint, c_uint)
WAKEUP_INFO_CB = FUNCTYPE(None, c_char_p, c_uint, P_ubyte, c_uint)
BUTTON_CB = FUNCTYPE(None, c_char_p, c_int, c_int, c_int, c_int)
UPGRADE_PROGRESS_CB = FUNCTYPE(None, c_int, c_int)

CALLBACK_TYPES = (
    STATUS_CB,
    IR_SENT_CB,
    IR_RECEIVED_CB,
    LEARN_CB,
    DIGITAL_IO_CB,
    MODULATION_CB,
    RAW_LEARN_CB,
    WAKEUP_INFO_CB,
    BUTTON_CB,
)

# name: (result type, argument types)
_EXPORTS = {
    "kob_open_ex": (ctypes.c_void_p, list(CALLBACK_TYPES)),
    "kob_close": (None, []),
    "kob_sendCCF": (None, [c_char_p, c_char_p, c_ubyte, c_ubyte]),
    "kob_stopCCF": (None, [c_char_p]),
    "kob_modulation": (None, [c_char_p, c_ubyte]),
    "kob_digitalIO": (None, [c_char_p, c_ubyte, c_ubyte]),
    "kob_raw_learn_start": (None, [c_char_p]),
    "kob_raw_learn_stop": (None, [c_char_p]),
    "kob_enable_wake_from_suspend": (None, [c_char_p]),
    "kob_disable_wake_from_suspend": (None, [c_char_p]),
    "kob_program_wake_from_suspend": (None, [c_char_p, c_int, P_ubyte, c_uint]),
    "kob_request_wakeup_info": (None, [c_char_p, c_uint]),
    "kob_blink": (None, [c_char_p, c_int]),
    "kob_bootloader": (None, [c_char_p]),
    "kob_learnCCF": (None, [c_char_p, c_ubyte, c_int]),
    "kob_list": (c_uint, [c_char_p, c_uint]),
    "kob_version": (c_uint, [c_char_p]),
    "kob_ir_compare": (c_ubyte, [c_char_p, c_char_p]),
    "kob_hash": (c_uint, [P_uint, c_uint, c_char_p, c_uint]),
    "kob_upgrade": (c_int, [c_char_p, c_char_p, UPGRADE_PROGRESS_CB]),
    "kob_upgrade_is_kob": (c_int, [c_char_p]),
    "kob_upgrade_list_comports": (c_uint, [c_char_p, c_uint]),
}

_SIM_EXPORTS = {
    "kobsim_attach": (c_int, [c_char_p, c_uint, c_uint]),
    "kobsim_detach": (c_int, [c_char_p]),
    "kobsim_receive": (c_int, [c_char_p, P_uint, c_uint, c_uint]),
    "kobsim_buttons": (c_int, [c_char_p, P_ubyte, c_uint]),
    "kobsim_input": (c_int, [c_char_p, P_ubyte, c_uint]),
    "kobsim_outputs": (c_uint, [c_char_p, P_ubyte, c_uint]),
    "kobsim_configure": (c_int, [c_char_p, c_int, c_uint]),
    "kobsim_dropped": (c_uint, [c_char_p]),
}


def _file_names(sim: bool) -> list:
    base = "KOBLIB_SIM" if sim else "KOBLIB"
    return [base + ".dll"] if _WINDOWS else ["lib" + base + ".so"]


def _candidates(sim: bool) -> list:
    """Where the library is looked for, in order: the environment variable,
    beside this package, then the system's search path (bare name)."""
    found = []
    env = os.environ.get("KOBLIB_SIM_LIBRARY" if sim else "KOBLIB_LIBRARY")
    if env:
        found.append(env)
    here = Path(__file__).resolve().parent
    found += [str(here / name) for name in _file_names(sim)]
    found += _file_names(sim)
    return found


class Native:
    """One loaded library with its declared functions and the ctypes
    callback objects handed to it.

    The callback objects run on the library's worker thread and pass each
    call to ``sink`` (a session's dispatcher), or drop it when no session is
    open. ``calls`` counts how often the library entered Python through
    them.
    """

    def __init__(self, dll: ctypes.CDLL, path: str, sim: bool) -> None:
        self.dll = dll
        self.path = path
        self.sim = sim
        self.sink: Optional[Callable[[int, tuple], None]] = None
        self.calls = 0
        self.open_lock = threading.Lock()
        for table in (_EXPORTS, _SIM_EXPORTS) if sim else (_EXPORTS,):
            for name, (restype, argtypes) in table.items():
                try:
                    function = getattr(dll, name)
                except AttributeError as missing:
                    raise KoblibError(f"{path} does not export {name}") from missing
                function.restype = restype
                function.argtypes = argtypes
        self.callbacks = tuple(
            kind(self._forwarder(slot)) for slot, kind in enumerate(CALLBACK_TYPES)
        )

    def _forwarder(self, slot: int) -> Callable[..., None]:
        def forward(*args: object) -> None:
            # Runs on the library's worker thread. It must not raise: ctypes
            # would print the exception and carry on, and the C side never
            # sees it.
            self.calls += 1
            sink = self.sink
            if sink is not None:
                try:
                    sink(slot, args)
                except Exception:  # pragma: no cover - a fault of this package
                    pass

        return forward


_loaded: Dict[bool, Native] = {}


class _StdoutToStderr:
    """While the library is open, its own diagnostic lines (printf to the C
    library's standard output: carrier measurements, "stddev = ...") go to
    standard error, so that a script's standard output holds only what the
    script prints. Python's sys.stdout does not write through the C stream
    and is left alone. glibc only; elsewhere nothing changes."""

    def __init__(self) -> None:
        self.saved: Optional[int] = None
        try:
            self.libc = ctypes.CDLL(None) if sys.platform.startswith("linux") else None
            self.out = ctypes.c_void_p.in_dll(self.libc, "stdout") if self.libc else None
            self.err = ctypes.c_void_p.in_dll(self.libc, "stderr") if self.libc else None
        except (OSError, ValueError):
            self.libc = None

    def divert(self) -> None:
        if self.libc is None or self.saved is not None:
            return
        self.libc.fflush(None)
        self.saved = self.out.value
        self.out.value = self.err.value

    def restore(self) -> None:
        if self.libc is None or self.saved is None:
            return
        self.libc.fflush(None)
        self.out.value = self.saved
        self.saved = None


stdout_to_stderr = _StdoutToStderr()
_load_lock = threading.Lock()


def load(sim: bool) -> Native:
    """The library (``sim``: the simulator build), loaded on first use."""
    with _load_lock:
        if sim in _loaded:
            return _loaded[sim]
        errors = []
        variable = "KOBLIB_SIM_LIBRARY" if sim else "KOBLIB_LIBRARY"
        chosen = os.environ.get(variable)
        for candidate in _candidates(sim):
            if os.sep in candidate and not os.path.exists(candidate):
                if candidate == chosen:  # set, and wrong: said, not passed over
                    raise KoblibError(f"cannot load {candidate} (from {variable}): no such file")
                continue
            try:
                dll = _Loader(candidate)
            except OSError as failed:
                errors.append(f"{candidate}: {failed}")
                continue
            _loaded[sim] = Native(dll, candidate, sim)
            return _loaded[sim]
        what = "KOBLIB_SIM" if sim else "KOBLIB"
        raise KoblibError(
            f"cannot load {what} (set {variable} to its path): " + "; ".join(errors)
        )


def load_any() -> Native:
    """A loaded library for the calls that need no device: the one already
    loaded, else the real one, else the simulator build."""
    with _load_lock:
        for sim in (False, True):
            if sim in _loaded:
                return _loaded[sim]
    try:
        return load(False)
    except KoblibError:
        return load(True)
