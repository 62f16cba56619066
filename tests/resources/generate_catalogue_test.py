#!/usr/bin/env python3
"""Checks of generate_catalogue.py on small catalogues: what it refuses, and how it
writes quotes, backslashes, line breaks and non-ASCII letters into its two outputs."""

import os
import subprocess
import sys
import tempfile
import unittest

GENERATOR = None


def run(catalogue, *options):
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "messages.txt")
        with open(source, "w", encoding="utf-8", newline="\n") as output:
            output.write(catalogue)
        outputs = {option: os.path.join(folder, "out" + option[2:]) for option in options}
        arguments = [sys.executable, GENERATOR, source]
        for option, path in outputs.items():
            arguments += [option, path]
        result = subprocess.run(arguments, capture_output=True, text=True)
        written = {}
        for option, path in outputs.items():
            if os.path.exists(path):
                with open(path, encoding="utf-8") as generated:
                    written[option] = generated.read()
        return result, written


class Refusals(unittest.TestCase):
    def assertRefused(self, catalogue, reason):
        result, written = run(catalogue, "--rc", "--cpp")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(reason, result.stderr)
        self.assertEqual(written, {}, "nothing may be written from a faulty catalogue")

    def test_an_id_with_one_language_only(self):
        self.assertRefused("1\nen: One\n", "no 'de' text")

    def test_a_line_ending_in_white_space(self):
        self.assertRefused("1\nen: One \nde: Eins\n", "white space at the end")

    def test_an_id_given_twice(self):
        self.assertRefused("1\nen: a\nde: b\n1\nen: c\nde: d\n", "appears twice")

    def test_an_id_beyond_sixteen_bits(self):
        self.assertRefused("65536\nen: a\nde: b\n", "not a 16-bit number")

    def test_a_text_longer_than_the_buffer_allows(self):
        self.assertRefused(f"1\nen: {'x' * 2048}\nde: b\n", "longer than 2047")

    def test_a_text_of_2047_units_is_accepted(self):
        result, _ = run(f"1\nen: {'x' * 2047}\nde: b\n", "--cpp")
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_an_unknown_escape(self):
        self.assertRefused("1\nen: a\\tb\nde: b\n", "unknown escape")

    def test_a_lone_line_feed(self):
        self.assertRefused("1\nen: a\\nb\nde: b\n", "must be \\r\\n")

    def test_translations_with_different_arguments(self):
        self.assertRefused("1\nen: type '%s'\nde: Typ '%u'\n", "differ in arguments")

    def test_an_unknown_language(self):
        self.assertRefused("1\nen: a\nde: b\nfr: c\n", "unknown language")


CATALOGUE = (
    "# comment\n"
    "40002\n"
    'en: Say "hi" \\\\ 100%%  twice\\r\\nnext\n'
    "de: \u00c4 \u00d6 \u00dc \u00e4 \u00f6 \u00fc \u00df \u2122\n"
    "40000\n"
    "en: first\n"
    "de: erste\n"
)


class Outputs(unittest.TestCase):
    def setUp(self):
        result, self.written = run(CATALOGUE, "--rc", "--cpp")
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_rc_has_one_string_table_per_language_in_id_order(self):
        rc = self.written["--rc"]
        self.assertEqual(rc.splitlines()[1], "#pragma code_page(65001)")
        english = rc.index("LANGUAGE 9, 0")
        german = rc.index("LANGUAGE 7, 1")
        self.assertLess(english, german)
        self.assertLess(english, rc.index("40000, \"first\""))
        self.assertLess(rc.index("40000, \"first\""), german)
        self.assertLess(rc.index("40000, \"first\""), rc.index("40002, "))
        self.assertGreater(rc.index("40000, \"erste\""), german)

    def test_rc_escapes_quotes_backslashes_and_line_breaks(self):
        self.assertIn('40002, "Say ""hi"" \\\\ 100%%  twice\\r\\nnext"', self.written["--rc"])

    def test_rc_keeps_non_ascii_letters_as_utf8_in_plain_strings(self):
        rc = self.written["--rc"]
        self.assertIn('40002, "\u00c4 \u00d6 \u00dc \u00e4 \u00f6 \u00fc \u00df \u2122"', rc)
        self.assertNotIn('L"', rc)

    def test_cpp_spells_every_non_ascii_letter_as_its_utf16_unit(self):
        cpp = self.written["--cpp"]
        self.assertTrue(cpp.isascii())
        self.assertIn(
            'u"\\u00C4 \\u00D6 \\u00DC \\u00E4 \\u00F6 \\u00FC \\u00DF \\u2122"', cpp)

    def test_cpp_escapes_quotes_backslashes_and_line_breaks(self):
        self.assertIn('u"Say \\"hi\\" \\\\ 100%%  twice\\r\\nnext"', self.written["--cpp"])

    def test_cpp_entries_are_sorted_by_id(self):
        cpp = self.written["--cpp"]
        self.assertLess(cpp.index("{40000,"), cpp.index("{40002,"))


if __name__ == "__main__":
    GENERATOR = sys.argv.pop(1)
    unittest.main()
