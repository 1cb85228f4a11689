#!/usr/bin/python3
"""Reads the mails our writer makes with Python's own MIME parser (the
standard email package) and checks that what went in comes out: subject,
sender name, recipients, body text (ISO-2022-JP decoded back to the
original Japanese), HTML part, inline images and attachment bytes.

Two sets: the hand-written golden mails in $PELVANE_FIXTURES/mail/ (their
inputs come from make_goldens.py there), and the mails that
$PELVANE_TOOLS/write_sample_messages builds (it lists their inputs in a
manifest)."""

import email
import email.policy
import email.utils
import json
import os
import re
import subprocess
import sys
import tempfile
import unicodedata
import unittest

FIXTURES = os.environ.get("PELVANE_FIXTURES", "")
TOOLS = os.environ.get("PELVANE_TOOLS", "")
sys.dont_write_bytecode = True  # leave no cache in the fixtures folder
sys.path.insert(0, os.path.join(FIXTURES, "mail"))
import make_goldens  # noqa: E402  (the goldens' inputs)


def wide_kana(text):
    """Half-width katakana as the transport converter writes them: full-width,
    a voiced or semi-voiced mark folded into its letter where it can be."""
    def widen(m):
        s = unicodedata.normalize("NFKC", m.group(0))
        return s.replace("\u3099", "\u309b").replace("\u309a", "\u309c")
    return re.sub("[\uff61-\uff9f]+", widen, text)


def from_wire(data):
    """What an SMTP server stores: DATA lines with the added period removed.
    Checks the wire rules on the way."""
    lines = data.split(b"\r\n")
    assert lines[-1] == b"", "the message ends with CR LF"
    out = []
    for line in lines[:-1]:
        assert b"\r" not in line and b"\n" not in line, "bare line break: %r" % line[:60]
        assert line != b".", "a lone period would end the DATA"
        assert len(line) <= 998, "line of %d characters" % len(line)
        out.append(line[1:] if line.startswith(b".") else line)
    return b"\r\n".join(out) + b"\r\n"


def text_of(part):
    return part.get_content().replace("\r\n", "\n").rstrip("\n").split("\n")


def rewrite(page):
    for marker in ('<img src="', '<IMG SRC="', 'background="', 'BACKGROUND="'):
        page = re.sub(re.escape(marker) + r'(?!https?:)', lambda m: m.group(0) + "cid:", page)
    return page


class MailReader(unittest.TestCase):
    def check_mail(self, label, data, mode, sender, sender_name, to, subject, body, page, files, seven_bit=True):
        """`files`: list of (name, bytes) in order; `page`: the merged HTML page or ""."""
        if seven_bit:
            self.assertTrue(all(b < 0x80 for b in data), label + ": 8-bit byte on the wire")
        raw = from_wire(data)
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        self.assertEqual(msg.defects, [], label)
        self.assertEqual(str(msg["Subject"] or ""), wide_kana(subject), label)
        frm = msg["From"].addresses[0]
        self.assertEqual(frm.addr_spec, sender, label)
        self.assertEqual(frm.display_name, wide_kana(sender_name), label)
        self.assertEqual([a.addr_spec for a in msg["To"].addresses], to, label)
        self.assertIsNotNone(email.utils.parsedate_to_datetime(msg["Date"]), label)
        self.assertRegex(msg["Message-ID"], r"^<\d{18}\.[0-9A-F]{32}@[^>]+>$")
        charset = "iso-2022-jp" if mode == 0 else "us-ascii"

        if not page and not files:
            self.assertEqual(msg.get_content_type(), "text/plain", label)
            self.assertEqual(msg.get_content_charset(), charset, label)
            self.assertEqual(text_of(msg), [wide_kana(l) for l in body], label)
            return

        leaves = [p for p in msg.walk() if not p.is_multipart()]
        texts = [p for p in leaves if p.get_content_maintype() == "text" and p.get_filename() is None]
        attached = [p for p in leaves if p.get_filename() is not None]
        self.assertEqual(texts[0].get_content_type(), "text/plain", label)
        self.assertEqual(texts[0].get_content_charset(), charset, label)
        self.assertEqual(text_of(texts[0]), [wide_kana(l) for l in body], label)
        self.assertEqual([p.get_filename() for p in attached], [n for n, _ in files], label)
        for part, (name, content) in zip(attached, files):
            self.assertEqual(part.get_payload(decode=True), content, label + " " + name)

        if not page:
            self.assertEqual(msg.get_content_type(), "multipart/mixed", label)
            self.assertEqual(len(texts), 1, label)
            for part in attached:
                self.assertEqual(part.get_content_disposition(), "attachment", label)
            return

        self.assertEqual(texts[1].get_content_type(), "text/html", label)
        html = texts[1].get_content().replace("\r\n", "\n").rstrip("\n")
        # A "cid:" reference names a part by its Content-ID as it stands
        # (RFC 2392): the raw header value, not a decoded form of it.
        ids = {}
        for part in attached:
            self.assertEqual(part.get_content_disposition(), "inline", label)
            raw = dict(part.raw_items())["Content-ID"]
            ids[part.get_filename()] = raw.strip().strip("<>")
        # Each local image is referred to by the Content-ID of its part.
        expected = rewrite(wide_kana(page).replace("\r\n", "\n").rstrip("\n"))
        for name, cid in ids.items():
            expected = expected.replace('"cid:%s"' % name, '"cid:%s"' % cid)
        self.assertEqual(html, expected, label)
        for ref in re.findall(r'"cid:([^"]*)"', html):
            self.assertIn(ref, ids.values(), label + " unresolved cid:" + ref)
        self.assertEqual(msg.get_content_type(),
                         "multipart/related" if attached else "multipart/alternative", label)

    def test_goldens(self):
        g = make_goldens
        inputs = g.input_files()
        for kind in ("plain", "mixed", "alternative", "related"):
            for mode_name in ("ja", "en"):
                label = "%s-%s.eml" % (kind, mode_name)
                with open(os.path.join(FIXTURES, "mail", label), "rb") as f:
                    data = f.read()
                address, name = g.SENDER[mode_name]
                if (kind, mode_name) in g.NO_SENDER_NAME:
                    name = ""
                recipient, multi = g.RECIPIENT.get((kind, mode_name), ("[[Mail Address]]", 0))
                entries = g.merge(recipient, mode_name).split(",")
                to = entries if multi == 0 else entries[:1]
                page = {"alternative": g.PAGE_ALT, "related": g.PAGE_REL}.get(kind, {}).get(mode_name, "")
                names = {"mixed": ["data.bin", "readme.txt"], "related": ["logo.gif", "bg.gif", "data.bin"]}
                files = [(n, inputs[n]) for n in names.get(kind, [])]
                self.check_mail(label, data, 0 if mode_name == "ja" else 1, address, g.merge(name, mode_name), to,
                                g.merge(g.SUBJECT[mode_name], mode_name),
                                [g.merge(l, mode_name) for l in g.BODY[mode_name]], g.merge(page, mode_name), files)

    def test_written_samples(self):
        tool = os.path.join(TOOLS, "write_sample_messages")
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run([tool, folder], check=True)
            with open(os.path.join(folder, "manifest.json"), encoding="utf-8") as f:
                samples = json.load(f)
            self.assertGreaterEqual(len(samples), 8)
            for s in samples:
                with open(os.path.join(folder, s["name"] + ".eml"), "rb") as f:
                    data = f.read()
                files = []
                for name, path in zip(s["file_names"], s["file_paths"]):
                    with open(path.encode("cp932"), "rb") as f:
                        files.append((name, f.read()))
                self.check_mail(s["name"], data, s["mode"], s["sender"], s["sender_name"], [s["to"]],
                                s["subject"], s["body"], s["html"], files)


if __name__ == "__main__":
    unittest.main()
