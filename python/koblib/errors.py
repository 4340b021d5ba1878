"""The exceptions of the binding."""

from __future__ import annotations


class KoblibError(Exception):
    """A call of the library could not be made or was refused."""


class KoblibTimeout(KoblibError, TimeoutError):
    """What was waited for did not happen in time."""


class LearnTimeout(KoblibTimeout):
    """A learning run produced no code in time (the run is stopped)."""


# The results of kob_upgrade and what each means: KOB_UPGRADE_RESULTS of
# koblib.h, word for word (a test compares them).
UPGRADE_MESSAGES = {
    0: "firmware written, verified and started",
    -1: "cannot open the port",
    -2: "cannot ask the bootloader for its block size",
    -3: "the bootloader did not answer the block-size query",
    -4: "the bootloader does not support block transfers",
    -5: "the firmware file could not be read whole",
    -6: "writing a block failed",
    -7: "verifying a block failed: the flash differs",
    -8: "the bootloader could not be told to start the firmware",
}


class UpgradeError(KoblibError):
    """The firmware upgrade failed; ``code`` is the library's result code."""

    def __init__(self, code: int) -> None:
        self.code = code
        self.message = UPGRADE_MESSAGES.get(code, f"unknown result {code}")
        super().__init__(f"upgrade failed ({code}): {self.message}")
