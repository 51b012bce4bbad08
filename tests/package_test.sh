#!/usr/bin/env bash
# Builds the Debian package from a build dir with cpack and checks its
# file list and control fields, that the packaged binary opens the host's
# real serial ports, that the packaged man page renders without a single
# groff warning, and, where lintian is installed, that it finds no error
# and no warning in the package.
#
# usage: package_test.sh <build dir> <version>
set -euo pipefail

build="$(cd "$1" && pwd)"
version=$2
for tool in dpkg-deb groff; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

out="$build/package-test"
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out") >"$out/cpack.log" 2>&1 || {
  cat "$out/cpack.log" >&2
  fail "cpack failed"
}
arch="$(dpkg --print-architecture)"
deb="$out/lorvrc_${version}_${arch}.deb"
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$out")"

# Only these files, all root's, the binary executable.
listing="$(dpkg-deb -c "$deb")"
printf '%s\n' "$listing"
awk '$2 != "root/root" { exit 1 }' <<<"$listing" || fail "entries not owned by root"
files="$(awk '$1 !~ /^d/ { print $6 }' <<<"$listing" | sort | paste -sd' ' -)"
[ "$files" = "./usr/bin/lorvrc ./usr/share/bash-completion/completions/lorvrc \
./usr/share/doc/lorvrc/changelog.gz ./usr/share/doc/lorvrc/copyright \
./usr/share/doc/lorvrc/editors.md ./usr/share/doc/lorvrc/protocol.md \
./usr/share/doc/lorvrc/remote.md ./usr/share/man/man1/lorvrc.1.gz" ] || fail "files: $files"
grep -q '^-rwxr-xr-x .* \./usr/bin/lorvrc$' <<<"$listing" || fail "the binary is not executable"

[ "$(dpkg-deb -f "$deb" Package Version Architecture | paste -sd' ' -)" = \
  "Package: lorvrc Version: $version Architecture: $arch" ] || fail "control fields"
depends="$(dpkg-deb -f "$deb" Depends)"
[[ "$depends" == *libc6* ]] || fail "Depends field lacks libc6: $depends"
[[ "$depends" == *libtelnet* ]] || fail "Depends field lacks libtelnet: $depends"

# A package built from a test configuration would open ports in a build
# folder instead of the host's.
contents="$out/contents"
dpkg-deb -x "$deb" "$contents"
grep -qa '/dev/ttyS' "$contents/usr/bin/lorvrc" || fail "the binary does not open /dev/ttyS<N>"
page="$contents/usr/share/man/man1/lorvrc.1.gz"
warnings="$(gzip -dc "$page" | groff -ww -man -Tutf8 2>&1 >/dev/null)" || fail "groff: $warnings"
[ -z "$warnings" ] || fail "groff warns: $warnings"
text="$(gzip -dc "$page" | groff -man -Tascii -P-cbou 2>/dev/null)"
for section in NAME SYNOPSIS DESCRIPTION OPTIONS ENVIRONMENT FILES "EXIT STATUS" DIAGNOSTICS; do
  grep -qx "$section" <<<"$text" || fail "the man page has no section $section"
done
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$deb" || fail "lintian finds errors or warnings"
else
  echo "lintian is not installed: the package was not checked by it"
fi
echo "PASS"
