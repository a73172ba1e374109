# bash completion for keldo-crypto                        -*- shell-script -*-
#
# Commands, subcommands and options; file names where the command reads a
# file, environment variable names where it reads a variable, and nothing
# where it wants a value of the user's own (a subject, a count, a token).
# Self-contained: it needs only bash, not bash-completion's helpers.

# COMPREPLY: the file names that begin with $1.
_keldo_crypto_files()
{
    compopt -o filenames 2>/dev/null
    local IFS=$'\n'
    COMPREPLY=($(compgen -f -- "$1"))
}

# COMPREPLY: the words of the list $1 that begin with $2.
_keldo_crypto_words()
{
    local IFS=$' \t\n'
    COMPREPLY=($(compgen -W "$1" -- "$2"))
}

_keldo_crypto()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=""
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # "--wrap=76" arrives as "--wrap" "=" "76" (COMP_WORDBREAKS holds '=').
    if [[ $cur == "=" ]]; then
        cur=""
    elif [[ $prev == "=" ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi

    # The tool's grammar: COMMAND is the first word; jwt and password take
    # their subcommand as the second.
    local cmd="" sub=""
    ((COMP_CWORD > 1)) && cmd=${COMP_WORDS[1]}
    if [[ $cmd == jwt || $cmd == password ]] && ((COMP_CWORD > 2)); then
        sub=${COMP_WORDS[2]}
    fi

    # The value of an option that takes one.
    case $prev in
        --key-file | --secret-file | --password-file | --hash-file)
            _keldo_crypto_files "$cur"
            return
            ;;
        --key-env | --secret-env)
            local IFS=$'\n'
            COMPREPLY=($(compgen -v -- "$cur"))
            return
            ;;
        --sub | --email | --ttl | --iterations | --count | --wrap)
            COMPREPLY=()
            return
            ;;
        -n | -w)
            # -w is --wrap for base64 and base64url, --warn for sha256.
            if [[ $prev == -n || $cmd == base64 || $cmd == base64url ]]; then
                COMPREPLY=()
                return
            fi
            ;;
    esac

    if ((COMP_CWORD == 1)); then
        _keldo_crypto_words "sha256 hmac base64 base64url uuid password jwt --help --version" "$cur"
        return
    fi

    local help="-h --help"
    case $cmd in
        sha256)
            if [[ $cur == -* ]]; then
                _keldo_crypto_words "-b --binary -t --text --tag -c --check --ignore-missing
                    --quiet --status --strict -w --warn $help" "$cur"
            else
                _keldo_crypto_files "$cur"
            fi
            ;;
        hmac)
            if [[ $cur == -* ]]; then
                _keldo_crypto_words "--key-file --key-env --tag $help" "$cur"
            else
                _keldo_crypto_files "$cur"
            fi
            ;;
        base64 | base64url)
            if [[ $cur == -* ]]; then
                _keldo_crypto_words "-d --decode -i --ignore-garbage -w --wrap $help" "$cur"
            else
                _keldo_crypto_files "$cur"
            fi
            ;;
        uuid)
            _keldo_crypto_words "-n --count $help" "$cur"
            ;;
        password)
            case $sub in
                "") _keldo_crypto_words "hash verify $help" "$cur" ;;
                hash) _keldo_crypto_words "--iterations --password-file $help" "$cur" ;;
                verify)
                    # STORED is a hash text, not a file name.
                    _keldo_crypto_words "--hash-file --password-file -q --quiet $help" "$cur"
                    ;;
            esac
            ;;
        jwt)
            case $sub in
                "") _keldo_crypto_words "mint verify decode $help" "$cur" ;;
                mint) _keldo_crypto_words "--sub --email --ttl --secret-file --secret-env $help" "$cur" ;;
                verify)
                    # A token is read from standard input with '-'.
                    _keldo_crypto_words "--secret-file --secret-env - $help" "$cur"
                    ;;
                decode) _keldo_crypto_words "- $help" "$cur" ;;
            esac
            ;;
    esac
}
complete -F _keldo_crypto keldo-crypto
