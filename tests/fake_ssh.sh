#!/bin/sh
# Stands in for ssh in the batch test: "logs in" to any host name by running
# the command on this machine, in the home folder FAKE_SSH_HOME/HOST, as
# ssh runs it (the words joined by spaces, given to a shell). Options are
# skipped; those that take a value skip it too. As sshd does, it sets HOME
# and SHELL (the user's login shell), whatever the caller's environment has:
# parallel's remote wrapper runs each job with $SHELL.
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
login_shell=$(getent passwd "$(id -u)" | cut -d: -f7)
HOME=$home SHELL=${login_shell:-/bin/sh} exec sh -c "$*"
