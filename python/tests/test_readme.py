"""Every Python example of the README and of python/README.md, run as a
script against the simulator build (KOBLIB_LIBRARY pointed at it)."""
import os
import re
import subprocess
import sys

import pytest

from conftest import ROOT


def examples():
    found = []
    for name in ("README.md", "python/README.md"):
        text = (ROOT / name).read_text()
        # Indented blocks that start with the import.
        for block in re.findall(r"(?m)^(    import koblib\n(?:    .*\n|\n(?=    ))*)", text):
            found.append(pytest.param("\n".join(l[4:] for l in block.splitlines()), id=name))
    return found


def test_both_readmes_have_examples():
    assert {p.id for p in examples()} == {"README.md", "python/README.md"}


@pytest.mark.parametrize("source", examples())
def test_readme_example_runs(source, tmp_path):
    sim = os.environ.get("KOBLIB_SIM_LIBRARY")
    if not sim:
        pytest.skip("KOBLIB_SIM_LIBRARY is not set")
    env = dict(os.environ, KOBLIB_LIBRARY=sim, PYTHONPATH=str(ROOT / "python"))
    done = subprocess.run([sys.executable, "-c", source], capture_output=True, text=True,
                          timeout=120, env=env, cwd=str(tmp_path))
    assert done.returncode == 0, done.stdout + done.stderr
    # Each prints what it learned or sent, and nothing of the library's own.
    assert done.stdout.strip() and "stddev" not in done.stdout
