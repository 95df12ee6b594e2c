# bash completion for tarnix, tarnix-service and tarnix-ports                         -*- shell-script -*-
# Installed once per command name (bash-completion loads completions/<command> on demand).

# The serial ports a user is likely to mean: the stable by-id names first, then the devices.
_tarnix_ports() {
    local port
    for port in /dev/serial/by-id/* /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
        [ -e "$port" ] && printf '%s\n' "$port"
    done
}

# Completes the current word from the given lines; leaves COMPREPLY alone when nothing fits.
_tarnix_offer() {
    local cur=$1 candidate
    shift
    while IFS= read -r candidate; do
        [ -n "$candidate" ] && [[ $candidate == "$cur"* ]] && COMPREPLY+=("$candidate")
    done <<<"$(printf '%s\n' "$@")"
}

# tarnix [ModNr] [filename] [ProgMode] [ComNr]
_tarnix() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    case $COMP_CWORD in
        1)
            if [[ $cur == -* ]]; then
                _tarnix_offer "$cur" --help --version
            else
                _tarnix_offer "$cur" 0x89
            fi
            ;;
        2)
            local IFS=$'\n'
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -X '!*.upd' -- "$cur") $(compgen -d -- "$cur"))
            ;;
        3) _tarnix_offer "$cur" 0 1 ;;
        4) _tarnix_offer "$cur" 1 2 3 4 5 6 7 8 $(_tarnix_ports) ;;
    esac
}

_tarnix_service_operations="info flash status param result download pause"

# tarnix-service PORT OPERATION [ARG] [OPERATION [ARG]]...
_tarnix_service() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    if [ "$COMP_CWORD" -eq 1 ]; then
        if [[ $cur == -* ]]; then
            _tarnix_offer "$cur" --help --version
        else
            _tarnix_offer "$cur" 1 2 3 4 5 6 7 8 $(_tarnix_ports)
        fi
        return
    fi
    case $prev in
        download)
            local IFS=$'\n'
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            ;;
        param | pause) ;;
        *) _tarnix_offer "$cur" $_tarnix_service_operations ;;
    esac
}

# tarnix-ports [--json] [--help] [--version]
_tarnix_ports_program() {
    COMPREPLY=()
    _tarnix_offer "${COMP_WORDS[COMP_CWORD]}" --json --help --version
}

complete -F _tarnix tarnix
complete -F _tarnix_service tarnix-service
complete -F _tarnix_ports_program tarnix-ports
