"""Checks of firmware_sums.cmake, run in script mode as the build runs it: a folder whose
SHA256SUMS (written by sha256sum itself) matches passes; a changed image, an image without
a line, a line for a file that is not there and a malformed line each stop it with a
message that names the file, or the line by number and text.

    python3 firmware_sums_test.py CMAKE PATH/TO/firmware_sums.cmake
"""

import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

CMAKE = None
MODULE = None
EMBEDDED = ["122.bin", "151.bin", "157.bin"]


class SumsTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = Path(self.tmp.name)
        for number, name in enumerate(EMBEDDED):
            (self.dir / name).write_bytes(bytes([number]) * 4096)

    def tearDown(self):
        self.tmp.cleanup()

    def write_sums(self, *options, names=EMBEDDED):
        sums = subprocess.run(["sha256sum", *options, *names], cwd=self.dir, check=True,
                              capture_output=True, text=True).stdout
        (self.dir / "SHA256SUMS").write_text(sums)
        return sums.splitlines()

    def set_lines(self, lines):
        (self.dir / "SHA256SUMS").write_text("".join(line + "\n" for line in lines))

    def check(self, files=EMBEDDED):
        run = subprocess.run([CMAKE, f"-DIMAGE_DIR={self.dir}", f"-DIMAGE_FILES={';'.join(files)}",
                              "-P", MODULE], capture_output=True, text=True)
        return run.returncode, run.stdout + run.stderr

    def assert_passes(self):
        self.assertEqual(self.check(), (0, ""))

    def assert_fails(self, *parts):
        result, output = self.check()
        self.assertNotEqual(result, 0, output)
        self.assertIn(str(self.dir / "SHA256SUMS"), output)
        for part in parts:
            self.assertIn(part, output)
        return output


class AcceptedTest(SumsTest):
    def test_folder_without_sums_is_taken_as_it_is(self):
        self.assert_passes()

    def test_text_mode_lines_as_sha256sum_writes_them(self):
        self.assertTrue(self.write_sums()[0].split(" ", 1)[1].startswith(" 122.bin"))
        self.assert_passes()

    def test_binary_mode_lines_as_sha256sum_writes_them(self):
        self.assertTrue(self.write_sums("--binary")[0].split(" ", 1)[1].startswith("*122.bin"))
        self.assert_passes()

    def test_upper_case_digits_and_windows_line_ends(self):
        lines = self.write_sums()
        (self.dir / "SHA256SUMS").write_text(
            "".join(line[:64].upper() + line[64:] + "\r\n" for line in lines))
        self.assert_passes()

    def test_listed_files_the_build_does_not_embed_are_checked_too(self):
        (self.dir / "119.bin").write_bytes(b"other")
        self.write_sums(names=EMBEDDED + ["119.bin"])
        self.assert_passes()
        (self.dir / "119.bin").write_bytes(b"damaged")
        self.assert_fails("119.bin does not match line 4")


class RefusedTest(SumsTest):
    def test_changed_image_is_named_with_its_line(self):
        self.write_sums()
        with open(self.dir / "151.bin", "r+b") as image:
            image.seek(1000)
            image.write(b"\xff")
        self.assert_fails("151.bin does not match line 2")

    def test_swapped_images_are_both_named(self):
        self.write_sums("--binary")
        a, b = (self.dir / "122.bin").read_bytes(), (self.dir / "157.bin").read_bytes()
        (self.dir / "122.bin").write_bytes(b)
        (self.dir / "157.bin").write_bytes(a)
        self.assert_fails("122.bin does not match line 1", "157.bin does not match line 3")

    def test_embedded_image_without_a_line_is_named(self):
        lines = self.write_sums()
        self.set_lines([lines[0], lines[2]])
        output = self.assert_fails("151.bin is embedded by the build but has no line")
        self.assertNotIn("122.bin is", output)

    def test_empty_sums_file_leaves_every_image_without_a_line(self):
        self.set_lines([])
        self.assert_fails(*(f"{name} is embedded by the build but has no line" for name in EMBEDDED))

    def test_listed_file_missing_from_the_folder_names_its_line(self):
        lines = self.write_sums()
        absent = "0" * 64 + "  174.bin"
        self.set_lines(lines + [absent])
        self.assert_fails(f"line 4 ({absent}) names a file that is not in {self.dir}")

    def test_a_listed_folder_is_no_file(self):
        lines = self.write_sums()
        (self.dir / "sub").mkdir()
        self.set_lines(lines + ["0" * 64 + "  sub"])
        self.assert_fails("line 4 (", "  sub) names a file that is not in")

    def test_malformed_lines_are_named_with_number_and_text(self):
        digest = "a" * 64
        cases = {
            "short digest": digest[:63] + "  122.bin",
            "long digest": digest + "0  122.bin",
            "not hex": "g" + digest[1:] + "  122.bin",
            "no name": digest + "  ",
            "no separator": digest + "122.bin",
            "one space only": digest + " 122.bin",
            "BSD style": f"SHA256 (122.bin) = {digest}",
            "escaped name": "\\" + digest + "  1\\\\22.bin",
            "empty line": "",
            "semicolons and brackets": "[x]; y; ${z}",
        }
        for case, bad in cases.items():
            with self.subTest(case):
                lines = self.write_sums()
                self.set_lines(lines[:1] + [bad] + lines[1:])
                self.assert_fails(f"line 2 ({bad}) is not '<SHA-256 in 64 hex digits>  <file name>'")

    def test_a_second_line_for_a_file_is_refused(self):
        lines = self.write_sums()
        self.set_lines(lines + [lines[1]])
        self.assert_fails(f"line 4 ({lines[1]}) lists 151.bin a second time (first on line 2)")

    def test_every_problem_is_listed_at_once(self):
        lines = self.write_sums()
        (self.dir / "157.bin").write_bytes(b"changed")
        self.set_lines(["nonsense", lines[0], lines[2]])
        self.assert_fails("line 1 (nonsense) is not", "157.bin does not match line 3",
                          "151.bin is embedded by the build but has no line")


if __name__ == "__main__":
    MODULE = sys.argv.pop()
    CMAKE = sys.argv.pop()
    unittest.main()
