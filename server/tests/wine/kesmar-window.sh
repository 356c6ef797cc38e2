# Sourced by the kesmar.exe scripts after wine.sh: finding the window and
# acting on its controls. Places are those of the window's table, in pixels
# at 96 dpi from the client area's corner; Wine's X window holds the menu
# bar above the client area, and a window manager (there is none) would
# draw the frame.

window_of_kesmar() {
    # Wine also makes windows for the input method under the same process.
    # Once in a while a search never gets its answer while Wine is making
    # its windows: such a one is given up and the next one tried.
    win="$(timeout 5 xdotool search --all --pid "$kpid" --onlyvisible \
        --name '^Tarvolin\(TCP Server\)$' 2>/dev/null | head -n1)"
    [ -n "$win" ]
}

listening() {
    [ -n "$(ss -Hltn 'sport = :20319')" ]
}

# run_kesmar EXE: starts it and sets win and menu (the menu bar's height)
# once the window is there and the server listens.
run_kesmar() {
    start_exe "$1"
    wait_until 200 window_of_kesmar || fail "no window named Tarvolin(TCP Server) appeared"
    eval "$(xdotool getwindowgeometry --shell "$win")"
    [ "$WIDTH" -eq 434 ] || fail "the window is $WIDTH wide, not 434"
    menu=$((HEIGHT - 383))
    wait_until 100 listening || fail "kesmar.exe does not listen on 20319"
}

# click_at X Y: in the client area.
click_at() {
    xdotool mousemove --window "$win" "$1" $((menu + $2)) click 1
    sleep 0.2
}

# pane_text X Y: all the text of the pane at that place, through the
# clipboard as a user would copy it.
pane_text() {
    click_at "$1" "$2"
    xdotool key ctrl+a ctrl+c
    sleep 0.3
    xclip -o -selection clipboard -t UTF8_STRING | tr -d '\r'
}
