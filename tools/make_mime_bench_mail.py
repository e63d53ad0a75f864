#!/usr/bin/env python3
"""Writes a fax mail with one base64 attachment of the given size, built by
Python's email package, for the MIME decoder benchmark.

Usage: make_mime_bench_mail.py SIZE_IN_BYTES OUTFILE
"""
import random
import sys
from email import policy
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText

size = int(sys.argv[1])
rng = random.Random(size)
payload = rng.randbytes(size)
msg = MIMEMultipart("mixed")
msg["From"] = "Fax Server <fax@example.org>"
msg["Subject"] = "{Varnel} benchmark fax"
msg.attach(MIMEText("A fax arrived.\n"))
att = MIMEApplication(payload, "octet-stream")
att.add_header("Content-Disposition", "attachment", filename="bench.apf")
msg.attach(att)
with open(sys.argv[2], "wb") as f:
    f.write(msg.as_bytes(policy=policy.compat32.clone(linesep="\r\n")))
