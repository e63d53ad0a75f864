#!/usr/bin/env python3
"""Writes one mail as the fax-to-mail forwarding server sends it, built with
Python's email package: a subject carrying the server's marker, a text part
with the sender and date lines, and each fax file attached in base64.

  make_fax_mail.py --sender "+1 555 0100" --date "12/08/2026 09:15" \
      --attach fax0001.apf > mail.eml

Without --attach the mail carries no fax file; with --plain it is an ordinary
mail without the marker (to fill a mailbox with other mail). A name that is
not plain ASCII, or a long one, is written in RFC 2231 form, as the email
package does; --name-on-type gives the name only as Content-Type's name=, and
--subject-last puts the Subject line after the MIME header lines.

Mails of other fax gateways: --typed gives each attachment the MIME type of
its file name (image/tiff, application/pdf, image/png, ...) instead of
application/octet-stream; --single-part FILE makes the whole body that file
(base64, with the type and a file name); --date-header sets the Date field.
With --plain, --attach still adds attachments (an invoice, say).
"""
import argparse
import email.policy
import mimetypes
import os
import sys
from email.message import EmailMessage


def file_type(path):
    guessed = mimetypes.guess_type(path)[0] or "application/octet-stream"
    return tuple(guessed.split("/", 1))


def attach(msg, args):
    for path in args.attach:
        with open(path, "rb") as f:
            data = f.read()
        name = args.name or os.path.basename(path)
        maintype, subtype = file_type(path) if args.typed else ("application", "octet-stream")
        msg.add_attachment(data, maintype=maintype, subtype=subtype, filename=name)
        if args.name_on_type:
            part = msg.get_payload()[-1]
            del part["Content-Disposition"]
            part.set_param("name", name)


def build(args):
    msg = EmailMessage(policy=email.policy.SMTP.clone(linesep="\n"))
    msg["From"] = args.sender_address
    msg["To"] = args.to
    msg["Date"] = args.date_header
    if args.single_part:
        msg["Subject"] = args.subject or "Fax received {Varnel}"
        with open(args.single_part, "rb") as f:
            data = f.read()
        maintype, subtype = file_type(args.single_part)
        msg.set_content(data, maintype=maintype, subtype=subtype,
                        filename=os.path.basename(args.single_part))
        msg.set_param("name", os.path.basename(args.single_part))
        return msg
    if args.plain:
        msg["Subject"] = args.subject or "Minutes of the meeting"
        msg.set_content(args.body or "Nothing to do with faxes.\n")
        attach(msg, args)
        return msg
    if not args.subject_last:
        msg["Subject"] = args.subject or "Fax received {Varnel}"
    lines = ["A fax was received for you."]
    if args.sender is not None:
        # The server ends the value with a ";" that is not part of the id.
        lines.append("{FaxSender}=" + args.sender + ";")
    if args.date is not None:
        lines.append("{FaxDate}=" + args.date)
    if args.body:
        lines.append(args.body)
    msg.set_content("\n".join(lines) + "\n")
    attach(msg, args)
    if args.padding:
        msg.add_attachment(os.urandom(args.padding), maintype="application",
                           subtype="octet-stream")
    if args.subject_last:
        msg["Subject"] = args.subject or "Fax received {Varnel}"
    return msg


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--sender", help="sender ID line value")
    p.add_argument("--date", help="fax date line value")
    p.add_argument("--attach", action="append", default=[], help="fax file to attach")
    p.add_argument("--name", help="file name to give the attachment")
    p.add_argument("--subject", help="subject (default carries the marker)")
    p.add_argument("--body", help="extra body text")
    p.add_argument("--name-on-type", action="store_true",
                   help="name the attachment only by Content-Type's name=")
    p.add_argument("--subject-last", action="store_true",
                   help="write the Subject after the MIME header lines")
    p.add_argument("--plain", action="store_true", help="an ordinary mail")
    p.add_argument("--padding", type=int, default=0,
                   help="add an unnamed attachment of this many random bytes")
    p.add_argument("--typed", action="store_true",
                   help="give attachments the MIME type of their file names")
    p.add_argument("--single-part", help="a file that is the whole body of the mail")
    p.add_argument("--date-header", default="Tue, 08 Dec 2026 09:15:00 +0000")
    p.add_argument("--sender-address", default="Varnel Fax <fax@varnel.example>")
    p.add_argument("--to", default="office@example.com")
    args = p.parse_args()
    sys.stdout.buffer.write(build(args).as_bytes())


if __name__ == "__main__":
    main()
