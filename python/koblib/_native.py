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


def listed(fill: Callable[[Optional[ctypes.Array], int], int]) -> list:
    """The non-empty items of a comma-joined list export. fill(buffer, size)
    stores the text and its zero when they fit in size bytes and returns the
    bytes they take; asked again while the list grows between the calls."""
    while True:
        size = max(fill(None, 0), 1)
        buffer = ctypes.create_string_buffer(size)
        if fill(buffer, size) <= size:
            return [item for item in decode(buffer.value).split(",") if item]


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


def _file_names(base: str) -> list:
    return [base + ".dll"] if _WINDOWS else ["lib" + base + ".so"]


def _candidates(base: str) -> list:
    """Where a library is looked for, in order: its environment variable
    (BASE_LIBRARY), beside this package, then the system's search path
    (bare name)."""
    found = []
    env = os.environ.get(base + "_LIBRARY")
    if env:
        found.append(env)
    here = Path(__file__).resolve().parent
    found += [str(here / name) for name in _file_names(base)]
    found += _file_names(base)
    return found


def _open_first(base: str, loader: Callable[[str], ctypes.CDLL] = _Loader) -> tuple:
    """(dll, path) of the first candidate of base that loads; KoblibError
    naming every failure when none does."""
    errors = []
    variable = f"{base}_LIBRARY"
    chosen = os.environ.get(variable)
    for candidate in _candidates(base):
        if os.sep in candidate and not os.path.exists(candidate):
            if candidate == chosen:  # set, and wrong: said, not passed over
                raise KoblibError(f"cannot load {candidate} (from {variable}): no such file")
            continue
        try:
            return loader(candidate), candidate
        except OSError as failed:
            errors.append(f"{candidate}: {failed}")
    raise KoblibError(
        f"cannot load {base} (set {variable} to its path): " + "; ".join(errors)
    )


def _declare(dll: ctypes.CDLL, path: str, table: Dict[str, tuple]) -> None:
    """Gives each function of table its result and argument types;
    KoblibError when the library lacks one."""
    for name, (restype, argtypes) in table.items():
        try:
            function = getattr(dll, name)
        except AttributeError as missing:
            raise KoblibError(f"{path} does not export {name}") from missing
        function.restype = restype
        function.argtypes = argtypes


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
            _declare(dll, path, table)
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
        dll, path = _open_first("KOBLIB_SIM" if sim else "KOBLIB")
        _loaded[sim] = Native(dll, path, sim)
        return _loaded[sim]


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


# ---- KOBLIB_CODES (plain C calls on every system) ------------------------

KOBC_MAX_DURATIONS = 1024
KOBC_NONE = -1


class KobcCode(ctypes.Structure):
    _fields_ = [
        ("carrier_hz", ctypes.c_long),
        ("once_count", ctypes.c_size_t),
        ("repeat_count", ctypes.c_size_t),
        ("durations", ctypes.c_int * KOBC_MAX_DURATIONS),
    ]


class KobcProtocolInfo(ctypes.Structure):
    _fields_ = [
        ("name", c_char_p),
        ("aliases", c_char_p),
        ("kernel_protocol", c_char_p),
        ("carrier_hz", ctypes.c_long),
        ("device_max", ctypes.c_long),
        ("subdevice_max", ctypes.c_long),
        ("function_max", ctypes.c_long),
        ("toggle_max", ctypes.c_long),
        ("notes", c_char_p),
    ]


class KobcMatch(ctypes.Structure):
    _fields_ = [
        ("protocol", c_char_p),
        ("device", ctypes.c_long),
        ("subdevice", ctypes.c_long),
        ("function", ctypes.c_long),
        ("toggle", ctypes.c_long),
        ("repeat", c_int),
        ("kernel_protocol", c_char_p),
        ("kernel_scancode", ctypes.c_ulong),
    ]


class KobcButton(ctypes.Structure):
    _fields_ = [
        ("name", c_char_p),
        ("kind", c_int),
        ("protocol", c_char_p),
        ("device", ctypes.c_long),
        ("subdevice", ctypes.c_long),
        ("function", ctypes.c_long),
        ("toggle", ctypes.c_long),
        ("raw", ctypes.POINTER(KobcCode)),
        ("duty_percent", c_int),
    ]


KOBC_BUTTON_PROTOCOL = 1
KOBC_BUTTON_RAW = 2

_size = ctypes.c_size_t
_P_size = ctypes.POINTER(ctypes.c_size_t)
_P_code = ctypes.POINTER(KobcCode)
_P_int = ctypes.POINTER(ctypes.c_int)
_P_info = ctypes.POINTER(KobcProtocolInfo)
_P_button = ctypes.POINTER(KobcButton)
_remotes = ctypes.c_void_p  # a kobc_remotes handle
# kobc_library_problem_fn: (context, file, message)
LIBRARY_PROBLEM_FN = ctypes.CFUNCTYPE(None, ctypes.c_void_p, c_char_p, c_char_p)

_CODES_EXPORTS = {
    "kobc_error_text": (c_char_p, [c_int]),
    "kobc_frequency_word": (c_uint, [ctypes.c_long]),
    "kobc_word_frequency": (ctypes.c_double, [c_uint]),
    "kobc_ccf_parse": (c_int, [c_char_p, _P_code, c_char_p, _size]),
    "kobc_ccf_format": (c_int, [_P_code, c_char_p, _size]),
    "kobc_frame_to_code": (c_int, [P_uint, _size, _P_code, ctypes.POINTER(ctypes.c_long)]),
    "kobc_frame_from_timings": (
        c_int, [_P_int, _size, ctypes.c_long, P_uint, _size, _P_size]),
    "kobc_protocol_count": (_size, []),
    "kobc_protocol_at": (_P_info, [_size]),
    "kobc_protocol_find": (_P_info, [c_char_p]),
    "kobc_decode": (_size, [_P_int, _size, ctypes.c_long, ctypes.POINTER(KobcMatch), _size]),
    "kobc_encode": (
        c_int,
        [c_char_p, ctypes.c_long, ctypes.c_long, ctypes.c_long, ctypes.c_long, _P_code,
         c_char_p, _size],
    ),
    # Remotes, code files and the library folder.
    "kobc_remotes_new": (_remotes, []),
    "kobc_remotes_free": (None, [_remotes]),
    "kobc_remotes_count": (_size, [_remotes]),
    "kobc_remotes_find": (ctypes.c_long, [_remotes, c_char_p]),
    "kobc_remote_name": (c_char_p, [_remotes, _size]),
    "kobc_remote_field": (c_char_p, [_remotes, _size, c_char_p]),
    "kobc_remote_button_count": (_size, [_remotes, _size]),
    "kobc_remote_button": (c_int, [_remotes, _size, _size, _P_button]),
    "kobc_remotes_add": (c_int, [_remotes, c_char_p, _P_size, c_char_p, _size]),
    "kobc_remote_set_field": (c_int, [_remotes, _size, c_char_p, c_char_p]),
    "kobc_remote_put_button": (c_int, [_remotes, _size, _P_button, c_int, c_char_p, _size]),
    "kobc_button_code": (c_int, [_P_button, _P_code, c_char_p, _size]),
    "kobc_format_find": (c_int, [c_char_p]),
    "kobc_format_name": (c_char_p, [c_int]),
    "kobc_format_guess": (c_int, [c_char_p, c_char_p, _size]),
    "kobc_remotes_read": (c_int, [_remotes, c_int, c_char_p, _size, c_char_p, c_char_p, _size]),
    "kobc_remotes_write": (
        c_int, [_remotes, ctypes.c_long, c_int, c_char_p, _size, _P_size, c_char_p, _size]),
    "kobc_library_default_dir": (c_int, [c_char_p, _size]),
    "kobc_library_load": (
        c_int, [c_char_p, _remotes, LIBRARY_PROBLEM_FN, ctypes.c_void_p, c_char_p, _size]),
    "kobc_library_store": (c_int, [c_char_p, _remotes, _size, c_int, c_char_p, _size]),
    "kobc_library_put_button": (c_int, [c_char_p, c_char_p, _P_button, c_int, c_char_p, _size]),
    "kobc_library_rename": (c_int, [c_char_p, c_char_p, c_char_p, c_char_p, c_char_p, _size]),
    "kobc_library_remove": (c_int, [c_char_p, c_char_p, c_char_p, c_char_p, _size]),
}

_codes: Optional[ctypes.CDLL] = None


def load_codes() -> ctypes.CDLL:
    """KOBLIB_CODES, loaded on first use: from KOBLIB_CODES_LIBRARY, beside
    this package, then the system's path. Its functions are pure and use
    the C calling convention everywhere."""
    global _codes
    with _load_lock:
        if _codes is None:
            dll, path = _open_first("KOBLIB_CODES", ctypes.CDLL)
            _declare(dll, path, _CODES_EXPORTS)
            _codes = dll
        return _codes
