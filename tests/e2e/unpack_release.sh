#!/bin/sh
# Makes the release archive and unpacks it as a user would, then puts the test programs beside what
# it holds, so that the end-to-end cases run exactly what a user downloads.
# Usage: unpack_release.sh CPACK BUILD_DIR ARCHIVE_NAME DEST TEST_PROGRAM...
set -eu
cpack=$1
build=$2
archive=$3
dest=$4
shift 4

(cd "$build" && "$cpack" >/dev/null) # the generator the project sets, as a plain cpack uses it
rm -rf "$dest"
mkdir -p "$dest"
(cd "$dest" && cmake -E tar xf "$build/$archive.zip")
cp "$@" "$dest/$archive/"
ls "$dest/$archive"
