#!/usr/bin/python3
"""The send job's POP before SMTP reconnection, against real servers: an
SMTP server without AUTH (aiosmtpd) refuses the first mail once, the job
reconnects after a POP3 login at Dovecot, and the mail then goes through.
Checked from outside: the POP3 server's log shows the login, the SMTP server
received the mail on a second connection, the sender's exit status and last
line say every mail was sent, and the send log tells the story."""

import importlib.util
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
module_spec = importlib.util.spec_from_file_location("servers", os.path.join(HERE, "test_smtp_servers.py"))
servers = importlib.util.module_from_spec(module_spec)
module_spec.loader.exec_module(servers)

from aiosmtpd.controller import Controller  # noqa: E402

BUILD = os.environ.get("PELVANE_BUILD", "")
TOOLS = os.environ.get("PELVANE_TOOLS", os.path.join(BUILD, "tests", "tools"))
SENDER = os.path.join(BUILD, "tools", "pelvane-send")
MAKER = os.path.join(TOOLS, "make_sample_document")


class RefuseFirstMail:
    """Refuses the first RCPT with a temporary error, then takes every mail."""

    def __init__(self):
        self.lock = threading.Lock()
        self.refused = 0
        self.ehlo = 0
        self.messages = []

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        with self.lock:
            self.ehlo += 1
        session.host_name = hostname
        return responses

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        with self.lock:
            if self.refused == 0:
                self.refused += 1
                return "451 4.7.1 please log in to POP3 first"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.messages.append(envelope.rcpt_tos[:])
        return "250 OK queued"


@unittest.skipUnless(os.access(servers.DOVECOT, os.X_OK), "dovecot-pop3d is not installed")
class PopBeforeSmtpJob(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="pelvane-popjob-")
        home = os.path.join(self.root, "home")
        os.makedirs(os.path.join(home, "data"))
        self.env = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(home, "data"), TMPDIR=self.root,
                        PV_PASSWORD=servers.PASSWORD)
        self.env.pop("XDG_RUNTIME_DIR", None)
        self.settings = os.path.join(self.root, "settings.ini")
        with open(self.settings, "wb") as f:
            f.write(b"[SETUP]\r\nFrom=sales@example.jp\r\nName=Sales\r\nEncode=0\r\nSendContinue=2\r\n")

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def test_refused_mail_goes_through_after_a_pop3_login(self):
        doc = os.path.join(self.root, "mail.pvd")
        subprocess.run([MAKER, "make", doc, os.path.join(self.root, "files")], check=True, timeout=60)
        log = os.path.join(self.root, "log.txt")
        handler = RefuseFirstMail()
        port = servers.free_port()
        smtp = Controller(handler, hostname="127.0.0.1", port=port, ready_timeout=30)
        smtp.start()
        try:
            with servers.PopServer() as pop:
                result = subprocess.run(
                    [SENDER, "--settings", self.settings, "--smtp", "127.0.0.1:%d" % port, "--pop", pop.address,
                     "--user", servers.USER, "--password-env", "PV_PASSWORD", "--log", log, doc],
                    capture_output=True, stdin=subprocess.DEVNULL, env=self.env, timeout=120)
                pop_log = "".join(pop.log)
        finally:
            smtp.stop()
        out = result.stdout.decode("utf-8", "replace")
        self.assertEqual(result.returncode, 0, out + result.stderr.decode("utf-8", "replace"))
        self.assertEqual(out.splitlines()[-1], "sent 3, failed 0, not sent 0")
        self.assertEqual(handler.refused, 1)
        self.assertEqual(len(handler.messages), 3)
        self.assertGreaterEqual(handler.ehlo, 2, "the job reconnects after the refusal")
        self.assertIn("Login: user=<%s>" % servers.USER, pop_log)
        with open(log, "rb") as f:
            lines = f.read().decode("cp932").splitlines()
        self.assertTrue(any("451" in l for l in lines), lines)
        self.assertTrue(any("POP Server verification completed." in l for l in lines), lines)


if __name__ == "__main__":
    unittest.main(verbosity=2)
