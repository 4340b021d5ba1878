import pathlib
import re

import pytest

import koblib
from koblib.errors import UPGRADE_MESSAGES


def test_upgrade_writes_the_flash_and_reports_progress(bootloader, hex_dir, tmp_path):
    assert koblib.probe(bootloader.port)
    steps = []
    koblib.upgrade(bootloader.port, hex_dir / "random_a.hex",
                   progress=lambda phase, percent: steps.append((phase, percent)))
    assert bootloader.request(f"flash {tmp_path}/flash") == "left 1"
    firmware = (hex_dir / "random_a.bin").read_bytes()
    assert (tmp_path / "flash").read_bytes()[: len(firmware)] == firmware
    assert steps == sorted(steps) and steps[-1] == (1, 100)


@pytest.mark.parametrize("fault, code", [
    ("no-answer b 1", -4), ("wrong-last B 1", -6), ("wrong-first g 2", -7), ("", -5)])
def test_upgrade_failures_raise_with_the_result_code(bootloader, hex_dir, fault, code):
    assert bootloader.request("reset " + fault) == "ok"
    path = hex_dir / ("random_a.hex" if fault else "missing.hex")
    with pytest.raises(koblib.UpgradeError) as raised:
        koblib.upgrade(bootloader.port, path)
    assert raised.value.code == code and raised.value.message == UPGRADE_MESSAGES[code]


def test_a_failing_progress_callback_does_not_stop_the_upgrade(bootloader, hex_dir, tmp_path):
    def fail(phase, percent):
        raise KeyError(phase)

    with pytest.raises(KeyError):
        koblib.upgrade(bootloader.port, hex_dir / "random_a.hex", progress=fail)
    assert bootloader.request(f"flash {tmp_path}/flash") == "left 1"


def test_probe_and_ports_without_a_bootloader(tmp_path):
    assert not koblib.probe(str(tmp_path / "no-port"))
    assert all(isinstance(name, str) and name for name in koblib.ports())


def test_the_result_texts_are_the_headers():
    header = pathlib.Path(__file__).resolve().parents[2] / "include" / "koblib.h"
    listed = re.findall(r'X\(KOB_UPGRADE_\w+, (-?\d+), "([^"]*)"\)', header.read_text())
    assert len(listed) == 9
    assert {int(value): text for value, text in listed} == UPGRADE_MESSAGES
