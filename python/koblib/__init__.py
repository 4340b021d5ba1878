"""koblib: the KOB-1 infrared transceiver from Python, over KOBLIB's C
interface (ctypes).

    with koblib.open() as kob:
        serial = kob.wait_for_device(5.0)
        kob.send(code, serial)
        for event in kob.events(timeout=10.0):
            print(event)

The library is looked for in KOBLIB_LIBRARY (KOBLIB_SIM_LIBRARY for
``open(sim=True)``), beside this package, then on the system's path.
"""

from .codes import compare, digest
from .errors import KoblibError, KoblibTimeout, LearnTimeout, UpgradeError
from .events import (
    Arrived,
    Buttons,
    DigitalIO,
    Event,
    LearnProgress,
    Modulation,
    RawLearn,
    Received,
    Removed,
    Sent,
    Status,
    WakeupInfo,
)
from .session import KOB, open
from .sim import Sim
from .upgrade import ports, probe, upgrade

__all__ = [
    "KOB", "Sim", "open", "compare", "digest", "ports", "probe", "upgrade",
    "KoblibError", "KoblibTimeout", "LearnTimeout", "UpgradeError",
    "Event", "Arrived", "Removed", "Status", "Received", "Sent", "LearnProgress",
    "DigitalIO", "Modulation", "Buttons", "RawLearn", "WakeupInfo",
]
