#!/usr/bin/env bash
# Runs one GL or GUI program (a test, a benchmark, spherolux-view) under its own Xvfb server
# with Mesa's software rasteriser.
# Usage: xvfb-run-test.sh PROGRAM [ARGS...]
set -euo pipefail
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
chmod 700 "$runtime"
# GLX unless the caller asks for another integration (GLEW on Debian initialises only on GLX).
export LANG=C.UTF-8 QT_QPA_PLATFORM=xcb QT_XCB_GL_INTEGRATION="${QT_XCB_GL_INTEGRATION:-xcb_glx}" LIBGL_ALWAYS_SOFTWARE=1
export XDG_RUNTIME_DIR="$runtime"
# -a takes the first free display from -n on; a random start keeps test programs that CTest
# starts at the same moment from racing for the same display number.
xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1280x800x24 -nolisten tcp" "$@"
