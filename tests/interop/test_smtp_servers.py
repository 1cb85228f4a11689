#!/usr/bin/python3
"""The SMTP and POP3 client against real servers on free loopback ports.

* aiosmtpd (Debian's python3-aiosmtpd) with AUTH LOGIN required receives
  Japanese and English mails sent by $PELVANE_TOOLS/smtp_send_sample over
  one connection, authenticated once. Each received message is parsed with
  the standard email package: subject, sender and body must decode to what
  was sent.
* Dovecot (dovecot-pop3d) with a configuration of its own in a temporary
  folder serves the POP3 login of POP before SMTP: the POP3 login comes
  first, then the SMTP connection and the mails.

Both servers are stopped at the end, also when a check fails; the Dovecot
process also ends when this process dies, and after a time limit."""

import asyncio
import ctypes
import email
import email.policy
import email.utils
import os
import pwd
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest

TOOLS = os.environ.get("PELVANE_TOOLS", "")
SAMPLE = os.path.join(TOOLS, "smtp_send_sample")
DOVECOT = "/usr/sbin/dovecot"
USER = "pelvane"
PASSWORD = "s3cret-pass"

try:
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import AuthResult, LoginPassword
except ImportError:  # pragma: no cover - reported as a skip below
    Controller = None


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def die_with_parent():
    """In the child before exec: SIGTERM when the test process goes away."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


# ---- aiosmtpd ----

class RecordingHandler:
    """Keeps every message and counts EHLO greetings and logins."""

    def __init__(self):
        self.lock = threading.Lock()
        self.messages = []
        self.ehlo = 0
        self.logins = []

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        with self.lock:
            self.ehlo += 1
        session.host_name = hostname
        return responses

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.messages.append({
                "from": envelope.mail_from,
                "to": list(envelope.rcpt_tos),
                "content": envelope.original_content or envelope.content,
                "authenticated": session.authenticated,
            })
        return "250 OK queued"

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == USER.encode()
              and auth_data.password == PASSWORD.encode())
        with self.lock:
            self.logins.append((mechanism, ok))
        # handled=False: aiosmtpd then sends its own 535 reply.
        return AuthResult(success=ok, handled=False)


class SmtpServer:
    def __init__(self):
        self.handler = RecordingHandler()
        self.port = free_port()
        self.controller = Controller(
            self.handler, hostname="127.0.0.1", port=self.port, decode_data=False,
            auth_required=True, auth_require_tls=False, authenticator=self.handler.authenticate,
            server_hostname="aiosmtpd.test", ready_timeout=30)

    def __enter__(self):
        self.controller.start()
        return self

    def __exit__(self, *exc):
        self.controller.stop()

    @property
    def address(self):
        return "127.0.0.1:%d" % self.port


# ---- Dovecot ----

class PopServer:
    """dovecot -F with its own base_dir, passwd-file user and mail folder."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="pelvane-dovecot-")
        os.chmod(self.dir, 0o755)  # the auth and login users must reach their files
        self.port = free_port()
        self.proc = None
        self.log = []
        self.ready = threading.Event()

    def _users(self):
        """(internal user, login user, mail uid, mail gid) that work here."""
        if os.getuid() != 0:
            me = pwd.getpwuid(os.getuid()).pw_name
            return me, me, os.getuid(), os.getgid()

        def existing(*names):
            for name in names:
                try:
                    return pwd.getpwnam(name)
                except KeyError:
                    continue
            return None
        internal = existing("dovecot", "nobody")
        login = existing("dovenull", "nobody")
        if internal is None or login is None:
            raise unittest.SkipTest("no unprivileged user for Dovecot")
        # Dovecot refuses to run login processes or mail as root.
        return internal.pw_name, login.pw_name, internal.pw_uid, internal.pw_gid

    def __enter__(self):
        internal, login, uid, gid = self._users()
        d = self.dir
        for sub in ("run", "state", "mail", "home"):
            os.makedirs(os.path.join(d, sub), exist_ok=True)
        for sub in ("mail", "home"):
            if os.getuid() == 0:
                os.chown(os.path.join(d, sub), uid, gid)
        with open(os.path.join(d, "passwd"), "w") as f:
            f.write("%s:{PLAIN}%s:%d:%d::%s::\n" % (USER, PASSWORD, uid, gid, os.path.join(d, "home")))
        group = "" if os.getuid() != 0 else "default_internal_group = %s\n" % internal
        with open(os.path.join(d, "dovecot.conf"), "w") as f:
            f.write(f"""base_dir = {d}/run
state_dir = {d}/state
log_path = /dev/stderr
protocols = pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain
default_internal_user = {internal}
{group}default_login_user = {login}
first_valid_uid = 0
first_valid_gid = 0
mail_location = maildir:{d}/mail/%u
pop3_uidl_format = %08Xu%08Xv
passdb {{
  driver = passwd-file
  args = scheme=PLAIN {d}/passwd
}}
userdb {{
  driver = passwd-file
  args = {d}/passwd
}}
service pop3-login {{
  inet_listener pop3 {{
    address = 127.0.0.1
    port = {self.port}
  }}
}}
service imap-login {{
  inet_listener imap {{
    port = 0
  }}
}}
""")
        self.proc = subprocess.Popen(
            ["/usr/bin/timeout", "240", DOVECOT, "-F", "-c", os.path.join(d, "dovecot.conf")],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
            preexec_fn=die_with_parent)
        self.reader = threading.Thread(target=self._read_log, daemon=True)
        self.reader.start()
        if not self.ready.wait(60):
            self.__exit__()
            raise AssertionError("Dovecot did not start:\n" + "".join(self.log))
        return self

    def _read_log(self):
        for raw in self.proc.stdout:
            line = raw.decode("utf-8", "replace")
            self.log.append(line)
            # The master binds its listeners before it logs that it starts.
            if "starting up" in line:
                self.ready.set()
        self.ready.set()

    def __exit__(self, *exc):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.proc is not None:
            self.reader.join(10)
            self.proc.stdout.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    @property
    def address(self):
        return "127.0.0.1:%d" % self.port


# ---- the sender ----

MAILS = [
    ("ja", "お知らせ：第1回の会合", "山田様\nいつもお世話になっております。\n.ピリオドで始まる行\n以上です。"),
    ("en", "Quarterly report", "Dear Sir,\nthe report is attached = soon.\n.a line with a leading period\n" + "x" * 120),
    ("ja", "ご案内", "漢字とひらがなとカタカナ。\n全角記号「」【】"),
    ("en", "Second English mail", "Short body."),
]
SENDER = "sender@example.jp"
SENDER_NAME = "送信者 太郎"
RECIPIENT = "recipient@example.com"


def run_sample(smtp, pop=None, password=PASSWORD, log=None, mails=MAILS):
    args = [SAMPLE, "--smtp", smtp, "--user", USER, "--password", password, "--timeout", "30",
            "--from", SENDER, "--from-name", SENDER_NAME, "--to", RECIPIENT]
    if pop:
        args += ["--pop", pop]
    if log:
        args += ["--log", log]
    for mode, subject, body in mails:
        args += ["--mail", mode, subject, body.replace("\n", "\\n")]
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)


def decoded_body(msg):
    return msg.get_content().replace("\r\n", "\n").rstrip("\n")


@unittest.skipIf(Controller is None, "aiosmtpd is not installed")
@unittest.skipUnless(os.access(SAMPLE, os.X_OK), "smtp_send_sample is not built")
class SmtpServersTest(unittest.TestCase):
    def check_received(self, server):
        msgs = server.handler.messages
        self.assertEqual(len(msgs), len(MAILS))
        for received, (mode, subject, body) in zip(msgs, MAILS):
            self.assertTrue(received["authenticated"])
            self.assertEqual(received["from"], SENDER)
            self.assertEqual(received["to"], [RECIPIENT])
            msg = email.message_from_bytes(received["content"], policy=email.policy.default)
            self.assertEqual(str(msg["Subject"]), subject)
            name, address = email.utils.parseaddr(str(msg["From"]))
            self.assertEqual((name, address), (SENDER_NAME, SENDER))
            self.assertEqual(msg["X-Mailer"], "PelvanePersonal 1.0")
            self.assertEqual(msg.get_content_charset(), "iso-2022-jp" if mode == "ja" else "us-ascii")
            self.assertEqual(decoded_body(msg), body)

    def test_mails_over_one_authenticated_connection(self):
        with SmtpServer() as server:
            with tempfile.TemporaryDirectory() as tmp:
                log = os.path.join(tmp, "log.txt")
                result = run_sample(server.address, log=log)
                out = result.stdout.decode()
                self.assertEqual(result.returncode, 0, out + result.stderr.decode())
                self.assertIn("connected kind=2", out)
                with open(log, "rb") as f:
                    lines = f.read().split(b"\r\n")
                self.assertEqual(lines[-1], b"")
                self.assertIn(b" / Connected to SMTP server. ( %s / 2 )" % server.address.encode(), lines[0])
                self.assertEqual(sum(1 for l in lines if l.endswith(b" / Mail has been sent.")), len(MAILS))
            self.assertEqual(server.handler.ehlo, 1)
            self.assertEqual(server.handler.logins, [("LOGIN", True)])
            self.check_received(server)

    def test_wrong_password_is_refused_with_the_server_reply(self):
        with SmtpServer() as server:
            result = run_sample(server.address, password="wrong", mails=MAILS[:1])
            out = result.stdout.decode()
            self.assertEqual(result.returncode, 1, out)
            self.assertIn("failed 1 code=535", out)
            self.assertEqual(server.handler.messages, [])

    @unittest.skipUnless(os.access(DOVECOT, os.X_OK), "dovecot-pop3d is not installed")
    def test_pop_before_smtp(self):
        with PopServer() as pop, SmtpServer() as server:
            result = run_sample(server.address, pop=pop.address)
            out = result.stdout.decode()
            self.assertEqual(result.returncode, 0, out + result.stderr.decode() + "".join(pop.log))
            self.assertEqual(out.splitlines()[0], "pop ok")
            self.assertTrue(any("Login: user=<%s>" % USER in l for l in pop.log), "".join(pop.log))
            self.check_received(server)

            refused = run_sample(server.address, pop=pop.address, password="wrong", mails=MAILS[:1])
            self.assertEqual(refused.returncode, 1)
            self.assertIn("pop failed text=-ERR", refused.stdout.decode())


if __name__ == "__main__":
    unittest.main(verbosity=2)
