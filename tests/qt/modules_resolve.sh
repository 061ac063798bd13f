#!/bin/sh
# Every symbol a module needs is the program's (which exports its kit and
# window code) or one of the module's own libraries': a module that names
# something the program left out of its link would fail only when opened.
#   modules_resolve.sh PROGRAM MODULE...
set -eu
program=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
defined() { nm -D --defined-only "$1" | awk 'NF >= 3 { sub(/@.*/, "", $3); print $3 }'; }
defined "$program" > "$work/have"
status=0
for module in "$@"; do
  cp "$work/have" "$work/all"
  for library in $(ldd "$module" | awk '$3 ~ /^\// { print $3 }'); do
    defined "$library" >> "$work/all"
  done
  sort -u "$work/all" -o "$work/all"
  nm -D --undefined-only "$module" | awk '$1 == "U" { sub(/@.*/, "", $2); print $2 }' | sort -u > "$work/need"
  missing=$(comm -23 "$work/need" "$work/all")
  if [ -n "$missing" ]; then
    echo "$module needs what neither the program nor its libraries define:" >&2
    echo "$missing" | c++filt >&2
    status=1
  fi
done
exit $status
