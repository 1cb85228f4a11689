#!/usr/bin/python3
"""Checks the command-line sender from outside: documents are made by
$PELVANE_TOOLS/make_sample_document, pelvane-send runs on them as a user
would, and what it leaves behind is read back: the outbox files (parsed with
Python's own email package), the exit status, the last line of standard
output, the send log, what a real SMTP server (aiosmtpd, AUTH LOGIN, on a
free loopback port) received, and the send states written into the
document."""

import asyncio
import email
import email.policy
import json
import logging
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import unittest
import warnings

from aiosmtpd.smtp import SMTP, AuthResult

# AUTH without TLS is what these checks want; aiosmtpd warns about it.
warnings.filterwarnings("ignore", message="Requiring AUTH while not requiring TLS")
logging.getLogger("mail.log").setLevel(logging.ERROR)

BUILD = os.environ.get("PELVANE_BUILD", "")
TOOLS = os.environ.get("PELVANE_TOOLS", os.path.join(BUILD, "tests", "tools"))
FIXTURES = os.environ.get("PELVANE_FIXTURES", "")
SENDER = os.path.join(BUILD, "tools", "pelvane-send")
MAKER = os.path.join(TOOLS, "make_sample_document")
sys.dont_write_bytecode = True

SENDER_ADDRESS = "sales@example.jp"
SENDER_NAME = "ペルベーン営業部"
PASSWORD = "s3cret-パス"
USER = "pelvane-user"

# The records make_sample_document writes: (address, name, company, selected, state).
RECORDS = [
    ("hanako@example.jp", "鈴木花子", "株式会社ペルベーン", True, 0),
    ("taro@example.jp", "山田太郎", "山田商店", False, 1),
    ("alice@example.com", "Alice", "Example Ltd", True, 2),
    ("bob@example.com", "Bob", "Bob & Co", False, 0),
    ("carol@example.com", "Carol", "Carol Inc", True, 1),
]
SELECTED = [i for i, r in enumerate(RECORDS) if r[3]]
LOG_LINE = re.compile(r"^\d{4}/\d{2}/\d{2}( \d{1,2}:\d{2}:\d{2})? / (.*)$")


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def mask_moment(content):
    """A message with its Date and Message-ID values blanked."""
    return re.sub(rb"(?m)^(Date|Message-ID): [^\r\n]*", rb"\1: -", content)


def japanese_body(name, company):
    return [name + "様", "いつもお世話になっております。",
            company + "のご担当者様へ価格表をお送りします。", ".", "ペルベーン営業部"]


def english_body(name):
    return ["Dear %s," % name, "", "Please find the price list attached.", ".", "Regards"]


class SmtpServer:
    """aiosmtpd on 127.0.0.1 and a port the system chose, requiring AUTH
    LOGIN (without TLS, as on a submission port inside a company). It keeps
    what it received; `refuse` lists recipients answered 550; with `hold` the
    reply to the end of DATA waits until release() (or the stop)."""

    def __init__(self, refuse=(), hold=False):
        self.refuse = set(refuse)
        self.hold = hold
        self.messages = []  # (mail from, recipients, content bytes)
        self.logins = []
        self.data_seen = threading.Event()
        self._release = threading.Event()
        self.loop = asyncio.new_event_loop()
        self.port = None
        ready = threading.Event()

        def run():
            asyncio.set_event_loop(self.loop)
            self.server = self.loop.run_until_complete(
                self.loop.create_server(self._protocol, "127.0.0.1", 0))
            self.port = self.server.sockets[0].getsockname()[1]
            ready.set()
            self.loop.run_forever()

        self.thread = threading.Thread(target=run, daemon=True)
        self.thread.start()
        if not ready.wait(30):
            raise RuntimeError("the SMTP server did not start")

    def _protocol(self):
        return SMTP(self, hostname="pelvane-test", authenticator=self._authenticate, auth_required=True,
                    auth_require_tls=False)

    def _authenticate(self, server, session, envelope, mechanism, auth_data):
        self.logins.append((mechanism, bytes(auth_data.login), bytes(auth_data.password)))
        ok = mechanism == "LOGIN" and auth_data.login == USER.encode() and \
            auth_data.password == PASSWORD.encode("cp932")
        return AuthResult(success=ok)

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.refuse:
            return "550 5.1.1 <%s>: mailbox unavailable" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.messages.append((envelope.mail_from, list(envelope.rcpt_tos), envelope.content))
        self.data_seen.set()
        if self.hold:
            await self.loop.run_in_executor(None, self._release.wait)
        return "250 Message accepted"

    def release(self):
        self._release.set()

    async def _shutdown(self):
        self.server.close()
        await self.server.wait_closed()
        tasks = [t for t in asyncio.all_tasks() if t is not asyncio.current_task()]
        for t in tasks:
            t.cancel()
        await asyncio.gather(*tasks, return_exceptions=True)

    def stop(self):
        if self.loop.is_closed():
            return
        self._release.set()
        asyncio.run_coroutine_threadsafe(self._shutdown(), self.loop).result(30)
        self.loop.call_soon_threadsafe(self.loop.stop)
        self.thread.join(30)
        self.loop.close()


class PelvaneSendTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="pelvane-send-test-")
        self.home = os.path.join(self.root, "home")
        self.data = os.path.join(self.home, "data")
        self.runtime = os.path.join(self.root, "run")
        os.makedirs(self.data)
        os.makedirs(self.runtime, mode=0o700)
        self.env = dict(os.environ, HOME=self.home, XDG_DATA_HOME=self.data, XDG_RUNTIME_DIR=self.runtime,
                        TMPDIR=self.root, LANG="ja_JP.UTF-8")
        for name in ("LC_ALL", "LC_MESSAGES", "PV_PASSWORD"):
            self.env.pop(name, None)
        # The desktop application's preview folder, with a mail open in it:
        # pelvane-send must leave it alone.
        self.app_preview = os.path.join(self.runtime, "pelvane", "PelvaneMainPreview")
        os.makedirs(self.app_preview)
        os.chmod(os.path.join(self.runtime, "pelvane"), 0o700)
        with open(os.path.join(self.app_preview, "index.html"), "w") as f:
            f.write("<html>open in the application</html>")
        self.settings = self.write_settings(os.path.join(self.root, "settings.ini"))

    def tearDown(self):
        # Nothing of the run stays in the temporary folders, and the
        # application's preview folder is as it was.
        self.assertEqual(os.listdir(self.app_preview), ["index.html"])
        left = [n for n in os.listdir(os.path.join(self.runtime, "pelvane")) if n.startswith("pelvane-send")]
        left += [n for n in os.listdir(self.root) if n.startswith("pelvane-send-")]
        self.assertEqual(left, [], "temporary folders left behind")
        shutil.rmtree(self.root, ignore_errors=True)

    # ---- helpers ----

    def write_settings(self, path, **values):
        setup = {"From": SENDER_ADDRESS, "Name": SENDER_NAME, "Encode": "0", "SendContinue": "2"}
        setup.update(values)
        text = "[SETUP]\r\n" + "".join("%s=%s\r\n" % kv for kv in setup.items())
        with open(path, "wb") as f:
            f.write(text.encode("cp932"))
        return path

    def make_document(self, *options, name="mail.pvd"):
        path = os.path.join(self.root, name)
        subprocess.run([MAKER, "make", path, os.path.join(self.root, "files")] + list(options), check=True,
                       timeout=60)
        return path

    def dump(self, path):
        out = subprocess.run([MAKER, "dump", path], check=True, capture_output=True, timeout=60).stdout
        return json.loads(out.decode("utf-8"))

    def run_sender(self, *args, env=None):
        return subprocess.run([SENDER] + list(args), capture_output=True, stdin=subprocess.DEVNULL,
                              env=env or self.env, timeout=120)

    def last_line(self, result):
        lines = result.stdout.decode("utf-8").splitlines()
        return lines[-1] if lines else ""

    def stderr(self, result):
        return result.stderr.decode("utf-8", "replace")

    def parse(self, content):
        msg = email.message_from_bytes(content, policy=email.policy.default)
        self.assertEqual(msg.defects, [])
        return msg

    def leaves(self, msg):
        return [p for p in msg.walk() if not p.is_multipart()]

    def text_lines(self, part):
        return part.get_content().replace("\r\n", "\n").rstrip("\n").split("\n")

    def check_japanese_mail(self, msg, record):
        address, name, company = RECORDS[record][:3]
        self.assertEqual([a.addr_spec for a in msg["To"].addresses], [address])
        self.assertEqual(str(msg["Subject"]), name + "様へのご案内")
        sender = msg["From"].addresses[0]
        self.assertEqual((sender.addr_spec, sender.display_name), (SENDER_ADDRESS, SENDER_NAME))
        self.assertEqual(msg["X-Mailer"], "PelvanePersonal 1.0")
        self.assertEqual(msg.get_content_type(), "multipart/mixed")
        leaves = self.leaves(msg)
        self.assertEqual(leaves[0].get_content_type(), "text/plain")
        self.assertEqual(leaves[0].get_content_charset(), "iso-2022-jp")
        self.assertEqual(self.text_lines(leaves[0]), japanese_body(name, company))
        attached = [p for p in leaves if p.get_filename()]
        self.assertEqual([p.get_filename() for p in attached], ["price-list.txt"])
        self.assertEqual(attached[0].get_payload(decode=True), b"item,price\r\napple,100\r\n")

    def read_log(self, path):
        with open(path, "rb") as f:
            data = f.read()
        self.assertTrue(data.endswith(b"\r\n"))
        events = []
        for line in data.decode("cp932").split("\r\n")[:-1]:
            m = LOG_LINE.match(line)
            self.assertIsNotNone(m, "log line %r" % line)
            events.append(m.group(2))
        return events

    # ---- the dry run ----

    def test_outbox_writes_one_mail_per_selected_record(self):
        doc = self.make_document()
        before = read_bytes(doc)
        outbox = os.path.join(self.root, "out", "box")  # does not exist yet
        r = self.run_sender("--settings", self.settings, "--outbox", outbox, "--save-states", doc)
        self.assertEqual(r.returncode, 0, self.stderr(r))
        self.assertEqual(self.last_line(r), "sent 3, failed 0, not sent 0")
        self.assertEqual(sorted(os.listdir(outbox)), ["0001.eml", "0003.eml", "0005.eml"])
        for record in SELECTED:
            with open(os.path.join(outbox, "%04d.eml" % (record + 1)), "rb") as f:
                content = f.read()
            self.assertTrue(all(b < 0x80 for b in content), "8-bit byte in a Japanese mail")
            # As the DATA carries it, but without the added periods.
            self.assertIn(b"\r\n.\r\n", content)
            self.assertNotIn(b"\r\n..\r\n", content)
            self.assertNotRegex(content, rb"(?<!\r)\n")
            self.check_japanese_mail(self.parse(content), record)
        # A dry run marks nothing and writes no send log.
        self.assertEqual(read_bytes(doc), before)
        self.assertIn("dry run", self.stderr(r))
        self.assertFalse(os.path.exists(os.path.join(self.data, "PelvanePersonal", "log.txt")))

    def test_outbox_html_mail_in_english_mode(self):
        doc = self.make_document("--html", "--english")
        outbox = os.path.join(self.root, "out")
        log = os.path.join(self.root, "dry-log.txt")
        r = self.run_sender("--settings", self.settings, "--english", "--outbox", outbox, "--log", log, "-q",
                            doc)
        self.assertEqual(r.returncode, 0, self.stderr(r))
        self.assertEqual(self.last_line(r), "sent 3, failed 0, not sent 0")
        self.assertEqual(self.stderr(r), "")
        with open(os.path.join(outbox, "0003.eml"), "rb") as f:
            msg = self.parse(f.read())
        self.assertEqual(str(msg["Subject"]), "Notice for Alice of Example Ltd")
        self.assertEqual([a.addr_spec for a in msg["To"].addresses], ["alice@example.com"])
        self.assertEqual(msg.get_content_type(), "multipart/related")
        leaves = self.leaves(msg)
        plain = [p for p in leaves if p.get_content_type() == "text/plain"]
        html = [p for p in leaves if p.get_content_type() == "text/html"]
        self.assertEqual(plain[0].get_content_charset(), "us-ascii")
        self.assertEqual(self.text_lines(plain[0]), english_body("Alice"))
        self.assertIn("<p>Dear Alice</p>", html[0].get_content())
        self.assertIn('src="cid:logo.gif"', html[0].get_content())
        self.assertEqual(sorted(p.get_filename() for p in leaves if p.get_filename()),
                         ["logo.gif", "price-list.txt"])
        events = self.read_log(log)
        self.assertEqual([e for e in events if e.endswith("Subject")], ["1(1) Subject", "2(3) Subject",
                                                                         "3(5) Subject"])

    def test_settings_from_the_data_folder(self):
        folder = os.path.join(self.data, "PelvanePersonal")
        os.makedirs(folder, exist_ok=True)
        self.write_settings(os.path.join(folder, "pelvane.ini"), From="default@example.jp", Name="Default")
        doc = self.make_document()
        outbox = os.path.join(self.root, "out")
        r = self.run_sender("--outbox", outbox, doc)
        self.assertEqual(r.returncode, 0, self.stderr(r))
        with open(os.path.join(outbox, "0001.eml"), "rb") as f:
            msg = self.parse(f.read())
        self.assertEqual(msg["From"].addresses[0].addr_spec, "default@example.jp")

    def test_double_byte_recipient_counts_as_failed(self):
        doc = self.make_document("--bad-recipient", "--extra", "2")
        outbox = os.path.join(self.root, "out")
        r = self.run_sender("--settings", self.settings, "--outbox", outbox, "--policy", "continue", doc)
        self.assertEqual(r.returncode, 2, self.stderr(r))
        self.assertEqual(self.last_line(r), "sent 5, failed 1, not sent 0")
        self.assertNotIn("0006.eml", os.listdir(outbox))
        self.assertIn("double-byte", self.stderr(r))

        shutil.rmtree(outbox)
        r = self.run_sender("--settings", self.settings, "--outbox", outbox, "--policy", "terminate", doc)
        self.assertEqual(r.returncode, 3, self.stderr(r))
        self.assertEqual(self.last_line(r), "sent 3, failed 1, not sent 2")
        self.assertEqual(sorted(os.listdir(outbox)), ["0001.eml", "0003.eml", "0005.eml"])

        # The settings' policy: 4 terminates; 3 (a dialog) continues when
        # nobody is at a terminal to answer it.
        for value, status, line in (("4", 3, "sent 3, failed 1, not sent 2"),
                                    ("3", 2, "sent 5, failed 1, not sent 0")):
            shutil.rmtree(outbox)
            settings = self.write_settings(os.path.join(self.root, "policy.ini"), SendContinue=value)
            r = self.run_sender("--settings", settings, "--outbox", outbox, doc)
            self.assertEqual((r.returncode, self.last_line(r)), (status, line), value)

    def test_missing_attachment_stops_the_run(self):
        doc = self.make_document("--missing-attachment")
        outbox = os.path.join(self.root, "out")
        r = self.run_sender("--settings", self.settings, "--outbox", outbox, doc)
        self.assertEqual(r.returncode, 3, self.stderr(r))
        self.assertEqual(self.last_line(r), "sent 0, failed 1, not sent 2")
        self.assertEqual(os.listdir(outbox), [])
        self.assertIn("missing-file.txt", self.stderr(r))

    def test_outbox_that_cannot_be_written(self):
        doc = self.make_document()
        blocker = os.path.join(self.root, "a-file")
        with open(blocker, "w") as f:
            f.write("not a folder")
        for outbox in (blocker, os.path.join(blocker, "box")):
            r = self.run_sender("--settings", self.settings, "--outbox", outbox, doc)
            self.assertEqual(r.returncode, 1, self.stderr(r))
            self.assertIn("outbox", self.stderr(r))
            self.assertNotIn("sent", self.last_line(r))
        self.assertEqual(read_bytes(blocker), b"not a folder")

    # ---- bad usage and unreadable documents ----

    def test_bad_usage(self):
        doc = self.make_document()
        cases = [
            ([], "no document"),
            (["--bogus", doc], "unknown option --bogus"),
            (["--policy", "maybe", doc], "--policy"),
            (["--smtp", "host:99999", doc], "--smtp"),
            (["--smtp"], "needs a value"),
            (["--japanese", "--english", doc], "exclude"),
            (["--password-env", "PV_PASSWORD", "--smtp", "localhost", doc], "PV_PASSWORD"),
            (["--settings", os.path.join(self.root, "missing.ini"), doc], "missing.ini"),
            ([doc, doc], "one document"),
            (["--settings", self.write_settings(os.path.join(self.root, "no-smtp.ini")), doc], "SMTP server"),
        ]
        for args, text in cases:
            r = self.run_sender(*args)
            self.assertEqual(r.returncode, 1, args)
            self.assertIn(text, self.stderr(r), args)
            self.assertIn("--help", self.stderr(r), args)
            self.assertEqual(r.stdout, b"", args)
        r = self.run_sender("--help")
        self.assertEqual(r.returncode, 0)
        self.assertIn("Usage: pelvane-send [options] DOCUMENT.pvd", r.stdout.decode())
        r = self.run_sender("--version")
        self.assertEqual(r.returncode, 0)
        self.assertIn("1.0", r.stdout.decode())

    def test_unreadable_documents(self):
        outbox = os.path.join(self.root, "out")
        cases = [os.path.join(FIXTURES, "document", "not_a_document.pvd"),
                 os.path.join(self.root, "missing.pvd"), self.root]
        for doc in cases:
            r = self.run_sender("--settings", self.settings, "--outbox", outbox, doc)
            self.assertEqual(r.returncode, 1, doc)
            self.assertIn("cannot read the document " + doc, self.stderr(r))
            self.assertEqual(r.stdout, b"")
        self.assertFalse(os.path.exists(outbox))

    def test_nothing_selected(self):
        doc = self.make_document("--no-selection")
        r = self.run_sender("--settings", self.settings, "--outbox", os.path.join(self.root, "out"), doc)
        self.assertEqual(r.returncode, 1)
        self.assertIn("You haven't selected any addresses", self.stderr(r))

    # ---- the real send ----

    def send_env(self):
        return dict(self.env, PV_PASSWORD=PASSWORD)

    def server_args(self, server):
        return ["--settings", self.settings, "--smtp", "127.0.0.1:%d" % server.port, "--user", USER,
                "--password-env", "PV_PASSWORD"]

    def test_send_to_a_real_server(self):
        doc = self.make_document()
        server = SmtpServer()
        try:
            log = os.path.join(self.root, "send-log.txt")
            r = self.run_sender(*self.server_args(server), "--log", log, doc, env=self.send_env())
        finally:
            server.stop()
        self.assertEqual(r.returncode, 0, self.stderr(r))
        self.assertEqual(self.last_line(r), "sent 3, failed 0, not sent 0")
        self.assertEqual(server.logins[0], ("LOGIN", USER.encode(), PASSWORD.encode("cp932")))
        self.assertEqual(len(server.messages), 3)
        for (mail_from, rcpts, content), record in zip(server.messages, SELECTED):
            self.assertEqual(mail_from, SENDER_ADDRESS)
            self.assertEqual(rcpts, [RECORDS[record][0]])
            self.check_japanese_mail(self.parse(content), record)
        events = self.read_log(log)
        self.assertTrue(events[0].startswith("Connected to SMTP server. ( 127.0.0.1:%d / 2 )" % server.port),
                        events)
        self.assertEqual([e for e in events if e.endswith("Subject")],
                         ["1(1) Subject", "2(3) Subject", "3(5) Subject"])
        self.assertEqual(events.count("Mail has been sent."), 3)
        self.assertEqual(events[-1], "Mail successfully sent.")

        # The dry run writes what the server got, byte for byte, but for the
        # moment of writing (Date, Message-ID).
        outbox = os.path.join(self.root, "out")
        r = self.run_sender(*self.server_args(server), "--outbox", outbox, doc, env=self.send_env())
        self.assertEqual(r.returncode, 0, self.stderr(r))
        for (_, _, content), record in zip(server.messages, SELECTED):
            written = read_bytes(os.path.join(outbox, "%04d.eml" % (record + 1)))
            self.assertEqual(mask_moment(written), mask_moment(content))

    def test_save_states_after_a_send(self):
        doc = self.make_document("--html")
        server = SmtpServer(refuse=["carol@example.com"])
        try:
            r = self.run_sender(*self.server_args(server), "--save-states", doc, env=self.send_env())
        finally:
            server.stop()
        self.assertEqual(r.returncode, 2, self.stderr(r))
        self.assertEqual(self.last_line(r), "sent 2, failed 1, not sent 0")
        self.assertEqual(sorted(rcpts[0] for _, rcpts, _ in server.messages),
                         ["alice@example.com", "hanako@example.jp"])
        saved = self.dump(doc)
        self.assertEqual(saved["version"], 3)
        self.assertEqual([r["state"] for r in saved["records"]], [1, 1, 1, 0, 2])
        self.assertEqual([r["selected"] for r in saved["records"]], [rec[3] for rec in RECORDS])
        self.assertEqual([r["values"][1] for r in saved["records"]], [rec[1] for rec in RECORDS])
        # The rest of the document is as it was: texts and the packed HTML files.
        self.assertEqual(saved["subject"], "[[Name]]様へのご案内")
        self.assertEqual(saved["from"], "document-sender@example.jp")
        self.assertEqual(saved["html_template"], "Sample")
        self.assertEqual(sorted(saved["html_files"]), ["index.html", "logo.gif"])
        # The default log of the data folder tells why the third mail failed.
        events = self.read_log(os.path.join(self.data, "PelvanePersonal", "log.txt"))
        self.assertIn("A problem occurred during transmission. ( 550 )", events)
        self.assertIn("Access refused by SMTP server.", events)
        self.assertEqual(events.count("Mail has been sent."), 2)

    def test_connection_failure(self):
        doc = self.make_document()
        server = SmtpServer()
        port = server.port
        server.stop()  # nothing listens there now
        r = self.run_sender("--settings", self.settings, "--smtp", "127.0.0.1:%d" % port, doc)
        self.assertEqual(r.returncode, 2, self.stderr(r))
        self.assertEqual(self.last_line(r), "sent 0, failed 0, not sent 3")
        self.assertIn("Unable to connect to SMTP server.", self.stderr(r))

    def test_sigterm_cancels_a_running_send(self):
        doc = self.make_document("--extra", "5")
        before = self.dump(doc)
        server = SmtpServer(hold=True)
        try:
            proc = subprocess.Popen([SENDER] + self.server_args(server) + ["--save-states", doc],
                                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                    env=self.send_env())
            self.assertTrue(server.data_seen.wait(60), "the first mail never reached the server")
            proc.send_signal(signal.SIGTERM)
            out, err = proc.communicate(timeout=60)
        finally:
            server.stop()
        self.assertEqual(proc.returncode, 3, err.decode("utf-8", "replace"))
        last = out.decode().splitlines()[-1]
        m = re.match(r"^sent (\d+), failed (\d+), not sent (\d+)$", last)
        self.assertIsNotNone(m, last)
        sent, failed, not_sent = map(int, m.groups())
        self.assertEqual(sent, 0)
        self.assertEqual(sent + failed + not_sent, 8)
        self.assertGreaterEqual(not_sent, 7)
        # Records the job did not get to keep their states.
        after = self.dump(doc)
        self.assertEqual([r["state"] for r in after["records"][1:]],
                         [r["state"] for r in before["records"][1:]])


if __name__ == "__main__":
    unittest.main()
