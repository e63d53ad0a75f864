#!/usr/bin/env bash
# Wall time of `pellimar --fetch` over a Dovecot mailbox of fax mails and
# other mails, next to fetchmail retrieving the same mailbox into a file.
# Each program gets a fresh copy of the mailbox.
#   bench/fetch_vs_fetchmail.sh [faxes] [others] [fax-size-bytes]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
faxes=${1:-500}
others=${2:-500}
size=${3:-100000}
pellimar=${PELLIMAR_BIN:-$here/build/app/pellimar}
work=$(mktemp -d)
chmod 755 "$work" # Dovecot runs as its own users
trap 'python3 "$here/tools/local_pop3_server.py" stop "$work/server" >/dev/null; rm -rf "$work"' EXIT

echo "Making $faxes fax mails of about $size bytes and $others other mails..."
mkdir -p "$work/mails"
head -c "$size" /dev/urandom > "$work/fax.apf"
for i in $(seq 1 "$faxes"); do
  python3 "$here/tools/make_fax_mail.py" --sender "+1 555 $i" --date "12/08/2026 09:$((i % 60))" \
    --attach "$work/fax.apf" --name "fax$i.apf" > "$work/mails/f$i.eml"
done
for i in $(seq 1 "$others"); do
  python3 "$here/tools/make_fax_mail.py" --plain --body "mail $i" > "$work/mails/o$i.eml"
done
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')

fresh_mailbox() {
  python3 "$here/tools/local_pop3_server.py" start "$work/server" --port "$port" "$work"/mails/*.eml >/dev/null
}

now() { date +%s.%N; }

fresh_mailbox
mkdir -p "$work/pellimar/temp" "$work/pellimar/faxes"
export PELLIMAR_REGISTRY="$work/registry.reg"
key='HKEY_CURRENT_USER\Software\Quenlo\Dravimex\QlVariableStore'
printf 'REGEDIT4\n\n[%s]\n"rgHost"="127.0.0.1:%s"\n"rgUserName"="fax"\n"rgPassword"="fax"\n' "$key" "$port" > "$PELLIMAR_REGISTRY"
start=$(now)
(cd "$work/pellimar" && "$pellimar" --fetch > "$work/pellimar.log")
pellimar_time=$(echo "$(now) - $start" | bc)

fresh_mailbox
cat > "$work/fetchmailrc" <<RC
poll 127.0.0.1 port $port protocol pop3 user "fax" password "fax" sslproto "" fetchall mda "cat >> $work/fetchmail.mbox"
RC
chmod 600 "$work/fetchmailrc"
start=$(now)
fetchmail -f "$work/fetchmailrc" --nosyslog --silent -i "$work/fetchids" || true
fetchmail_time=$(echo "$(now) - $start" | bc)

echo "pellimar --fetch: ${pellimar_time}s ($(grep -c 'Fax Detected' "$work/pellimar.log") faxes captured)"
echo "fetchmail:        ${fetchmail_time}s ($(grep -c '^Subject:' "$work/fetchmail.mbox") mails retrieved)"
echo "ratio pellimar/fetchmail: $(echo "scale=2; $pellimar_time / $fetchmail_time" | bc)"
