#!/bin/sh
# Pictures of the main and detail dialogs for the README, taken under Xvfb
# (no window manager, so the pictures show the windows' insides).
# Usage: app/tools/make-screenshots.sh [BUILD_DIR]
set -eu
build=${1:-build}
root=$(cd "$(dirname "$0")/../.." && pwd)
cmake --build "$build" --target pelo_screenshots
work=/tmp/pelo
rm -rf "$work"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/sprites"
for name in hero slime sword; do
    /usr/bin/convert -size 32x32 xc:none -fill '#d83020' -draw 'circle 16,16 16,5' \
        "PNG32:$work/sprites/$name.png"
done
xvfb-run -a -s "-screen 0 1024x768x24" sh -c "
    XDG_CONFIG_HOME='$work' '$build/bin/pelo_screenshots' '$work/sprites' '$root/docs/screenshots'
"
ls -l "$root/docs/screenshots"
