#!/bin/sh
# Stands in for ssh in the batch test: "logs in" to any host name by running
# the command on this machine, in the home folder FAKE_SSH_HOME/HOST, as
# ssh runs it (the words joined by spaces, given to a shell). Options are
# skipped; those that take a value skip it too.
while [ $# -gt 0 ]; do
  case $1 in
    -[bcDEeFIiJLlmOopQRSWw]) shift 2 ;;
    --) shift; break ;;
    -*) shift ;;
    *) break ;;
  esac
done
host=${1:?no host}
shift
[ "${1:-}" = -- ] && shift
home=${FAKE_SSH_HOME:?}/$host
mkdir -p "$home"
cd "$home" || exit 255
HOME=$home exec sh -c "$*"
