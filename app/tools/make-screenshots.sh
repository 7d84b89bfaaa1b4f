#!/bin/sh
# Pictures of the main dialog, the preview and the detail dialog for the
# README, in Japanese and in English, taken under Xvfb (no window manager,
# so the pictures show the windows' insides).
# Usage: app/tools/make-screenshots.sh [BUILD_DIR]
set -eu
build=${1:-build}
root=$(cd "$(dirname "$0")/../.." && pwd)
cmake --build "$build" --target pelo_screenshots
work=/tmp/pelo
rm -rf "$work"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/sprites"
# Sprites drawn without anti-aliasing: the stair steps the program smooths.
/usr/bin/convert -size 40x40 xc:none +antialias -fill '#d83020' -draw 'circle 20,22 20,6' \
    -fill '#f0c040' -draw 'polygon 8,10 20,2 32,10 20,14' "PNG32:$work/sprites/hero.png"
/usr/bin/convert -size 40x40 xc:none +antialias -fill '#30a050' -draw 'ellipse 20,26 16,11 0,360' \
    -fill '#ffffff' -draw 'circle 14,24 14,21' -draw 'circle 26,24 26,21' \
    "PNG32:$work/sprites/slime.png"
/usr/bin/convert -size 40x40 xc:none +antialias -fill '#a0a8c0' -draw 'polygon 6,34 30,6 34,10 10,36' \
    -fill '#805020' -draw 'polygon 4,30 12,38 8,40 2,34' "PNG32:$work/sprites/sword.png"
for language in ja_JP.UTF-8 en_US.UTF-8; do
    xvfb-run -a -s "-screen 0 1280x800x24" env LANG="$language" LANGUAGE= LC_ALL= \
        XDG_CONFIG_HOME="$work" "$build/bin/pelo_screenshots" "$work/sprites" \
        "$root/docs/screenshots"
done
ls -l "$root/docs/screenshots"
