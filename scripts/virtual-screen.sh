# Sourced by scripts/test-package and scripts/screenshots: a virtual screen
# (Xvfb) of their own, and waits on its windows that bear a window vanishing
# while they look (xdotool, like any Xlib client, ends on the X error such a
# window causes mid-search; a menu closing as a dialog opens does that).
#   start_virtual_screen FOLDER [XVFB-ARGS...]  starts it, sets $xvfb_pid and DISPLAY
#   find_window PATTERN [SECONDS]               prints the id of the visible window
#                                               whose title matches, when it comes
#   wait_gone ID                                waits until window ID is not shown

start_virtual_screen() {
    local folder="$1"
    shift
    mkfifo "$folder/display"
    # Xvfb names the free display it took.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 "$@" -nolisten tcp 3>"$folder/display" >"$folder/xvfb.log" 2>&1 &
    xvfb_pid=$!
    local display
    read -r display <"$folder/display" || return 1
    export DISPLAY=":$display"
    # The programs run on that screen, whatever the caller's environment chose.
    unset QT_QPA_PLATFORM
    mkdir -m 700 "$folder/runtime"
    export XDG_RUNTIME_DIR="$folder/runtime"
}

find_window() {
    local pattern="$1" seconds="${2:-60}" found
    for _ in $(seq 1 $((seconds * 50))); do
        found="$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -1)" || true
        [ -z "$found" ] || { echo "$found"; return 0; }
        sleep 0.02
    done
    return 1
}

wait_gone() {
    for _ in $(seq 1 3000); do
        xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable' || return 0
        sleep 0.01
    done
    return 1
}
