#!/usr/bin/env bash
# Starts a demo POP3 mailbox on loopback (Dovecot, needs root) holding a few
# fax mails built from the project's sample fax files and one ordinary mail,
# and prints what to type on Pellimar's Configure page.
#   tools/demo_mailbox.sh [folder]        start (default /tmp/pellimar-demo);
#                                         a second start replaces the first
#   tools/demo_mailbox.sh stop [folder]   stop it again
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# The server itself lives in the folder's server/ subfolder.
if [ "${1:-}" = "stop" ]; then
  exec python3 "$here/tools/local_pop3_server.py" stop "${2:-/tmp/pellimar-demo}/server"
fi
dir=${1:-/tmp/pellimar-demo}
"$here/tools/setup.sh"
mkdir -p "$dir/mails"
chmod 755 "$dir"
samples="$here/tests/data/fax"
python3 "$here/tools/make_fax_mail.py" --sender "+1 555 0100" --date "12/08/2026 09:15 AM" \
  --attach "$samples/text-standard.apf" --name fax0001.apf > "$dir/mails/1.eml"
python3 "$here/tools/make_fax_mail.py" --plain --subject "Team lunch on Friday" > "$dir/mails/2.eml"
python3 "$here/tools/make_fax_mail.py" --sender "+44 20 7946 0018" --date "12/08/2026 10:42 AM" \
  --attach "$samples/multi.apf" --name fax0002.apf > "$dir/mails/3.eml"
python3 "$here/tools/make_fax_mail.py" --sender "+49 30 901820" --date "12/08/2026 11:03 AM" \
  --attach "$samples/text-fine.apf" --name fax0003.apf > "$dir/mails/4.eml"
python3 "$here/tools/local_pop3_server.py" start "$dir/server" "$dir"/mails/*.eml
