#!/usr/bin/env python3
"""debian_changelog.py CHANGES.md PACKAGE VERSION MAINTAINER PANDOC OUTPUT

Writes the Debian package's changelog from CHANGES.md, so the two cannot
disagree: one entry per released section ("## 0.1.0 - 2026-12-08"), newest
first, its text made plain by pandoc and wrapped to fit Debian's 80
columns, dated by the section's date. "## Unreleased" is left out: the
package carries the project's version, whose section is the newest entry
(CHANGES.md, installed beside it, lists what is not yet released). Fails
when VERSION has no dated section, since a package whose changelog does not
know its own version would mislead whoever installs it. The entries hold no
build time, so the output depends on CHANGES.md alone (gzip_file.py then
packs it as Debian wants).
"""
import datetime
import os
import re
import subprocess
import sys

HEADING = re.compile(r"^## +(\S+)(?: +- +(\d{4}-\d{2}-\d{2}))? *$")


def sections(text):
    """(title, date or None, body) for every level-two heading."""
    found = []
    for line in text.splitlines():
        match = HEADING.match(line)
        if match:
            found.append([match.group(1), match.group(2), []])
        elif line.startswith("## "):
            sys.exit(f"debian_changelog.py: cannot read the heading {line!r} "
                     "(expected '## VERSION - YYYY-MM-DD' or '## Unreleased')")
        elif found:
            found[-1][2].append(line)
    return [(title, date, "\n".join(body)) for title, date, body in found]


def plain(pandoc, markdown):
    # Plain ASCII punctuation: a changelog is read in terminals and mails.
    result = subprocess.run([pandoc, "-f", "markdown-smart", "-t", "plain", "--columns=76"],
                            input=markdown, capture_output=True, text=True, check=True)
    return result.stdout.strip("\n")


def main(argv):
    if len(argv) != 7:
        sys.exit(__doc__.strip().splitlines()[0])
    changes, package, version, maintainer, pandoc, output = argv[1:]
    with open(changes, encoding="utf-8") as source:
        released = [s for s in sections(source.read()) if s[0].lower() != "unreleased"]
    for title, date, _ in released:
        if date is None:
            sys.exit(f"debian_changelog.py: the section of {title} in {changes} has no date "
                     f"('## {title} - YYYY-MM-DD')")
    if version not in [title for title, _, _ in released]:
        sys.exit(f"debian_changelog.py: {changes} has no section '## {version} - YYYY-MM-DD' "
                 "for the version being packaged")
    entries = []
    for title, date, body in released:
        day = datetime.datetime.strptime(date, "%Y-%m-%d").replace(tzinfo=datetime.timezone.utc)
        lines = ["  " + line if line else "" for line in plain(pandoc, body).splitlines()]
        entries.append(f"{package} ({title}) unstable; urgency=medium\n\n" + "\n".join(lines) +
                       f"\n\n -- {maintainer}  {day.strftime('%a, %d %b %Y %H:%M:%S +0000')}\n")
    partial = output + ".partial"
    with open(partial, "w", encoding="utf-8") as written:
        written.write("\n".join(entries))
    os.replace(partial, output)


if __name__ == "__main__":
    main(sys.argv)
