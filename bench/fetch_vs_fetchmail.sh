#!/usr/bin/env bash
# Wall time of `pellimar --fetch` over a Dovecot mailbox of fax mails and
# other mails, next to fetchmail retrieving the same mailbox into a file.
# Each program gets a fresh copy of the mailbox for every run; the two take
# turns (the order swapping every round), and the medians are compared.
#   bench/fetch_vs_fetchmail.sh [faxes] [others] [fax-size-bytes]
# RUNS (default 5) sets the number of rounds, PELLIMAR_BIN the program;
# PROTOCOL=imap has both fetch over IMAP instead of POP3.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
faxes=${1:-500}
others=${2:-500}
size=${3:-100000}
runs=${RUNS:-5}
protocol=${PROTOCOL:-pop3}
pellimar=${PELLIMAR_BIN:-$here/build/app/pellimar}
work=$(mktemp -d)
chmod 755 "$work" # Dovecot runs as its own users
trap 'python3 "$here/tools/local_pop3_server.py" stop "$work/server" >/dev/null; rm -rf "$work"' EXIT

echo "Making $faxes fax mails of about $size bytes and $others other mails..."
mkdir -p "$work/mails"
head -c "$size" /dev/urandom > "$work/fax.apf"
# One Python process builds every mail (a process per mail takes minutes on a
# busy machine); the fax dates are zero-padded, "12/08/2026 09:05".
python3 - "$here/tools" "$work" "$faxes" "$others" <<'PY'
import argparse, sys
sys.path.insert(0, sys.argv[1])
from make_fax_mail import build
work, faxes, others = sys.argv[2], int(sys.argv[3]), int(sys.argv[4])

def write(path, **fields):
    args = argparse.Namespace(sender=None, date=None, attach=[], name=None, subject=None, body=None,
                              name_on_type=False, subject_last=False, plain=False, padding=0,
                              date_header="Tue, 08 Dec 2026 09:15:00 +0000", typed=False, single_part=None,
                              sender_address="Varnel Fax <fax@varnel.example>", to="office@example.com")
    vars(args).update(fields)
    with open(path, "wb") as f:
        f.write(build(args).as_bytes())

for i in range(1, faxes + 1):
    write(f"{work}/mails/f{i}.eml", sender=f"+1 555 {i}", date=f"12/08/2026 {9 + i // 60 % 12:02d}:{i % 60:02d}",
          attach=[f"{work}/fax.apf"], name=f"fax{i}.apf")
for i in range(1, others + 1):
    write(f"{work}/mails/o{i}.eml", plain=True, body=f"mail {i}")
PY
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
pop3_port=$(free_port)
imap_port=$(free_port)
port=$pop3_port
imap_option=()
if [ "$protocol" = imap ]; then
  port=$imap_port
  imap_option=(--imap-port "$imap_port")
fi

fresh_mailbox() {
  python3 "$here/tools/local_pop3_server.py" start "$work/server" --port "$pop3_port" "${imap_option[@]}" \
    "$work"/mails/*.eml >/dev/null
}

now() { date +%s.%N; }

export PELLIMAR_REGISTRY="$work/registry.reg"
key='HKEY_CURRENT_USER\Software\Quenlo\Dravimex\QlVariableStore'
mailbox_type=POP3
[ "$protocol" = imap ] && mailbox_type=IMAP
printf 'REGEDIT4\n\n[%s]\n"rgHost"="127.0.0.1:%s"\n"rgUserName"="fax"\n"rgPassword"="fax"\n"rgMailboxType"="%s"\n' \
  "$key" "$port" "$mailbox_type" > "$PELLIMAR_REGISTRY"

# One fetch by each program; prints its wall time in seconds.
run_pellimar() {
  fresh_mailbox
  rm -rf "$work/pellimar"
  mkdir -p "$work/pellimar/temp" "$work/pellimar/faxes"
  local start
  start=$(now)
  (cd "$work/pellimar" && "$pellimar" --fetch > "$work/pellimar.log")
  echo "$(now) - $start" | bc
  local captured
  captured=$(grep -c 'Fax Detected' "$work/pellimar.log" || true)
  [ "$captured" -eq "$faxes" ] || { echo "pellimar captured $captured of $faxes faxes" >&2; exit 1; }
}

run_fetchmail() {
  fresh_mailbox
  rm -f "$work/fetchmail.mbox" "$work/fetchids"
  cat > "$work/fetchmailrc" <<RC
poll 127.0.0.1 port $port protocol $protocol user "fax" password "fax" sslproto "" fetchall mda "cat >> $work/fetchmail.mbox"
RC
  chmod 600 "$work/fetchmailrc"
  local start
  start=$(now)
  fetchmail -f "$work/fetchmailrc" --nosyslog --silent -i "$work/fetchids" || true
  echo "$(now) - $start" | bc
  local retrieved
  retrieved=$(grep -c '^Subject:' "$work/fetchmail.mbox" || true)
  [ "$retrieved" -eq $((faxes + others)) ] || { echo "fetchmail retrieved $retrieved mails" >&2; exit 1; }
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

pellimar_times=()
fetchmail_times=()
for round in $(seq 1 "$runs"); do
  if [ $((round % 2)) -eq 1 ]; then
    p=$(run_pellimar); f=$(run_fetchmail)
  else
    f=$(run_fetchmail); p=$(run_pellimar)
  fi
  pellimar_times+=("$p")
  fetchmail_times+=("$f")
  printf 'round %d: pellimar %.2fs, fetchmail %.2fs, ratio %.2f\n' "$round" "$p" "$f" "$(echo "$p / $f" | bc -l)"
done

pellimar_median=$(printf '%s\n' "${pellimar_times[@]}" | median)
fetchmail_median=$(printf '%s\n' "${fetchmail_times[@]}" | median)
echo "over $protocol:"
echo "pellimar --fetch: median ${pellimar_median}s of $runs runs ($faxes faxes captured each)"
echo "fetchmail:        median ${fetchmail_median}s of $runs runs ($((faxes + others)) mails retrieved each)"
printf 'ratio pellimar/fetchmail: %.2f\n' "$(echo "$pellimar_median / $fetchmail_median" | bc -l)"
