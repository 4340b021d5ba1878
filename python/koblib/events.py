"""The events a session delivers, one dataclass per kind.

Every event is a frozen copy made on the library's worker thread while the
library's data was valid; it belongs to whoever takes it from the queue.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import TYPE_CHECKING, List, Tuple, Union

if TYPE_CHECKING:
    from .protocols import Match


@dataclass(frozen=True)
class Arrived:
    """A device was taken into service."""

    serial: str


@dataclass(frozen=True)
class Removed:
    """A device was discarded (unplugged, or the session closed)."""

    serial: str


@dataclass(frozen=True)
class Status:
    """Any other status: code 1 with an empty serial when the worker ran a
    full batch of jobs, code 2 with the hexadecimal dump of an input report
    that no parser claims."""

    serial: str
    code: int
    text: str


@dataclass(frozen=True)
class Received:
    """An IR signal: words in 4 us ticks, the first the silence before it."""

    serial: str
    text: str
    words: Tuple[int, ...]

    @property
    def matches(self) -> "List[Match]":
        """The protocol readings of the frame, best first (KOBLIB_CODES'
        decode; [] when nothing matches)."""
        from .protocols import decode_words

        return decode_words(self.words)


@dataclass(frozen=True)
class Sent:
    """The device finished (status 0) or stopped (1) a transmission."""

    serial: str
    status: int


@dataclass(frozen=True)
class LearnProgress:
    """Progress of a learning run in percent; ``code`` is the learned code
    once the run has finished, empty before."""

    serial: str
    progress: int
    code: str


@dataclass(frozen=True)
class DigitalIO:
    serial: str
    first: int
    second: int


@dataclass(frozen=True)
class Modulation:
    """A carrier measurement."""

    serial: str
    cycles: int
    total: int

    @property
    def frequency(self) -> float:
        """The carrier frequency in Hz (0 for an empty measurement)."""
        return self.total / self.cycles if self.cycles else 0.0


@dataclass(frozen=True)
class Buttons:
    """The values (0 to 255) of buttons 1 to 4."""

    serial: str
    values: Tuple[int, int, int, int]


@dataclass(frozen=True)
class RawLearn:
    serial: str
    header: int
    words: Tuple[int, ...]


@dataclass(frozen=True)
class WakeupInfo:
    serial: str
    header: int
    data: bytes


Event = Union[
    Arrived,
    Removed,
    Status,
    Received,
    Sent,
    LearnProgress,
    DigitalIO,
    Modulation,
    Buttons,
    RawLearn,
    WakeupInfo,
]
