#!/bin/bash
# check-paths.sh BUILD_DIR SOURCE_DIR
#
# Fails when a library or program the project builds names the checkout or
# the build folder (through __FILE__, debug information or a run path): what
# is built must not depend on, or tell, where it was built. Test programs and
# fuzz targets (under tests/) are left out: they find their fixtures by path.
set -euo pipefail
if [ $# -ne 2 ] || [ ! -d "$1" ] || [ ! -d "$2" ]; then
    echo "usage: check-paths.sh BUILD_DIR SOURCE_DIR" >&2
    exit 2
fi
build=$(cd "$1" && pwd -P)
source=$(cd "$2" && pwd -P)

checked=0
found=0
while IFS= read -r -d '' f; do
    # ELF files (libraries, programs) and archives of objects only.
    case "$(head -c 7 "$f" | od -An -c | tr -d ' \n')" in
        177ELF* | '!<arch>') ;;
        *) continue ;;
    esac
    checked=$((checked + 1))
    hits=$(strings -a "$f" | grep -F -e "$source" -e "$build" | sort -u | head -5 || true)
    if [ -n "$hits" ]; then
        found=$((found + 1))
        echo "${f#"$build"/}:"
        printf '%s\n' "$hits" | sed 's/^/    /'
    fi
done < <(find "$build" \( -path "$build/tests" -o -name CMakeFiles -o -path "$build/Testing" \) -prune -o \
    -type f \( -name '*.so' -o -name '*.so.*' -o -name '*.a' -o -perm -u+x \) -print0)

echo "check-paths: $checked files checked, $found name the build machine's folders"
[ "$checked" -gt 0 ] && [ "$found" -eq 0 ]
