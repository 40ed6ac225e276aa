#!/usr/bin/env bash
# The kit in one run: builds, then drives kal_drv.dll with kalsay under Wine,
# beside the simulated engine: lists the voices, speaks three texts with marks,
# interrupts one, and shows the events and the driver's protocol (DEBUG 4);
# then a 64-bit kalsay speaks through the bridge, kal_drv64.dll; last the
# native driver speaks through eSpeak NG into a WAV file (and to a PulseAudio
# server where one answers), with its length and level.
source "$(dirname "$0")/lib.sh"
kal_setup
# Only what the demo runs: the tests are built by scripts/test.sh. Ninja's
# lines show the build going on (about 2 min on a fresh clone).
echo "demo: building kal_drv.dll, the simulated engine and kalsay.exe (32-bit)"
kal_build kal_drv simengine kalsay
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
echo
echo "demo: building kal_drv64.dll and the 64-bit kalsay.exe"
kal_build64 kal_drv64 kalsay
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

# The driver as a native product on this Linux machine, speaking through the
# eSpeak NG engine (espeakengine/): libkal_drv.so, nalvoapi.so, kalsay, kal.ini
# and espeakengine.ini side by side, as in a host's program folder. The speech
# goes into a WAV file, measured with sox; where a PulseAudio server answers,
# it is played there too.
product=${NATIVE_PRODUCT_DIR:-$root/build-native/release}
echo
echo "demo: building the native product (libkal_drv.so, the eSpeak NG engine, kalsay)"
NATIVE_PRODUCT_DIR=$product bash "$root/scripts/build-native.sh"
native=$product/product
rm -f "$native/espeak.wav" "$native/kal.pro"
step "The native kalsay speaks through eSpeak NG into a WAV file (output=wav in
    espeakengine.ini)" \
     "--voice Deutsch \"Guten Tag.\" \"Hier spricht ...\", then --voice \"English f2\" --rate 60 \"And now ...\" (native)"
"$native/kalsay" --voice Deutsch "Guten Tag." "Hier spricht der Treiber durch eSpeak NG, auf Linux."
"$native/kalsay" --voice "English f2" --rate 60 "And now in English, a little faster."
wav=$native/espeak.wav
seconds=$(soxi -D "$wav")
rms=$(sox "$wav" -n stat 2>&1 | sed -n 's/^RMS *amplitude: *//p')
peak=$(sox "$wav" -n stat 2>&1 | sed -n 's/^Maximum amplitude: *//p')
printf 'speech: %s, %.2f s, RMS level %s, peak %s (full scale 1.0)\n' "$wav" "$seconds" "$rms" "$peak"
# A live server: the user's session, or PULSE_SERVER; pactl answers only when one runs.
if command -v pactl >/dev/null && timeout 5 pactl info >/dev/null 2>&1; then
  step "A PulseAudio server answers: the same texts, played live (output=pulse)" "--voice Deutsch ... (KAL_ESPEAK_OUTPUT=pulse)"
  KAL_ESPEAK_OUTPUT=pulse "$native/kalsay" --voice Deutsch "Guten Tag." "Hier spricht der Treiber durch eSpeak NG, auf Linux." || true
else
  echo "no PulseAudio server answers here: the WAV file is the demo's speech (play it with: play $wav)"
fi
