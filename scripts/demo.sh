#!/usr/bin/env bash
# The kit in one run: builds, then drives kal_drv.dll with kalsay under Wine,
# beside the simulated engine: lists the voices, speaks three texts with marks,
# interrupts one, and shows the events and the driver's protocol (DEBUG 4).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
# Only what the demo runs: the tests are built by scripts/test.sh.
BUILD_DIR=$build bash "$root/scripts/build.sh" kal_drv simengine kalsay >/dev/null
source "$root/scripts/wine-prefix.sh" "$build/wineprefix"

# A host's program folder: the driver, the engine beside it, and the sample
# profile as kal.ini (it names two voices: Anna, 0049, and Daniel, 0044).
demo=$build/kit-demo
rm -rf "$demo"
mkdir -p "$demo"
cp "$build/driver/kal_drv.dll" "$build/simengine/nalvoapi.dll" "$build/simengine/simengine.ini" \
   "$build/kalsay/kalsay.exe" "$demo/"
cp "$root/kal.ini.sample" "$demo/kal.ini"

kalsay() { "$root/scripts/wine-run" "$WINEPREFIX" "$demo/kalsay.exe" "$@" | tr -d '\r'; }
step() { printf '\n=== %s\n$ kalsay %s\n' "$1" "$2"; }

step "The voices: display name, language code, identifier, gender" "--list"
kalsay --list

step "Three texts with the marks 1, 2, 3, queued at once. An end event carries the
    mark of the next text when the driver has already started it" \
     "--voice Anna --rate 25 \"Der erste Text.\" \"Der zweite Text.\" \"Der dritte Text.\""
kalsay --voice Anna --rate 25 "Der erste Text." "Der zweite Text." "Der dritte Text."

input='Ein langer Text, den gleich ein Stopp unterbricht.
Dieser Text wartet und wird mit verworfen.
/stop
After the stop, speaking goes on.
/wait
/quit'
step "Typed lines at a slow rate: /stop cuts the first text and drops the waiting one
    (no end event for either); then the protocol of this run" \
     "--language en --rate 5 --debug 4 --show-protocol  < lines"
printf '%s\n' "$input" | kalsay --language en --rate 5 --debug 4 --show-protocol
