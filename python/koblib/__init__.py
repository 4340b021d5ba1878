"""koblib: the KOB-1 infrared transceiver from Python, over KOBLIB's C
interface (ctypes).

    with koblib.open() as kob:
        serial = kob.wait_for_device(5.0)
        kob.send(serial, code)
        for event in kob.events(timeout=10.0, since="now"):
            print(event)

    koblib.decode(code)              # [Match(protocol='NEC1', device=4, ...)]
    koblib.encode("nec", 4, 8).ccf   # a CCF text

    tv = koblib.Library()["tv"]      # the library of remotes (a folder)
    kob.send(tv["POWER"])            # a button, through every device
    koblib.Remote.load("tv.ir")      # Flipper, irdb, lircd.conf, Pronto, ...

Every command takes the serial first. The library's own diagnostic lines
go to standard error while a session is open.

The library is looked for in KOBLIB_LIBRARY (KOBLIB_SIM_LIBRARY for
``open(sim=True)``, KOBLIB_CODES_LIBRARY for the protocols), beside this
package, then on the system's path.
"""

__version__ = "1.0.0"  # as in pyproject.toml

from .codes import check_code, compare, digest
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
from .protocols import (
    Match,
    Protocol,
    Timings,
    decode,
    decode_words,
    encode,
    find_protocol,
    frame_timings,
    frequency_word,
    parse_ccf,
    protocols,
    received_words,
    word_frequency,
)
from .remotes import Button, Library, Remote
from .session import KOB, open
from .sim import Sim
from .upgrade import ports, probe, upgrade

__all__ = [
    "__version__", "KOB", "Sim", "open", "check_code", "compare", "digest", "ports", "probe", "upgrade",
    "KoblibError", "KoblibTimeout", "LearnTimeout", "UpgradeError",
    "Event", "Arrived", "Removed", "Status", "Received", "Sent", "LearnProgress",
    "DigitalIO", "Modulation", "Buttons", "RawLearn", "WakeupInfo",
    "Match", "Protocol", "Timings", "decode", "decode_words", "encode", "find_protocol",
    "frame_timings", "frequency_word", "parse_ccf", "protocols", "received_words",
    "word_frequency", "Button", "Library", "Remote",
]
