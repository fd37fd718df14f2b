#!/usr/bin/env python3
"""check_changes.py SOURCE_DIR

Whether the tree in SOURCE_DIR may be released: CHANGES.md has a dated
section ("## 0.2.0 - 2026-12-09") for the version in CMakeLists.txt's
project() line, every released section is dated, and nothing waits under
"## Unreleased" (an empty "Unreleased" heading is fine). A release whose
change log still lists changes as unreleased, or does not know its own
version, would tell its users the wrong thing (the zip ships CHANGES.md,
and the deb's Debian changelog is made from it).

Exits 0 and prints one line when the tree may be released; otherwise says
why on standard error and exits 1. scripts/release.sh runs it before it
builds anything.
"""
import re
import sys

HEADING = re.compile(r"^## +(\S+)(?: +- +(\d{4}-\d{2}-\d{2}))? *$")
PROJECT = re.compile(r"project\(\s*Quorvane\s+VERSION\s+([0-9][0-9.]*)", re.IGNORECASE)


def refuse(message):
    print(f"release: {message}", file=sys.stderr)
    sys.exit(1)


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__.strip().splitlines()[0])
    source = argv[1]
    try:
        with open(f"{source}/CMakeLists.txt", encoding="utf-8") as cmake:
            found = PROJECT.search(cmake.read())
        with open(f"{source}/CHANGES.md", encoding="utf-8") as changes:
            lines = changes.read().splitlines()
    except OSError as error:
        refuse(f"cannot read {error.filename}: {error.strerror}")
    if not found:
        refuse("CMakeLists.txt has no 'project(Quorvane VERSION x.y.z' line")
    version = found.group(1)

    sections = []  # [title, date, [body lines]]
    for number, line in enumerate(lines, 1):
        match = HEADING.match(line)
        if match:
            sections.append([match.group(1), match.group(2), []])
        elif line.startswith("## "):
            refuse(f"CHANGES.md line {number}: cannot read the heading {line!r} "
                   "(expected '## VERSION - YYYY-MM-DD' or '## Unreleased')")
        elif sections and line.strip():
            sections[-1][2].append(line)

    for title, date, body in sections:
        if title.lower() == "unreleased":
            if body:
                refuse(f"CHANGES.md lists changes under 'Unreleased' ({len(body)} lines); "
                       f"move them into a section '## {version} - YYYY-MM-DD' (or leave them "
                       "for a later release) before releasing")
        elif date is None:
            refuse(f"CHANGES.md: the section of {title} has no date ('## {title} - YYYY-MM-DD')")
    released = [title for title, date, _ in sections if title.lower() != "unreleased"]
    if version not in released:
        refuse(f"CHANGES.md has no section '## {version} - YYYY-MM-DD' for version {version} "
               "of CMakeLists.txt; write what changed for users before releasing")
    if released[0] != version:
        refuse(f"CHANGES.md's newest section is {released[0]}, above the version being "
               f"released ({version}); set that version in CMakeLists.txt or fix the headings")
    print(f"release: CHANGES.md is ready for {version}")


if __name__ == "__main__":
    main(sys.argv)
