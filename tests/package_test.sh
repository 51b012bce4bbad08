#!/usr/bin/env bash
# Builds the Debian package from a build dir with cpack and checks its
# name, its file list, its control fields and that the packaged binary
# opens the host's real serial ports.
#
# usage: package_test.sh <build dir> <version>
set -euo pipefail

build="$(cd "$1" && pwd)"
version=$2

if ! command -v dpkg-deb >/dev/null; then
  echo "SKIP: dpkg-deb is missing"
  exit 77
fi

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

out="$build/package-test"
rm -rf "$out"
mkdir -p "$out"
if ! (cd "$build" && cpack -G DEB -B "$out") >"$out/cpack.log" 2>&1; then
  cat "$out/cpack.log" >&2
  fail "cpack failed"
fi

arch="$(dpkg --print-architecture)"
deb="$out/lorvrc_${version}_${arch}.deb"
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$out")"

# Every entry belongs to root, and these are the only files.
listing="$(dpkg-deb -c "$deb")"
printf '%s\n' "$listing"
if awk '$2 != "root/root" { found = 1 } END { exit !found }' <<<"$listing"; then
  fail "entries not owned by root"
fi
files="$(awk '$1 !~ /^d/ { print $6 }' <<<"$listing" | sort)"
expected="./usr/bin/lorvrc
./usr/share/bash-completion/completions/lorvrc
./usr/share/doc/lorvrc/protocol.md
./usr/share/man/man1/lorvrc.1.gz"
[ "$files" = "$expected" ] || fail "files are:"$'\n'"$files"$'\n'"expected:"$'\n'"$expected"
grep -q '^-rwxr-xr-x .* \./usr/bin/lorvrc$' <<<"$listing" || fail "the binary is not executable"

field() {
  dpkg-deb -f "$deb" "$1"
}
dpkg-deb -f "$deb"
[ "$(field Package)" = lorvrc ] || fail "Package field"
[ "$(field Version)" = "$version" ] || fail "Version field"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture field"
[[ "$(field Maintainer)" =~ ^.+\ \<.+@.+\>$ ]] || fail "Maintainer field"
[ -n "$(field Section)" ] || fail "no Section field"
[ "$(field Priority)" = optional ] || fail "Priority field"
[ -n "$(field Description)" ] || fail "no Description field"
[[ "$(field Depends)" == *libc6* ]] || fail "Depends field lacks libc6"

# A package built from a demo or test configuration would open ports in a
# build folder instead of the host's.
contents="$out/contents"
dpkg-deb -x "$deb" "$contents"
grep -qa '/dev/ttyS' "$contents/usr/bin/lorvrc" || fail "the binary does not open /dev/ttyS<N>"
gzip -dc "$contents/usr/share/man/man1/lorvrc.1.gz" | grep -q '^\.TH LORVRC 1' ||
  fail "the man page is not lorvrc(1)"
bash -n "$contents/usr/share/bash-completion/completions/lorvrc" || fail "completion syntax"
echo "PASS"
