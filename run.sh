#!/usr/bin/env bash
# Installs what is missing, builds Parcelix and runs its main job: renaming
# JARs after their MIDlet suite name. Without arguments it works on a
# built-in sample in a scratch directory.
#   ./run.sh [JAR-or-DIR...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build" >/dev/null
if [ $# -eq 0 ]; then
  exec "$here/build/parcelix" sample
fi
exec "$here/build/parcelix" rename "$@"
