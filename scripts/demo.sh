#!/usr/bin/env bash
# The kit in one run: builds, then drives kal_drv.dll with kalsay under Wine,
# beside the simulated engine: lists the voices, speaks three texts with marks,
# interrupts one, and shows the events and the driver's protocol (DEBUG 4);
# then a 64-bit kalsay speaks through the bridge, kal_drv64.dll.
source "$(dirname "$0")/lib.sh"
kal_setup
# Only what the demo runs: the tests are built by scripts/test.sh.
kal_build kal_drv simengine kalsay >/dev/null
source "$root/scripts/wine-prefix.sh" "$build/wineprefix"

# A host's program folder: the driver, the engine beside it, and the sample
# profile as kal.ini (it names two voices: Anna, 0049, and Daniel, 0044).
demo=$build/kit-demo
kal_host_folder "$demo"
cp "$build/simengine/simengine.ini" "$build/kalsay/kalsay.exe" "$demo/"
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

# A 64-bit host: the 64-bit kalsay loads kal_drv64.dll, which runs the same
# kal_drv.dll in kal_host32.exe beside it. Same folder layout plus the two files.
kal_build64 kal_drv64 kalsay >/dev/null
stop_wine  # the 32-bit prefix's server; the 64-bit prefix gets its own
source "$root/scripts/wine-prefix.sh" "$build64/wineprefix" win64
demo64=$build64/kit-demo64
kal_host_folder "$demo64" 64
cp "$build/simengine/simengine.ini" "$build64/kalsay/kalsay.exe" "$demo64/"
cp "$root/kal.ini.sample" "$demo64/kal.ini"
kalsay64() { "$root/scripts/wine-run64" "$WINEPREFIX" "$demo64/kalsay.exe" "$@" | tr -d '\r'; }

step "A 64-bit kalsay through kal_drv64.dll: the same voices, texts and events,
    the driver running in the 32-bit helper kal_host32.exe" \
     "--list --voice Anna --rate 25 \"Der erste Text.\" \"Der zweite Text.\" \"Der dritte Text.\"   (64-bit)"
kalsay64 --list --voice Anna --rate 25 "Der erste Text." "Der zweite Text." "Der dritte Text."
if command -v file >/dev/null; then
  file "$demo64/kalsay.exe" "$demo64/kal_drv64.dll" "$demo64/kal_host32.exe" "$demo64/kal_drv.dll" | sed "s|$demo64/||"
fi
