#!/bin/bash
# paneview_test.sh PANEVIEW BUNDLE OUTDIR: runs on an X display (xvfb-run).
# paneview answers the pane's commands itself (two rules, two exclusions);
# xdotool clicks a rule and the delete button (20001 for it), then the add
# button and the sheet's Cancel (sheet gone, the rules refetched: 20003).
# The window's PNG must show more than a blank area.
set -euo pipefail
pv=$1
bundle=$2
out=$3
mkdir -p "$out"
log=$out/paneview.log
shot=$out/appward-view-test.png
rm -f "$log" "$shot"

"$pv" "$bundle" --peer --unlock --seconds 40 --shot "$shot" -GSX11HandlesWindowDecorations NO >"$log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT

waitfor() { # pattern, seconds
    for _ in $(seq $(($2 * 10))); do
        grep -q "$1" "$log" && return 0
        sleep 0.1
    done
    echo "FAIL: no '$1' in paneview's output" >&2
    cat "$log" >&2
    exit 1
}
count() { grep -c "^$1\$" "$log" || true; }
# A slow press: after a quick click the program's timers stopped firing.
click() {
    xdotool mousemove "$1" "$2"
    xdotool mousedown 1
    sleep 0.15
    xdotool mouseup 1
    sleep 0.6
}

waitfor '^ready$' 20
read -r _ ox oy < <(grep '^origin ' "$log")
waitfor '^shot ' 10
colours=$(convert "$shot" -format '%k' info:)
echo "colours in the view: $colours"
[ "$colours" -gt 8 ] || { echo "FAIL: the view's PNG has $colours colours"; exit 1; }

# Clicks in view coordinates (top left of the view: paneview's "origin").
# First rule row, then "-".
before=$(count 'command 20001')
click $((ox + 200)) $((oy + 183))
click $((ox + 74)) $((oy + 434))
waitfor '^command 20001$' 5
[ "$(count 'command 20001')" -gt "$before" ] || { echo "FAIL: no 20001"; exit 1; }
echo "delete: 20001 sent"

# "+" opens the sheet; its Cancel closes it and refetches the rules.
click $((ox + 30)) $((oy + 434))
sheet=""
for _ in $(seq 30); do
    sheet=$(xdotool search --onlyvisible --name '^Rule$' 2>/dev/null | head -1 || true)
    [ -n "$sheet" ] && break
    sleep 0.1
done
[ -n "$sheet" ] || { echo "FAIL: the sheet did not open"; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$sheet")"
rules_before=$(count 'command 20003')
# The sheet has the same decorations as the main window.
click $((X + ox + 405)) $((Y + oy + 308))
for _ in $(seq 30); do
    xdotool search --onlyvisible --name '^Rule$' >/dev/null 2>&1 || break
    sleep 0.1
done
if xdotool search --onlyvisible --name '^Rule$' >/dev/null 2>&1; then
    echo "FAIL: the sheet is still open"
    exit 1
fi
[ "$(count 'command 20003')" -gt "$rules_before" ] || { echo "FAIL: no 20003 after Cancel"; exit 1; }
echo "add, cancel: sheet gone, 20003 sent"
