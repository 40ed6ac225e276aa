# Sourced: starts the build tree's private Wine prefix once, and stops its server on exit.
# wine-prefix.sh PREFIX [ARCH]: ARCH win32 (the default) or win64 (the bridge's tests).
# Starting the server and its services up front keeps them from inheriting a test's
# output pipe (a reader would otherwise wait for ever) and makes each test start fast.
export WINEPREFIX="$1" WINEDEBUG=-all WINEARCH="${2:-win32}"
mkdir -p "$WINEPREFIX"
stop_wine() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT
# A server already running for this prefix (a test run left open) is used as it is.
wineserver -p 2>/dev/null || true
if [ ! -f "$WINEPREFIX/system.reg" ]; then echo "wine: creating the prefix $WINEPREFIX (once per build tree, about half a minute)"; fi
wineboot -i </dev/null >/dev/null 2>&1 || true
