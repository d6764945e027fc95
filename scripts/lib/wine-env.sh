# Sourced by the scripts and tests that run Windows programs under Wine.
#
# Sets up a Wine environment that lives entirely inside the build folder: its own prefix,
# HOME (Wine otherwise writes ~/.wine, ~/.config and ~/.local), no debug chatter, and no
# Mono/Gecko installers or menu entries.
#
#   BUILD               build folder (default: the repository's build/)
#   QUILLON_WINEPREFIX  prefix to use instead of $BUILD/wine-prefix
#
# Functions:
#   quillon_wine_prefix_init   create the prefix once (fonts, unmanaged windows, 96 dpi)
#   quillon_wine_prime         start a persistent wine server detached from our output
#   quillon_wine_stop          stop the wine server of this prefix (and its processes)

_quillon_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
: "${BUILD:=$_quillon_repo/build}"
export BUILD
export WINEPREFIX="${QUILLON_WINEPREFIX:-$BUILD/wine-prefix}"
export HOME="$BUILD/home"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64

# Marks a prefix whose set-up finished, with the version of the settings below; a half-made
# prefix (interrupted) is made again, an older one gets the new settings.
_quillon_wine_ready="$WINEPREFIX/.quillon-ready"
_quillon_wine_settings=2

quillon_wine_prefix_init() {
    [ "$(cat "$_quillon_wine_ready" 2>/dev/null)" = "$_quillon_wine_settings" ] && return 0
    mkdir -p "$HOME" "$(dirname "$WINEPREFIX")"
    (
        # One creator at a time: window tests and the demo may start together. (The wine
        # server started inside must not inherit the lock's descriptor: see 9>&- below.)
        flock 9
        [ "$(cat "$_quillon_wine_ready" 2>/dev/null)" = "$_quillon_wine_settings" ] && exit 0
        local log="$WINEPREFIX.init.log"
        {
            if [ ! -e "$_quillon_wine_ready" ]; then
                rm -rf "$WINEPREFIX"
                # (wineserver -w: no persistent server can run in a prefix not made yet)
                wineboot -i && wineserver -w || exit 1
            fi
            # Debian's Wine finds fonts only in the prefix; without them the dialog's base
            # units and so its size differ from Windows'.
            cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
            # Without a window manager every top-level window close takes 2 s unless Wine
            # manages nothing itself.
            wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
            wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f
            # A crash prints its report on stderr and ends the process, instead of waiting
            # behind a dialog that nobody will close.
            wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
            # The server these started ends a few seconds after its last client; a persistent
            # one started meanwhile would find it still there and leave, and the first test
            # programs would then lose their server ("recvmsg: Connection reset by peer").
            wineserver -w
        } </dev/null >"$log" 2>&1 9>&- || { echo "wine prefix set-up failed, see $log" >&2; exit 1; }
        echo "$_quillon_wine_settings" >"$_quillon_wine_ready"
    ) 9>"$WINEPREFIX.lock"
}

# ctest waits for every process that holds its output pipe. Wine's background services
# (wineserver, services.exe, explorer.exe ...) inherit the output of whoever starts them,
# so they are started here, persistently, with no link to anyone's output.
quillon_wine_prime() {
    quillon_wine_prefix_init || return 1
    wineserver -p </dev/null >/dev/null 2>&1
    wine cmd /c exit </dev/null >/dev/null 2>&1
}

# Ends the wine server of this prefix only, and every Wine process that uses it.
quillon_wine_stop() {
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
}
