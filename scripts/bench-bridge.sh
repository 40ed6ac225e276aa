#!/usr/bin/env bash
# The bridge's and the isolated mode's figures beside the in-process ones,
# under a win64 Wine prefix: an idle export's round trip, kal_Synth's
# hand-over, a text's time to its begin event, the latency the bridge adds to
# an event, and the time from an engine's crash to the next text's begin event
# (CRASHES of them, default 5). Prints one line per figure.
source "$(dirname "$0")/lib.sh"
kal_setup
kal_build bridge_bench32 >/dev/null
kal_build64 kal_drv64 bridge_bench >/dev/null

# One folder as a host's: driver, helper, bridge, engine and both bench programs.
bench=$build64/bench-bridge
kal_host_folder "$bench" 64
cp "$build/bridge/bridge_bench32.exe" "$build64/bridge/bridge_bench.exe" "$bench/"
# The engine aborts on "BOOM", which only the crash rounds speak.
printf '[Engines]\r\nCount=1\r\nName0=SimEngine\r\n[Languages]\r\nCount=1\r\nName0=Deutsch\r\n[Voices.Deutsch]\r\nCount=1\r\nName0=Anna\r\n[Script]\r\nSync=0\r\nMsPerChar=2\r\nFault=abort\r\nFaultText=BOOM\r\n' >"$bench/simengine.ini"
printf '[Default]\r\nDEBUG=0\r\n[Nalvo Deutsch Anna]\r\nName=Anna\r\nLang=49\r\nCodePage=1252\r\n' >"$bench/kal.ini"
# The same folder with kal_drv.dll in isolated mode, for a 32-bit host.
isolated=$build64/bench-isolated
rm -rf "$isolated"
cp -r "$bench" "$isolated"
printf '[Default]\r\nDEBUG=0\r\nIsolation=1\r\n[Nalvo Deutsch Anna]\r\nName=Anna\r\nLang=49\r\nCodePage=1252\r\n' >"$isolated/kal.ini"
crashes=${CRASHES:-5}

source "$root/scripts/wine-prefix.sh" "$build64/wineprefix" win64
echo "Wine $(wine --version 2>/dev/null || true), $(nproc) cores; figures in microseconds"
"$root/scripts/wine-run64" "$WINEPREFIX" "$bench/bridge_bench32.exe" in-process | tr -d '\r'
"$root/scripts/wine-run64" "$WINEPREFIX" "$isolated/bridge_bench32.exe" isolated "$crashes" | tr -d '\r'
"$root/scripts/wine-run64" "$WINEPREFIX" "$bench/bridge_bench.exe" bridge "$crashes" | tr -d '\r'
