#!/bin/sh
# exports_test.sh LIBRARY: libstrovia exports its public API and nothing of
# the library's inside (internal namespaces, private implementations).
set -eu
lib=$1
exported=$(nm -DC --defined-only "$lib")
inside=$(printf '%s\n' "$exported" |
    grep -E 'strovia::(mci|jet|qt|catalogue|platform|commands|cli|exporting|player)::|::Impl\b|strovia::VideoCntl\b|strovia::(Error|EngineHolder)\b' || true)
if [ -n "$inside" ]; then
    echo "libstrovia exports symbols of its inside:" >&2
    printf '%s\n' "$inside" | head -20 >&2
    exit 1
fi
printf '%s\n' "$exported" | grep -q 'strovia::VideoCntlWidget::fileOpen' ||
    { echo "libstrovia does not export the widget" >&2; exit 1; }
echo "$(printf '%s\n' "$exported" | grep -c 'strovia::') public symbols, none of the inside"
