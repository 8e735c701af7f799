#!/bin/sh
# Takes the README's pictures of the window under Xvfb: after start-up, and
# after converting the files given (a command-line drop). Needs xvfb-run,
# xwd (x11-apps) and convert (imagemagick); not part of CI.
# usage: screenshots.sh BUILD_DIR OUT_DIR FILE...
set -eu
build=$1
out=$2
shift 2
program="$build/bin/Dravik"

shot() {  # shot NAME SECONDS [FILE...]
  name=$1
  wait=$2
  shift 2
  xvfb-run -a -s "-screen 0 640x480x24" sh -c '
    "$0" "$@" &
    pid=$!
    sleep '"$wait"'
    xwd -name Dravik -silent | convert xwd:- "'"$out/$name"'"
    kill $pid' "$program" "$@"
}

mkdir -p "$out"
shot window-startup.png 3
shot window-converted.png 6 "$@"
