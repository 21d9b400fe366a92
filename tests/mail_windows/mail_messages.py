#!/usr/bin/env python3
"""Messages of today's mail programs, made with Python's email package, and a
reader that checks what the send window wrote.

  mail_messages.py send HOST PORT TO PREFIX   sends one message per case; the
                                              subject is PREFIX + " " + case
  mail_messages.py inspect FILE               prints what a parser sees (JSON)
  mail_messages.py fields FILE                the same as lines NAME<TAB>HEX of
                                              UTF-8 (for tests without JSON)
"""
import email
import email.header
import email.utils
import hashlib
import json
import smtplib
import sys
from email import policy
from email.message import EmailMessage
from email.parser import BytesParser
from email.utils import parsedate_to_datetime

PNG = bytes.fromhex("89504e470d0a1a0a0000000d49484452") + bytes(range(40))


def cases(prefix, to):
    def base(case, subject=None):
        m = EmailMessage()
        m["From"] = "Other Program <other@quill.test>"
        m["To"] = to
        m["Subject"] = subject if subject is not None else prefix + " " + case
        return m

    m = base("alternative")
    m.set_content("Plain first line\nsecond line\n")
    m.add_alternative("<p>Plain first line</p>", subtype="html")
    yield m

    m = base("mixed")
    m.set_content("Mixed text\n")
    m.add_alternative("<p>Mixed text</p>", subtype="html")
    m.add_attachment(b"report data \x00\xff", maintype="application", subtype="octet-stream",
                     filename="report.bin")
    yield m

    m = base("related")
    m.set_content("Related text\n")
    m.add_alternative('<p>Related <img src="cid:pic1"></p>', subtype="html")
    m.get_payload()[1].add_related(PNG, "image", "png", cid="<pic1>")
    yield m

    m = base("htmlonly")
    m.set_content("<html><body><p>Only <b>HTML</b> here</p></body></html>", subtype="html")
    yield m

    # Encoded words in the subject (utf-8, q) and the sender; a UTF-8 body.
    m = base("utf8", subject=prefix + " utf8 Gr\u00fc\u00dfe \u20ac")
    m.replace_header("From", "J\u00fcrgen <juergen@quill.test>")
    m.set_content("Gr\u00fc\u00dfe aus K\u00f6ln \u2603\n", charset="utf-8")
    yield m

    m = base("latin1")
    m.set_content("caf\u00e9 cr\u00e8me\n", charset="iso-8859-1")
    yield m

    # A text part in quoted-printable whose first line is the sender's text.
    m = base("qp")
    m.set_content("First line stays\nna\u00efve second\n", charset="utf-8", cte="quoted-printable")
    m.add_attachment(b"x" * 10, maintype="text", subtype="plain", filename="notes.txt")
    yield m

    # HTML only, linking local files as style sheet, import and image, from a
    # sender whose display name decodes to another address.
    yield email.message_from_string(
        "From: =?utf-8?q?=3Cevil=40x=2Etest=3E?= <hostile@quill.test>\n"
        "To: " + to + "\nSubject: " + prefix + " htmlres\nMIME-Version: 1.0\n"
        "Content-Type: text/html; charset=us-ascii\n\n"
        '<html><head><link rel="stylesheet" href="file:///dev/zero">'
        '<style>@import "file:///dev/zero"; @import url(file:///etc/passwd);</style></head>'
        '<body><p>Local <b>resources</b></p><img src="file:///dev/zero" alt="[picture]"></body></html>\n',
        policy=policy.compat32)


def send(host, port, to, prefix):
    with smtplib.SMTP(host, int(port), timeout=20) as smtp:
        for message in cases(prefix, to):
            smtp.send_message(message)


def inspect(path):
    with open(path, "rb") as f:
        raw = f.read()
    msg = BytesParser(policy=policy.compat32).parsebytes(raw)
    defects = []
    parts = []
    for part in msg.walk():
        defects += [type(d).__name__ for d in part.defects]
        if part.is_multipart():
            continue
        payload = part.get_payload(decode=True) or b""
        parts.append({
            "type": part.get_content_type(),
            "charset": part.get_param("charset") or "",
            "cte": part.get("Content-Transfer-Encoding", ""),
            "filename": part.get_filename() or "",
            "sha256": hashlib.sha256(payload).hexdigest(),
            "bytes": payload.hex() if len(payload) < 4096 else "",
            # The text as lines joined by LF, the empty lines around it dropped.
            "lines_sha256": hashlib.sha256(payload.replace(b"\r\n", b"\n").strip(b"\n")).hexdigest(),
            "_lines": payload.replace(b"\r\n", b"\n").strip(b"\n"),
        })
    def decoded(value):
        # Unfolded (the line breaks taken out), then the encoded words decoded.
        value = value.replace("\r\n", "").replace("\n", "") if value else ""
        return str(email.header.make_header(email.header.decode_header(value))) if value else ""

    # Addresses are taken apart first; only then are the names decoded.
    def unfolded(value):
        return value.replace("\r\n", "").replace("\n", "")

    sender = email.utils.parseaddr(unfolded(msg.get("From", "")))
    recipients = email.utils.getaddresses([unfolded(v) for v in msg.get_all("To", [])])
    date = msg.get("Date", "")
    try:
        when = parsedate_to_datetime(date).isoformat()
    except (TypeError, ValueError):
        when = ""
    return {
        "defects": defects,
        "date": when,
        "mailer": msg.get("X-Mailer", ""),
        "subject": decoded(msg.get("Subject", "")),
        "from_name": decoded(sender[0]),
        "from_address": sender[1],
        "to": ",".join(address for _, address in recipients),
        "longest_line": max(len(line.rstrip(b"\r")) for line in raw.split(b"\n")),
        "parts": parts,
    }


def fields(path):
    seen = inspect(path)
    text = seen["parts"][0] if seen["parts"] else {}
    rows = {
        "defects": " ".join(seen["defects"]),
        "subject": seen["subject"],
        "from_name": seen["from_name"],
        "from_address": seen["from_address"],
        "to": seen["to"],
        "longest_line": str(seen["longest_line"]),
        "text_cte": text.get("cte", ""),
        "text_charset": text.get("charset", ""),
        "text_lines_sha256": text.get("lines_sha256", ""),
        "filenames": "/".join(p["filename"] for p in seen["parts"][1:]),
    }
    for name, value in rows.items():
        print(name + "\t" + value.encode("utf-8").hex())
    # Bytes as they are (the text in its own charset).
    print("text_lines\t" + text.get("_lines", b"").hex())


if __name__ == "__main__":
    if sys.argv[1] == "send":
        send(*sys.argv[2:6])
    elif sys.argv[1] == "inspect":
        seen = inspect(sys.argv[2])
        for part in seen["parts"]:
            del part["_lines"]
        print(json.dumps(seen))
    elif sys.argv[1] == "fields":
        fields(sys.argv[2])
    else:
        sys.exit("usage: mail_messages.py send HOST PORT TO PREFIX | inspect FILE")
