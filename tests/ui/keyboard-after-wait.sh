#!/usr/bin/env bash
# The keyboard after a short size calculation, on a real X server with a window manager (Xvfb +
# openbox), driven with xdotool as a person would: click a file name, Left Left, F2, Down or Up (a new
# packer, sized behind the wait window), Return, then F1 must open the Help window. Repeated, because
# the keyboard got lost in some runs only.
#   keyboard-after-wait.sh <hexaloom> [runs] [changes per run]
set -euo pipefail
exe=$(realpath "$1")
runs=${2:-5}
changes=${3:-3}

work=$(mktemp -d)
# Xvfb picks a free display itself: other tests may run their own at the same time.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3> "$work/display" > /dev/null 2>&1 &
xvfb=$!
program=
cleanup() {
    [ -n "$program" ] && kill "$program" 2> /dev/null || true
    kill "$xvfb" 2> /dev/null || true
    wait 2> /dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -1 "$work/display")
unset QT_QPA_PLATFORM
for _ in $(seq 50); do xdpyinfo > /dev/null 2>&1 && break; sleep 0.2; done
openbox > /dev/null 2>&1 &

# Files that jCalg1 and zip pack in a moment, listed in a project; sizes are computed at once.
mkdir -p "$work/files" "$work/config/Brannock/Hexaloom"
for i in 1 2 3; do
    for _ in $(seq 400); do echo "line $i of a file the window packs while the user waits"; done > "$work/files/f$i.txt"
done
(cd "$work" && "$exe" --quiet --create out.pbi --save-project p.hxlm files/f1.txt files/f2.txt files/f3.txt)
printf '\xef\xbb\xbf[Position]\r\nfrmMain_x = 100\r\nfrmMain_y = 100\r\n[Settings]\r\ncalcsize = 1\r\n' \
    > "$work/config/Brannock/Hexaloom/Hexaloom.prefs"

# Waits for a window whose title matches; prints its id.
find_window() {
    for _ in $(seq "${2:-50}"); do
        xdotool search --onlyvisible --name "$1" 2> /dev/null | head -1 && return 0
        sleep 0.1
    done
    return 1
}

failed=0
for run in $(seq "$runs"); do
    XDG_CONFIG_HOME=$work/config "$exe" "$work/p.hxlm" > "${PROGRAM_LOG:-/dev/null}" 2>&1 &
    program=$!
    main=$(find_window '^Hexaloom - p$' 100) || { echo "run $run: the window did not open" >&2; exit 1; }
    xdotool windowactivate --sync "$main" 2> /dev/null || true
    sleep 0.5
    for change in $(seq "$changes"); do
        # The first row's file name: below the menu bar, the toolbar and the column titles.
        xdotool mousemove --window "$main" 300 95 click 1
        sleep 0.2
        # none -> jCalg1 first, then back and forth between jCalg1 and zip: each one is sized.
        key=Down
        [ "$change" -gt 1 ] && [ $((change % 2)) -eq 1 ] && key=Up
        xdotool key --delay 60 Left Left F2 "$key" Return
        sleep 0.6
        xdotool key F1
        if help=$(find_window '^Hexaloom - Help$' 30); then
            xdotool windowclose "$help" 2> /dev/null || xdotool key --window "$help" Escape
            sleep 0.3
        else
            echo "run $run, change $change: F1 after the size calculation reached nothing" \
                "(focus on $(xdotool getwindowfocus 2> /dev/null), main window $main)" >&2
            failed=$((failed + 1))
            break
        fi
    done
    kill "$program" 2> /dev/null || true
    wait "$program" 2> /dev/null || true
    program=
done
echo "$failed of $runs runs lost the keyboard"
[ "$failed" -eq 0 ]
