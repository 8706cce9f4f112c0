#!/bin/bash
# Fails when a library below the windows refers to any symbol that Qt's
# widget library defines. Usage: check_no_widgets.sh LIBQT6WIDGETS ARCHIVE...
set -euo pipefail
widgets=$1
shift
exported=$(mktemp)
trap 'rm -f "$exported"' EXIT
nm -D --defined-only "$widgets" | awk '{print $NF}' | sort -u >"$exported"
if [ "$(wc -l <"$exported")" -lt 1000 ]; then
    echo "no symbols read from $widgets: the check would prove nothing" >&2
    exit 1
fi
status=0
for archive in "$@"; do
    used=$(nm --undefined-only "$archive" | awk '{print $NF}' | sort -u | comm -12 - "$exported")
    if [ -n "$used" ]; then
        echo "$(basename "$archive") uses Qt widgets: $(echo "$used" | head -1 | c++filt)" >&2
        status=1
    fi
done
exit $status
