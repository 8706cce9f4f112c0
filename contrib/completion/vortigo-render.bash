# Bash completion for vortigo-render. The options come from the program's own
# --help, so the completion never falls behind it.
_vortigo_render() {
    local cur prev words cword
    _init_completion -s 2>/dev/null || {
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD - 1]}
    }
    case $prev in
        --out | --sound | --flight)
            _filedir 2>/dev/null || mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return
            ;;
        --replay)
            mapfile -t COMPREPLY < <(compgen -W 'step time none' -- "$cur")
            return
            ;;
        --depth)
            mapfile -t COMPREPLY < <(compgen -W '8 16' -- "$cur")
            return
            ;;
        --codec)
            local codecs
            codecs=$("$1" --codec help 2>/dev/null | awk '/^ *[a-z0-9]+( |$)/ {print $1}')
            mapfile -t COMPREPLY < <(compgen -W "${codecs:-raw mjpeg ffv1 mpeg4 h264} help" -- "$cur")
            return
            ;;
        --size | --frames | --from | --to | --fps | --quality | --max-frames)
            return
            ;;
    esac
    if [[ $cur == -* ]]; then
        local options
        options=$("$1" --help 2>/dev/null | grep -oE '(^|[ ,])--?[a-zA-Z][a-zA-Z0-9-]*' | tr -d ' ,' | sort -u)
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return
    fi
    _filedir vort 2>/dev/null || mapfile -t COMPREPLY < <(compgen -f -X '!*.[vV][oO][rR][tT]' -- "$cur")
}
complete -F _vortigo_render vortigo-render
