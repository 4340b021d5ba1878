"""The exceptions of the binding."""

from __future__ import annotations


class KoblibError(Exception):
    """A call of the library could not be made or was refused."""


class KoblibTimeout(KoblibError, TimeoutError):
    """What was waited for did not happen in time."""


class LearnTimeout(KoblibTimeout):
    """A learning run produced no code in time (the run is stopped)."""


# The results of kob_upgrade and what each means.
UPGRADE_MESSAGES = {
    0: "written, verified and started",
    -1: "the port could not be opened",
    -2: "the block-support query could not be written",
    -3: "the answer to the block-support query could not be read",
    -4: "the bootloader does not support block transfers (or its answer was unusable)",
    -5: "the firmware file could not be opened or read whole",
    -6: "writing a block failed",
    -7: "reading a block back failed, or it differs from what was written",
    -8: "the command to leave the bootloader could not be written",
}


class UpgradeError(KoblibError):
    """The firmware upgrade failed; ``code`` is the library's result code."""

    def __init__(self, code: int) -> None:
        self.code = code
        self.message = UPGRADE_MESSAGES.get(code, f"unknown result {code}")
        super().__init__(f"upgrade failed ({code}): {self.message}")
