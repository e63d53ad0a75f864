#!/usr/bin/env bash
# Installs what is missing, builds Pellimar and starts it in its working folder
# (default ~/Pellimar, or $PELLIMAR_HOME), which gets temp/ and faxes/.
# Arguments are passed on to the program (for example --fetch or --list).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/tools/setup.sh"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLIMAR_TESTS=OFF >/dev/null
cmake --build "$here/build"

work=${PELLIMAR_HOME:-$HOME/Pellimar}
mkdir -p "$work/temp" "$work/faxes"
echo "Pellimar working folder: $work"
cd "$work"

headless=0
for arg in "$@"; do
  case "$arg" in --fetch|--list|--export) headless=1 ;; esac
done
if [ $headless -eq 0 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting Pellimar on a virtual X display (Xvfb)."
  exec xvfb-run -a "$here/build/app/pellimar" "$@"
fi
exec "$here/build/app/pellimar" "$@"
