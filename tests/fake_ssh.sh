#!/bin/sh
# Stands in for ssh in the batch test: "logs in" to any host name by running
# the command on this machine, in the home folder FAKE_SSH_HOME/HOST, as
# ssh runs it (the words joined by spaces, given to a shell). Each call's host
# is appended to FAKE_SSH_LOG, so the test can tell which hosts ran jobs.
# Options are skipped; those that take a value skip it too.
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
echo "$host" >>"${FAKE_SSH_LOG:?}"
cd "$home" || exit 255
HOME=$home exec sh -c "$*"
