#!/usr/bin/env python3
"""Builds test mails with Python's email package and sharutils' uuencode.

Usage: make_mime_mails.py OUTDIR

Writes the mails (*.eml), the original bytes of every attachment and text
(*.bin) and manifest.json, which names for each mail the header values and
the parts a decoder must find. Nothing here uses Pellimar's own code.
"""
import json
import os
import random
import subprocess
import sys
from email import policy
from email.charset import Charset, QP
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.mime.nonmultipart import MIMENonMultipart

OUT = sys.argv[1]
os.makedirs(OUT, exist_ok=True)
rng = random.Random(20261208)
manifest = {}


def save(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def all_bytes_payload(size):
    data = bytes(range(256)) * 8 + bytes(rng.randrange(256) for _ in range(size))
    # Lines that begin like uuencode markers once decoded must survive too.
    return data + b"begin 644 x\nend\n" + bytes(range(255, -1, -1))


def uuencode(data, name):
    path = os.path.join(OUT, "uu-input.tmp")
    with open(path, "wb") as f:
        f.write(data)
    out = subprocess.run(["uuencode", path, name], check=True, capture_output=True).stdout
    os.remove(path)
    return out.decode("ascii")


def write_mail(name, msg, linesep="\r\n", text=None, **expect):
    if text is None:
        text = msg.as_string(policy=policy.compat32.clone(linesep=linesep))
    save(name, text.encode("latin-1") if isinstance(text, str) else text)
    manifest[name] = expect


def header(msg, field, value):
    msg[field] = value
    return value


# 1. multipart/mixed: a text part and a binary attachment in base64.
fax = all_bytes_payload(60000)
save("fax0001.bin", fax)
msg = MIMEMultipart("mixed")
subject = header(msg, "Subject", "{Varnel} Fax from 5551234")
header(msg, "From", "Fax Server <fax@example.org>")
header(msg, "To", "office@example.org")
header(msg, "Date", "Tue, 08 Dec 2026 10:00:00 +0100")
msg["Return-Path"] = "<bounce@example.org>"
msg.attach(MIMEText("A fax arrived.\nSee the attachment.\n"))
att = MIMEApplication(fax, "octet-stream")
att.add_header("Content-Disposition", "attachment", filename="fax0001.apf")
msg.attach(att)
write_mail("mixed_base64.eml", msg, subject=subject, from_="Fax Server <fax@example.org>",
           to="office@example.org", date="Tue, 08 Dec 2026 10:00:00 +0100",
           return_path="bounce@example.org", content_type="multipart/mixed",
           parts=[{"filename": "fax0001.apf", "data": "fax0001.bin", "encoding": "base64"}])

# 2. quoted-printable text with soft breaks, =XX escapes and trailing blanks.
lines = ["Gr\u00fc\u00dfe aus K\u00f6ln = 100% sicher, " * 4 + "end",
         "Zeile mit Leerzeichen am Ende   ",
         "a=b " * 30 + "\u20ac"]
qp_text = "\n".join(lines) + "\n"
save("qp_text.bin", qp_text.replace("\n", "").encode("utf-8"))
cs = Charset("utf-8")
cs.body_encoding = QP
msg = MIMEMultipart("mixed")
msg["Subject"] = "quoted-printable"
msg.attach(MIMEText(qp_text, "plain", cs))
write_mail("qp_soft.eml", msg, subject="quoted-printable",
           parts=[{"filename": "", "data": "qp_text.bin", "encoding": "quoted-printable",
                   "joined": True, "min_lines": 8}])

# 3. multipart/alternative nested in multipart/mixed, plus an attachment.
html = ("<html><body>" + "<p>Fax \u00fcbermittelt</p>" * 40 + "</body></html>").encode("utf-8")
save("nested_html.bin", html)
doc = bytes(rng.randrange(256) for _ in range(9000))
save("nested_doc.bin", doc)
outer = MIMEMultipart("mixed")
outer["Subject"] = "nested"
alt = MIMEMultipart("alternative")
alt.attach(MIMEText("plain words\n"))
h = MIMENonMultipart("text", "html", charset="utf-8")
h.set_payload(html)
from email import encoders
encoders.encode_base64(h)
h.add_header("Content-Disposition", "inline", filename="page.html")
alt.attach(h)
outer.attach(alt)
d = MIMEApplication(doc, "octet-stream")
d.add_header("Content-Disposition", "attachment", filename="Report 2026.APF")
outer.attach(d)
write_mail("nested_alternative.eml", outer, linesep="\n", subject="nested",
           parts=[{"filename": "page.html", "data": "nested_html.bin", "encoding": "base64"},
                  {"filename": "Report 2026.APF", "data": "nested_doc.bin", "encoding": "base64"}])

# 4. Folded headers: long subject and a folded content type.
long_subject = "{Varnel} " + " ".join("word%02d" % i for i in range(30))
msg = MIMEMultipart("mixed")
msg["Subject"] = long_subject
msg.attach(MIMEText("body\n"))
small = bytes(range(256))
save("folded_att.bin", small)
a = MIMEApplication(small, "octet-stream")
a.add_header("Content-Disposition", "attachment", filename="folded.apf")
msg.attach(a)
text = msg.as_string(policy=policy.SMTP.clone(max_line_length=60))
# Fold the part's content type by hand: a break and a TAB before a parameter.
text = text.replace("Content-Type: application/octet-stream\r\n",
                    "Content-Type: application/octet-stream;\r\n\tname=\"folded.apf\"\r\n", 1)
# Fold the subject by hand too, once with a space and once with a TAB.
words = long_subject.split(" ")
raw_subject = " ".join(words[:10]) + "\r\n " + " ".join(words[10:20]) + "\r\n\t" + " ".join(words[20:])
text = text.replace("Subject: " + long_subject + "\r\n", "Subject: " + raw_subject + "\r\n", 1)
assert raw_subject in text
# Unfolding turns CR, LF and the blank after them into three spaces.
expected_subject = raw_subject.replace("\r\n ", "   ").replace("\r\n\t", "   ")
write_mail("folded_headers.eml", None, text=text, subject=expected_subject, folded=True,
           parts=[{"filename": "folded.apf", "data": "folded_att.bin", "encoding": "base64",
                   "name": "\"folded.apf\""}])

# 5. Boundary lines written in another letter case.
msg = MIMEMultipart("mixed", boundary="XyZ-Mixed.Case_Boundary")
msg["Subject"] = "case"
msg.attach(MIMEText("first\n"))
small2 = bytes(rng.randrange(256) for _ in range(3000))
save("case_att.bin", small2)
a = MIMEApplication(small2, "octet-stream")
a.add_header("Content-Disposition", "attachment", filename="case.apf")
msg.attach(a)
text = msg.as_string(policy=policy.compat32.clone(linesep="\r\n"))
text = text.replace("\r\n--XyZ-Mixed.Case_Boundary\r\nContent-Type: application",
                    "\r\n--xyz-mixed.case_boundary\r\nContent-Type: application")
text = text.replace("--XyZ-Mixed.Case_Boundary--", "--XYZ-MIXED.CASE_BOUNDARY--")
write_mail("boundary_case.eml", None, text=text, subject="case",
           parts=[{"filename": "case.apf", "data": "case_att.bin", "encoding": "base64"}])

# 6. An x-uuencode part made by uuencode.
uu_data = all_bytes_payload(5000)
save("uu_part.bin", uu_data)
msg = MIMEMultipart("mixed")
msg["Subject"] = "uuencode part"
msg.attach(MIMEText("see part\n"))
u = MIMENonMultipart("application", "octet-stream")
u.set_payload(uuencode(uu_data, "fax0002.apf"))
u["Content-Transfer-Encoding"] = "x-uuencode"
u.add_header("Content-Disposition", "attachment", filename="fax0002.apf")
msg.attach(u)
write_mail("uuencode_part.eml", msg, subject="uuencode part",
           parts=[{"filename": "fax0002.apf", "data": "uu_part.bin", "encoding": "x-uuencode"}])

# 7. A uuencoded block written inline in a plain text part.
inline_data = bytes(rng.randrange(256) for _ in range(2000))
save("inline.bin", inline_data)
block = uuencode(inline_data, "fax.apf")
block_lines = block.splitlines()
with open(os.path.join(OUT, "inline_block.txt"), "w") as f:
    f.write("\n".join(block_lines[1:-1]) + "\n")
body = "Hello,\nthe fax follows.\n\n" + block + "\nRegards\n"
msg = MIMEMultipart("mixed")
msg["Subject"] = "inline uuencode"
msg.attach(MIMEText(body))
write_mail("inline_uuencode.eml", msg, subject="inline uuencode",
           inline={"name": "fax.apf", "data": "inline.bin", "lines": "inline_block.txt"},
           text_lines=["Hello,", "the fax follows.", "", "", "Regards"])

with open(os.path.join(OUT, "manifest.json"), "w") as f:
    json.dump(manifest, f, indent=1)
