# bash completion for pelo-batch: options, the words of the result options,
# the formats the program itself lists, files and folders.

_pelo_batch_formats() {
    # "input: *.BMP *.ERI ..." -> "bmp BMP eri ERI ..."
    "$1" --list-formats 2>/dev/null | while read -r side patterns; do
        [ "$side" = "$2:" ] || continue
        for pattern in $patterns; do
            ext=${pattern#\*.}
            printf '%s %s ' "${ext,,}" "$ext"
        done
    done
}

_pelo_batch() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local program=${COMP_WORDS[0]} words=
    COMPREPLY=()
    case $prev in
    --from) words=$(_pelo_batch_formats "$program" input) ;;
    --to) words=$(_pelo_batch_formats "$program" output) ;;
    --alpha-pass) words="auto on off" ;;
    --colour-pass) words="on off" ;;
    --hidden-colour) words="keep clear" ;;
    --preset) words="seed pixel-art painted" ;;
    --png-type) words="smallest rgba" ;;
    --files-from | --report | --settings)
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
        ;;
    -F | --threshold | --gamma | --red-lift | --red-threshold | --purple-lift | \
        --purple-threshold | --hue-influence | --hue-threshold | -j | --jobs | --shard | \
        --max-pixels | --max-memory | --quality | --background)
        return
        ;;
    esac
    if [ -n "$words" ]; then
        mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
        return
    fi
    if [[ $cur == -* ]]; then
        words=$("$program" --help 2>/dev/null | sed -n 's/^  \(-[^ ]*\).*/\1/p' | tr ',' ' ')
        mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
        return
    fi
    # INPUT and OUTPUT: files and folders.
    compopt -o filenames 2>/dev/null || true
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}

complete -F _pelo_batch pelo-batch
