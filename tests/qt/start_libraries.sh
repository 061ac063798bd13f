#!/bin/sh
# What the window opens only when first needed (the web engine, the movie
# player, libcurl) and Qt's network library, which only the web engine uses,
# are not among the libraries the program loads at its start, directly or
# through another: a link that brings one back makes every start slower, and
# nothing else would tell.
#   start_libraries.sh PROGRAM
set -eu
loaded=$(ldd "$1" | awk '{ print $1 }')
found=$(echo "$loaded" | grep -E '^lib(curl|Qt6Network|Qt6WebEngine|Qt6Quick|Qt6Multimedia)' || true)
if [ -n "$found" ]; then
  echo "$1 loads at its start what it should open when first needed:" >&2
  echo "$found" >&2
  exit 1
fi
# A program that loads nothing at all would pass the check above.
echo "$loaded" | grep -q '^libQt6Widgets' || { echo "$1: no Qt libraries in its start, cannot judge" >&2; exit 1; }
