"""Checks of the build-time image tool: the placeholder set, the checks that make a
build with missing or malformed images fail, and the two embeddings.

    python3 firmware_images_tool_test.py PATH/TO/firmware_images.py
"""

import importlib
import io
import re
import sys
import tempfile
import unittest
from contextlib import redirect_stderr
from pathlib import Path

EXPECTED_SIZES = {122: 62848, 151: 90256, 157: 90256, 158: 90256,
                  172: 90256, 173: 90256, 174: 90256}


def load_tool(path):
    sys.dont_write_bytecode = True  # keep the source tree clean
    sys.path.insert(0, str(Path(path).resolve().parent))
    return importlib.import_module(Path(path).stem)


TOOL = None


class ToolTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = Path(self.tmp.name)

    def tearDown(self):
        self.tmp.cleanup()

    def run_tool(self, *args):
        errors = io.StringIO()
        with redirect_stderr(errors):
            result = TOOL.main(["firmware_images.py", *args])
        return result, errors.getvalue()

    def write_images(self, folder, make=lambda image_id, size: bytes([image_id]) * size):
        folder.mkdir(parents=True, exist_ok=True)
        for image_id, size in EXPECTED_SIZES.items():
            (folder / f"{image_id}.bin").write_bytes(make(image_id, size))


class PlaceholderTest(ToolTest):
    def test_writes_the_seven_selectable_images_with_their_sizes(self):
        self.assertEqual(self.run_tool("placeholders", str(self.dir))[0], 0)
        sizes = {int(p.stem): p.stat().st_size for p in self.dir.glob("*.bin")}
        self.assertEqual(sizes, EXPECTED_SIZES)

    def test_same_bytes_on_every_run(self):
        first, second = self.dir / "a", self.dir / "b"
        self.run_tool("placeholders", str(first))
        self.run_tool("placeholders", str(second))
        for image_id in EXPECTED_SIZES:
            self.assertEqual((first / f"{image_id}.bin").read_bytes(),
                             (second / f"{image_id}.bin").read_bytes())

    def test_no_two_images_share_their_leading_bytes(self):
        images = {i: TOOL.placeholder_bytes(i) for i in EXPECTED_SIZES}
        for a in images:
            for b in images:
                if a < b:
                    self.assertNotEqual(images[a][:64], images[b][:64], (a, b))

    def test_unchanged_output_keeps_its_timestamp(self):
        self.run_tool("placeholders", str(self.dir))
        path = self.dir / "151.bin"
        before = path.stat().st_mtime_ns
        self.run_tool("placeholders", str(self.dir))
        self.assertEqual(path.stat().st_mtime_ns, before)

    def test_placeholders_are_refused_as_real_images(self):
        self.run_tool("placeholders", str(self.dir))
        result, errors = self.run_tool("check", str(self.dir))
        self.assertEqual(result, 1)
        self.assertIn("placeholder", errors)


class CheckTest(ToolTest):
    def test_accepts_a_complete_folder(self):
        self.write_images(self.dir)
        self.assertEqual(self.run_tool("check", str(self.dir)), (0, ""))

    def test_ignores_files_of_other_ids(self):
        self.write_images(self.dir)
        (self.dir / "119.bin").write_bytes(b"\x01\x02")
        self.assertEqual(self.run_tool("check", str(self.dir))[0], 0)

    def test_missing_image_is_named(self):
        self.write_images(self.dir)
        (self.dir / "173.bin").unlink()
        result, errors = self.run_tool("check", str(self.dir))
        self.assertEqual(result, 1)
        self.assertIn("image 173 is missing", errors)
        self.assertIn(str(self.dir / "173.bin"), errors)

    def test_wrong_size_is_named_with_both_sizes(self):
        self.write_images(self.dir)
        (self.dir / "122.bin").write_bytes(bytes(90256))
        result, errors = self.run_tool("check", str(self.dir))
        self.assertEqual(result, 1)
        self.assertIn("image 122", errors)
        self.assertIn("has 90256 bytes", errors)
        self.assertIn("it must have 62848", errors)

    def test_size_not_a_multiple_of_16_is_named(self):
        self.write_images(self.dir)
        (self.dir / "158.bin").write_bytes(bytes(90260))
        result, errors = self.run_tool("check", str(self.dir))
        self.assertEqual(result, 1)
        self.assertIn("not a multiple of 16", errors)

    def test_every_problem_is_listed(self):
        self.write_images(self.dir)
        (self.dir / "151.bin").unlink()
        (self.dir / "174.bin").write_bytes(bytes(16))
        errors = self.run_tool("check", str(self.dir))[1]
        self.assertIn("image 151", errors)
        self.assertIn("image 174", errors)

    def test_a_table_size_off_the_16_byte_grid_is_refused(self):
        # The expected sizes are multiples of 16; the check must not rely on that.
        saved = TOOL.IMAGE_SIZES
        TOOL.IMAGE_SIZES = {122: 40}
        try:
            (self.dir / "122.bin").write_bytes(bytes(40))
            result, errors = self.run_tool("check", str(self.dir))
        finally:
            TOOL.IMAGE_SIZES = saved
        self.assertEqual(result, 1)
        self.assertIn("not a multiple of 16", errors)


class EmbedTest(ToolTest):
    def test_cpp_arrays_hold_the_file_bytes(self):
        self.run_tool("placeholders", str(self.dir))
        out = self.dir / "images.cpp"
        self.assertEqual(self.run_tool("embed-cpp", str(self.dir), str(out))[0], 0)
        text = out.read_text()
        arrays = re.findall(r"IMAGE_(\d+)\[(\d+)\] = \{([^}]*)\}", text)
        self.assertEqual(sorted(int(a[0]) for a in arrays), sorted(EXPECTED_SIZES))
        for image_id, size, body in arrays:
            data = bytes(int(v) for v in body.replace("\n", "").split(",") if v)
            self.assertEqual(len(data), int(size))
            self.assertEqual(data, (self.dir / f"{image_id}.bin").read_bytes())
        for image_id, size in EXPECTED_SIZES.items():
            self.assertIn(f"{{{image_id}, IMAGE_{image_id}, {size}u}}", text)

    def test_rc_names_every_file_under_its_id_in_german(self):
        self.run_tool("placeholders", str(self.dir))
        out = self.dir / "images.rc"
        self.assertEqual(self.run_tool("embed-rc", str(self.dir), str(out))[0], 0)
        lines = out.read_bytes().decode().split("\r\n")
        language = lines.index("LANGUAGE 7, 1")
        entries = [line for line in lines if " RCDATA " in line]
        self.assertEqual(len(entries), len(EXPECTED_SIZES))
        for image_id in EXPECTED_SIZES:
            line = f'{image_id} RCDATA "{(self.dir / f"{image_id}.bin").resolve().as_posix()}"'
            self.assertIn(line, entries)
            self.assertGreater(lines.index(line), language)

    def test_rc_doubles_quotes_in_paths(self):
        folder = self.dir / 'say "hi"'
        self.write_images(folder)
        out = self.dir / "images.rc"
        self.run_tool("embed-rc", str(folder), str(out))
        self.assertIn('say ""hi""/122.bin"', out.read_text())

    def test_bad_folder_fails_and_writes_nothing(self):
        self.write_images(self.dir)
        (self.dir / "157.bin").write_bytes(bytes(100))
        for command in ("embed-cpp", "embed-rc"):
            out = self.dir / f"out-{command}"
            result, errors = self.run_tool(command, str(self.dir), str(out))
            self.assertEqual(result, 1)
            self.assertIn("image 157", errors)
            self.assertFalse(out.exists())

    def test_real_mode_refuses_placeholders(self):
        self.run_tool("placeholders", str(self.dir))
        out = self.dir / "images.cpp"
        result, errors = self.run_tool("embed-cpp", "--real", str(self.dir), str(out))
        self.assertEqual(result, 1)
        self.assertIn("placeholder", errors)
        self.assertFalse(out.exists())


if __name__ == "__main__":
    TOOL = load_tool(sys.argv.pop(1))
    unittest.main()
