"""IR codes by protocol, over KOBLIB_CODES: timings, the one conversion
between CCF words and microseconds, decode and encode.

Timings are signed microseconds: a pulse (carrier on) positive, a space
negative, starting with a pulse. Every function here is pure and may be
called from any thread; none needs a device or an open session.
"""

from __future__ import annotations

import ctypes
from dataclasses import dataclass
from typing import List, Optional, Sequence, Tuple, Union

from . import _native

NONE = _native.KOBC_NONE
_E_PROTOCOL = -7


def _text(raw: Optional[bytes]) -> Optional[str]:
    return None if raw is None else _native.decode(raw)


def _field(value: int) -> Optional[int]:
    return None if value == NONE else value


def _error(result: int, message: "ctypes.Array[ctypes.c_char]") -> str:
    text = _native.decode(message.value)
    return text or _native.decode(_native.load_codes().kobc_error_text(result))


@dataclass(frozen=True)
class Timings:
    """A code: the once sequence (sent first) and the repeat sequence (sent
    while a button is held), on a carrier in Hz (0: unmodulated)."""

    carrier_hz: int
    once: Tuple[int, ...]
    repeat: Tuple[int, ...] = ()

    @property
    def ccf(self) -> str:
        """The code as CCF text (ValueError when it does not fit one)."""
        code = _to_code(self)
        text = ctypes.create_string_buffer(5 * 256 + 1)
        result = _native.load_codes().kobc_ccf_format(ctypes.byref(code), text, len(text))
        if result != 0:
            raise ValueError(_native.decode(_native.load_codes().kobc_error_text(result)))
        return _native.decode(text.value)


@dataclass(frozen=True)
class Match:
    """One reading of a frame. subdevice and toggle are None where the
    protocol has none (and every field of a repeat frame that carries
    none); kernel_protocol and kernel_scancode give the Linux kernel's name
    and scancode where it decodes the protocol too."""

    protocol: str
    device: Optional[int]
    subdevice: Optional[int]
    function: Optional[int]
    toggle: Optional[int]
    repeat: bool
    kernel_protocol: Optional[str]
    kernel_scancode: Optional[int]


@dataclass(frozen=True)
class Protocol:
    """A protocol and the ranges of its fields (each from 0; None: the
    protocol has no such field)."""

    name: str
    aliases: Tuple[str, ...]
    kernel_protocol: Optional[str]
    carrier_hz: int
    device_max: int
    subdevice_max: Optional[int]
    function_max: int
    toggle_max: Optional[int]
    notes: str


def _to_code(timings: Timings) -> _native.KobcCode:
    durations = list(timings.once) + list(timings.repeat)
    if len(durations) > _native.KOBC_MAX_DURATIONS:
        raise ValueError(f"a code holds at most {_native.KOBC_MAX_DURATIONS} durations")
    code = _native.KobcCode()
    code.carrier_hz = timings.carrier_hz
    code.once_count = len(timings.once)
    code.repeat_count = len(timings.repeat)
    for k, value in enumerate(durations):
        code.durations[k] = value
    return code


def _from_code(code: _native.KobcCode) -> Timings:
    once = tuple(code.durations[: code.once_count])
    repeat = tuple(code.durations[code.once_count: code.once_count + code.repeat_count])
    return Timings(code.carrier_hz, once, repeat)


def _protocol(info: "_native.KobcProtocolInfo") -> Protocol:
    aliases = tuple(a for a in (_text(info.aliases) or "").split(",") if a)
    return Protocol(
        _native.decode(info.name), aliases, _text(info.kernel_protocol), info.carrier_hz,
        info.device_max, _field(info.subdevice_max), info.function_max,
        _field(info.toggle_max), _text(info.notes) or "",
    )


def protocols() -> List[Protocol]:
    """Every protocol KOBLIB_CODES decodes and encodes."""
    dll = _native.load_codes()
    return [_protocol(dll.kobc_protocol_at(k).contents) for k in range(dll.kobc_protocol_count())]


def find_protocol(name: str) -> Optional[Protocol]:
    """A protocol by name or alias ("nec", "RC-5", "sony_12"), None when unknown."""
    found = _native.load_codes().kobc_protocol_find(_native.encode(name))
    return _protocol(found.contents) if found else None


def frequency_word(hz: int) -> int:
    """The CCF frequency word of a carrier (0 when none fits)."""
    return _native.load_codes().kobc_frequency_word(hz)


def word_frequency(word: int) -> float:
    """The carrier in Hz that a CCF frequency word stands for."""
    return _native.load_codes().kobc_word_frequency(word)


def parse_ccf(text: str) -> Timings:
    """A CCF text as timings; ValueError saying what is wrong with it."""
    code = _native.KobcCode()
    message = ctypes.create_string_buffer(200)
    result = _native.load_codes().kobc_ccf_parse(
        _native.encode(text), ctypes.byref(code), message, len(message))
    if result != 0:
        raise ValueError(_error(result, message))
    return _from_code(code)


def frame_timings(words: Sequence[int]) -> Tuple[Tuple[int, ...], int]:
    """Received words (the silence, then on and off times in 4 us ticks) as
    (timings, the silence before them in us); ValueError for words that
    hold no frame."""
    array = (ctypes.c_uint * len(words))(*words)
    code = _native.KobcCode()
    gap = ctypes.c_long()
    dll = _native.load_codes()
    result = dll.kobc_frame_to_code(array, len(words), ctypes.byref(code), ctypes.byref(gap))
    if result != 0:
        raise ValueError(_native.decode(dll.kobc_error_text(result)))
    return _from_code(code).once, gap.value


def received_words(durations: Sequence[int], gap_us: int) -> Tuple[int, ...]:
    """The words a receiver reports for timings heard after gap_us of
    silence (every duration but a final space, in ticks)."""
    array = (ctypes.c_int * len(durations))(*durations)
    words = (ctypes.c_uint * (len(durations) + 1))()
    written = ctypes.c_size_t()
    dll = _native.load_codes()
    result = dll.kobc_frame_from_timings(
        array, len(durations), gap_us, words, len(words), ctypes.byref(written))
    if result != 0:
        raise ValueError(_native.decode(dll.kobc_error_text(result)))
    return tuple(words[: written.value])


def _decode_frame(durations: Sequence[int], carrier_hz: int) -> List[Match]:
    if not durations:
        return []
    dll = _native.load_codes()
    array = (ctypes.c_int * len(durations))(*durations)
    capacity = 8
    while True:
        matches = (_native.KobcMatch * capacity)()
        found = dll.kobc_decode(array, len(durations), carrier_hz, matches, capacity)
        if found <= capacity:
            break
        capacity = found
    return [
        Match(
            _native.decode(m.protocol), _field(m.device), _field(m.subdevice),
            _field(m.function), _field(m.toggle), bool(m.repeat), _text(m.kernel_protocol),
            m.kernel_scancode if m.kernel_protocol else None,
        )
        for m in matches[:found]
    ]


def _check_timings(values: Sequence[int]) -> None:
    for k, value in enumerate(values):
        if not isinstance(value, int) or value == 0 or (value > 0) != (k % 2 == 0):
            raise ValueError(
                f"timing {k} ({value!r}): pulses (positive) and spaces (negative) alternate, "
                "starting with a pulse")


def decode(code_or_timings: Union[str, Timings, Sequence[int]], carrier_hz: int = 0) -> List[Match]:
    """Every protocol reading, best first, of: a CCF text or a Timings (its
    once sequence, then its repeat sequence, each as one frame), or one
    frame of signed microsecond timings heard on carrier_hz (0: unknown).
    For the words of a received frame use decode_words (or a Received
    event's ``matches``). An empty list when nothing matches."""
    if isinstance(code_or_timings, str):
        code_or_timings = parse_ccf(code_or_timings)
    if isinstance(code_or_timings, Timings):
        carrier = carrier_hz or code_or_timings.carrier_hz
        return _decode_frame(code_or_timings.once, carrier) + \
            _decode_frame(code_or_timings.repeat, carrier)
    values = list(code_or_timings)
    _check_timings(values)
    return _decode_frame(values, carrier_hz)


def decode_words(words: Sequence[int]) -> List[Match]:
    """The readings of a received frame's words; [] for words that hold no
    frame."""
    try:
        timings, _ = frame_timings(words)
    except ValueError:
        return []
    return _decode_frame(timings, 0)


def encode(
    protocol: str,
    device: int,
    function: int,
    subdevice: Optional[int] = None,
    toggle: Optional[int] = None,
) -> Timings:
    """A protocol code as timings (``.ccf`` gives its CCF text): the once
    sequence is the first frame, the repeat sequence what a held button
    sends. ValueError for an unknown protocol or a field out of its range
    (the message names the field and the range)."""
    code = _native.KobcCode()
    message = ctypes.create_string_buffer(200)
    result = _native.load_codes().kobc_encode(
        _native.encode(protocol), device, NONE if subdevice is None else subdevice, function,
        NONE if toggle is None else toggle, ctypes.byref(code), message, len(message))
    if result == _E_PROTOCOL:
        raise ValueError(f"unknown protocol {protocol!r}")
    if result != 0:
        raise ValueError(_error(result, message))
    return _from_code(code)
