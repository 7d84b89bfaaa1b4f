#!/usr/bin/env bash
# completion-test.sh COMPLETION PROGRAM: the bash completion of pelo-batch
# offers the program's own options, formats and words, and folders.
set -euo pipefail
source "$1"
program=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/sprites"
cd "$scratch"

offers() { # offers WORD... -- EXPECTED...: the completion of the last word holds each EXPECTED
    local words=() expected
    while [ "$1" != -- ]; do
        words+=("$1")
        shift
    done
    shift
    COMP_WORDS=("$program" "${words[@]}")
    COMP_CWORD=${#words[@]}
    COMPREPLY=()
    _pelo_batch
    for expected in "$@"; do
        case " ${COMPREPLY[*]-} " in
        *" $expected "*) ;;
        *)
            echo "completing '${words[*]}': no '$expected' in '${COMPREPLY[*]-}'" >&2
            exit 1
            ;;
        esac
    done
}

offers --to "" -- tga TGA png PNG psd
offers --from e -- eri
offers --pre -- --preset
offers --files -- --files-from
offers --preset p -- pixel-art painted
offers --alpha-pass "" -- auto on off
offers --png-type "" -- smallest rgba
offers --from png --to tga spr -- sprites
# --to offers the output formats only (SVG is read, never written).
COMP_WORDS=("$program" --to s)
COMP_CWORD=2
_pelo_batch
[ -z "${COMPREPLY[*]-}" ] || {
    echo "--to offers ${COMPREPLY[*]}" >&2
    exit 1
}
