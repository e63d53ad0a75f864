#!/usr/bin/env bash
# Latency of "fetch new faxes as they arrive": `pellimar --watch` waits on a
# Dovecot IMAP mailbox in IDLE; fax mails are delivered into the maildir one
# at a time, and the time from each delivery to the status-log line of its
# catalogue record ("Added Fax ...") is measured. Prints the median and the
# slowest.
#   bench/idle_latency.sh [mails]
# PELLIMAR_BIN sets the program.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
mails=${1:-20}
pellimar=${PELLIMAR_BIN:-$here/build/app/pellimar}
work=$(mktemp -d)
chmod 755 "$work" # Dovecot runs as its own users
trap 'python3 "$here/tools/local_pop3_server.py" stop "$work/server" >/dev/null; rm -rf "$work"' EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
imap_port=$(free_port)
python3 "$here/tools/local_pop3_server.py" start "$work/server" --port "$(free_port)" --imap-port "$imap_port" >/dev/null
mkdir -p "$work/pellimar/temp" "$work/pellimar/faxes"
export PELLIMAR_REGISTRY="$work/registry.reg"
key='HKEY_CURRENT_USER\Software\Quenlo\Dravimex\QlVariableStore'
printf 'REGEDIT4\n\n[%s]\n"rgHost"="127.0.0.1:%s"\n"rgUserName"="fax"\n"rgPassword"="fax"\n"rgMailboxType"="IMAP"\n' \
  "$key" "$imap_port" > "$PELLIMAR_REGISTRY"

python3 - "$here" "$work" "$pellimar" "$mails" <<'PY'
import argparse, grp, os, pwd, select, statistics, subprocess, sys, time
here, work, pellimar, count = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
sys.path.insert(0, os.path.join(here, "tools"))
from make_fax_mail import build

def mail(i):
    args = argparse.Namespace(sender=f"+1 555 {i}", date="12/08/2026 09:15",
                              attach=[os.path.join(here, "tests/data/fax/text-standard.apf")], name=f"idle{i}.apf",
                              subject=None, body=None, name_on_type=False, subject_last=False, plain=False, padding=0,
                              date_header="Tue, 08 Dec 2026 09:15:00 +0000", typed=False, single_part=None,
                              sender_address="Varnel Fax <fax@varnel.example>", to="office@example.com")
    return build(args).as_bytes()

maildir = os.path.join(work, "server", "mail", "fax", "Maildir")
uid, gid = pwd.getpwnam("dovecot").pw_uid, grp.getgrnam("dovecot").gr_gid
watch = subprocess.Popen([pellimar, "--watch"], cwd=os.path.join(work, "pellimar"), stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
pending = b""

def wait_for(text, limit):
    global pending
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if text in pending:
            at = pending.index(text)
            pending = pending[at + len(text):]
            return time.monotonic()
        ready, _, _ = select.select([watch.stdout], [], [], 0.01)
        if ready:
            pending += os.read(watch.stdout.fileno(), 65536)
    sys.exit("pellimar --watch did not log %r in time" % text)

try:
    wait_for(b"No new faxes detected!", 30)
    latencies = []
    for i in range(count):
        time.sleep(0.3)  # the previous run has ended and IDLE is back
        data = mail(i)
        tmp = os.path.join(maildir, "tmp", f"idle{i}")
        with open(tmp, "wb") as f:
            f.write(data)
        os.chown(tmp, uid, gid)
        start = time.monotonic()
        os.rename(tmp, os.path.join(maildir, "new", f"{int(time.time())}.idle{i}.bench"))
        latencies.append(wait_for(b"Added Fax SenderId: +1 555 %d " % i, 30) - start)
    print("IDLE latency from delivery to catalogue record over %d mails: median %.0f ms, slowest %.0f ms"
          % (count, statistics.median(latencies) * 1000, max(latencies) * 1000))
finally:
    watch.terminate()
    watch.wait(10)
PY
