#!/bin/sh
# The window as an X server shows it: 434 pixels wide (as ../blackbox.sh
# checks on starting it) with the menu bar above the 383-pixel client area,
# fixed in size with no maximise button, an icon of its own, painted, and
# the check-box captions whole.
#   screenshot.sh KESMAR_BINARY OUT.png
set -eu
. "$(dirname "$0")/../blackbox.sh"
need Xvfb xdotool ss xprop import convert identify
bin="$1"
shot="$2"

start_xvfb
run_kesmar "$bin"
echo "window ${WIDTH}x${HEIGHT}, menu bar $menu high"
[ "$menu" -gt 0 ] && [ "$menu" -lt 40 ] || fail "menu bar is $menu high"

# A window manager reads these: minimum equal to maximum size, and neither a
# maximise function nor a maximise decoration (Motif bits 0x10 and 0x40).
hints="$(xprop -id "$win" WM_NORMAL_HINTS)"
for limit in minimum maximum; do
    printf '%s\n' "$hints" | grep -q "specified $limit size: $WIDTH by $HEIGHT" ||
        fail "no $limit size of ${WIDTH}x$HEIGHT: $hints"
done
motif="$(xprop -id "$win" _MOTIF_WM_HINTS | sed 's/.*= //')"
functions="$(echo "$motif" | cut -d, -f2)"
decorations="$(echo "$motif" | cut -d, -f3)"
[ $((functions & 0x10)) -eq 0 ] && [ $((decorations & 0x40)) -eq 0 ] ||
    fail "the window can be maximised: _MOTIF_WM_HINTS $motif"

# The icon's first image, as width and height.
icon="$(xprop -id "$win" -len 16 -f _NET_WM_ICON 32c _NET_WM_ICON)"
printf '%s\n' "$icon" | grep -Eq '= [1-9][0-9]*, [1-9][0-9]*' || fail "no window icon: $icon"

# Shot until painted: a blank window has (next to) no deviation.
painted() {
    import -window "$win" "$shot" 2>/dev/null &&
        awk -v d="$(identify -format '%[fx:standard_deviation]' "$shot")" 'BEGIN { exit !(d > 0.05) }'
}
wait_until 50 painted || fail "the window stays blank"
size="$(identify -format '%wx%h' "$shot")"
[ "$size" = "${WIDTH}x$HEIGHT" ] || fail "screenshot is $size"

# A caption too long for its check box runs into the box's right edge; a
# whole one leaves the last columns bare. Rectangles in client pixels.
for box in chkEvent:288:216:129:20 chkDump:288:240:81:17; do
    IFS=: read -r name x y w h <<EOF
$box
EOF
    edge="$(convert "$shot" -crop "3x$h+$((x + w - 3))+$((y + menu))" +repage \
        -format '%[fx:standard_deviation]' info:)"
    awk -v d="$edge" 'BEGIN { exit !(d == 0) }' || fail "$name's caption reaches its right edge"
done
echo "screenshot $size in $shot"
