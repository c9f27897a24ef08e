#!/usr/bin/env bash
# Reads what `apt-get -s install ...` would do (on standard input) and says whether it is
# safe for a user's machine: nothing the user has may be removed or downgraded. The one
# replacement let through is a LibreOffice "-nogui" package by its full variant of the same
# or a newer version (the full one holds everything the nogui one does).
#
# Exit status: 0 and nothing printed when nothing is removed; 0 and one line naming the
# replaced nogui packages on standard output when only those are replaced; 1 with a message on
# standard error otherwise.
set -euo pipefail

declare -A installs=() # package -> the version apt would install
removes=()
downgrades=()

# "Inst name [old] (new ...)" or "Inst name (new ...)"; "Remv name [old] ...".
upgrade='^\[([^]]+)\] \(([^ ]+)'
fresh='^\(([^ ]+)'
old_version='^\[([^]]+)\]'
while read -r action name rest; do
    name=${name%%:*} # drop an architecture qualifier
    case $action in
    Inst)
        old= new=
        if [[ $rest =~ $upgrade ]]; then
            old=${BASH_REMATCH[1]} new=${BASH_REMATCH[2]}
        elif [[ $rest =~ $fresh ]]; then
            new=${BASH_REMATCH[1]}
        fi
        installs[$name]=$new
        if [[ -n $old && -n $new ]] && dpkg --compare-versions "$new" lt "$old"; then
            downgrades+=("$name ($old -> $new)")
        fi
        ;;
    Remv)
        old=
        [[ $rest =~ $old_version ]] && old=${BASH_REMATCH[1]}
        removes+=("$name|$old")
        ;;
    esac
done

replaced=()
refused=()
for entry in "${removes[@]+"${removes[@]}"}"; do
    name=${entry%%|*} old=${entry#*|}
    full=${name%-nogui}
    if [[ $name == libreoffice* && $full != "$name" && -n ${installs[$full]:-} ]] &&
        { [[ -z $old ]] || dpkg --compare-versions "${installs[$full]}" ge "$old"; }; then
        replaced+=("$name")
    else
        refused+=("$name")
    fi
done

if ((${#refused[@]} > 0 || ${#downgrades[@]} > 0)); then
    {
        echo "Docuflume's set-up stopped before installing anything:"
        ((${#refused[@]} > 0)) &&
            echo "  installing its packages would remove: ${refused[*]}"
        ((${#downgrades[@]} > 0)) &&
            echo "  installing its packages would downgrade: ${downgrades[*]}"
        echo "Nothing was changed. Install what Docuflume needs by hand in a way that keeps"
        echo "these packages (see README.md for the list), or build Docuflume on another machine."
    } >&2
    exit 1
fi

if ((${#replaced[@]} > 0)); then
    echo "Replacing ${replaced[*]} by the full variant of the same LibreOffice (it holds everything the nogui variant does)."
fi
