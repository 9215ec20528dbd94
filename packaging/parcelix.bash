# bash completion for parcelix(1): commands, their options, and JAR files or
# directories for their arguments.

_parcelix_jars() {
    # JAR files and directories (to descend into), whatever the case of .jar.
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    COMPREPLY+=($(compgen -d -- "$cur"))
    COMPREPLY+=($(compgen -f -X '!*.[Jj][Aa][Rr]' -- "$cur"))
}

_parcelix() {
    local cur prev words cword
    _init_completion || return

    local commands="rename jad set unset edit fix check list test extract manifest create integrate sample"
    local common="-h --help -q --quiet -v --verbose"

    # The command is the first word that is not a global option.
    local i cmd="" cmdat=0
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            -q | --quiet | -v | --verbose) ;;
            *) cmd=${words[i]}; cmdat=$i; break ;;
        esac
    done

    if [[ -z $cmd ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--help --version --open -q --quiet -v --verbose" -- "$cur"))
        elif [[ $cur == /* && $cur != */*/* ]]; then
            COMPREPLY=($(compgen -W "/rename /jadgen" -- "$cur"))
            [[ ${#COMPREPLY[@]} -eq 0 ]] && _parcelix_jars
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi

    # Arguments after "--" are never options.
    local dashdash=0
    for ((i = cmdat + 1; i < cword; i++)); do
        [[ ${words[i]} == -- ]] && dashdash=1
    done

    local opts=""
    case $cmd in
        rename) opts="-r --recursive -j --jobs -n --dry-run --json --version --no-version --template --codepage --on-conflict" ;;
        jad) opts="-r --recursive -j --jobs -n --dry-run --json --update" ;;
        set) opts="--no-backup --no-rename --no-jad --break-signature --json" ;;
        unset | edit) opts="--no-backup --no-rename --no-jad --break-signature" ;;
        check) opts="-r --recursive -j --jobs --json --csv --fix --duplicates --trash-duplicates" ;;
        fix) opts="-r --recursive -j --jobs -n --dry-run --no-backup --salvage --deflate64-to-deflate --break-signature" ;;
        list | test) opts="--json" ;;
        create) opts="--store --level" ;;
    esac
    if [[ $dashdash -eq 0 && $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$opts $common" -- "$cur"))
        return
    fi
    if [[ $cmd == rename && $dashdash -eq 0 ]]; then
        case $prev in
            --codepage)
                COMPREPLY=($(compgen -W "auto UTF-8 windows-1251 KOI8-R GBK Big5 Shift_JIS windows-1250 windows-1252" -- "$cur"))
                return
                ;;
            --on-conflict)
                COMPREPLY=($(compgen -W "keep number" -- "$cur"))
                return
                ;;
            --template) return ;;
        esac
    fi

    case $cmd in
        /[Rr][Ee][Nn][Aa][Mm][Ee] | /[Jj][Aa][Dd][Gg][Ee][Nn])
            [[ $cword -eq $((cmdat + 1)) ]] && _parcelix_jars
            ;;
        --open | rename | jad | fix | check | list | test | manifest | set | unset | edit)
            _parcelix_jars
            ;;
        extract)
            # ARCHIVE DIR [MASK...]
            local nth=0
            for ((i = cmdat + 1; i < cword; i++)); do
                [[ ${words[i]} != -* || $dashdash -eq 1 ]] && ((nth++))
            done
            if [[ $nth -eq 0 ]]; then _parcelix_jars; elif [[ $nth -eq 1 ]]; then _filedir -d; fi
            ;;
        create)
            if [[ $prev == --level ]]; then
                COMPREPLY=($(compgen -W "1 6 9" -- "$cur"))
                return
            fi
            local nth=0
            for ((i = cmdat + 1; i < cword; i++)); do
                [[ ${words[i]} == --level ]] && { ((i++)); continue; }
                [[ ${words[i]} != -* || $dashdash -eq 1 ]] && ((nth++))
            done
            if [[ $nth -eq 0 ]]; then _parcelix_jars; else _filedir -d; fi
            ;;
        integrate)
            [[ $cword -eq $((cmdat + 1)) ]] && COMPREPLY=($(compgen -W "on off status" -- "$cur"))
            ;;
    esac
} && complete -F _parcelix parcelix
