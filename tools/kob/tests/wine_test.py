#!/usr/bin/env python3
"""kob.exe and kob-sim.exe under wine64: the help, the virtual KOB-1, a
bad input, and the code commands answering as the Linux kob-sim does.
Arguments: run-wine.sh kob.exe kob-sim.exe kob kob-sim."""
import os
import re
import subprocess
import sys
import unittest

WINE, KOB_EXE, SIM_EXE, KOB, SIM = sys.argv[1:6]
del sys.argv[1:6]
CODE = open(os.path.join(os.path.dirname(__file__), "example_code.txt")).read().strip()
TIMEOUT = 240  # generous: wine starts slowly on a shared machine


def run(*command):
    # Text mode reads the Windows programs' CRLF lines as plain lines.
    return subprocess.run(command, capture_output=True, text=True, timeout=TIMEOUT)


def subcommands(help_text):
    listed = help_text.split("Subcommands:", 1)[1].split("\n\n", 1)[0]
    return re.findall(r"^  (\S+)", listed, re.M)


class Wine(unittest.TestCase):
    def test_help_lists_the_subcommands_of_the_linux_kob(self):
        result = HELP
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(subcommands(result.stdout), subcommands(run(KOB, "--help").stdout))
        self.assertIn("send", subcommands(result.stdout))

    def test_virtual_device_lists_and_sends(self):
        listed = run(WINE, SIM_EXE, "list")
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertRegex(listed.stdout, r"^SIM-0001 \S+$")
        sent = run(WINE, SIM_EXE, "send", CODE)
        self.assertEqual((sent.returncode, sent.stdout), (0, "SIM-0001 IR Sent: 0\n"), sent.stderr)

    def test_code_commands_answer_as_on_linux(self):
        for args in (["decode", CODE], ["hash", CODE], ["compare", CODE, CODE],
                     ["encode", "NEC1", "4", "9", "--json"]):
            with self.subTest(args=args[0]):
                windows, linux = run(WINE, SIM_EXE, *args), run(SIM, *args)
                self.assertEqual(linux.returncode, 0, linux.stderr)
                self.assertEqual((windows.returncode, windows.stdout),
                                 (linux.returncode, linux.stdout), windows.stderr)

    def test_bad_input_is_one_line_and_exit_2(self):
        result = run(WINE, SIM_EXE, "send", "0000 006D xyz")
        self.assertEqual(result.returncode, 2, result.stdout)
        self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
        self.assertRegex(result.stderr, r"^kob: .*not 4 hexadecimal digits")


if __name__ == "__main__":
    HELP = run(WINE, KOB_EXE, "--help")
    if HELP.returncode == 77:  # no wine64 here
        print(HELP.stdout, end="")
        sys.exit(77)
    unittest.main()
