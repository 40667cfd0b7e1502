# bash completion for reelshift-cli. The options and the formats come from the program itself
# (--list-options, --list-formats), so they are those of the installed version and edition.

_reelshift_cli_formats() {
    local edition="" i
    for ((i = 1; i < ${#words[@]}; i++)); do
        case ${words[i]} in
            --edition) edition=${words[i + 1]} ;;
            --edition=*) edition=${words[i]#--edition=} ;;
        esac
    done
    local list
    list=$("$1" --list-formats ${edition:+--edition "$edition"} 2>/dev/null) || return
    local -a codes names
    local code category name ext
    while IFS=$'\t' read -r code category name ext; do
        codes+=("$code")
        # The name without the file pattern after it, as --format takes it.
        name=${name% (\*.*)}
        name=${name%(\*.*)}
        names+=("$name")
    done <<<"$list"
    local IFS=$'\n'
    COMPREPLY=($(compgen -W "${codes[*]}" -- "$cur"))
    # Names have blanks: matched as typed without their quoting, offered quoted.
    local typed=${cur//\\/} quoted=""
    [[ $cur == [\"\']* ]] && quoted=${cur:0:1} typed=${typed:1}
    for name in "${names[@]}"; do
        [[ $name == "$typed"* ]] || continue
        if [[ $quoted ]]; then
            COMPREPLY+=("$name")  # inside quotes the shell takes the name as it is
        else
            COMPREPLY+=("$(printf '%q' "$name")")
        fi
    done
    __ltrim_colon_completions "$cur"
}

_reelshift_cli() {
    local cur prev words cword split
    _init_completion -s || return

    # After "--" only files follow.
    local i
    for ((i = 1; i < cword; i++)); do
        [[ ${words[i]} == -- ]] && { _filedir; return; }
    done

    local options
    options=$("$1" --list-options 2>/dev/null) || return

    # The value of an option that takes one.
    if [[ $prev == -* ]] && grep -qxF -- "$prev=" <<<"$options"; then
        case $prev in
            --format) _reelshift_cli_formats "$1" ;;
            --edition) COMPREPLY=($(compgen -W "mp4avi video" -- "$cur")) ;;
            --zoom) COMPREPLY=($(compgen -W "full lbox pan center" -- "$cur")) ;;
            --image-style) COMPREPLY=($(compgen -W "1 2" -- "$cur")) ;;
            --output-dir) _filedir -d ;;
            --image) _filedir bmp ;;
            --settings) _filedir ini ;;
            -o) _filedir ;;
            *) ;;  # a number, a time, a text: nothing to offer
        esac
        return
    fi
    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(sed 's/=$//' <<<"$options")" -- "$cur"))
        return
    fi
    _filedir
}
complete -F _reelshift_cli reelshift-cli
