#!/usr/bin/env bash
# The window under a real X server and window manager (Xvfb, Openbox) on an 800 by 600
# screen, at each scale: its title bar and every edge stay on the screen. The frame a window
# manager adds is told only after the window is first shown, so an offscreen test cannot
# see this. Usage: window_manager.sh FOLDER_OF_VARNEL. Status 77 (skipped) without them.
set -euo pipefail
for tool in Xvfb openbox xwininfo xprop; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed" >&2; exit 77; }
done
program="$1/varnel-window"
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
export HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
openbox >/dev/null 2>&1 &
pids+=($!)
# Ready once it names itself on the root window.
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done

status=0
for scale in 1 1.5 2; do
    QT_SCALE_FACTOR=$scale QT_QPA_PLATFORM=xcb "$program" >/dev/null 2>&1 &
    window_pid=$!
    # Placed once the window manager has framed it and the program has fitted it again.
    geometry=""
    for _ in $(seq 100); do
        id=$(xwininfo -root -tree 2>/dev/null | awk '/"Varnel Software"/ && !id { id = $1 } END { print id }')
        if [ -n "$id" ]; then
            now=$(xwininfo -id "$id" | awk '/Absolute upper-left Y/ { y = $4 }
                /Height:/ { h = $2 } /Absolute upper-left X/ { x = $4 } /Width:/ { w = $2 }
                END { print x, y, w, h }')
            # Framed: below the title bar the window manager put above it.
            [ "$now" = "$geometry" ] && [ "$(echo "$now" | cut -d' ' -f2)" -gt 0 ] && break
            geometry=$now
        fi
        sleep 0.2
    done
    kill "$window_pid" 2>/dev/null || true
    wait "$window_pid" 2>/dev/null || true
    read -r x y w h <<<"$geometry"
    # Its title bar lies above the client area: some room is left for it at the top.
    if [ -z "$geometry" ] || [ "$y" -le 0 ] || [ $((y + h)) -gt 600 ] || [ "$x" -lt 0 ] ||
        [ $((x + w)) -gt 800 ]; then
        echo "scale $scale: the window at x=$x y=$y ${w}x$h is not all on the 800x600 screen" >&2
        status=1
    fi
done
exit $status
