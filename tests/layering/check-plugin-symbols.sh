#!/bin/sh
# Fails when a class library defines a symbol of the platform layer (it would
# then hold a second clock or registry of its own, whichever copy happened to
# win at load time), or when it uses none of the layer (the check would then
# prove nothing). Run as
#   check-plugin-symbols.sh LIBRARY PLATFORM_ARCHIVE...
# with NM naming the toolchain's nm when it is not the host's.
set -eu
nm=${NM:-nm}
library=$1
shift
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# What the layer defines for good (text, data): inline functions and template
# instances are weak and may be in both, so they are left out.
"$nm" -g --defined-only "$@" 2>/dev/null | awk 'NF == 3 && $2 ~ /^[TDBR]$/ { print $3 }' \
    | sort -u >"$tmp/platform"
"$nm" -D --defined-only "$library" | awk 'NF == 3 { print $3 }' | sort -u >"$tmp/defined"
"$nm" -D --undefined-only "$library" | awk '{ print $NF }' | sort -u >"$tmp/undefined"

comm -12 "$tmp/platform" "$tmp/defined" >"$tmp/copied"
if [ -s "$tmp/copied" ]; then
    echo "$library defines $(wc -l <"$tmp/copied") symbols of the platform layer, for example:" >&2
    head -n 10 "$tmp/copied" | c++filt >&2
    exit 1
fi
used=$(comm -12 "$tmp/platform" "$tmp/undefined" | wc -l)
if [ "$used" -eq 0 ]; then
    echo "$library uses nothing of the platform layer: the archives given are not the layer" >&2
    exit 1
fi
echo "$library binds to $used symbols of the platform layer and defines none"
