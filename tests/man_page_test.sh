#!/usr/bin/env bash
# Renders the man page with every groff warning on: it must render without
# a single warning and hold the sections a reader looks for.
#
# usage: man_page_test.sh <man page>
set -euo pipefail

page=$1
if ! command -v groff >/dev/null; then
  echo "SKIP: groff is missing"
  exit 77
fi

warnings="$(groff -ww -man -Tutf8 "$page" 2>&1 >/dev/null)" || {
  echo "FAIL: groff failed: $warnings" >&2
  exit 1
}
if [ -n "$warnings" ]; then
  echo "FAIL: groff warns:" >&2
  printf '%s\n' "$warnings" >&2
  exit 1
fi

text="$(groff -man -Tascii -P-cbou "$page" 2>/dev/null)"
for section in NAME SYNOPSIS DESCRIPTION OPTIONS FILES "EXIT STATUS" DIAGNOSTICS \
  EXAMPLES "SEE ALSO"; do
  if ! grep -qx "$section" <<<"$text"; then
    echo "FAIL: no section $section" >&2
    exit 1
  fi
done
echo "PASS"
