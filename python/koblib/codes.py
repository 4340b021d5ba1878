"""IR code helpers that need no device; they run on the caller's thread."""

from __future__ import annotations

import ctypes
from typing import Sequence

from . import _native


def word_array(words: Sequence[int], limit: int) -> "ctypes.Array[ctypes.c_uint]":
    """The words as a C array; ValueError for a word outside 0..limit."""
    for word in words:
        if not 0 <= word <= limit:
            raise ValueError(f"word {word!r} is outside 0..{limit:#x}")
    return (ctypes.c_uint * len(words))(*words)


def compare(a: str, b: str) -> bool:
    """True when two CCF texts stand for the same code (equal word counts,
    the timing words within a fifth of the first code's)."""
    dll = _native.load_any().dll
    return bool(dll.kob_ir_compare(_native.encode(a), _native.encode(b)))


def digest(words: Sequence[int]) -> str:
    """The 32-character digest of the shape of a received code's words."""
    dll = _native.load_any().dll
    array = word_array(words, 0xFFFFFFFF)
    out = ctypes.create_string_buffer(33)
    dll.kob_hash(array, len(words), out, len(out))
    return _native.decode(out.value)
