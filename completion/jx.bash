# Bash completion for jxkey, jxenc, jxview and jxdec: options, key files (.jxk) where a key
# file is taken, stream files (.jxd) for jxdec, and any file where a file is read.
# It needs nothing but bash itself; source it, or install it in bash-completion's
# completions directory under each program's name.

# Adds to COMPREPLY the files and directories that begin with $1; with a suffix in $2, only
# the files whose names end in it (and every directory, to reach files further down).
_jx_files() {
    local cur=$1 suffix=${2-} name path
    local -a names=()
    mapfile -t names < <(compgen -f -- "$cur")
    for name in "${names[@]}"; do
        path=$name
        [[ $path == "~/"* ]] && path=$HOME/${path#"~/"}
        if [[ -z $suffix || -d $path || $name == *"$suffix" ]]; then
            COMPREPLY+=("$name")
        fi
    done
    # Quotes special characters and marks directories with a slash, when bash is completing.
    compopt -o filenames 2>/dev/null
    return 0
}

# Adds to COMPREPLY the directories that begin with $1, for a name still to be made.
_jx_directories() {
    local -a names=()
    mapfile -t names < <(compgen -d -- "$1")
    COMPREPLY+=("${names[@]}")
    compopt -o filenames -o nospace 2>/dev/null
    return 0
}

# Adds to COMPREPLY the words of $2 that begin with $1.
_jx_options() {
    local -a words=()
    mapfile -t words < <(compgen -W "$2" -- "$1")
    COMPREPLY+=("${words[@]}")
}

# How many arguments a jxenc or jxdec argument takes as key files: 1 for --key, one for each
# letter k of a flag group, 0 for the other options ($2) and for names.
_jx_key_arguments() {
    local word=$1 long=$2 letters
    if [[ $word == --key ]]; then
        echo 1
    elif [[ $word != -* || " $long " == *" $word "* ]]; then
        echo 0
    else
        letters=${word//[!k]/}
        echo ${#letters}
    fi
}

# Completion for jxenc and jxdec; $1 holds the exact long options, $2 the options offered,
# $3 the suffix of the names the program takes ("" for any file).
_jx_codec() {
    local long=$1 offered=$2 suffix=$3
    local cur=${COMP_WORDS[COMP_CWORD]} pending=0 i
    COMPREPLY=()
    # The programs read their arguments from left to right; a key option takes the next
    # argument whatever it is, so only a replay tells what the current word is.
    for ((i = 1; i < COMP_CWORD; i++)); do
        if ((pending > 0)); then
            ((pending--))
        else
            pending=$(_jx_key_arguments "${COMP_WORDS[i]}" "$long")
        fi
    done
    if ((pending > 0)); then
        _jx_files "$cur" .jxk
    elif [[ $cur == -* ]]; then
        _jx_options "$cur" "$offered"
    else
        _jx_files "$cur" "$suffix"
    fi
}

_jx_jxenc() {
    _jx_codec "--key --force --verbose --partial --inflate --stdout" \
        "--force --inflate --key --partial --stdout --verbose -F -V -i -k -p" ""
}

_jx_jxdec() {
    _jx_codec "--key --force --verbose --stdout" "--force --key --stdout --verbose -F -V -k" .jxd
}

# jxkey takes, by its mode, a source file (-f) or a password (-i) first, then the name of
# the key file to make; flags may stand anywhere.
_jx_jxkey() {
    local cur=${COMP_WORDS[COMP_CWORD]} word mode=prompt random= file= inline= taken=0 i
    COMPREPLY=()
    if [[ $cur == -* ]]; then
        _jx_options "$cur" "--file --inline --random -f -i -r"
        return 0
    fi
    for ((i = 1; i < ${#COMP_WORDS[@]}; i++)); do
        ((i == COMP_CWORD)) && continue
        word=${COMP_WORDS[i]}
        case $word in
            --random) random=1 ;;
            --file) file=1 ;;
            --inline) inline=1 ;;
            -*)
                [[ $word == *r* ]] && random=1
                [[ $word == *f* ]] && file=1
                [[ $word == *i* ]] && inline=1
                ;;
            *) ((i < COMP_CWORD)) && taken=$((taken + 1)) ;;
        esac
    done
    if [[ -n $random ]]; then
        mode=random
    elif [[ -n $file ]]; then
        mode=file
    elif [[ -n $inline ]]; then
        mode=inline
    fi
    case $mode:$taken in
        file:0) _jx_files "$cur" ;;
        inline:0) ;;
        file:1 | inline:1 | random:0 | prompt:0) _jx_directories "$cur" ;;
    esac
    return 0
}

# jxview reads only its first argument, and has no options.
_jx_jxview() {
    COMPREPLY=()
    ((COMP_CWORD == 1)) && _jx_files "${COMP_WORDS[COMP_CWORD]}"
    return 0
}

complete -F _jx_jxkey jxkey
complete -F _jx_jxenc jxenc
complete -F _jx_jxview jxview
complete -F _jx_jxdec jxdec
