# bash completion for tarnwhistle-cli                      -*- shell-script -*-
# Installed as tarnwhistle-cli in bash-completion's completions folder, which loads it
# the first time tarnwhistle-cli is completed.

# Whether the words (each followed by a space) hold one of the options (alternatives
# such as '-r|--recursive'), alone or as --option=VALUE.
_tarnwhistle_cli_given()
{
    [[ $1 =~ " "($2)[" ="] ]]
}

# Each option named (alternatives such as '-k|--keep-date') that was not given yet. It
# reads `used` and adds to `options`, both _tarnwhistle_cli's.
_tarnwhistle_cli_once()
{
    local option
    for option in "$@"; do
        _tarnwhistle_cli_given "$used" "$option" || options+=" ${option//|/ }"
    done
}

# The options of a walk: -r, the names it reads, the rules it follows, and what it takes
# and leaves out (these two as often as wanted).
_tarnwhistle_cli_walk()
{
    _tarnwhistle_cli_once '-r|--recursive' '--files-from' '--null' '--editorconfig'
    options+=" --include --exclude"
}

_tarnwhistle_cli()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        -t | --to | -f | --from)
            # The kinds are read whatever their case; they are offered in lower case.
            COMPREPLY=($(compgen -W 'dos unix mac crlf lf cr' -- "${cur,,}"))
            return
            ;;
        -o | --output-folder)
            _filedir -d
            return
            ;;
        --include | --exclude)
            return # a pattern such as '*.txt': nothing to offer
            ;;
        --files-from)
            _filedir
            return
            ;;
        --format)
            COMPREPLY=($(compgen -W 'text json' -- "$cur"))
            return
            ;;
    esac
    $split && return

    # The subcommand is the first word that is not an option; after "--" every word is
    # a name, whatever it begins with.
    local i command="" used=" " names_only=false
    for ((i = 1; i < cword; i++)); do
        if [[ -z $command ]]; then
            [[ ${words[i]} == -* ]] || command=${words[i]}
        elif [[ ${words[i]} == -- ]]; then
            names_only=true
        elif ! $names_only; then
            used+="${words[i]} "
        fi
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '--help -h --version -V' -- "$cur"))
        else
            COMPREPLY=($(compgen -W 'detect info convert check' -- "$cur"))
        fi
        return
    fi

    if $names_only || [[ $cur != -* ]]; then
        case $command in
            detect | info | convert | check) _filedir ;;
        esac
        return
    fi

    local options=""
    case $command in
        detect | info)
            _tarnwhistle_cli_given "$used" '--null|-z' || options="--null -z"
            ;;
        check)
            _tarnwhistle_cli_given "$used" '-t|--to|--editorconfig' || options+=" --to -t"
            _tarnwhistle_cli_walk
            _tarnwhistle_cli_once '--format' '-v|--verbose'
            ;;
        convert)
            # convert SRC OUT takes --from; a batch (-o DIR or --in-place) takes -r,
            # --include and --dry-run. -o and --in-place exclude each other.
            local bulk=false pair=false
            _tarnwhistle_cli_given "$used" '-f|--from' && pair=true
            _tarnwhistle_cli_given "$used" \
                '-o|--output-folder|--in-place|-r|--recursive|--include|--exclude|--dry-run|--files-from|--null|--editorconfig' &&
                bulk=true
            _tarnwhistle_cli_given "$used" '-t|--to|--editorconfig' || options+=" --to -t"
            $bulk || $pair || options+=" --from -f"
            if ! $pair; then
                _tarnwhistle_cli_given "$used" '-o|--output-folder|--in-place' ||
                    options+=" --output-folder -o --in-place"
                _tarnwhistle_cli_given "$used" '--dry-run' || options+=" --dry-run"
                _tarnwhistle_cli_walk
            fi
            _tarnwhistle_cli_once '-k|--keep-date' '-q|--quiet'
            ;;
    esac
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
} &&
    complete -F _tarnwhistle_cli tarnwhistle-cli

# ex: filetype=sh
