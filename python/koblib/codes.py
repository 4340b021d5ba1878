"""IR code helpers that need no device; they run on the caller's thread."""

from __future__ import annotations

import ctypes
from typing import Sequence

from . import _native
from .protocols import parse_ccf


def word_array(words: Sequence[int], limit: int) -> "ctypes.Array[ctypes.c_uint]":
    """The words as a C array; ValueError for a word outside 0..limit."""
    for word in words:
        if not 0 <= word <= limit:
            raise ValueError(f"word {word!r} is outside 0..{limit:#x}")
    return (ctypes.c_uint * len(words))(*words)


MAX_CODE_WORDS = 256


def check_code(code: object) -> str:
    """The CCF code as the library is given it ("%04X" words joined by
    spaces): TypeError when code is no str, ValueError saying what is wrong
    when it is not what a code claims to be (4-digit hexadecimal words,
    format word 0000 or 0100, a frequency word that is not 0, pair counts
    that match its length, at most 256 words)."""
    if not isinstance(code, str):
        raise TypeError(f"a code is a str of hexadecimal words, not {type(code).__name__}")
    tokens = code.split()
    if len(tokens) > MAX_CODE_WORDS:
        raise ValueError(f"the code has {len(tokens)} words; a device takes at most "
                         f"{MAX_CODE_WORDS}")
    for n, token in enumerate(tokens, 1):
        if len(token) != 4 or any(c not in "0123456789abcdefABCDEF" for c in token):
            raise ValueError(f"word {n} of the code ({token[:12]!r}) is not 4 hexadecimal digits")
    words = [int(t, 16) for t in tokens]
    text = " ".join("%04X" % w for w in words)
    parse_ccf(text)  # what a code is, as every client reads it
    return text


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
