#!/usr/bin/env bash
# describe_cli.sh man|completion CLI: prints, from the help that CLI itself gives (its --help and
# "help SUBCOMMAND" of each subcommand that --help lists), either the manual page section that lists
# every subcommand with its options (help2man include format) or the bash completion script.
# A new subcommand or option appears in both without a change here.
set -euo pipefail
mode=$1 cli=$2
name=$(basename "$cli")

subcommands=$("$cli" --help | awk '/^Subcommands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { exit }')

# Prints one line per positional or option of a subcommand: kind (option or positional), names
# (comma-separated), value type (empty for a flag) and description, each ended by a unit separator
# (octal 037), which unlike a tab keeps empty fields apart when read back. The help gives a name
# column of 30 characters; a longer entry puts its description on the next line.
entries() {
    "$cli" help "$1" | awk '
        function trim(s) { gsub(/^ +| +$/, "", s); return s }
        function flush() {
            if (term == "") return
            split(term, words, " ")
            kind = words[1] ~ /^-/ ? "option" : "positional"
            type = words[1] ~ /^-/ && words[2] ~ /^[A-Z][A-Z:]*$/ ? words[2] : ""
            if (words[1] != "-h,--help") printf "%s\037%s\037%s\037%s\037\n", kind, words[1], type, description
            term = ""
        }
        /^(Positionals|Options):$/ { section = 1; next }
        /^$/ { flush(); section = 0; next }
        section && /^  [^ ]/ {
            flush()
            if (length($0) > 30 && substr($0, 29, 2) == "  ") { term = trim(substr($0, 1, 30)); description = trim(substr($0, 31)) }
            else { term = trim($0); description = "" }
            next
        }
        section && /^ {30}/ { description = trim($0); next }
        END { flush() }'
}

# Escapes text for roff: backslashes and hyphens, and a leading period or quote.
roff() { sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^[.']/\\\\\&&/"; }

case $mode in
man)
    echo "[SUBCOMMANDS]"
    echo "Each subcommand takes the options listed under it; \\fB$(roff <<<"$name") help\\fR \\fISUBCOMMAND\\fR prints the same."
    for sub in $subcommands; do
        summary=$("$cli" help "$sub" | head -n 1)
        usage=$("$cli" help "$sub" | sed -n 's/^Usage: //p')
        echo ".SS \"$(roff <<<"$usage")\""
        roff <<<"$summary"
        entries "$sub" | while IFS=$'\037' read -r kind names type description; do
            echo ".TP"
            if [ "$kind" = positional ]; then
                echo "\\fI$names\\fR"
            else
                printf '%s\n' "\\fB$(roff <<<"${names//,/\\fR, \\fB}")\\fR${type:+ \\fI$(roff <<<"$type")\\fR}"
            fi
            roff <<<"$description"
        done
    done
    ;;
completion)
    function_name="_$(tr -c 'a-zA-Z0-9\n' _ <<<"$name")"
    cat <<EOF
# bash completion for $name: its subcommands, their options, and files after the options that
# name one. Generated from "$name --help" and "$name help SUBCOMMAND".
$function_name()
{
    local cur=\${COMP_WORDS[COMP_CWORD]} prev=\${COMP_WORDS[COMP_CWORD - 1]}
    local subcommand="" word options files numbers
    for word in "\${COMP_WORDS[@]:1:COMP_CWORD - 1}"; do
        case \$word in -*) ;; *) subcommand=\$word; break ;; esac
    done
    case \$subcommand in
    "" | help)
        mapfile -t COMPREPLY < <(compgen -W "$(echo $subcommands) --help --version" -- "\$cur")
        return ;;
EOF
    for sub in $subcommands; do
        [ "$sub" = help ] && continue
        list=$(entries "$sub")
        options=$(awk -F'\037' '$1 == "option" { gsub(/,/, " ", $2); print $2 }' <<<"$list" | xargs)
        files=$(awk -F'\037' '$1 == "option" && $3 ~ /^TEXT/ { gsub(/,/, " ", $2); print $2 }' <<<"$list" | xargs)
        numbers=$(awk -F'\037' '$1 == "option" && $3 != "" && $3 !~ /^TEXT/ { gsub(/,/, " ", $2); print $2 }' <<<"$list" | xargs)
        echo "    $sub) options=\"--help $options\" files=\" $files \" numbers=\" $numbers \" ;;"
    done
    cat <<EOF
    *) return ;;
    esac
    if [[ \$numbers == *" \$prev "* ]]; then
        COMPREPLY=()
    elif [[ \$files == *" \$prev "* || \$cur != -* ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "\$cur")
    else
        mapfile -t COMPREPLY < <(compgen -W "\$options" -- "\$cur")
    fi
}
complete -F $function_name $name
EOF
    ;;
*)
    echo "usage: describe_cli.sh man|completion CLI" >&2
    exit 2
    ;;
esac
