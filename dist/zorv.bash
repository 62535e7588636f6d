# bash completion for zorv: its options, and .zorv list files where a list
# is expected (any file for --import's files, folders for --dest).
_zorv()
{
    local cur prev words cword
    _init_completion || return

    case $prev in
        --dest)
            _filedir -d
            return
            ;;
        --existing)
            COMPREPLY=($(compgen -W 'rename replace skip' -- "$cur"))
            return
            ;;
        --cacert)
            _filedir '@(pem|crt|cer)'
            return
            ;;
        --url | --referer | --name | --level | --connections | --max-segments | --limit-rate | --max-per-server)
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--list --add --import --reset --remove --edit --fetch
            --url --referer --dest --name --level --yes --connections --max-segments --limit-rate --max-per-server
            --existing --cacert --native-messaging --help --version' -- "$cur"))
        return
    fi

    # The list is the first argument that is not an option or an option's value;
    # the files --import reads come after it.
    local i command= list_seen=
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --url | --referer | --dest | --name | --level | --connections | --max-segments | --limit-rate | --max-per-server \
                | --existing | --cacert) ((i++)) ;;
            --*) [[ -z $command ]] && command=${words[i]} ;;
            *) list_seen=1 ;;
        esac
    done
    if [[ $command == --import && -n $list_seen ]]; then
        _filedir
    elif [[ -z $list_seen ]]; then
        _filedir zorv
    fi
}
complete -F _zorv zorv
