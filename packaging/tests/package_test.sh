#!/usr/bin/env bash
# Builds the Debian package from a finished build, checks it with lintian, installs it into
# this machine with apt-get, runs what it installed (the command line on a camera file, the
# thumbnailer through its entry, the window under Xvfb) and removes it again.
# Usage: package_test.sh BUILD_DIR. Needs root (exit 77, skipped, without it).
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || { echo "installing a package needs root"; exit 77; }
if dpkg-query -W -f='${Status}' spherolux 2>/dev/null | grep -q "install ok installed"; then
  fail "a spherolux package is installed already; this test does not replace it"
fi

work=$(mktemp -d)
installed=0
cleanup() {
  [ "$installed" = 1 ] && apt-get remove -y spherolux >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/package/spherolux_*.deb)
[ "$(basename "$deb")" = "spherolux_$(sed -n 's/^project(spherolux VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")_$(dpkg --print-architecture).deb" ] ||
  fail "package name $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libqt6widgets6 libavcodec59 libvlc5 libmediainfo0v5; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
contents=$(dpkg-deb -c "$deb")
for file in usr/bin/spherolux usr/bin/spherolux-cli usr/bin/spherolux-thumbnailer usr/bin/libconvert.so \
  usr/share/thumbnailers/spherolux.thumbnailer usr/share/applications/spherolux.desktop \
  usr/share/metainfo/org.spherolux.spherolux.metainfo.xml usr/share/man/man1/spherolux-cli.1.gz \
  usr/share/bash-completion/completions/spherolux-cli usr/share/icons/hicolor/48x48/apps/spherolux.png; do
  grep -q " \./$file\$" <<<"$contents" || fail "the package lacks /$file"
done
appstreamcli validate --no-net "$source_dir/packaging/org.spherolux.spherolux.metainfo.xml" >/dev/null || fail "appstreamcli validate"
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log"; fail "lintian reports errors"; }

apt-get install -y "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install"; }
installed=1
version=$(/usr/bin/spherolux-cli --version)
[[ $version == "spherolux-cli "* ]] || fail "spherolux-cli --version: $version"
"$build/bin/spherolux-camgen" video "$work/clip.mp4" --type 2 --size 640x320 --seconds 1
probe=$(/usr/bin/spherolux-cli probe "$work/clip.mp4")
[[ $probe == *'"class":"dual-lens"'* ]] || fail "the installed spherolux-cli probe: $probe"
exec_line=$(sed -n 's/^Exec=//p' /usr/share/thumbnailers/spherolux.thumbnailer)
exec_line=${exec_line//%s/128}
exec_line=${exec_line//%i/"$work/clip.mp4"}
exec_line=${exec_line//%o/"$work/thumb.png"}
(cd / && env PATH=/usr/bin:/bin $exec_line) || fail "the installed thumbnailer: $exec_line"
[ "$(head -c 8 "$work/thumb.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "no PNG from the thumbnailer"

# The installed window shows itself under Xvfb with the clip open, and ends when asked.
HOME="$work" XDG_CONFIG_HOME="$work/config" "$source_dir/scripts/xvfb-run-test.sh" bash -c '
  /usr/bin/spherolux "$1" >"$2/window.log" 2>&1 &
  pid=$!
  for _ in $(seq 100); do
    if xdotool search --onlyvisible --pid "$pid" >/dev/null 2>&1; then kill "$pid"; wait "$pid" || true; exit 0; fi
    sleep 0.2
  done
  kill "$pid" 2>/dev/null; cat "$2/window.log"; exit 1' _ "$work/clip.mp4" "$work" || fail "the installed window did not show"

apt-get remove -y spherolux >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get remove"; }
installed=0
for file in /usr/bin/spherolux /usr/bin/spherolux-cli /usr/bin/libconvert.so /usr/share/thumbnailers/spherolux.thumbnailer; do
  [ ! -e "$file" ] || fail "$file is left after removal"
done
echo "package test passed: $(basename "$deb")"
