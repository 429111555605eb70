#!/usr/bin/env bash
# tools/install-deps against stand-ins for dpkg-query and apt-get: with every package installed it
# calls no apt at all; otherwise it installs exactly the missing ones (absent or only unpacked).
#   install_deps.sh INSTALL_DEPS
set -euo pipefail
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
export FAKE_DIR=$work PATH="$work/bin:$PATH"

# Packages named in $FAKE_DIR/absent are unknown to it, those in $FAKE_DIR/unpacked half
# installed, all others installed.
cat >"$work/bin/dpkg-query" <<'END'
#!/usr/bin/env bash
shift 2  # -W -f=FORMAT
status=0
for p in "$@"; do
  if grep -qx "$p" "$FAKE_DIR/absent"; then
    echo "dpkg-query: no packages found matching $p" >&2
    status=1
  elif grep -qx "$p" "$FAKE_DIR/unpacked"; then
    printf '%s\tinstall ok unpacked\n' "$p"
  else
    printf '%s\tinstall ok installed\n' "$p"
  fi
done
exit $status
END
printf '#!/usr/bin/env bash\necho "$*" >>"$FAKE_DIR/apt-calls"\n' >"$work/bin/apt-get"
printf '#!/usr/bin/env bash\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin"/*

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# run ABSENT UNPACKED [ARGS]: the apt calls it made, one a line.
run() {
  printf '%s\n' $1 >"$work/absent"
  printf '%s\n' $2 >"$work/unpacked"
  rm -f "$work/apt-calls"
  shift 2
  "$script" "$@" >/dev/null || fail "install-deps $* failed"
  cat "$work/apt-calls" 2>/dev/null || true
}

[ -z "$(run "" "")" ] || fail "apt was called with nothing missing"
[ -z "$(run "" "" --fuzz --windows)" ] || fail "apt was called with nothing missing (--fuzz --windows)"
calls=$(run "xvfb" "libsdl2-dev")
[ "$calls" = $'update -qq\ninstall -y -qq libsdl2-dev xvfb' ] || fail "missing xvfb, libsdl2-dev half: $calls"
calls=$(run "clang wine" "" --fuzz --windows)
[ "$calls" = $'update -qq\ninstall -y -qq clang wine' ] || fail "missing clang and wine: $calls"
echo "apt asked only for the missing packages, and not at all with none missing"
