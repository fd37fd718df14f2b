#!/usr/bin/env python3
"""scripts/setup.sh's decisions, with the package tools replaced by stand-ins.

No root and no network: apt-get, dpkg, dpkg-query and id are small scripts on
PATH that keep the "machine" in a folder (what is installed, which
architectures are known) and fail the way a mirror caught mid-sync fails: the
security updates' i386 index does not download, and without it apt cannot
resolve wine32's i386 libraries against their newer amd64 twins unless it is
told to take the release's own versions (-t bookworm).
"""
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

SETUP = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "setup.sh"

MIRROR_ERROR = (
    "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/"
    "binary-i386/Packages.xz  File has unexpected size (374820 != 376004). "
    "Mirror sync in progress?\n"
    "E: Some index files failed to download. They have been ignored, or old ones used instead.")

STAND_INS = {
    "dpkg-query": r"""#!/bin/sh
# -W -f=FORMAT [PACKAGE]: the status, version or source of the packages in
# $MACHINE/versions ("package source version" lines) and $MACHINE/installed.
format=$2; package=${3:-}
case $format in
  *'${Status}'*)
    grep -qx "$package" "$MACHINE/installed" && { printf 'install ok installed'; exit 0; }
    exit 1 ;;
  *'${Package}'*) sed 's/$//' "$MACHINE/versions" ;;
  *'${Version}'*) awk -v p="${package%:amd64}" '$1 == p {printf "%s", $3; f=1} END {exit !f}' "$MACHINE/versions" ;;
  *'${source:Package}'*) awk -v p="${package%:amd64}" '$1 == p {printf "%s", $2}' "$MACHINE/versions" ;;
esac
""",
    "apt-cache": r"""#!/bin/sh
# policy NAME:i386: the i386 version the indexes offer, from $MACHINE/offered.
awk -v p="${2%:i386}" '$1 == p {print "  Candidate: " $2}' "$MACHINE/offered"
""",
    "dpkg": r"""#!/bin/sh
case $1 in
  --print-foreign-architectures) cat "$MACHINE/architectures" ;;
  --add-architecture) echo "$2" >> "$MACHINE/architectures"; echo "dpkg $*" >> "$MACHINE/calls" ;;
  --compare-versions) exec /usr/bin/dpkg "$@" ;;
esac
""",
    "id": "#!/bin/sh\necho 0\n",
    "sleep": "#!/bin/sh\necho \"sleep $*\" >> \"$MACHINE/calls\"\n",
    "apt-get": r"""#!/bin/sh
echo "apt-get $*" >> "$MACHINE/calls"
if [ "$1" = update ]; then
  failures=$(cat "$MACHINE/update-failures")
  if [ "$failures" -gt 0 ]; then
    echo $((failures - 1)) > "$MACHINE/update-failures"
    cat "$MACHINE/mirror-error"; exit 100
  fi
  exit 0
fi
shift  # install
release=""; simulate=""
case "$*" in *"-t bookworm"*) release=bookworm ;; esac
case " $* " in *" -s "*) simulate=1 ;; esac
if [ -f "$MACHINE/broken" ]; then echo "E: everything fails"; exit 100; fi
for p; do
  case $p in
    *:i386)
      if [ -f "$MACHINE/no-i386-updates" ] && [ -z "$release" ]; then
        echo "E: Unable to correct problems, you have held broken packages."; exit 100
      fi ;;
  esac
done
# libbrotli1 (amd64) is installed from the updates, newer than the only i386
# version offered: wine32's i386 libraries need the two equal.
if [ -f "$MACHINE/newer-amd64-twin" ] && [ -n "$release" ]; then
  case " $* " in
    *" libbrotli1=1.0.9-2+b6 "*) ;;
    *) echo " libfreetype6:i386 : Depends: libbrotli1:i386 (>= 0.6.0) but it is not installable"
       echo " libcurl4:i386 : Depends: libbrotli1:i386 (>= 0.6.0) but it is not installable"
       echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;;
  esac
fi
[ -n "$simulate" ] && exit 0
for p; do case $p in -*|bookworm) ;; *) echo "${p%%=*}" >> "$MACHINE/installed" ;; esac; done
""",
}

MAIN = ["cmake", "g++", "make", "g++-mingw-w64-i686-posix", "binutils-mingw-w64-i686",
        "libsndfile1-dev", "libcli11-dev", "python3", "python3-numpy", "python3-matplotlib"]


class Machine:
    def __init__(self, folder, installed=(), update_failures=0, no_i386_updates=False,
                 broken=False, newer_amd64_twin=False):
        self.folder = pathlib.Path(folder)
        bin_dir = self.folder / "bin"
        bin_dir.mkdir()
        for name, text in STAND_INS.items():
            path = bin_dir / name
            path.write_text(text)
            path.chmod(0o755)
        (self.folder / "installed").write_text("".join(p + "\n" for p in installed))
        (self.folder / "architectures").write_text("")
        (self.folder / "calls").write_text("")
        (self.folder / "update-failures").write_text(str(update_failures))
        (self.folder / "mirror-error").write_text(MIRROR_ERROR + "\n")
        if no_i386_updates:
            (self.folder / "no-i386-updates").write_text("")
        if broken:
            (self.folder / "broken").write_text("")
        # The amd64 brotli packages as installed from the updates, and an
        # unrelated package of the same version that must stay alone.
        (self.folder / "versions").write_text(
            "libbrotli1 brotli 1.0.9-2+deb12u1\n"
            "libbrotli-dev brotli 1.0.9-2+deb12u1\n"
            "libbrotli-doc brotli 1.0.9-1\n"
            "zlib1g zlib 1:1.2.13.dfsg-1\n")
        (self.folder / "offered").write_text("libbrotli1 1.0.9-2+b6\nzlib1g 1:1.2.13.dfsg-1\n")
        if newer_amd64_twin:
            (self.folder / "newer-amd64-twin").write_text("")

    def run(self, *args):
        env = dict(os.environ, MACHINE=str(self.folder), TMPDIR=str(self.folder),
                   PATH=f"{self.folder / 'bin'}:{os.environ['PATH']}",
                   QUORVANE_SETUP_RETRY_SECONDS="7")
        env.pop("QUORVANE_SETUP_TRIES", None)
        return subprocess.run(["bash", str(SETUP), *args], env=env, capture_output=True,
                              text=True, timeout=60)

    def calls(self):
        return (self.folder / "calls").read_text().splitlines()

    def installed(self):
        return set((self.folder / "installed").read_text().split())


def installs(calls):
    return [c for c in calls if c.startswith("apt-get install")]


class SetupDecisions(unittest.TestCase):
    def machine(self, **kwargs):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        return Machine(folder.name, **kwargs)

    def test_each_set_installs_what_is_missing_of_it_and_nothing_else(self):
        # (set asked for, installed before, packages that must be asked for,
        #  packages that must not be, whether i386 must be added)
        cases = [
            ("main", [], MAIN, ["wine", "wine32:i386", "pandoc", "lintian"], False),
            ("main", ["cmake", "g++", "python3"], ["libsndfile1-dev", "python3-numpy"],
             ["cmake", "g++", "python3", "wine32:i386"], False),
            ("release", MAIN, ["pandoc"], ["wine", "cmake"], False),
            ("test", MAIN, ["pandoc", "wine32:i386", "qemu-user-static", "lintian", "sox",
                            "lsp-plugins-lv2"], ["cmake", "python3-numpy"], True),
        ]
        for set_name, before, asked, not_asked, adds_i386 in cases:
            with self.subTest(set=set_name, before=len(before)):
                m = self.machine(installed=before)
                result = m.run(set_name)
                self.assertEqual(result.returncode, 0, result.stderr)
                [install] = installs(m.calls())
                words = install.split()
                for p in asked:
                    self.assertIn(p, words)
                for p in not_asked:
                    self.assertNotIn(p, words)
                self.assertEqual(any("--add-architecture i386" in c for c in m.calls()), adds_i386)
                self.assertNotIn("warning", result.stderr)

    def test_nothing_is_done_when_everything_is_there(self):
        m = self.machine()
        first = m.run("test")
        self.assertEqual(first.returncode, 0, first.stderr)
        calls_after_first = len(m.calls())
        again = m.run("test")
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertEqual(len(m.calls()), calls_after_first)
        self.assertEqual(again.stderr, "")

    def test_a_failing_index_is_retried_then_left_out_with_one_warning(self):
        # (update failures in a row, update calls expected, warning expected)
        for failures, updates, warned in [(0, 1, False), (2, 3, False), (3, 3, True), (50, 3, True)]:
            with self.subTest(failures=failures):
                m = self.machine(installed=MAIN, update_failures=failures)
                result = m.run("release")
                self.assertEqual(result.returncode, 0, result.stderr)
                calls = m.calls()
                self.assertEqual(sum(c == "apt-get update" for c in calls), updates)
                self.assertEqual(sum(c == "sleep 7" for c in calls), updates - 1)
                warnings = [line for line in result.stderr.splitlines() if "warning" in line]
                self.assertEqual(len(warnings), 1 if warned else 0, result.stderr)
                if warned:
                    self.assertIn("bookworm-security/main/binary-i386/Packages.xz", warnings[0])
                    self.assertIn("going on without it", warnings[0])
                self.assertIn("pandoc", m.installed())

    def test_unresolvable_i386_packages_fall_back_to_the_releases_versions(self):
        m = self.machine(installed=MAIN + ["pandoc"], update_failures=99, no_i386_updates=True)
        result = m.run("test")
        self.assertEqual(result.returncode, 0, result.stderr)
        first, simulated, second = installs(m.calls())
        self.assertNotIn("-t bookworm", first)
        self.assertIn(" -s ", simulated)
        self.assertIn("-t bookworm", second)
        self.assertIn("wine32:i386", second.split())
        self.assertIn("installing the release's own versions instead (apt-get install -t bookworm)",
                      result.stderr)
        self.assertIn("wine32:i386", m.installed())

    def test_twins_installed_from_the_updates_come_down_to_the_i386_version(self):
        m = self.machine(installed=MAIN + ["pandoc"], update_failures=99, no_i386_updates=True,
                         newer_amd64_twin=True)
        result = m.run("test")
        self.assertEqual(result.returncode, 0, result.stderr)
        real = [c for c in installs(m.calls()) if " -s " not in c]
        self.assertEqual(len(real), 2, m.calls())
        last = real[-1].split()
        self.assertIn("libbrotli1=1.0.9-2+b6", last)
        self.assertIn("libbrotli-dev=1.0.9-2+b6", last)   # built beside it, same version
        self.assertNotIn("libbrotli-doc=1.0.9-2+b6", last)
        self.assertFalse(any(w.startswith("zlib1g") for w in last))
        self.assertIn("--allow-downgrades", last)
        named = [line for line in result.stderr.splitlines() if "come down" in line]
        self.assertEqual(len(named), 1, result.stderr)
        self.assertIn("libbrotli1=1.0.9-2+b6", named[0])
        self.assertIn("wine32:i386", m.installed())

    def test_a_set_up_that_could_not_finish_says_so_and_fails(self):
        m = self.machine(installed=["cmake"], broken=True)
        result = m.run("main")
        self.assertNotEqual(result.returncode, 0)
        last = result.stderr.strip().splitlines()[-1]
        self.assertIn("failed: not installed:", last)
        self.assertIn("libsndfile1-dev", last)
        self.assertNotIn(" cmake", last)

    def test_an_unknown_set_is_refused(self):
        m = self.machine()
        result = m.run("everything")
        self.assertEqual(result.returncode, 2)
        self.assertEqual(m.calls(), [])


if __name__ == "__main__":
    sys.exit(unittest.main())
