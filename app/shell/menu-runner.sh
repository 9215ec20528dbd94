#!/bin/sh
# Parcelix context-menu entry "{{VERB_TEXT}}" for JAR files.
# {{MARK}} from its registry; "parcelix integrate off" removes it.
# Runs the registered command once per selected .jar, the file's path in place of %1:
#   {{COMMAND_TEXT}}
# Paths come as arguments, or one per line in $NAUTILUS_SCRIPT_SELECTED_FILE_PATHS.

verb={{VERB_QUOTED}}

run_verb() {
  {{RUN}}
}

# Failures are shown by the program itself; a success is told here.
notify() {
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && command -v notify-send >/dev/null 2>&1; then
    notify-send -a Parcelix -- "$verb" "$1" >/dev/null 2>&1 || :
  fi
}

status=0
jars=0
handle() {
  case $1 in
    *.[Jj][Aa][Rr]) ;;
    *) return 0 ;;
  esac
  jars=$((jars + 1))
  if run_verb "$1" </dev/null; then
    notify "${1##*/}: done"
  else
    status=1
  fi
}

if [ $# -gt 0 ]; then
  for f in "$@"; do handle "$f"; done
elif [ -n "${NAUTILUS_SCRIPT_SELECTED_FILE_PATHS:-}" ]; then
  old_ifs=$IFS
  IFS='
'
  set -f
  for f in $NAUTILUS_SCRIPT_SELECTED_FILE_PATHS; do handle "$f"; done
  set +f
  IFS=$old_ifs
fi
if [ "$jars" -eq 0 ]; then
  notify "Select a .jar file."
  status=1
fi
exit "$status"
