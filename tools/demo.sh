#!/bin/sh
# The program's main job on bundled inputs: lists the plug-ins, makes sample
# disks and converts them with dravik-cli, printing the log.
set -eu
build=${1:-build}
cli="$build/bin/dravik-cli"
"$cli" --list
