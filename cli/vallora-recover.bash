# bash completion for vallora-recover                      -*- shell-script -*-
# Installed as bash-completion/completions/vallora-recover; needs nothing
# from the bash-completion package.

_vallora_recover() {
    local options="--fs --sector-size --force-output --thorough --keep-partial --no-report --no-dates --resume -q --quiet -h --help --version"
    local fs_values="auto raw fat fat32 exfat ntfs ext"
    local sector_sizes="512 1024 2048 4096 8192 16384 32768 65536"
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=
    [ "$COMP_CWORD" -ge 1 ] && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()

    # "--fs=ra" reaches us as the words "--fs" "=" "ra", or as one word
    # when COMP_WORDBREAKS lacks "=".
    local option=$prev prefix=
    if [ "$cur" = "=" ]; then
        cur=
    elif [ "$prev" = "=" ] && [ "$COMP_CWORD" -ge 2 ]; then
        option=${COMP_WORDS[COMP_CWORD - 2]}
    elif [[ $cur == --*=* ]]; then
        option=${cur%%=*}
        prefix=$option=
        cur=${cur#*=}
    fi
    local values=
    case $option in
    --fs) values=$fs_values ;;
    --sector-size) values=$sector_sizes ;;
    esac
    if [ -n "$values" ]; then
        mapfile -t COMPREPLY < <(compgen -P "$prefix" -W "$values" -- "$cur")
        return
    fi

    # Count the SOURCE and OUTPUT_DIR words given before this one.
    local i word positional=0 options_ended=0
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [ "$options_ended" = 0 ]; then
            case $word in
            --) options_ended=1; continue ;;
            --fs | --sector-size)
                [ "${COMP_WORDS[i + 1]}" = "=" ] && i=$((i + 1))
                i=$((i + 1))
                continue
                ;;
            -?*) continue ;;
            esac
        fi
        positional=$((positional + 1))
    done

    if [ "$options_ended" = 0 ] && [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return
    fi
    compopt -o filenames 2>/dev/null
    case $positional in
    0) mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;; # SOURCE: a device or an image file
    1) mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;; # OUTPUT_DIR
    esac
} &&
    complete -F _vallora_recover vallora-recover
