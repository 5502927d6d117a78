#!/usr/bin/env bash
# The Windows installer under Wine, as an administrator uses it: a silent
# install into a fresh prefix; the installed client, set to a unit, starts,
# connects and sends a key; while it runs, the installer changes nothing and
# fails; a second install (an upgrade) keeps the edited settings, puts the
# program back and removes what the older version installed and this one does
# not; the uninstaller leaves nothing behind; in a folder shared with another
# program, neither touches that program's files.
# Usage: windows-installer-test.sh SETUP_EXE WINE_PREFIX EMULATOR
set -euo pipefail
# xdotool matches the Cyrillic window title only in a UTF-8 locale.
export LC_ALL=C.UTF-8
installer=$1
export WINEPREFIX=$2
emulator=$3

unit_address=127.0.0.200
display=:200
patience=60
folder="$WINEPREFIX/drive_c/Program Files/VelmoScreen"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/VelmoScreen.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VelmoScreen'
work=$(mktemp -d)
pids=()
cleanup() {
    kill "${pids[@]}" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "windows installer: FAIL: $*" >&2; exit 1; }
pass() { echo "windows installer: ok: $*"; }
wait_for() { # seconds, command...
    local deadline=$((SECONDS + $1)) && shift
    until "$@"; do ((SECONDS < deadline)) || return 1; sleep 0.5; done
}
install() { # installer options...
    wine "$installer" /S "$@" || fail "the installer failed ($?)"
    wineserver -w
}
snapshot() { (cd "$1" && find . -type f -exec md5sum {} + | LC_ALL=C sort); }
registered() { wine reg query "$uninstall_key" /v UninstallString >/dev/null 2>&1; }

install
for file in VelmoScreen.exe velmo-unit-emulator.exe VelmoScreen.ini qt.conf platforms/qwindows.dll \
            translations/qtbase_ru.qm licences/Qt-source.txt VelmoScreen-uninstall.exe; do
    [[ -f $folder/$file ]] || fail "$file is not installed"
done
[[ -f $shortcut ]] || fail "no Start-menu entry"
registered || fail "not in the list of installed programs"
grep -q '^;remoteIp=' "$folder/VelmoScreen.ini" || fail "the settings as shipped name a unit"
cves=$(grep -c '^  CVE-[0-9]*-[0-9]*\.diff' "$folder/licences/Qt-source.txt") || true
((cves >= 11)) || fail "licences/Qt-source.txt names $cves of Debian's 11 CVE patches as applied"
pass "installed silently in $((SECONDS)) s: program, settings, Start-menu entry, uninstaller, $cves CVE fixes of Qt named"

printf '[connection]\r\nremoteIp=%s\r\n' "$unit_address" >"$folder/VelmoScreen.ini"
cp "$folder/VelmoScreen.ini" "$work/edited.ini"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
"$emulator" --listen "$unit_address" >"$work/keys" 2>"$work/emulator.log" &
pids+=($!)
wait_for "$patience" xdpyinfo -display "$display" >/dev/null 2>&1 || fail "Xvfb did not start"
# The registry query above started a Wine server with no display; a client
# started beside it would show its window on that server's invisible desktop.
wineserver -w
DISPLAY=$display wine 'C:\Program Files\VelmoScreen\VelmoScreen.exe' >"$work/client.log" 2>&1 &
pids+=($!)
wait_for "$patience" grep -q 'connected' "$work/emulator.log" ||
    fail "the installed client did not connect: $(cat "$work/emulator.log" "$work/client.log")"
find_window() { window=$(DISPLAY=$display xdotool search --onlyvisible --name '^Экран ВЕЛМО-КС v' | head -1); [[ -n $window ]]; }
wait_for "$patience" find_window || fail "no window of the installed client"
DISPLAY=$display xdotool windowfocus --sync "$window"
# Wine makes the window active a little after X gave it the focus.
sleep 0.5
DISPLAY=$display xdotool key s
wait_for "$patience" grep -qx 'KBD:8x20' "$work/keys" || fail "no key from the installed client"
pass "the installed client connected to $unit_address and sent KBD:8x20"

snapshot "$folder" >"$work/running"
status=0
wine "$installer" /S || status=$?
((status == 2)) || fail "installing while the client runs ended with status $status, not 2"
snapshot "$folder" | cmp -s - "$work/running" || fail "installing while the client runs changed its files"
pass "while the client ran, the silent installer changed nothing and ended with status 2"
wineserver -k
wineserver -w

# As if the old version had one program file less and one plugin more.
rm "$folder/VelmoScreen.exe"
touch "$folder/platforms/qold.dll" "$folder/platforms/notours.dll"
printf 'platforms\\qold.dll\r\n' >>"$folder/VelmoScreen-files.txt"
install
cmp -s "$folder/VelmoScreen.ini" "$work/edited.ini" || fail "the upgrade replaced the edited settings"
[[ -f $folder/VelmoScreen.exe ]] || fail "the upgrade did not put the program back"
[[ ! -e $folder/platforms/qold.dll ]] || fail "the upgrade left the old version's files"
[[ -e $folder/platforms/notours.dll ]] || fail "the upgrade removed a file it had not installed"
rm "$folder/platforms/notours.dll"
pass "an upgrade replaced the program, removed the old version's files and kept the edited VelmoScreen.ini"

wine "$folder/VelmoScreen-uninstall.exe" /S
wineserver -w
# The uninstaller runs from a copy of itself and may finish after its caller.
wait_for "$patience" test ! -e "$folder" || fail "left behind: $(find "$folder")"
[[ ! -e $shortcut ]] || fail "the Start-menu entry is left"
! registered || fail "still in the list of installed programs"
pass "the uninstaller removed the folder, the Start-menu entry and the registry entry"

# A folder shared with another program: an install, an upgrade and the
# uninstaller leave its files alone; the uninstaller, too, changes nothing
# while the client runs.
tools=$WINEPREFIX/drive_c/Tools
theirs=(OtherApp.exe libcrypto-3.dll translations/otherapp_de.qm notes.txt uninstall.exe)
mkdir -p "$tools/translations"
for file in "${theirs[@]}"; do echo "$file" >"$tools/$file"; done
snapshot "$tools" >"$work/theirs"
install '/D=C:\Tools'
install '/D=C:\Tools'
[[ -f $tools/VelmoScreen.exe ]] || fail "nothing installed in C:\\Tools"
[[ $(snapshot "$tools" | grep -cxFf "$work/theirs") == "${#theirs[@]}" ]] ||
    fail "installing into C:\\Tools changed another program's files: $(ls -R "$tools")"
cp "$work/edited.ini" "$tools/VelmoScreen.ini"
DISPLAY=$display wine 'C:\Tools\VelmoScreen.exe' >>"$work/client.log" 2>&1 &
pids+=($!)
wait_for "$patience" find_window || fail "the client in C:\\Tools did not start: $(cat "$work/client.log")"
snapshot "$tools" >"$work/running"
status=0
# Run in place (_?=), so that its status is the uninstaller's own.
wine "$tools/VelmoScreen-uninstall.exe" /S '_?=C:\Tools' || status=$?
((status == 2)) || fail "uninstalling while the client runs ended with status $status, not 2"
snapshot "$tools" | cmp -s - "$work/running" || fail "uninstalling while the client runs changed its files"
wineserver -k
wineserver -w
# An altered list's lines that lead beyond the installed files are skipped.
echo outside >"$WINEPREFIX/drive_c/outside.txt"
printf '*.dll\r\n..\\outside.txt\r\n' >>"$tools/VelmoScreen-files.txt"
wine "$tools/VelmoScreen-uninstall.exe" /S
wineserver -w
wait_for "$patience" test ! -e "$tools/VelmoScreen-uninstall.exe" || fail "the uninstaller did not finish"
[[ -f $WINEPREFIX/drive_c/outside.txt ]] || fail "the uninstaller removed C:\\outside.txt, named in its list"
snapshot "$tools" | cmp -s - "$work/theirs" ||
    fail "after uninstalling, C:\\Tools does not hold just the other program's files: $(ls -R "$tools")"
pass "in another program's folder: installed, upgraded, kept while the client ran, uninstalled, its files and those an altered list names left alone"
