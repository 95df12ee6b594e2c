# bash completion for tarnix, tarnix-service, tarnix-check, tarnix-fleet, tarnix-module,
# tarnix-ports and tarnix-station                                                            -*- shell-script -*-
# Installed once per command name (bash-completion loads completions/<command> on demand); each
# copy registers every command.

# The serial ports a user is likely to mean: the stable by-id names first, then the devices.
_tarnix_port_names() {
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
        4) _tarnix_offer "$cur" 1 2 3 4 5 6 7 8 $(_tarnix_port_names) ;;
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
            _tarnix_offer "$cur" 1 2 3 4 5 6 7 8 $(_tarnix_port_names)
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

# Completes file names (with the directories on the way), only *.upd when asked.
_tarnix_files() {
    local cur=$1 pattern=${2:-}
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    if [ -n "$pattern" ]; then
        COMPREPLY+=($(compgen -f -X "!$pattern" -- "$cur") $(compgen -d -- "$cur"))
    else
        COMPREPLY+=($(compgen -f -- "$cur"))
    fi
}

# tarnix-check [--mode 0|1] [--latency MS] [--host-time MS] [--json] FILE...
_tarnix_check() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    case $prev in
        --mode) _tarnix_offer "$cur" 0 1; return ;;
        --latency | --host-time) return ;;
    esac
    if [[ $cur == -* ]]; then
        _tarnix_offer "$cur" --mode --latency --host-time --json --help --version
    elif [[ " ${COMP_WORDS[*]:1:COMP_CWORD-1} " == *" --mode 1 "* ]]; then
        _tarnix_files "$cur" # line mode: any text file
    else
        _tarnix_files "$cur" '*.upd'
    fi
}

# tarnix-fleet [--modnr 0xNN] [--mode 0|1] [--log-dir DIR] [--json FILE] [--no-check] FILE PORT...
_tarnix_fleet() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    case $prev in
        --modnr) _tarnix_offer "$cur" 0x89; return ;;
        --mode) _tarnix_offer "$cur" 0 1; return ;;
        --log-dir)
            local IFS=$'\n'
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -d -- "$cur"))
            return
            ;;
        --json) _tarnix_files "$cur"; return ;;
    esac
    if [[ $cur == -* ]]; then
        _tarnix_offer "$cur" --modnr --mode --log-dir --json --no-check --help --version
        return
    fi
    # The words before this one that are neither options nor their values: FILE, then ports.
    local i operands=0 line_mode=0
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            --modnr | --log-dir | --json) ((i++)) ;;
            --mode) [ "${COMP_WORDS[i + 1]}" = 1 ] && line_mode=1; ((i++)) ;;
            -*) ;;
            *) ((operands++)) ;;
        esac
    done
    if [ "$operands" -eq 0 ]; then
        if [ "$line_mode" = 1 ]; then _tarnix_files "$cur"; else _tarnix_files "$cur" '*.upd'; fi
    else
        _tarnix_offer "$cur" 1 2 3 4 5 6 7 8 $(_tarnix_port_names)
    fi
}

_tarnix_module_commands="start data program end param timestamp header block velox flash status"

# tarnix-module [OPTION]...
_tarnix_module() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    case $prev in
        --device) _tarnix_offer "$cur" $(_tarnix_port_names); return ;;
        --image-out) _tarnix_files "$cur"; return ;;
        --expect) _tarnix_files "$cur" '*.upd'; return ;;
        --reject | --silent | --extra | --late)
            # CMD:N...: the command name and its colon, the rest is typed.
            compopt -o nospace 2>/dev/null
            local command
            for command in $_tarnix_module_commands; do
                _tarnix_offer "$cur" "$command:"
            done
            return
            ;;
        --info-fault)
            compopt -o nospace 2>/dev/null
            _tarnix_offer "$cur" velox: flash:
            return
            ;;
        --before-start | --baud | --reply-latency | --spin-us | --text-velox | --text-flash | \
            --status)
            return
            ;;
    esac
    _tarnix_offer "$cur" --device --reject --silent --extra --late --before-start --baud \
        --reply-latency --spin-us --text-velox --text-flash --info-fault --status \
        --no-record-check --image-out --expect --help --version
}

# tarnix-ports [--json]
_tarnix_ports() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    _tarnix_offer "$cur" --json --help --version
}

# tarnix-station [--modnr 0xNN] [--mode 0|1] [--journal FILE] [--log-dir DIR]
#                [--serve HOST:PORT] [--units N] [--no-check] FILE SLOT...
_tarnix_station() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    case $prev in
        --modnr) _tarnix_offer "$cur" 0x89; return ;;
        --mode) _tarnix_offer "$cur" 0 1; return ;;
        --journal) _tarnix_files "$cur"; return ;;
        --log-dir)
            local IFS=$'\n'
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -d -- "$cur"))
            return
            ;;
        --serve) _tarnix_offer "$cur" 127.0.0.1:8080; return ;;
        --units) return ;;
    esac
    if [[ $cur == -* ]]; then
        _tarnix_offer "$cur" --modnr --mode --journal --log-dir --serve --units --no-check \
            --help --version
        return
    fi
    # The words before this one that are neither options nor their values: FILE, then slots.
    local i operands=0 line_mode=0
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            --modnr | --journal | --log-dir | --serve | --units) ((i++)) ;;
            --mode) [ "${COMP_WORDS[i + 1]}" = 1 ] && line_mode=1; ((i++)) ;;
            -*) ;;
            *) ((operands++)) ;;
        esac
    done
    if [ "$operands" -eq 0 ]; then
        if [ "$line_mode" = 1 ]; then _tarnix_files "$cur"; else _tarnix_files "$cur" '*.upd'; fi
    else
        _tarnix_offer "$cur" '/dev/serial/by-id/*' 'usb:*' $(_tarnix_port_names)
    fi
}

complete -F _tarnix tarnix
complete -F _tarnix_service tarnix-service
complete -F _tarnix_check tarnix-check
complete -F _tarnix_fleet tarnix-fleet
complete -F _tarnix_module tarnix-module
complete -F _tarnix_ports tarnix-ports
complete -F _tarnix_station tarnix-station
