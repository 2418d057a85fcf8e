# bash completion for tarnwhistle-cli                      -*- shell-script -*-
# Installed as tarnwhistle-cli in bash-completion's completions folder, which loads it
# the first time tarnwhistle-cli is completed.

# Whether the words (each followed by a space) hold one of the options (alternatives
# such as '-r|--recursive'), alone or as --option=VALUE.
_tarnwhistle_cli_given()
{
    [[ $1 =~ " "($2)[" ="] ]]
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
        convert)
            # convert SRC OUT takes --from; a batch (-o DIR or --in-place) takes -r,
            # --include and --dry-run. -o and --in-place exclude each other.
            local bulk=false pair=false
            _tarnwhistle_cli_given "$used" '-f|--from' && pair=true
            _tarnwhistle_cli_given "$used" \
                '-o|--output-folder|--in-place|-r|--recursive|--include|--dry-run' && bulk=true
            _tarnwhistle_cli_given "$used" '-t|--to|--editorconfig' || options+=" --to -t"
            $bulk || $pair || options+=" --from -f"
            $pair || _tarnwhistle_cli_given "$used" '-t|--to|--editorconfig' || options+=" --editorconfig"
            if ! $pair; then
                _tarnwhistle_cli_given "$used" '-o|--output-folder|--in-place' ||
                    options+=" --output-folder -o --in-place"
                _tarnwhistle_cli_given "$used" '-r|--recursive' || options+=" --recursive -r"
                _tarnwhistle_cli_given "$used" '--dry-run' || options+=" --dry-run"
                _tarnwhistle_cli_given "$used" '--files-from' || options+=" --files-from"
                options+=" --include --exclude"
            fi
            ;;
        check)
            _tarnwhistle_cli_given "$used" '-t|--to|--editorconfig' || options+=" --to -t --editorconfig"
            _tarnwhistle_cli_given "$used" '-r|--recursive' || options+=" --recursive -r"
            _tarnwhistle_cli_given "$used" '-v|--verbose' || options+=" --verbose -v"
            _tarnwhistle_cli_given "$used" '--format' || options+=" --format"
            _tarnwhistle_cli_given "$used" '--files-from' || options+=" --files-from"
            _tarnwhistle_cli_given "$used" '--null|-z' || options+=" --null"
            options+=" --include --exclude"
            ;;
    esac
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
} &&
    complete -F _tarnwhistle_cli tarnwhistle-cli

# ex: filetype=sh
