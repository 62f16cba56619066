#!/usr/bin/env python3
"""escupdate end to end on the emulated unit: exit statuses, usage errors, help, locales,
JSON, the questions on a pseudo-terminal, signals, and the generated udev rule.

Usage: escupdate_test.py <escupdate> <generated udev rule> <build vendor id>
"""

import fcntl
import json
import os
import pty
import re
import select
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import unittest

PROGRAM, RULE, VENDOR_ID = sys.argv[1:4]
VIRTUAL = "--simulate=clock=virtual"


def environment(**locale):
    env = {k: v for k, v in os.environ.items() if k not in ("LC_ALL", "LC_MESSAGES", "LANG")}
    env.update(locale)
    return env


def run(*arguments, **locale):
    done = subprocess.run([PROGRAM, *arguments], stdin=subprocess.DEVNULL, capture_output=True,
                          env=environment(**locale), timeout=120)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8")


class Terminal:
    """The program with a pseudo-terminal as its standard input and output (or with its
    standard output sent elsewhere, as `escupdate update > log` does)."""

    def __init__(self, *arguments, stdout=None, columns=80):
        self.master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
        self.process = subprocess.Popen([PROGRAM, *arguments], stdin=slave,
                                        stdout=slave if stdout is None else stdout,
                                        stderr=slave, env=environment(), close_fds=True)
        os.close(slave)
        self.seen = b""

    def read_until(self, text, seconds=20):
        deadline = time.monotonic() + seconds
        while text.encode() not in self.seen:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.master], [], [], left)[0]:
                raise AssertionError(f"no {text!r} within {seconds} s; saw {self.seen!r}")
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                chunk = b""
            if not chunk:
                raise AssertionError(f"ended before {text!r}; saw {self.seen!r}")
            self.seen += chunk

    def type(self, line):
        os.write(self.master, line.encode() + b"\n")

    def finish(self, seconds=20):
        status = self.process.wait(timeout=seconds)
        while select.select([self.master], [], [], 0.1)[0]:
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                break
            if not chunk:
                break
            self.seen += chunk
        os.close(self.master)
        return status, self.seen.decode("utf-8").replace("\r\n", "\n")


class ExitStatuses(unittest.TestCase):
    CASES = [
        (["list", VIRTUAL], 0),
        (["info", VIRTUAL], 0),
        (["info", VIRTUAL + ",plugged=0"], 3),
        (["update", "--yes", VIRTUAL], 0),
        (["update", "--yes", VIRTUAL + ",plugged=0"], 3),
        (["update", "--yes", VIRTUAL + ",wrong-mode=1"], 3),
        (["update", "--yes", VIRTUAL + ",model=0x12345678"], 5),
        (["update", "--yes", VIRTUAL + ",model=0x0A0640AA"], 5),
        (["update", "--yes", VIRTUAL + ",fault=unplug:7"], 6),
        (["update", "--yes", "--wait=3", VIRTUAL + ",plug-after=1000"], 0),
        (["list", "--wait=2", VIRTUAL + ",plugged=0"], 3),
        (["update", "--yes", "--wait=30", VIRTUAL + ",storm=500"], 0),
        (["info", "--wait=1", VIRTUAL + ",storm=500,plug-after=5000"], 3),
    ]

    def test_each_outcome_has_its_status(self):
        for arguments, status in self.CASES:
            with self.subTest(arguments=arguments):
                self.assertEqual(run(*arguments)[0], status)

    def test_the_emulated_unit_has_a_linux_device_path(self):
        status, out, _ = run("list", VIRTUAL)
        self.assertEqual((status, out), (0, "/dev/hidraw1 (TUNEPUCK, product id 1)\n"))
        self.assertEqual(run("info", "--device", "/dev/hidraw1", VIRTUAL)[0], 0)

    def test_a_failed_update_never_reports_success(self):
        status, out, err = run("update", "--yes", VIRTUAL + ",fault=unplug:7")
        self.assertNotIn("successful", out + err)
        self.assertIn("Error when writing last firmware data block. Update cancelled.\n"
                      "The system shows following errorcode: 0xfffffffe-0x0000048f\n", err)
        self.assertIn("6 blocks and 288 bytes written", err)


    def test_wait_outlasts_a_storm_of_a_thousand_arrivals_and_removals(self):
        status, out, err = run("info", "--wait=30", VIRTUAL + ",storm=500")
        print(f"\ninfo --wait through storm=500: exit {status}; {err.splitlines()[-1]}")
        self.assertEqual(status, 0)
        self.assertIn("TUNEPUCK: 1.2.3\nESC-bootloader: 1.2\nESC: 1.0\n", out)
        self.assertIn("is ready to update", out)
        self.assertTrue(err.endswith("escupdate: simulated storm: 1001 arrivals and removals "
                                     "told\n"), err)

    def test_json_ends_in_the_outcome_with_the_exit_status(self):
        status, out, _ = run("update", "--yes", "--json", VIRTUAL + ",fault=block:3")
        outcome = json.loads(out.splitlines()[-1])
        self.assertEqual((outcome["result"], outcome["exitCode"], status), ("failed", 6, 6))
        self.assertEqual(json.loads(run("info", "--json", VIRTUAL)[1])["image"]["id"], 157)


class UsageErrors(unittest.TestCase):
    CASES = [
        ([], "no verb"),
        (["flash"], "flash"),
        (["list", "--bogus"], "--bogus"),
        (["info", "--wait=soon"], "--wait=soon"),
        (["info", "--simulate=model=xyz"], "model=xyz"),
        (["info", "--simulate=speed=9"], "'speed'"),
        (["info", "--device", "/dev/hidraw-none", VIRTUAL], "/dev/hidraw-none"),
        (["info", "--device", "/dev/\x1b[2Jx", VIRTUAL], "/dev/\\x1B[2Jx"),
        (["info", "--device", "/dev/hidraw0", VIRTUAL], "no programming unit"),
        (["update", VIRTUAL], "--yes"),
        (["update", "--json", VIRTUAL], "--yes"),
        (["list", "--yes", VIRTUAL], "--yes"),
    ]

    def test_one_line_naming_the_argument_and_status_2(self):
        for arguments, named in self.CASES:
            with self.subTest(arguments=arguments):
                status, out, err = run(*arguments)
                self.assertEqual(status, 2)
                self.assertEqual(out, "")
                self.assertEqual(err.count("\n"), 1, err)
                self.assertIn(named, err)


class Help(unittest.TestCase):
    def test_overview_documents_verbs_options_settings_statuses_and_the_rule(self):
        status, out, _ = run("--help")
        self.assertEqual(status, 0)
        for word in ["list", "info", "update", "--yes", "--json", "--wait", "--device",
                     "--simulate", "plug-after", "storm=N", "clock=real|virtual", "lock-refused",
                     "unplug:N", "ident-lost", "70-escupdate.rules", "udevadm"]:
            self.assertIn(word, out)
        for code in range(2, 9):
            self.assertRegex(out, rf"\n  {code}  ")

    def test_version_prints_the_version(self):
        status, out, err = run("--version")
        self.assertEqual((status, err), (0, ""))
        # The same three numbers as the package's version, from the one header that holds them.
        header = open(os.path.join(os.path.dirname(__file__), "..", "..", "resources",
                                   "updater_version.h")).read()
        numbers = [re.search(rf"#define ESC_UPDATER_VERSION_{part} (\d+)", header).group(1)
                   for part in ("MAJOR", "MINOR", "PATCH")]
        self.assertEqual(out, "escupdate " + ".".join(numbers) + "\n")

    def test_each_verb_has_its_help(self):
        for verb in ["list", "info", "update"]:
            with self.subTest(verb=verb):
                by_option = run(verb, "--help")
                by_verb = run("help", verb)
                self.assertEqual(by_option, by_verb)
                self.assertTrue(by_option[1].startswith(f"Usage: escupdate {verb}"))


class Languages(unittest.TestCase):
    def test_german_locale_gives_german_texts_in_utf8(self):
        status, out, _ = run("info", VIRTUAL, LANG="de_DE.UTF-8")
        self.assertIn("Regler-Bootloader: 1.2\nRegler: 1.0\n", out)
        self.assertIn("Modellcode 0x110fa0d2: unterstützt", out)

    def test_lc_all_decides_before_lang(self):
        _, out, _ = run("info", VIRTUAL, LC_ALL="C", LANG="de_DE.UTF-8")
        self.assertIn("ESC-bootloader: 1.2", out)
        _, out, _ = run("info", VIRTUAL, LC_MESSAGES="de_AT.UTF-8", LANG="en_US.UTF-8")
        self.assertIn("Regler-Bootloader", out)


class TerminalQuestions(unittest.TestCase):
    def test_declined_confirmation_writes_nothing(self):
        terminal = Terminal("update", VIRTUAL)
        terminal.read_until("important note")
        terminal.read_until("Continue? [y/N] ")
        terminal.type("n")
        status, seen = terminal.finish()
        self.assertEqual(status, 4)
        self.assertIn("Cancelled. Nothing was written to the ESC.", seen)
        self.assertIn("0 erase(s), 0 blocks and 0 bytes written", seen)

    def test_interrupt_at_the_prompt_ends_at_once(self):
        for signal_number in (signal.SIGINT, signal.SIGQUIT):
            with self.subTest(signal=signal_number):
                terminal = Terminal("update", VIRTUAL)
                terminal.read_until("Continue? [y/N] ")
                started = time.monotonic()
                terminal.process.send_signal(signal_number)
                status, seen = terminal.finish(seconds=5)
                self.assertEqual(status, 7)
                self.assertLess(time.monotonic() - started, 2)
                self.assertIn("Interrupted. Nothing was written to the ESC.", seen)
                self.assertNotIn("blocks and", seen)

    def test_progress_bar_on_a_terminal_and_yes_to_both_questions(self):
        terminal = Terminal("update", VIRTUAL + ",esc-version=1.1")
        terminal.read_until("Continue? [y/N] ")
        terminal.type("y")
        terminal.read_until("Newer firmware found.")
        terminal.read_until("Continue? [y/N] ")
        terminal.type("ja")
        status, seen = terminal.finish()
        self.assertEqual(status, 0)
        self.assertIn("\r[##############################] 100 %", seen)
        self.assertIn("its flash equals image 157", seen)

    def test_redirected_output_still_asks_and_shows_progress_on_the_terminal(self):
        with tempfile.TemporaryFile() as log:
            terminal = Terminal("update", VIRTUAL, stdout=log, columns=40)
            terminal.read_until("important note")
            terminal.read_until("Continue? [y/N] ")
            terminal.type("y")
            status, seen = terminal.finish()
            log.seek(0)
            results = log.read().decode("utf-8")
        self.assertEqual(status, 0)
        self.assertIn("] 100 %", seen)
        bar = next(line for line in seen.split("\n") if "] 100 %" in line)
        for draw in bar.split("\r"):
            self.assertLess(len(draw.replace("\x1b[K", "")), 40, draw)
        self.assertNotIn("Continue?", results)
        self.assertNotIn("%", results)
        self.assertIn("The update of the ESC was successful!", results)
        self.assertNotIn("successful", seen)


class Signals(unittest.TestCase):
    def test_a_closed_pipe_on_standard_output_only_loses_the_output(self):
        reader, writer = os.pipe()
        os.close(reader)
        process = subprocess.Popen([PROGRAM, "update", "--yes", VIRTUAL], stdin=subprocess.DEVNULL,
                                   stdout=writer, stderr=subprocess.PIPE, env=environment())
        os.close(writer)
        _, err = process.communicate(timeout=60)
        self.assertEqual(process.returncode, 0)
        self.assertIn("1881 blocks and 90256 bytes written; its flash equals image 157",
                      err.decode())

    def test_sigterm_while_waiting_for_a_unit_ends_at_once(self):
        process = subprocess.Popen([PROGRAM, "info", "--wait", "--simulate=plugged=0"],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, env=environment())
        self.assertEqual(process.stderr.readline().decode(), "Waiting for a programming unit...\n")
        process.send_signal(signal.SIGTERM)
        _, err = process.communicate(timeout=5)
        self.assertEqual(process.returncode, 7)
        self.assertIn("Interrupted. Nothing was written to the ESC.", err.decode())

    def test_signals_during_the_blocks_are_deferred_until_the_update_ends(self):
        # The two tests that run whole updates in real time (about 43 s), side by side:
        # interruptions end in status 7, job-control stops are ignored and end in 0.
        started = time.monotonic()
        runs = []
        for signals, status in (((signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT), 7),
                                ((signal.SIGTSTP, signal.SIGTTIN, signal.SIGTTOU), 0)):
            process = subprocess.Popen([PROGRAM, "update", "--yes", "--simulate"],
                                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE, env=environment())
            runs.append((process, signals, status))
        for process, signals, _ in runs:
            for line in process.stdout:
                if line == b"10 %\n":
                    break
            for signal_number in signals:
                process.send_signal(signal_number)
        for process, signals, status in runs:
            with self.subTest(signals=signals):
                try:
                    rest, err = process.communicate(timeout=120)
                except subprocess.TimeoutExpired:
                    process.kill()  # stopped, most likely
                    process.communicate()
                    self.fail(f"no end within 120 s after {signals}")
                elapsed = time.monotonic() - started
                err = err.decode()
                self.assertEqual(process.returncode, status)
                notices = err.count("Stopping now would leave the ESC without firmware.")
                self.assertEqual(notices, 1 if status == 7 else 0)
                self.assertIn("The update of the ESC was successful!", rest.decode())
                self.assertIn("1881 blocks and 90256 bytes written; its flash equals image 157",
                              err)
                self.assertGreaterEqual(elapsed, 42.7)


    def test_a_terminal_closed_mid_update_leaves_the_update_complete(self):
        # The program's own session with the pseudo-terminal as its controlling terminal:
        # closing the terminal hangs it up (SIGHUP), and writes to it fail from then on.
        master, slave = pty.openpty()
        process = subprocess.Popen([PROGRAM, "update", "--yes", "--simulate"], stdin=slave,
                                   stdout=subprocess.PIPE, stderr=slave, env=environment(),
                                   start_new_session=True,
                                   preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
        os.close(slave)
        seen = b""
        deadline = time.monotonic() + 30
        while b" 10 %" not in seen and time.monotonic() < deadline:
            if select.select([master], [], [], 1)[0]:
                seen += os.read(master, 4096)
        os.close(master)
        try:
            out, _ = process.communicate(timeout=120)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            self.fail("no end within 120 s of the hang-up")
        self.assertIn(b" 10 %", seen)
        self.assertEqual(process.returncode, 7)
        self.assertIn("The update of the ESC was successful!", out.decode())


class UdevRule(unittest.TestCase):
    def test_rule_grants_the_seat_access_to_this_builds_vendor_id(self):
        vendor = f"{int(VENDOR_ID, 16):04x}"
        with open(RULE, encoding="utf-8") as rule_file:
            rules = [line for line in rule_file.read().splitlines()
                     if line and not line.startswith("#")]
        self.assertEqual(rules, [f'SUBSYSTEM=="hidraw", ATTRS{{idVendor}}=="{vendor}", '
                                 'TAG+="uaccess"'])
        self.assertRegex(os.path.basename(RULE), r"^70-.*\.rules$")
        self.assertNotIn("ACTION", open(RULE, encoding="utf-8").read().split("\n", 3)[-1])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
