#!/usr/bin/env python3
"""Runs a private Dovecot POP3 server on a loopback port, with one mailbox
filled from mail files, for trying Pellimar out and for benchmarks.

  local_pop3_server.py start DIR [--port N] [--imap-port N] [--user U] [--password P] MAIL...
  local_pop3_server.py stop DIR

`start` writes everything (configuration, mailbox, logs) below DIR, starts
Dovecot in the background and prints the host:port, user and password to
type on Pellimar's Configure page. A server already running from DIR is
stopped first, and its port is kept unless --port names another. It needs root (Dovecot drops to its own
users) and Debian's dovecot-pop3d; with --imap-port it serves IMAP on that
port too (dovecot-imapd).
"""
import argparse
import os
import pwd
import grp
import re
import shutil
import signal
import socket
import subprocess
import sys
import time

CONFIG = """\
base_dir = {dir}/run
state_dir = {dir}/state
log_path = {dir}/dovecot.log
info_log_path = {dir}/dovecot.log
protocols = {protocols}
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain apop
default_login_user = dovenull
default_internal_user = dovecot
first_valid_uid = 1
mail_location = maildir:{dir}/mail/%u/Maildir
pop3_uidl_format = %08Xu%08Xv
passdb {{
  driver = passwd-file
  args = {dir}/users
}}
userdb {{
  driver = static
  args = uid=dovecot gid=dovecot home={dir}/mail/%u
}}
service pop3-login {{
  chroot =
  inet_listener pop3 {{
    address = 127.0.0.1
    port = {port}
  }}
}}
service anvil {{
  chroot =
}}
service imap-login {{
  chroot =
  inet_listener imap {{
    address = 127.0.0.1
    port = {imap_port}
  }}
}}
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_free(port):
    # Dovecot listens with SO_REUSEADDR too, so only a listener blocks it.
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


def previous_port(d):
    """The POP3 port of an earlier start in DIR, so that a restart keeps the
    address the user typed on the Configure page."""
    try:
        with open(os.path.join(d, "dovecot.conf")) as f:
            ports = [int(p) for p in re.findall(r"^\s*port = (\d+)$", f.read(), re.M)]
    except OSError:
        return 0
    return next((p for p in ports if p), 0)


def alive(pid):
    # A zombie no longer serves anything; it only waits for its parent.
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False


def running_pid(d):
    """The pid of the Dovecot master serving DIR, or None. The pid file alone
    is not trusted: a stale one may name an unrelated process by now."""
    try:
        with open(os.path.join(d, "run", "master.pid")) as f:
            pid = int(f.read().strip())
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            args = f.read().split(b"\0")
    except (OSError, ValueError):
        return None
    if os.path.join(d, "dovecot.conf").encode() not in args:
        return None
    return pid if alive(pid) else None


def chown_tree(path, uid, gid):
    for root, dirs, files in os.walk(path):
        os.chown(root, uid, gid)
        for name in files:
            os.chown(os.path.join(root, name), uid, gid)


def fill_mailbox(maildir, mails):
    # A fresh start means a fresh mailbox: mails of an earlier start go.
    shutil.rmtree(maildir, ignore_errors=True)
    for sub in ("new", "cur", "tmp"):
        os.makedirs(os.path.join(maildir, sub), exist_ok=True)
    stamp = int(time.time())
    for i, path in enumerate(mails):
        target = os.path.join(maildir, "new", "%d.M%dP%d.pellimar" % (stamp, i, os.getpid()))
        shutil.copyfile(path, target)


def start(args):
    d = os.path.abspath(args.dir)
    stop(args, quiet=True)
    for sub in ("run", "state", "mail"):
        os.makedirs(os.path.join(d, sub), exist_ok=True)
    os.chmod(d, 0o755)
    # Dovecot's auth and mail processes run as its own users: every folder
    # above DIR must let them through.
    parent = os.path.dirname(d)
    while parent != "/":
        if not os.stat(parent).st_mode & 0o001:
            sys.exit("%s is not open to other users; Dovecot could not reach %s" % (parent, d))
        parent = os.path.dirname(parent)
    port = args.port
    if not port:
        port = previous_port(d)
        if not port or not port_free(port):
            port = free_port()
    with open(os.path.join(d, "dovecot.conf"), "w") as f:
        f.write(CONFIG.format(dir=d, port=port, imap_port=args.imap_port,
                              protocols="pop3 imap" if args.imap_port else "pop3"))
    with open(os.path.join(d, "users"), "w") as f:
        f.write("%s:{PLAIN}%s\n" % (args.user, args.password))
    maildir = os.path.join(d, "mail", args.user, "Maildir")
    fill_mailbox(maildir, args.mail)
    chown_tree(os.path.join(d, "mail"), pwd.getpwnam("dovecot").pw_uid, grp.getgrnam("dovecot").gr_gid)
    # The daemon must not hold on to our output, or a pipe reading it never ends.
    subprocess.run(["dovecot", "-c", os.path.join(d, "dovecot.conf")], check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1) as s:
                if s.recv(100).startswith(b"+OK"):
                    break
        except OSError:
            time.sleep(0.05)
    else:
        sys.exit("Dovecot did not answer on port %d; see %s/dovecot.log" % (port, d))
    print("POP3 server running on 127.0.0.1:%d with %d mails (stop: %s stop %s)"
          % (port, len(args.mail), sys.argv[0], d))
    print("Configure page:  Host: 127.0.0.1:%d   User Name: %s   Password: %s"
          % (port, args.user, args.password))


def stop(args, quiet=False):
    d = os.path.abspath(args.dir)
    pid = running_pid(d)
    if pid is None:
        if not quiet:
            print("No POP3 server is running from %s" % d)
        return
    os.kill(pid, signal.SIGTERM)
    for _ in range(200):
        if not alive(pid):
            break
        time.sleep(0.05)
    else:
        sys.exit("Dovecot (pid %d) did not stop; see %s/dovecot.log" % (pid, d))
    if not quiet:
        print("POP3 server stopped")


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("cmd", choices=["start", "stop"])
    p.add_argument("dir")
    p.add_argument("mail", nargs="*")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--imap-port", type=int, default=0)
    p.add_argument("--user", default="fax")
    p.add_argument("--password", default="fax")
    args = p.parse_intermixed_args()
    (start if args.cmd == "start" else stop)(args)


if __name__ == "__main__":
    main()
