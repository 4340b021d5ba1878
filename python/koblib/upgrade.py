"""Firmware upgrade through the device's serial bootloader, on the
caller's thread."""

from __future__ import annotations

import os
from typing import Callable, List, Optional, Union

from . import _native
from .errors import UpgradeError

Progress = Callable[[int, int], None]


def ports() -> List[str]:
    """The serial ports present (names the upgrade calls accept)."""
    dll = _native.load_any().dll
    # The export counts the text without its zero.
    return _native.listed(lambda out, size: dll.kob_upgrade_list_comports(out, size) + 1)


def probe(port: str) -> bool:
    """True when a bootloader of the KOB-1's kind answers on port."""
    return _native.load_any().dll.kob_upgrade_is_kob(_native.encode(port)) == 0


def upgrade(
    port: str,
    path: Union[str, "os.PathLike[str]"],
    progress: Optional[Progress] = None,
) -> None:
    """Writes the Intel HEX file at path through the bootloader on port,
    verifies it and starts it. Blocks until done.

    progress(phase, percent) is called on this thread during the call:
    phase 0 while writing, 1 while verifying. An exception it raises does
    not stop the upgrade (the library cannot be interrupted); the first one
    is raised once the upgrade has ended. Raises UpgradeError with the
    library's result code on failure.
    """
    raised: List[BaseException] = []

    def relay(phase: int, percent: int) -> None:
        if progress is None or raised:
            return
        try:
            progress(phase, percent)
        except BaseException as error:  # kept for after the C call
            raised.append(error)

    # Lives until kob_upgrade returns, the only time it is called.
    callback = _native.UPGRADE_PROGRESS_CB(relay)
    dll = _native.load_any().dll
    result = dll.kob_upgrade(_native.encode(port), os.fsencode(path), callback)
    if raised:
        if result != 0:
            raise UpgradeError(result) from raised[0]
        raise raised[0]
    if result != 0:
        raise UpgradeError(result)
