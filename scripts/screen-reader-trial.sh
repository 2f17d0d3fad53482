#!/usr/bin/env bash
# Runs the logbook as a blind operator meets it: a private X server (Xvfb) with a window manager
# (openbox), the accessibility bus, a private speech-dispatcher whose generic module writes every
# utterance to a file instead of playing it, the screen reader Orca (unless NO_ORCA=1), and the
# program in a scratch copy of its folder; then drives the LOG page by keyboard with xdotool and
# prints what was said, each utterance as "text|rate" (the logbook speaks at rate 0, Orca at its
# own), with "=== step" lines between the steps.
#
# Usage: scripts/screen-reader-trial.sh [program folder]   (default: build/bin)
# Needs: xvfb openbox at-spi2-core orca xdotool speech-dispatcher dbus.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$top/build/bin}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/sd/conf/modules" "$work/sd/logs" "$work/run"
cp -r "$bin"/. "$work/home/"
rm -f "$work/home/"*_tests
cat > "$work/sd/conf/speechd.conf" <<EOF
CommunicationMethod "unix_socket"
SocketPath "$work/sd/speechd.sock"
LogLevel 4
LogDir "$work/sd/logs"
AudioOutputMethod "libao"
AddModule "recorder" "sd_generic" "recorder.conf"
DefaultModule recorder
DefaultLanguage "en"
EOF
cat > "$work/sd/conf/modules/recorder.conf" <<EOF
GenericExecuteSynth "printf '%s|%s\\\\n' \\'\$DATA\\' \\'\$RATE\\' >> $work/spoken.txt; sleep 0.3"
GenericDelimiters "~"
GenericMaxChunkLength 10000
AddVoice "en" "male1" "recorder-voice"
GenericLanguage "en" "en" "utf-8"
EOF
cat > "$work/desktop.sh" <<'EOF'
#!/usr/bin/env bash
work=$1
export SPEECHD_ADDRESS=unix_socket:$work/sd/speechd.sock XDG_RUNTIME_DIR=$work/run
chmod 700 "$XDG_RUNTIME_DIR"
speech-dispatcher -s -C "$work/sd/conf" -S "$work/sd/speechd.sock" -c unix_socket -t 0 -P "$work/sd/pid" \
  -L "$work/sd/logs" >/dev/null 2>&1 &
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
sleep 1
openbox >/dev/null 2>&1 &
sleep 1
orca_pid=""
if [ -z "${NO_ORCA:-}" ]; then
  orca --replace >"$work/orca.log" 2>&1 &
  orca_pid=$!
  sleep 6
fi
step() { echo "=== $*" >>"$work/spoken.txt"; }
step "start"
(cd "$work/home" && QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QUILLMERE_HOME="$work/home" ASAN_OPTIONS=detect_leaks=0 \
  ./Quillmere >"$work/program.log" 2>&1) &
program=$!
sleep 8
step "Tab through the LOG page"
for _ in $(seq 1 14); do xdotool key Tab; sleep 1.2; done
step "Ctrl+F2"
xdotool key ctrl+F2; sleep 2
step "a new call, w1aw"
xdotool type --delay 300 w1aw; sleep 3
step "Alt+L"
xdotool key alt+l; sleep 4
step "w1aw again: a duplicate"
xdotool type --delay 300 w1aw; sleep 5
step "Alt+L"
xdotool key alt+l; sleep 4
step "Ctrl+N"
xdotool key ctrl+n; sleep 4
step "a name, mylog"
xdotool type --delay 300 mylog; sleep 4
step "end"
kill "$program" 2>/dev/null || true
sleep 1
[ -n "$orca_pid" ] && kill "$orca_pid" 2>/dev/null
kill "$(cat "$work/sd/pid")" 2>/dev/null || true
EOF
chmod +x "$work/desktop.sh"
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 >/dev/null 2>&1 &
xvfb=$!
sleep 2
DISPLAY=$display timeout 300 dbus-run-session -- "$work/desktop.sh" "$work" || true
kill "$xvfb" 2>/dev/null || true
cat "$work/spoken.txt"
