#!/bin/sh
# The keyboard on a real X server: Tab to "送信" and Enter presses it (a
# client starts receiving), Tab on to the slider and the arrow keys bring
# up the period in a tip beside the handle, and F10 opens ファイル. The
# program and the client are started as ../blackbox.sh starts them.
#   keys_tooltip.sh KESMAR_BINARY OUT.png    (OUT.png: the window with the tip)
set -eu
. "$(dirname "$0")/../blackbox.sh"
need Xvfb xdotool python3 ss import convert compare
bin="$1"
shot="$2"

start_xvfb
run_kesmar "$bin"
xdotool windowfocus --sync "$win"
connect_client

# The screen just under the slider, where the tip comes and the handle
# does not: 200 x 30 from the slider's left edge, in root coordinates.
region="200x30+$((X + 272))+$((Y + menu + 140))"
under_slider() { import -window root -crop "$region" +repage "$work/$1.png"; }
differs() { [ "$(compare -metric AE "$work/$1.png" "$work/$2.png" null: 2>&1)" != 0 ]; }

# The focus starts in the dump pane; "送信" is next in the tab order.
sleep 0.5
xdotool key --window "$win" Tab Return
wait_until 50 at_least 9 || fail "Enter on 送信 did not start sending ($(received) bytes)"
echo "Enter on 送信: $(received) bytes arrived"

under_slider before
# Past the event log to the slider, then 53 steps of 10 ms down from 1000.
xdotool key --window "$win" Tab Tab
xdotool key --window "$win" --repeat 53 --delay 20 Left
sleep 0.5
under_slider tip
differs before tip || fail "no tip under the slider after the arrow keys"
import -window root -crop "${WIDTH}x$HEIGHT+$X+$Y" +repage "$shot"
echo "tip shown; screenshot in $shot"

# F10: the drop-down of ファイル covers the top of the dump pane.
menu_area="120x40+$X+$((Y + menu + 2))"
import -window root -crop "$menu_area" +repage "$work/closed.png"
xdotool key --window "$win" F10
sleep 0.5
import -window root -crop "$menu_area" +repage "$work/open.png"
differs closed open || fail "F10 did not open the menu"
xdotool key --window "$win" Escape
echo "F10 opened ファイル"
