#!/usr/bin/env bash
# Rewrites include/XEVLibrary.h so that it includes every public header.
set -euo pipefail
cd "$(dirname "$0")/../include"
{
    echo '#pragma once'
    echo
    echo '// Umbrella header: every public header of the library.'
    echo
    for header in $(ls -- *.h | grep -v '^XEVLibrary\.h$' | LC_ALL=C sort); do
        echo "#include \"$header\""
    done
} > XEVLibrary.h
