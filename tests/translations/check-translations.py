#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Checks that every translation is complete and up to date.

Runs lupdate over the program's sources into copies of the .ts files, as
`update_translations` would, and fails when that would add or drop a text
(the files are behind the sources), or when a text has no translation, a
translation lacks one of its text's placeholders (%1, %n) or carries one the
text has not, or a text with a keyboard mnemonic ("&Help") is translated
without one.

  check-translations.py --lupdate LUPDATE --options OPTION... --ts FILE.ts... --sources SOURCE...
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

PLACEHOLDER = re.compile(r"%(?:n|\d+)")
MNEMONIC = re.compile(r"&[^&\s]")


def messages(path):
    """(context, source) -> (translation type, [translated forms])"""
    found = {}
    for context in ET.parse(path).getroot().iter("context"):
        name = context.findtext("name")
        for message in context.iter("message"):
            translation = message.find("translation")
            forms = [form.text or "" for form in translation.iter("numerusform")]
            if message.get("numerus") != "yes":
                forms = [translation.text or ""]
            found[(name, message.findtext("source"))] = (translation.get("type"), forms)
    return found


def check(ts, updated):
    problems = []
    committed, current = messages(ts), messages(updated)
    for context, source in sorted(current.keys() - committed.keys()):
        problems.append(f"{context}: new text {source!r}")
    for context, source in sorted(committed.keys() - current.keys()):
        problems.append(f"{context}: {source!r} is no longer in the sources")
    for (context, source), (kind, forms) in sorted(current.items()):
        where = f"{context}: {source!r}"
        if kind in ("unfinished", "vanished", "obsolete") or not all(forms):
            problems.append(f"{where} has no translation")
            continue
        for form in forms:
            if sorted(set(PLACEHOLDER.findall(form))) != sorted(set(PLACEHOLDER.findall(source))):
                problems.append(f"{where}: the placeholders differ in {form!r}")
            if bool(MNEMONIC.search(form)) != bool(MNEMONIC.search(source)):
                problems.append(f"{where}: the mnemonic is missing or extra in {form!r}")
    return [f"{os.path.basename(ts)}: {problem}" for problem in problems]


def parse(argv):
    """--lupdate PROGRAM --options ... --ts ... --sources ...: each list runs
    to the next of these markers (lupdate's options start with "-" too)."""
    markers = ("--lupdate", "--options", "--ts", "--sources")
    lists, current = {marker: [] for marker in markers}, None
    for argument in argv:
        if argument in markers:
            current = argument
        elif current is None:
            raise SystemExit(__doc__)
        else:
            lists[current].append(argument)
    if len(lists["--lupdate"]) != 1 or not lists["--ts"] or not lists["--sources"]:
        raise SystemExit(__doc__)
    return lists["--lupdate"][0], lists["--options"], lists["--ts"], lists["--sources"]


def main():
    lupdate, options, ts_files, sources = parse(sys.argv[1:])
    problems = []
    with tempfile.TemporaryDirectory() as work:
        for ts in ts_files:
            updated = os.path.join(work, os.path.basename(ts))
            shutil.copyfile(ts, updated)
            # The English file carries only the plural forms.
            plural_only = ["-pluralonly"] if ts.endswith("_en.ts") else []
            subprocess.run([lupdate, *options, *plural_only, *sources, "-ts", updated],
                           check=True, stdout=subprocess.DEVNULL)
            problems += check(ts, updated)
            print(f"{os.path.basename(ts)}: {len(messages(updated))} texts checked")
    for problem in problems:
        print(f"FAIL: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
