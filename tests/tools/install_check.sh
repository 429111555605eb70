#!/usr/bin/env bash
# `cmake --install` of a build into a prefix of its own: brom-play lands in PREFIX/bin and runs,
# its manual page in PREFIX/share/man/man1, and the page names every option `--help` lists.
#
#   install_check.sh BUILD_DIR
set -uo pipefail

build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
play=$prefix/bin/brom-play
page=$prefix/share/man/man1/brom-play.1
[ "$("$play" --version)" = "brom-play 1.0.0" ] || fail "$play does not run"
[ -f "$page" ] || fail "no manual page at $page"
for option in $("$play" --help | grep -o -- '--[a-z]*' | sort -u); do
  grep -qF -- "\\-\\-${option#--}" "$page" || fail "the manual page does not name $option"
done
for key in space left right up down Esc; do
  grep -qw -- "$key" "$page" || fail "the manual page does not name the key $key"
done
echo "install: brom-play and its manual page, which names every option and key"
