#!/usr/bin/python3
"""End-to-end send benchmark: how fast pelvane-send delivers 1,000 personalised
mails over one SMTP connection, next to Python's smtplib sending the same
bytes and next to a bare socket client that only speaks the protocol.

    bench/send_bench.py [BUILD] [--repeat N] [--html] [--cpu N|auto|none] [--no-build] [--keep]

BUILD is the CMake build folder (default /work/main/build). The script builds
pelvane-send and make_sample_document there, makes a document with 1,000
selected records (Japanese and English names and companies; with --html an
HTML part with an inline image as well), writes the 1,000 mails once with
`pelvane-send --outbox`, and then times, against one local SMTP sink:

  A  pelvane-send sending the document (wall time around the process),
  B  smtplib: EHLO, then per message rset() and sendmail(), then QUIT,
  C  a raw socket: EHLO, then per message RSET, MAIL, RCPT, DATA, the
     dot-stuffed message and ".", then QUIT, replies read line by line.

All three send the same command sequence, so C is the cost of the protocol
round trips and of the sink; A/C and B/C say what each client adds to it.
The sink is this script started again with --sink in a process of its own
(so that it never shares a GIL with clients B and C): it listens on a free
loopback port, answers every command, counts and hashes what DATA carried and
discards it; it ends when this script's pipe to it closes, also when this
script dies. B and C must deliver exactly the outbox bytes, A the same bytes
but for Date and Message-ID; every run must deliver 1,000 messages.

Clients and sink take turns, so they run on one CPU (--cpu); with --cpu none
the scheduler places them, and on a virtual machine with idle CPUs each turn
then also pays for waking the other CPU, which all three runs share.
"""

import argparse
import hashlib
import json
import os
import queue
import re
import shutil
import signal
import smtplib
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
from email.parser import BytesHeaderParser
from email.utils import getaddresses, parseaddr

RECORDS = 1000
SENDER_ADDRESS = "sales@example.jp"
SENDER_NAME = "ペルベーン営業部"
HELO_NAME = "pelvane-bench"
MASK = re.compile(rb"(?m)^(Date|Message-ID): [^\r\n]*")

# ---------------------------------------------------------------- the sink

SINK_IDLE_SECONDS = 600      # no connection for this long: the sink ends
SINK_CLIENT_SECONDS = 120    # a client silent for this long is dropped
EHLO_REPLY = b"250-bench-sink\r\n250-8BITMIME\r\n250 HELP\r\n"


def sink_session(conn, report):
    """One SMTP session: answers each command, takes each message and keeps
    only its count, size and hash. Reports when the connection is gone."""
    accepted = time.monotonic()
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    conn.settimeout(SINK_CLIENT_SECONDS)
    recv, send = conn.recv, conn.sendall
    commands = {}
    errors = []
    messages = size = 0
    exact, masked = hashlib.sha1(), hashlib.sha1()
    greeted = quit_seen = False
    sender = None
    recipients = 0
    buf = bytearray()
    try:
        send(b"220 bench-sink ESMTP ready\r\n")
        while True:
            i = buf.find(b"\n")
            if i < 0:
                if len(buf) > 4096:
                    send(b"500 Line too long\r\n")
                    errors.append("command line too long")
                    break
                chunk = recv(65536)
                if not chunk:
                    break
                buf += chunk
                continue
            line = bytes(buf[:i]).rstrip(b"\r")
            del buf[:i + 1]
            verb = line.split(b" ", 1)[0].upper()[:8]
            key = verb.decode("latin-1")
            commands[key] = commands.get(key, 0) + 1
            if verb == b"EHLO" or verb == b"HELO":
                greeted, sender, recipients = True, None, 0
                send(EHLO_REPLY if verb == b"EHLO" else b"250 bench-sink\r\n")
            elif verb == b"RSET":
                sender, recipients = None, 0
                send(b"250 OK\r\n")
            elif verb == b"NOOP":
                send(b"250 OK\r\n")
            elif verb == b"QUIT":
                quit_seen = True
                send(b"221 Bye\r\n")
                break
            elif verb == b"MAIL":
                if not greeted:
                    send(b"503 Send EHLO first\r\n")
                elif sender is not None:
                    send(b"503 Nested MAIL command\r\n")
                elif line[5:10].upper() != b"FROM:":
                    send(b"501 Syntax: MAIL FROM:<address>\r\n")
                else:
                    sender = line[10:]
                    send(b"250 OK\r\n")
            elif verb == b"RCPT":
                if sender is None:
                    send(b"503 Need MAIL before RCPT\r\n")
                elif line[5:8].upper() != b"TO:":
                    send(b"501 Syntax: RCPT TO:<address>\r\n")
                else:
                    recipients += 1
                    send(b"250 OK\r\n")
            elif verb == b"DATA":
                if recipients == 0:
                    send(b"503 Need RCPT before DATA\r\n")
                    continue
                send(b"354 End data with <CR><LF>.<CR><LF>\r\n")
                # A line end in front, so that a period on the first line is
                # found like any other.
                data = bytearray(b"\r\n")
                data += buf
                start = 0
                while True:
                    end = data.find(b"\r\n.\r\n", start)
                    if end >= 0:
                        break
                    start = max(0, len(data) - 4)
                    chunk = recv(65536)
                    if not chunk:
                        raise ConnectionError("connection closed inside DATA")
                    data += chunk
                content = bytes(data[2:end + 2])
                buf = data[end + 5:]
                if content.startswith(b".."):
                    content = content[1:]
                content = content.replace(b"\r\n..", b"\r\n.")
                messages += 1
                size += len(content)
                exact.update(content)
                masked.update(MASK.sub(rb"\1: -", content))
                sender, recipients = None, 0
                send(b"250 OK message accepted\r\n")
            elif verb == b"VRFY":
                send(b"252 Cannot VRFY user\r\n")
            else:
                send(b"500 Command not recognised\r\n")
    except (OSError, ConnectionError) as e:
        errors.append(str(e))
    finally:
        conn.close()
    report({"messages": messages, "bytes": size, "sha1": exact.hexdigest(), "masked_sha1": masked.hexdigest(),
            "commands": commands, "quit": quit_seen, "errors": errors, "accepted": accepted,
            "closed": time.monotonic()})


def sink_main():
    lock = threading.Lock()
    active = [0]

    def report(item):
        with lock:
            sys.stdout.write(json.dumps(item) + "\n")
            sys.stdout.flush()

    def watch_parent():
        # The benchmark holds the other end of standard input; when it goes,
        # however it went, the sink goes too.
        try:
            while sys.stdin.buffer.read(65536):
                pass
        finally:
            os._exit(0)

    def session(conn):
        try:
            sink_session(conn, report)
        finally:
            with lock:
                active[0] -= 1

    threading.Thread(target=watch_parent, daemon=True).start()
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(16)
    server.settimeout(SINK_IDLE_SECONDS)
    report({"ready": server.getsockname()[1]})
    while True:
        try:
            conn, _ = server.accept()
        except socket.timeout:
            with lock:
                if active[0] == 0:
                    os._exit(0)
            continue
        conn.settimeout(None)
        with lock:
            active[0] += 1
        threading.Thread(target=session, args=(conn,), daemon=True).start()


class Sink:
    """The sink process, seen from the benchmark."""

    def __init__(self):
        self.proc = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--sink"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE)
        self.reports = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.port = self.next_report(30)["ready"]

    def _read(self):
        for line in self.proc.stdout:
            self.reports.put(json.loads(line))
        self.reports.put(None)

    def next_report(self, timeout):
        try:
            item = self.reports.get(timeout=timeout)
        except queue.Empty:
            raise SystemExit("FAIL: the sink did not report within %d s" % timeout)
        if item is None:
            raise SystemExit("FAIL: the sink ended unexpectedly (status %s)" % self.proc.poll())
        return item

    def expect_nothing_pending(self):
        if not self.reports.empty():
            raise SystemExit("FAIL: the sink reported a session nobody started: %r" % self.reports.get())

    def stop(self):
        if self.proc.stdin:
            self.proc.stdin.close()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


# ------------------------------------------------------------ the document

JAPANESE_NAMES = ["佐藤一郎", "高橋美咲", "田中健太", "伊藤由美", "渡辺翔", "中村恵子", "小林大輔", "加藤真由美"]
JAPANESE_COMPANIES = ["株式会社さくら商事", "有限会社みなと工業", "富士見物産株式会社", "青葉システム株式会社"]


def run_checked(args, what, **kwargs):
    r = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, timeout=600, **kwargs)
    if r.returncode != 0:
        sys.stderr.write(r.stdout.decode("utf-8", "replace") + r.stderr.decode("utf-8", "replace"))
        raise SystemExit("FAIL: %s exited with status %d" % (what, r.returncode))
    return r


def select_all_records(path):
    """Rewrites the address book section at the end of the document: every
    record selected and unsent; every second added record gets a Japanese
    name and company, the others an English company."""
    with open(path, "rb") as f:
        data = f.read()
    pos = data.rfind(b"DB00")
    while pos >= 0:
        size, count, fields = struct.unpack(">III", data[pos + 4:pos + 16])
        if pos + 16 + size == len(data):
            break
        pos = data.rfind(b"DB00", 0, pos)
    if pos < 0:
        raise SystemExit("FAIL: no address book section in %s" % path)
    records = []
    at = pos + 16
    for _ in range(count):
        at += 8  # selected, state: both rewritten below
        values = []
        for _ in range(fields):
            (n,) = struct.unpack(">I", data[at:at + 4])
            values.append(data[at + 4:at + 4 + n])
            at += 4 + n
        records.append(values)
    out = bytearray()
    for values in records:
        m = re.fullmatch(rb"user(\d+)@example\.com", values[0])
        if m:
            n = int(m.group(1))
            if n % 2 == 0:
                values[1] = JAPANESE_NAMES[n // 2 % len(JAPANESE_NAMES)].encode("cp932")
                values[2] = ("%s 第%d支店" % (JAPANESE_COMPANIES[n // 2 % len(JAPANESE_COMPANIES)], n)).encode(
                    "cp932")
            else:
                values[2] = b"Example Trading %d" % n
        out += struct.pack(">II", 1, 0)
        for v in values:
            out += struct.pack(">I", len(v)) + v
    with open(path, "wb") as f:
        f.write(data[:pos] + b"DB00" + struct.pack(">III", len(out), count, fields) + out)


def make_document(maker, work, html):
    doc = os.path.join(work, "bench.pvd")
    extra = ["--html"] if html else []
    # The sample has five records of its own, two of them not selected; the
    # address book holds 1,000, so the added ones fill it and the rewrite
    # selects all.
    run_checked([maker, "make", doc, os.path.join(work, "files"), "--extra", str(RECORDS - 5)] + extra,
                "make_sample_document")
    select_all_records(doc)
    dump = json.loads(run_checked([maker, "dump", doc], "make_sample_document dump").stdout.decode("utf-8"))
    records = dump["records"]
    japanese = sum(1 for r in records if any(ord(c) > 0x7F for c in r["values"][1]))
    if len(records) != RECORDS or not all(r["selected"] for r in records):
        raise SystemExit("FAIL: the document holds %d records, %d selected (want %d selected)" %
                         (len(records), sum(r["selected"] for r in records), RECORDS))
    if bool(dump["html_template"]) != html:
        raise SystemExit("FAIL: the document's HTML part is not as asked")
    return doc, japanese


def write_settings(path):
    text = "[SETUP]\r\nFrom=%s\r\nName=%s\r\nEncode=0\r\nSendContinue=2\r\n" % (SENDER_ADDRESS, SENDER_NAME)
    with open(path, "wb") as f:
        f.write(text.encode("cp932"))


def sender_env(work):
    home = os.path.join(work, "home")
    runtime = os.path.join(work, "run")
    os.makedirs(os.path.join(home, "data"), exist_ok=True)
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    env = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(home, "data"), XDG_RUNTIME_DIR=runtime,
               TMPDIR=work)
    env.pop("PV_PASSWORD", None)
    return env


def load_outbox(outbox):
    """The messages in record order: (sender, recipients, bytes as DATA
    carries them without the added periods)."""
    names = sorted(os.listdir(outbox))
    messages = []
    parser = BytesHeaderParser()
    for name in names:
        with open(os.path.join(outbox, name), "rb") as f:
            content = f.read()
        if not content.endswith(b"\r\n"):
            content += b"\r\n"
        headers = parser.parsebytes(content)
        sender = parseaddr(str(headers["From"]))[1]
        recipients = [a for _, a in getaddresses([str(v) for v in headers.get_all("To", [])]) if a]
        if not sender or not recipients:
            raise SystemExit("FAIL: %s has no sender or recipient" % name)
        messages.append((sender, recipients, content))
    return messages


# ------------------------------------------------------------ the clients

def run_pelvane(sender, settings, doc, log, port, env):
    args = [sender, "--settings", settings, "--smtp", "127.0.0.1:%d" % port, "--log", log, "--policy",
            "continue", "-q", doc]
    t0 = time.monotonic()
    r = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, env=env, timeout=600)
    t1 = time.monotonic()
    last = (r.stdout.decode("utf-8", "replace").splitlines() or [""])[-1]
    if r.returncode != 0 or last != "sent %d, failed 0, not sent 0" % RECORDS:
        sys.stderr.write(r.stderr.decode("utf-8", "replace"))
        raise SystemExit("FAIL: pelvane-send exited with status %d: %r" % (r.returncode, last))
    return t0, t1


def run_smtplib(port, messages):
    t0 = time.monotonic()
    smtp = smtplib.SMTP("127.0.0.1", port, local_hostname=HELO_NAME)
    smtp.ehlo()
    for sender, recipients, content in messages:
        smtp.rset()
        refused = smtp.sendmail(sender, recipients, content)
        if refused:
            raise SystemExit("FAIL: smtplib: refused %r" % refused)
    smtp.quit()
    t1 = time.monotonic()
    return t0, t1


def prepare_raw(messages):
    out = []
    for sender, recipients, content in messages:
        stuffed = re.sub(rb"(?m)^\.", b"..", content)
        out.append((b"MAIL FROM:<%s>\r\n" % sender.encode(),
                    [b"RCPT TO:<%s>\r\n" % r.encode() for r in recipients], stuffed + b".\r\n"))
    return out


def run_raw(port, prepared):
    t0 = time.monotonic()
    sock = socket.create_connection(("127.0.0.1", port))
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    reader = sock.makefile("rb")
    send, readline = sock.sendall, reader.readline

    def reply(code):
        line = readline()
        while line[3:4] == b"-":
            line = readline()
        if not line.startswith(code):
            raise SystemExit("FAIL: raw client: wanted %s, got %r" % (code.decode(), line))

    reply(b"220")
    send(b"EHLO " + HELO_NAME.encode() + b"\r\n")
    reply(b"250")
    for mail, rcpts, data in prepared:
        send(b"RSET\r\n")
        reply(b"250")
        send(mail)
        reply(b"250")
        for rcpt in rcpts:
            send(rcpt)
            reply(b"25")
        send(b"DATA\r\n")
        reply(b"354")
        send(data)
        reply(b"250")
    send(b"QUIT\r\n")
    reply(b"221")
    reader.close()
    sock.close()
    t1 = time.monotonic()
    return t0, t1


# ------------------------------------------------------------ the benchmark

def main():
    p = argparse.ArgumentParser(description="End-to-end send benchmark of pelvane-send against smtplib and a "
                                            "raw socket client, 1,000 mails over one connection.")
    p.add_argument("build", nargs="?", default="/work/main/build", help="CMake build folder")
    p.add_argument("--repeat", type=int, default=3, help="runs of each client; the best counts (default 3)")
    p.add_argument("--html", action="store_true", help="mails with an HTML part and an inline image")
    p.add_argument("--no-build", action="store_true", help="use the programs as they are")
    p.add_argument("--keep", action="store_true", help="keep the work folder (document, outbox, send log)")
    p.add_argument("--cpu", default="auto",
                   help="CPU that the clients and the sink share: a number, 'auto' (the first one this "
                        "process may use) or 'none' (let the scheduler place them); default auto")
    args = p.parse_args()
    if args.repeat < 1:
        p.error("--repeat must be at least 1")

    build = os.path.abspath(args.build)
    sender = os.path.join(build, "tools", "pelvane-send")
    maker = os.path.join(build, "tests", "tools", "make_sample_document")
    if not args.no_build:
        r = subprocess.run(["cmake", "--build", build, "--target", "pelvane-send", "make_sample_document"],
                           stdin=subprocess.DEVNULL, capture_output=True)
        if r.returncode != 0:
            sys.stderr.write(r.stdout.decode("utf-8", "replace")[-4000:] + r.stderr.decode("utf-8", "replace"))
            raise SystemExit("FAIL: the build failed")
    for program in (sender, maker):
        if not os.access(program, os.X_OK):
            raise SystemExit("FAIL: %s is missing" % program)

    # Client and sink take turns (each waits for the other's line), so one
    # CPU is all they can use. Apart, every turn also wakes an idle CPU,
    # which on a virtual machine can cost more than the turn itself and
    # hides the clients' own cost. Everything started from here on inherits
    # the CPU.
    if args.cpu == "none":
        placement = "clients and sink placed by the scheduler"
    else:
        allowed = sorted(os.sched_getaffinity(0))
        cpu = allowed[0] if args.cpu == "auto" else int(args.cpu) if args.cpu.isdigit() else -1
        if cpu not in allowed:
            p.error("--cpu %s: this process may use CPUs %s" % (args.cpu, allowed))
        os.sched_setaffinity(0, {cpu})
        placement = "clients and sink on CPU %d" % cpu

    # A plain kill still removes the work folder and stops the sink.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    work = tempfile.mkdtemp(prefix="pelvane-send-bench-")
    sink = None
    try:
        doc, japanese = make_document(maker, work, args.html)
        settings = os.path.join(work, "settings.ini")
        write_settings(settings)
        env = sender_env(work)
        log = os.path.join(work, "send-log.txt")

        # The mails once, as DATA carries them; and how long making them
        # takes without a network (D, for reference).
        dry = []
        for i in range(args.repeat):
            outbox = os.path.join(work, "outbox%d" % i)
            t0 = time.monotonic()
            run_checked([sender, "--settings", settings, "--outbox", outbox, "-q", doc], "pelvane-send --outbox",
                        env=env)
            dry.append(time.monotonic() - t0)
            if i:
                shutil.rmtree(outbox)
        messages = load_outbox(os.path.join(work, "outbox0"))
        if len(messages) != RECORDS:
            raise SystemExit("FAIL: the outbox holds %d mails, not %d" % (len(messages), RECORDS))
        expected_bytes = sum(len(m[2]) for m in messages)
        expected = hashlib.sha1(b"".join(m[2] for m in messages)).hexdigest()
        expected_masked = hashlib.sha1(b"".join(MASK.sub(rb"\1: -", m[2]) for m in messages)).hexdigest()
        prepared = prepare_raw(messages)

        sink = Sink()
        results = {"A": [], "B": [], "C": []}
        commands = {}
        for _ in range(args.repeat):
            for key, run in (("A", lambda: run_pelvane(sender, settings, doc, log, sink.port, env)),
                             ("B", lambda: run_smtplib(sink.port, messages)),
                             ("C", lambda: run_raw(sink.port, prepared))):
                sink.expect_nothing_pending()
                t0, t1 = run()
                rep = sink.next_report(60)
                if rep["messages"] != RECORDS:
                    raise SystemExit("FAIL: run %s: the sink received %d messages, not %d" %
                                     (key, rep["messages"], RECORDS))
                if rep["errors"] or not rep["quit"]:
                    raise SystemExit("FAIL: run %s: session ended badly: %r" % (key, rep["errors"] or "no QUIT"))
                want, got = (expected_masked, rep["masked_sha1"]) if key == "A" else (expected, rep["sha1"])
                if got != want:
                    raise SystemExit("FAIL: run %s: the sink received other bytes than the outbox holds" % key)
                commands.setdefault(key, rep["commands"])
                # The sink's clock is the same monotonic clock; an in-process
                # client is done before the sink sees the connection close.
                results[key].append({"wall": t1 - t0, "startup": max(0.0, rep["accepted"] - t0),
                                     "session": rep["closed"] - rep["accepted"],
                                     "exit": max(0.0, t1 - rep["closed"]),
                                     "messages": rep["messages"], "bytes": rep["bytes"]})

        best = {k: min(v, key=lambda r: r["wall"]) for k, v in results.items()}
        names = {"A": "A pelvane-send", "B": "B smtplib", "C": "C raw socket (floor)"}
        print("pelvane-send end-to-end: %d mails (%d with a Japanese name), %s, %d bytes as DATA, one connection"
              % (RECORDS, japanese, "HTML part + inline image" if args.html else "text only + attachment",
                 expected_bytes))
        print("machine: %d CPUs, Python %s; %s; best of %d" % (os.cpu_count(), sys.version.split()[0], placement,
                                                               args.repeat))
        print()
        print("%-22s %9s %9s  %-26s %s" % ("run", "best [s]", "mails/s", "all runs [s]",
                                           "best: before connect / session / after close [s]"))
        for key in "ABC":
            b = best[key]
            print("%-22s %9.3f %9.0f  %-26s %.3f / %.3f / %.3f" % (
                names[key], b["wall"], RECORDS / b["wall"], " ".join("%.3f" % r["wall"] for r in results[key]),
                b["startup"], b["session"], b["exit"]))
        print("%-22s %9.3f %9.0f  %-26s (writes %d files, no network)" % (
            "D pelvane-send --outbox", min(dry), RECORDS / min(dry), " ".join("%.3f" % d for d in dry), RECORDS))
        print()
        a, b, c = (best[k]["wall"] for k in "ABC")
        print("ratios: A/C = %.2f   B/C = %.2f   A/B = %.2f" % (a / c, b / c, a / b))
        print("received by the sink per run: " + "   ".join(
            "%s %s" % (k, " ".join(str(r["messages"]) for r in results[k])) for k in "ABC"))
        print("bytes received: " + "   ".join("%s %d" % (k, best[k]["bytes"]) for k in "ABC") +
              " (outbox %d)" % expected_bytes)
        print("commands per session: " + "   ".join(
            "%s %s" % (k, " ".join("%s=%d" % kv for kv in sorted(commands[k].items()))) for k in "ABC"))
        if len({tuple(sorted((n.upper(), v) for n, v in commands[k].items())) for k in "ABC"}) != 1:
            print("NOTE: the clients did not send the same commands")
        if args.keep:
            print("work folder kept: %s" % work)
    finally:
        if sink:
            sink.stop()
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    if sys.argv[1:] == ["--sink"]:
        sink_main()
    else:
        main()
