#!/usr/bin/env bash
# brom-play in a real terminal: a tmux server of its own runs the player in a pane, with SDL's
# silent audio driver; keys go in with send-keys and the screen comes back with capture-pane.
# Checks: the status line moves; space pauses (the clock stands) and resumes; the right arrow
# moves on an order (pressed while paused, so that only the key can move it); a digit mutes its
# channel; v shows the pattern under the status line in place; narrowing the window leaves one
# status line; q quits with status 0 and the terminal is back as it was (modes and cursor).
#
#   player_terminal.sh BROM_PLAY SONG
#
# Every wait polls the screen with a generous deadline; nothing depends on how fast it comes.
set -uo pipefail

play=$1 song=$2
work=$(mktemp -d)
socket=$work/tmux
pane=player

cleanup() {
  tmux -S "$socket" kill-server 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  echo "--- the screen:" >&2
  tmux -S "$socket" capture-pane -p -t "$pane" >&2 2>/dev/null
  exit 1
}

command -v tmux >/dev/null || fail "tmux is missing (tools/install-deps installs it)"

# The status line: the pane's line that holds "order".
status_line() { tmux -S "$socket" capture-pane -p -t "$pane" | grep ' order ' | tail -n1; }
# Its clock, as "m:ss.t".
clock() { status_line | grep -o '[0-9]*:[0-9][0-9]\.[0-9]/' | head -n1; }
order() { status_line | sed -n 's/.* order \([0-9]*\)\/.*/\1/p'; }

# Waits up to 60 s for `$@` (a shell test) to hold.
wait_for() {
  local what=$1
  shift
  for _ in $(seq 600); do
    eval "$@" && return 0
    sleep 0.1
  done
  fail "waited 60 s for: $what"
}

keys() { tmux -S "$socket" send-keys -t "$pane" "$@"; }

# A pane wide enough for the long form of the status line, running a plain shell.
tmux -S "$socket" new-session -d -s "$pane" -x 160 -y 12 "env PS1='$ ' bash --norc --noprofile" ||
  fail "tmux does not start"
keys "stty -g >$work/before; SDL_AUDIODRIVER=dummy $play $song; echo \$? >$work/status; stty -g >$work/after" Enter

wait_for "a status line" '[ -n "$(clock)" ]'
first=$(clock)
wait_for "the clock to move from $first" '[ "$(clock)" != "$first" ]'

keys Space
wait_for "the pause mark" 'status_line | grep -q " paused "'
paused_at=$(clock)
paused_order=$(order)
sleep 1
[ "$(clock)" = "$paused_at" ] || fail "the clock moved while paused: $paused_at, then $(clock)"

keys Right
wait_for "order $((paused_order + 1)) after the right arrow" '[ "$(order)" = $((paused_order + 1)) ]'

keys Space
wait_for "the pause mark to go" '! status_line | grep -q " paused "'
resumed_at=$(clock)
wait_for "the clock to move on from $resumed_at" '[ "$(clock)" != "$resumed_at" ]'

keys 1
wait_for "channel 1 muted, its meter a dash" 'status_line | grep -q " muted 1  \[-"'

# v: the pattern under the status line, cells in the tracker's notation, the playing row marked
# '>' and the status line's own row (compared while paused, where both stand still, twice); the
# screen does not scroll while it is redrawn; v again hides it.
screen() { tmux -S "$socket" capture-pane -p -t "$pane"; }
cell='[A-G.=][-#.=][0-9.=] [0-9A-F.][0-9A-F.] [0-9A-F.+duSVPLRM-][0-9A-F.] [0-9A-Z.][0-9A-F.][0-9A-F.]'
marked() { screen | sed -n 's/^> *\([0-9]*\) .*/\1/p'; }
status_row() { status_line | sed -n 's/.* row \([0-9]*\) .*/\1/p'; }
keys v
wait_for "the pattern view" 'screen | grep -q "^> *[0-9]* $cell |$cell"'
[ "$(screen | grep -c "^[ >] *[0-9]* $cell")" -ge 5 ] || fail "fewer than 5 rows of the pattern"
history=$(tmux -S "$socket" display -p -t "$pane" '#{history_size}')
status_at=$(screen | grep -n ' order ' | cut -d: -f1)
for _ in 1 2; do
  sleep 1
  keys Space
  wait_for "the pause mark" 'status_line | grep -q " paused "'
  sleep 0.3
  [ "$(marked)" = "$(status_row)" ] || fail "marked row $(marked), status line row $(status_row)"
  keys Space
  wait_for "the pause mark to go" '! status_line | grep -q " paused "'
done
[ "$(tmux -S "$socket" display -p -t "$pane" '#{history_size}')" = "$history" ] ||
  fail "the screen scrolled while the pattern view was redrawn"
[ "$(screen | grep -n ' order ' | cut -d: -f1)" = "$status_at" ] || fail "the status line moved"
keys v
wait_for "the pattern view to go" '[ -z "$(marked)" ]'

# Narrowing the window wraps the long line into several rows: the player draws the short form on
# one row and leaves no wrapped piece of the long one.
tmux -S "$socket" resize-window -t "$pane" -x 60
wait_for "the short form after narrowing" 'screen | grep -q "^1/1 [0-9]*/[0-9]* p[0-9]* r"'
sleep 0.5
[ "$(screen | grep -c '[0-9]/[0-9]*:[0-9][0-9]\.[0-9]')" = 1 ] ||
  fail "pieces of the long status line are left after narrowing"

keys q
wait_for "the player to end" '[ -s "$work/status" ]'
[ "$(cat "$work/status")" = 0 ] || fail "status $(cat "$work/status"), expected 0"
wait_for "the terminal modes read after the end" '[ -s "$work/after" ]'
cmp -s "$work/before" "$work/after" ||
  fail "terminal modes differ: $(cat "$work/before") before, $(cat "$work/after") after"
[ "$(tmux -S "$socket" display -p -t "$pane" '#{cursor_flag}')" = 1 ] || fail "the cursor is hidden"
echo "brom-play in a terminal: status line, pause, order, mute, pattern view, resize, quit and terminal all as expected"
