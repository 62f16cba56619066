#!/usr/bin/env python3
"""Turns messages.txt into the catalogue the program is built with.

--rc FILE   a UTF-8 resource script with one STRINGTABLE per language (Windows build)
--cpp FILE  a C++ source with the same texts as char16_t literals (native build)

The source is checked before anything is written; any fault stops the build with the
line it was found on.
"""

import argparse
import re
import sys

MAX_TEXT_UNITS = 2047  # the callers' buffers hold 2048 UTF-16 units with the terminator
LANGUAGES = ("en", "de")
# Resource languages: English without sublanguage (9), German (Germany) (1031).
RC_LANGUAGE_LINES = {"en": "LANGUAGE 9, 0", "de": "LANGUAGE 7, 1"}
CONVERSION = re.compile(r"%(%|0?[0-9]*[sux])")


class CatalogueError(Exception):
    pass


def unescape(raw, where):
    text = []
    position = 0
    while position < len(raw):
        char = raw[position]
        if char != "\\":
            text.append(char)
            position += 1
            continue
        escape = raw[position + 1 : position + 2]
        if escape == "r":
            text.append("\r")
        elif escape == "n":
            text.append("\n")
        elif escape == "\\":
            text.append("\\")
        else:
            raise CatalogueError(f"{where}: unknown escape '\\{escape}'")
        position += 2
    return "".join(text)


def utf16_units(text):
    return len(text.encode("utf-16-le")) // 2


def conversions(text):
    return [match for match in CONVERSION.findall(text) if match != "%"]


def check_text(text, where):
    if not text:
        raise CatalogueError(f"{where}: empty text")
    if utf16_units(text) > MAX_TEXT_UNITS:
        raise CatalogueError(f"{where}: longer than {MAX_TEXT_UNITS} UTF-16 units")
    for char in text:
        if ord(char) < 0x20 and char not in "\r\n":
            raise CatalogueError(f"{where}: control character U+{ord(char):04X}")
    if re.search(r"\r(?!\n)|(?<!\r)\n", text):
        raise CatalogueError(f"{where}: a line break must be \\r\\n")


def parse(path):
    """Returns {id: {language: text}}, every id with both languages."""
    entries = {}
    current = None
    with open(path, encoding="utf-8") as source:
        for number, line in enumerate(source, start=1):
            line = line.rstrip("\n")
            where = f"{path}:{number}"
            if line != line.rstrip():
                raise CatalogueError(f"{where}: white space at the end of the line")
            if not line or line.startswith("#"):
                continue
            if re.fullmatch(r"[0-9]+", line):
                current = int(line)
                if current > 0xFFFF:
                    raise CatalogueError(f"{where}: id {current} is not a 16-bit number")
                if current in entries:
                    raise CatalogueError(f"{where}: id {current} appears twice")
                entries[current] = {}
                continue
            match = re.fullmatch(r"([a-z]{2}): (.*)", line)
            if not match or current is None:
                raise CatalogueError(f"{where}: expected an id or 'en: '/'de: ' and a text")
            language, raw = match.groups()
            if language not in LANGUAGES:
                raise CatalogueError(f"{where}: unknown language '{language}'")
            if language in entries[current]:
                raise CatalogueError(f"{where}: second '{language}' text of {current}")
            text = unescape(raw, where)
            check_text(text, where)
            entries[current][language] = text
    for message_id, texts in entries.items():
        missing = [language for language in LANGUAGES if language not in texts]
        if missing:
            raise CatalogueError(f"{path}: id {message_id} has no '{missing[0]}' text")
        if conversions(texts["en"]) != conversions(texts["de"]):
            raise CatalogueError(f"{path}: id {message_id}: the languages differ in arguments")
    return entries


def rc_string(text):
    escaped = text.replace("\\", "\\\\").replace('"', '""')
    return '"' + escaped.replace("\r", "\\r").replace("\n", "\\n") + '"'


def write_rc(entries, path):
    # Plain "..." strings: windres mangles non-ASCII letters inside L"..." under code
    # page 65001, while it converts plain strings from UTF-8 correctly.
    lines = [
        "// Generated from messages.txt by generate_catalogue.py. Do not edit.",
        "#pragma code_page(65001)",
    ]
    for language in LANGUAGES:
        lines += ["", RC_LANGUAGE_LINES[language], "STRINGTABLE", "BEGIN"]
        for message_id in sorted(entries):
            lines.append(f"    {message_id}, {rc_string(entries[message_id][language])}")
        lines.append("END")
    with open(path, "w", encoding="utf-8", newline="\n") as output:
        output.write("\n".join(lines) + "\n")


def cpp_literal(text):
    # Only ASCII in the generated source, so its encoding cannot matter; a \u escape
    # always takes exactly four digits, unlike \x, which would swallow following digits.
    pieces = []
    for char in text:
        code = ord(char)
        if char == "\r":
            pieces.append("\\r")
        elif char == "\n":
            pieces.append("\\n")
        elif char in "\\\"?":
            pieces.append("\\" + char)
        elif 0x20 <= code < 0x7F:
            pieces.append(char)
        elif code > 0xFFFF:
            pieces.append(f"\\U{code:08X}")
        else:
            pieces.append(f"\\u{code:04X}")
    return 'u"' + "".join(pieces) + '"'


def write_cpp(entries, path):
    lines = [
        "// Generated from messages.txt by generate_catalogue.py. Do not edit.",
        '#include "resources/catalogue/catalogue_table.h"',
        "",
        "namespace esc {",
        "",
        "const CatalogueEntry CATALOGUE[] = {",
    ]
    for message_id in sorted(entries):
        texts = entries[message_id]
        lines.append(f"    {{{message_id},")
        lines.append(f"     {cpp_literal(texts['en'])},")
        lines.append(f"     {cpp_literal(texts['de'])}}},")
    lines += [
        "};",
        "",
        "const std::size_t CATALOGUE_SIZE = sizeof(CATALOGUE) / sizeof(CATALOGUE[0]);",
        "",
        "}  // namespace esc",
    ]
    with open(path, "w", encoding="ascii", newline="\n") as output:
        output.write("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("source")
    parser.add_argument("--rc")
    parser.add_argument("--cpp")
    arguments = parser.parse_args()
    try:
        entries = parse(arguments.source)
    except (CatalogueError, UnicodeDecodeError) as error:
        print(f"generate_catalogue: {error}", file=sys.stderr)
        return 1
    if arguments.rc:
        write_rc(entries, arguments.rc)
    if arguments.cpp:
        write_cpp(entries, arguments.cpp)
    return 0


if __name__ == "__main__":
    sys.exit(main())
