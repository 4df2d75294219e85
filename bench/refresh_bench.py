#!/usr/bin/python3
"""Library refresh benchmark: our refresh against the mirror commands of lftp and wget.

Every client copies the same generated recipe directory from the same local server into an
empty directory, one connection each, N times in turn; the table shows the medians and the
ratios to lftp and to wget. The servers are those of tests/support, vsftpd and pyftpdlib, on
loopback, and then behind bench/delay_proxy.py, which simulates a network round trip.

Run it through bench/run, which builds the driver first. Every run is bounded in time and
every server is stopped on the way out, also on Ctrl-C or SIGTERM.
"""

import argparse
import collections
import os
import random
import resource
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(HERE)
SUPPORT_DIR = os.path.join(SOURCE_DIR, "tests", "support")
SERVER_PYTHON = "/usr/bin/python3"  # the one with pyftpdlib

USER = "bench"
PASSWORD = "rezepte42"
REMOTE_DIR = "zeb"

# ---------------------------------------------------------------------------------------
# The recipe directory

DISHES = [
    "Kartoffelsuppe", "Apfelkuchen", "Gemüseeintopf", "Käsespätzle", "Königsberger Klopse",
    "Rote Grütze", "Möhrensalat", "Brötchen", "Weißwurst", "Sauerbraten", "Zwiebelkuchen",
    "Grünkohl", "Bratäpfel", "Linsensuppe", "Schnitzel", "Rührei", "Frikadellen",
    "Pfannkuchen", "Quarkkeulchen", "Flammkuchen", "Obstsalat", "Süßspeise", "Dampfnudeln",
    "Maultaschen", "Erbsensuppe", "Hefezopf", "Spargel", "Forelle blau", "Bohneneintopf",
]
MANNER = [
    "nach Oma", "mit Speck", "für Gäste", "vom Blech", "ohne Ei", "schnell", "wie früher",
    "aus dem Ofen", "mit Soße", "für Kinder", "herzhaft", "süß", "klassisch", "à la Maison",
]
INGREDIENTS = [
    "Mehl", "Zucker", "Butter", "Eier", "Milch", "Salz", "Pfeffer", "Zwiebeln", "Möhren",
    "Kartoffeln", "Äpfel", "Sahne", "Quark", "Öl", "Knoblauch", "Petersilie", "Speck",
    "Brühe", "Muskat", "Käse", "Schmand", "Hefe", "Rosinen", "Walnüsse", "Senf",
]
UNITS = ["g", "kg", "ml", "l", "EL", "TL", "Stück", "Prise", "Bund", "Becher"]
STEPS = [
    "Den Backofen auf 180 °C vorheizen.",
    "Die Zwiebeln schälen und fein würfeln.",
    "Alles in einem großen Topf 20 Minuten köcheln lassen.",
    "Mit Salz, Pfeffer und einer Prise Muskat abschmecken.",
    "Den Teig eine halbe Stunde ruhen lassen.",
    "Die Kartoffeln in Salzwasser gar kochen und abgießen.",
    "Butter in der Pfanne schmelzen und goldbraun anbraten.",
    "Zum Schluss die gehackte Petersilie darüberstreuen.",
    "Die Soße durch ein Sieb gießen und nochmals aufkochen.",
    "Heiß servieren, dazu passt ein grüner Salat.",
]
REMARKS = [
    "Schmeckt aufgewärmt am nächsten Tag noch besser.",
    "Kostet für vier Personen etwa 6 €.",
    "Lässt sich gut einfrieren.",
    "",
    "Statt Sahne geht auch Schmand.",
]
AUTHORS = [
    "Oma Käthe", "Jürgen", "Großmutter Anneliese", "Bärbel", "Hans-Jörg", "Frau Müller",
]


def recipe_bytes(rng, title):
    """One recipe file of 300 to 800 bytes in the program's own layout, Windows-1252."""
    size = rng.randint(300, 800)
    ingredients = "\r\n".join(
        "%s %d %s" % (rng.choice(INGREDIENTS), rng.randint(1, 500), rng.choice(UNITS))
        for _ in range(rng.randint(3, 8))
    )
    remarks = rng.choice(REMARKS)
    author = rng.choice(AUTHORS)

    def render(preparation):
        sections = [title, ingredients, preparation, remarks, author]
        return "".join(s + "\r\n%\r\n" for s in sections).encode("cp1252")

    # The preparation takes up whatever the size asks for; cut or grown a sentence at a time,
    # then trimmed to the byte (every character is one byte in Windows-1252).
    steps = []
    while len(render("\r\n".join(steps))) < size:
        steps.append(rng.choice(STEPS))
    preparation = "\r\n".join(steps)
    over = len(render(preparation)) - size
    if over > 0:
        preparation = preparation[: len(preparation) - over].rstrip("\r")
        preparation += " " * (size - len(render(preparation)))
    data = render(preparation)
    assert 300 <= len(data) <= 800, len(data)
    return data


def make_recipe_dir(root, count, seed=1252):
    """Writes `count` recipe files into root/zeb; returns {name (str): bytes}.

    Names are Windows-1252 bytes on disk, as the shared server holds them; about half carry
    umlauts or ß, many carry blanks."""
    rng = random.Random(seed)
    directory = os.path.join(root, REMOTE_DIR)
    os.makedirs(directory)
    files = {}
    for i in range(count):
        title = "%s %s %03d" % (rng.choice(DISHES), rng.choice(MANNER), i)
        name = title + ".rezept"
        data = recipe_bytes(rng, title)
        with open(os.path.join(os.fsencode(directory), name.encode("cp1252")), "wb") as f:
            f.write(data)
        files[name] = data
    return files


# ---------------------------------------------------------------------------------------
# Processes: every one we start runs in a session of its own and is stopped by its group.

RUNNING = []


def _die_with_parent():
    # Should this script be killed outright (no finally runs then), its servers get SIGTERM
    # from the kernel rather than linger on their ports.
    try:
        import ctypes
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


def spawn(argv, **kwargs):
    proc = subprocess.Popen(argv, start_new_session=True, preexec_fn=_die_with_parent, **kwargs)
    RUNNING.append(proc)
    return proc


def stop(proc, grace=3.0):
    if proc.poll() is None:
        try:
            os.killpg(proc.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            proc.wait(grace)
        except subprocess.TimeoutExpired:
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            proc.wait()
    if proc in RUNNING:
        RUNNING.remove(proc)


def stop_all():
    for proc in list(RUNNING):
        stop(proc)


def wait_for_file(path, proc, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if os.path.exists(path):
            with open(path) as f:
                text = f.read().strip()
            if text:
                return text
        if proc.poll() is not None:
            raise RuntimeError("%s exited with status %d before it was ready"
                               % (what, proc.returncode))
        time.sleep(0.02)
    raise RuntimeError("%s was not ready within %.0f s" % (what, timeout))


def wait_for_port(port, proc, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            raise RuntimeError("%s exited with status %d before it listened"
                               % (what, proc.returncode))
        with socket.socket() as s:
            s.settimeout(0.5)
            try:
                s.connect(("127.0.0.1", port))
                s.recv(64)  # the greeting: the server is really serving
                return
            except OSError:
                time.sleep(0.05)
    raise RuntimeError("%s did not listen on port %d within %.0f s" % (what, port, timeout))


def time_wait_sockets():
    """TCP connections of the machine in TIME-WAIT (state 06)."""
    count = 0
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                next(f, None)
                count += sum(1 for line in f if line.split()[3] == "06")
        except (OSError, IndexError):
            pass
    return count


def let_time_wait_drain(limit=1000, bound=70.0):
    """Each file costs a data connection, and each closed one lingers in TIME-WAIT for a
    minute; tens of thousands of them slow down every later bind and connect, so one server
    would be measured on a cleaner machine than the next. Waits (boundedly) until few are
    left."""
    deadline = time.monotonic() + bound
    waiting = time_wait_sockets()
    if waiting > limit:
        print("  waiting for %d closed connections to leave TIME-WAIT" % waiting,
              file=sys.stderr, flush=True)
    while waiting > limit and time.monotonic() < deadline:
        time.sleep(1.0)
        waiting = time_wait_sockets()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# ---------------------------------------------------------------------------------------
# Servers


class PyFtpd:
    label = "pyftpdlib"

    def __init__(self, root, work):
        self.root, self.work = root, work

    def __enter__(self):
        port_file = os.path.join(self.work, "pyftpd.port")
        if os.path.exists(port_file):
            os.remove(port_file)  # a port left from an earlier server would be taken as ours
        self.log = open(os.path.join(self.work, "pyftpd.log"), "wb")
        self.proc = spawn(
            [SERVER_PYTHON, os.path.join(SUPPORT_DIR, "pyftpd.py"), "--root", self.root,
             "--user", USER, "--password", PASSWORD, "--port-file", port_file],
            stdout=self.log, stderr=subprocess.STDOUT)
        self.port = int(wait_for_file(port_file, self.proc, 15, "pyftpdlib"))
        self.user, self.password = USER, PASSWORD
        return self

    def __exit__(self, *exc):
        stop(self.proc)
        self.log.close()


class Vsftpd:
    """vsftpd as the server tests start it (tests/support/ftp_server.cpp): its anonymous
    account, with anon_root as home. It passes Windows-1252 name bytes through unchanged."""

    label = "vsftpd"

    def __init__(self, root, work):
        self.root, self.work = root, work

    def __enter__(self):
        self.log = open(os.path.join(self.work, "vsftpd.log"), "wb")
        # The port is named in the configuration, so one grabbed in between makes vsftpd exit
        # at once; then try another.
        for _attempt in range(5):
            self.port = free_port()
            config = os.path.join(self.work, "vsftpd.conf")
            with open(config, "w") as f:
                f.write(
                    "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n"
                    "listen_port=%d\nbackground=NO\nrun_as_launching_user=YES\n"
                    "anonymous_enable=YES\nlocal_enable=NO\nanon_root=%s\n"
                    "write_enable=NO\nanon_world_readable_only=NO\n"
                    "pasv_enable=YES\npasv_address=127.0.0.1\n"
                    "seccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
                    "xferlog_enable=NO\ndirmessage_enable=NO\n"
                    % (self.port, os.path.abspath(self.root)))
            self.proc = spawn(["/usr/sbin/vsftpd", config], stdout=self.log,
                              stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
            try:
                wait_for_port(self.port, self.proc, 15, "vsftpd")
                break
            except RuntimeError:
                stop(self.proc)
        else:
            raise RuntimeError("vsftpd did not start; see %s" % self.log.name)
        self.user, self.password = "anonymous", PASSWORD
        return self

    def __exit__(self, *exc):
        stop(self.proc)
        self.log.close()


class BadFtpd:
    """tests/support/bad_ftpd.py in its delay mode, which answers each command one round trip
    after it arrived and takes up each data connection one round trip late. A cross-check of
    the delay proxy; it has no timestamps in its log, so no pauses show."""

    def __init__(self, root, rtt_ms, work):
        self.root, self.rtt_ms, self.work = root, rtt_ms, work
        self.label = "bad_ftpd %g ms" % rtt_ms

    def __enter__(self):
        port_file = os.path.join(self.work, "bad_ftpd.port")
        if os.path.exists(port_file):
            os.remove(port_file)
        self.commands = os.path.join(self.work, "bad_ftpd.commands")
        self.err = open(os.path.join(self.work, "bad_ftpd.log"), "wb")
        self.proc = spawn(
            [SERVER_PYTHON, os.path.join(SUPPORT_DIR, "bad_ftpd.py"), "--root", self.root,
             "--user", USER, "--password", PASSWORD, "--port-file", port_file,
             "--commands-file", self.commands, "--delay-ms", "%d" % self.rtt_ms],
            stdout=self.err, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        self.port = int(wait_for_file(port_file, self.proc, 15, "bad_ftpd"))
        self.user, self.password = USER, PASSWORD
        return self

    def log_size(self):
        return os.path.getsize(self.commands) if os.path.exists(self.commands) else 0

    def log_since(self, offset):
        """Its command log in the proxy's form, without times (so no pauses show)."""
        with open(self.commands, encoding="latin-1") as f:
            f.seek(offset)
            lines, control = [], 0
            for line in f.read().splitlines():
                if line == "CONNECT":
                    control += 1
                    lines.append("0 c%d + control connection opened" % control)
                else:
                    lines.append("0 c%d > %s" % (control, line))
                    if line.upper().startswith(("PASV", "EPSV")):
                        lines.append("0 c%d.d + data connection opened" % control)
            return lines

    def __exit__(self, *exc):
        stop(self.proc)
        self.err.close()


SERVERS = {"vsftpd": Vsftpd, "pyftpdlib": PyFtpd}


# ---------------------------------------------------------------------------------------
# Clients: each one mirrors REMOTE_DIR into an empty directory over one connection.


def ours_command(driver, server, dest):
    return [driver, "127.0.0.1", str(server.port), server.user, server.password, REMOTE_DIR, dest]


def lftp_command(server, dest):
    script = "; ".join([
        # Plain FTP with passive data connections, as the program speaks it; no retries, so
        # a failure shows instead of being waited out.
        "set ftp:ssl-allow no",
        "set ftp:passive-mode on",
        "set ftp:prefer-epsv no",
        "set net:max-retries 1",
        "set net:timeout 20",
        "set mirror:parallel-transfer-count 1",
        "open -u %s,%s -p %d 127.0.0.1" % (server.user, server.password, server.port),
        "mirror %s %s" % (REMOTE_DIR, dest),
    ])
    return ["lftp", "-c", script]


def wget_command(server, dest):
    return [
        "wget", "-m", "-q", "-nH", "--cut-dirs=1", "-P", dest, "--tries=1", "--timeout=20",
        "--no-iri", "--restrict-file-names=nocontrol",
        "ftp://%s:%s@127.0.0.1:%d/%s/" % (server.user, server.password, server.port, REMOTE_DIR),
    ]


def received(dest):
    """{relative name (bytes): size} of the regular files a client left, without wget's
    .listing files."""
    out = {}
    dest_b = os.fsencode(dest)
    for dirpath, _dirs, names in os.walk(dest_b):
        for name in names:
            if name == b".listing":
                continue
            path = os.path.join(dirpath, name)
            out[os.path.relpath(path, dest_b)] = os.path.getsize(path)
    return out


def check_ours(dest, files):
    """Our refresh must leave each server file under its name in UTF-8, byte for byte."""
    dest_b = os.fsencode(dest)
    got = set(os.listdir(dest_b))
    want = {name.encode("utf-8") for name in files}
    if got != want:
        missing, extra = sorted(want - got), sorted(got - want)
        return "names differ: %d missing %s, %d unexpected %s" % (
            len(missing), missing[:3], len(extra), extra[:3])
    for name, data in files.items():
        with open(os.path.join(dest_b, name.encode("utf-8")), "rb") as f:
            if f.read() != data:
                return "content of %r differs" % name
    return None


def check_peer(dest, files):
    got = received(dest)
    if len(got) != len(files) or sum(got.values()) != sum(map(len, files.values())):
        return "%d files, %d bytes; expected %d files, %d bytes" % (
            len(got), sum(got.values()), len(files), sum(map(len, files.values())))
    return None


def timed_run(argv, timeout, log):
    """Wall-clock seconds of the whole command, the CPU seconds it used, its stdout, and an
    error text or None."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    proc = spawn(argv, stdout=subprocess.PIPE, stderr=log, stdin=subprocess.DEVNULL)
    try:
        out, _ = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        stop(proc, grace=1.0)
        return None, None, b"", "timed out after %.0f s" % timeout
    took = time.monotonic() - start
    RUNNING.remove(proc)
    # Only the client has been reaped since `before`: the servers run on until the end.
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime + after.ru_stime) - (before.ru_utime + before.ru_stime)
    if proc.returncode != 0:
        return took, cpu, out, "exit status %d" % proc.returncode
    return took, cpu, out, None


# ---------------------------------------------------------------------------------------
# The simulated round trip


class DelayProxy:
    """bench/delay_proxy.py in front of a running server: every byte half a round trip late
    each way, every new connection taken up one and a half round trips late."""

    def __init__(self, upstream, rtt_ms, work):
        self.upstream, self.rtt_ms, self.work = upstream, rtt_ms, work
        self.label = "%s + %g ms" % (upstream.label, rtt_ms)

    def __enter__(self):
        port_file = os.path.join(self.work, "proxy.port")
        if os.path.exists(port_file):
            os.remove(port_file)
        self.log_path = os.path.join(self.work, "proxy.log")
        self.err = open(os.path.join(self.work, "proxy.err"), "wb")
        self.proc = spawn(
            [SERVER_PYTHON, os.path.join(HERE, "delay_proxy.py"), "--upstream-port",
             str(self.upstream.port), "--rtt-ms", str(self.rtt_ms), "--port-file", port_file,
             "--log", self.log_path],
            stdout=self.err, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        self.port = int(wait_for_file(port_file, self.proc, 15, "delay proxy"))
        self.user, self.password = self.upstream.user, self.upstream.password
        return self

    def log_size(self):
        return os.path.getsize(self.log_path) if os.path.exists(self.log_path) else 0

    def log_since(self, offset):
        with open(self.log_path, encoding="latin-1") as f:
            f.seek(offset)
            return f.read().splitlines()

    def __exit__(self, *exc):
        stop(self.proc)
        self.err.close()


def analyse(lines, files):
    """What one client did over the proxy: connections, commands per file, and its pauses.

    A pause is time in which the client had every reply it asked for and sent nothing: the
    proxy stamps a command when the client sent it and a reply when the client got it. The
    pauses that matter are those of 0.5 s and more (libcurl's 1.0 s wait after PASV shows
    there); shorter ones are the client's own work."""
    controls = datas = 0
    verbs = {}
    last_reply = {}
    pauses = []
    pasv_at = {}
    pasv_waits = []
    for line in lines:
        parts = line.split(" ", 3)
        if len(parts) < 4:
            continue
        t, conn, marker, text = float(parts[0]), parts[1], parts[2], parts[3]
        if marker == "+":
            if ".d" in conn:
                datas += 1
                control = conn.split(".")[0]
                if control in pasv_at:
                    pasv_waits.append(t - pasv_at.pop(control))
            else:
                controls += 1
        elif marker == ">":
            verb = text.split(" ", 1)[0].upper()
            verbs[verb] = verbs.get(verb, 0) + 1
            if conn in last_reply:
                pauses.append(t - last_reply.pop(conn))
        elif marker == "<":
            if text[:3].isdigit() and (len(text) == 3 or text[3] == " "):
                last_reply[conn] = t  # the last line of a reply
                if text.startswith("227") or text.startswith("229"):
                    pasv_at[conn] = t
    long_pauses = [p for p in pauses + pasv_waits if p >= 0.5]
    return {
        "controls": controls,
        "datas_per_file": datas / files,
        "verbs_per_file": {v: n / files for v, n in sorted(verbs.items(), key=lambda x: -x[1])},
        "long_pauses": len(long_pauses),
        "long_pause_seconds": sum(long_pauses),
        "pasv_waits": pasv_waits,
    }


# ---------------------------------------------------------------------------------------
# Measuring


Run = collections.namedtuple("Run", "took cpu inner error analysis")


class Client:
    def __init__(self, name, command, check):
        self.name, self.command, self.check = name, command, check


def clients_for(driver, candidate, names):
    out = []
    if driver and "ours" in names:
        out.append(Client("ours", lambda s, d: ours_command(driver, s, d), check_ours))
    if candidate:
        out.append(Client("cand", lambda s, d: ours_command(candidate, s, d), check_ours))
    if "lftp" in names:
        out.append(Client("lftp", lftp_command, check_peer))
    if "wget" in names:
        out.append(Client("wget", wget_command, check_peer))
    return out


def measure(server, clients, files, runs, timeout, work, proxy=None):
    """Runs every client `runs` times against `server`, in turns; returns per client the list
    of its Runs."""
    results = {c.name: [] for c in clients}
    with open(os.path.join(work, "clients.err"), "ab") as log:
        for round_ in range(runs):
            # A different client goes first in each round, so none always runs on a cold or
            # a warm server.
            order = clients[round_ % len(clients):] + clients[:round_ % len(clients)]
            for client in order:
                dest = tempfile.mkdtemp(prefix="%s-" % client.name, dir=work)
                offset = proxy.log_size() if proxy else 0
                log.write(("--- %s, %s, run %d\n"
                           % (server.label, client.name, round_ + 1)).encode())
                log.flush()
                took, cpu, out, error = timed_run(client.command(server, dest), timeout, log)
                inner = None
                if error is None:
                    error = client.check(dest, files)
                if error is None and client.check is check_ours:
                    try:
                        inner = float(out.decode().strip())
                    except ValueError:
                        error = "the driver printed %r" % out
                analysis = None
                if proxy:
                    time.sleep(0.3)  # the proxy logs the last closes a moment later
                    analysis = analyse(proxy.log_since(offset), len(files))
                results[client.name].append(Run(took, cpu, inner, error, analysis))
                shutil.rmtree(dest, ignore_errors=True)
                print("  %-10s %-5s run %d: %s" % (
                    server.label, client.name, round_ + 1,
                    "%.3f s" % took if error is None else "FAILED (%s)" % error),
                    file=sys.stderr, flush=True)
    return results


def median_of(runs, field="took"):
    ok = [getattr(r, field) for r in runs if r.error is None and getattr(r, field) is not None]
    return statistics.median(ok) if ok else None


def ratio(a, b):
    return "%.2f" % (a / b) if a is not None and b else "-"


def table(title, server_results, files, rtt_ms=None):
    runs_width = max(8, max((len(runs) * 7 - 1 for _l, r in server_results for runs in r.values()),
                            default=8))
    lines = [title, ""]
    head = "%-20s %-5s %9s %7s %6s  %-*s %6s %6s" % (
        "server", "client", "median", "best", "cpu", runs_width, "runs (s)", "/lftp", "/wget")
    if rtt_ms:
        head += " %7s %9s %9s %6s" % ("RT/file", "cmds/file", "data/file", "pauses")
    lines += [head, "-" * len(head)]
    for label, results in server_results:
        medians = {name: median_of(runs) for name, runs in results.items()}
        for name, runs in results.items():
            med = medians[name]
            good = [r for r in runs if r.error is None]
            cpu = median_of(runs, "cpu")
            row = "%-20s %-5s %9s %7s %6s  %-*s %6s %6s" % (
                label, name, "%.3f s" % med if med is not None else "failed",
                "%.3f" % min(r.took for r in good) if good else "-",
                "%.3f" % cpu if cpu is not None else "-", runs_width,
                " ".join("%6.3f" % r.took if r.error is None else "  fail" for r in runs),
                ratio(med, medians.get("lftp")), ratio(med, medians.get("wget")))
            analysed = [r.analysis for r in good if r.analysis]
            if rtt_ms and med is not None and analysed:
                a = analysed[len(analysed) // 2]
                row += " %7.2f %9.2f %9.2f %6d" % (
                    med / files / (rtt_ms / 1000.0), sum(a["verbs_per_file"].values()),
                    a["datas_per_file"], sum(x["long_pauses"] for x in analysed))
            lines.append(row)
        for name in ("ours", "cand"):
            inner = median_of(results.get(name, []), "inner")
            if inner is not None:
                lines.append("%-20s %-5s %9s  (%s: median of the refresh alone, timed inside the "
                             "driver)" % ("", "", "%.3f s" % inner, name))
    return lines


def verdicts(loopback, delayed, files_delayed, rtt_ms):
    out = []
    for label, results in loopback:
        m = {name: median_of(runs) for name, runs in results.items()}
        if m.get("ours") is None:
            continue
        for peer in ("wget", "lftp"):
            if m.get(peer) is not None:
                out.append("%-20s ours %s %s (%.3f s vs %.3f s)" % (
                    label, "<=" if m["ours"] <= m[peer] else "> ", peer, m["ours"], m[peer]))
    for label, results in delayed:
        m = {name: median_of(runs) for name, runs in results.items()}
        if m.get("ours") is None or m.get("wget") is None:
            continue
        per_file = files_delayed * rtt_ms / 1000.0
        ours, wget = m["ours"] / per_file, m["wget"] / per_file
        inner = median_of(results["ours"], "inner")
        out.append("%-20s ours %.3f round trips a file %s wget's %.3f%s" % (
            label, ours, "<=" if ours <= wget else "> ", wget,
            " (the refresh alone: %.3f)" % (inner / per_file) if inner is not None else ""))
    return out


def details(delayed):
    """The commands each client sent per file over the simulated line, median run."""
    out = []
    for label, results in delayed:
        for name, runs in results.items():
            good = [r.analysis for r in runs if r.error is None and r.analysis]
            if not good:
                continue
            a = good[len(good) // 2]
            verbs = " ".join("%s %.2f" % (v, n)
                             for v, n in a["verbs_per_file"].items() if n >= 0.01)
            # bad_ftpd's log has no times, so it shows no waits.
            waits = a["pasv_waits"]
            out.append("%-20s %-5s %d control connection(s); per file: %s; pauses >= 0.5 s: %d "
                       "(%.1f s)%s" % (
                           label, name, a["controls"], verbs, a["long_pauses"],
                           a["long_pause_seconds"],
                           "; from PASV reply to data connection: mean %.1f ms, longest %.1f ms"
                           % (statistics.mean(waits) * 1000, max(waits) * 1000) if waits else ""))
    return out


def cpu_ticks():
    """(all, steal) ticks of the machine so far; steal is time the host gave to others."""
    try:
        with open("/proc/stat") as f:
            fields = [int(x) for x in f.readline().split()[1:]]
        return sum(fields[:8]), fields[7] if len(fields) > 7 else 0
    except (OSError, ValueError, IndexError):
        return 0, 0


def machine():
    model = "unknown processor"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return "%d cores, %s, load average %.2f" % (os.cpu_count() or 0, model, os.getloadavg()[0])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--driver",
                        help="the refresh_bench executable; without it only the peers run")
    parser.add_argument("--candidate",
                        help="a second build of the driver (say, with a change to the server "
                        "layer), run alongside as 'cand'")
    parser.add_argument("--runs", type=int, default=3,
                        help="runs per client and server (default 3)")
    parser.add_argument("--files", type=int, default=500, help="files on loopback (default 500)")
    parser.add_argument("--servers", default="vsftpd,pyftpdlib",
                        help="servers on loopback, comma-separated (default vsftpd,pyftpdlib)")
    parser.add_argument("--rtt-ms", type=float, default=50,
                        help="simulated round trip in ms (default 50)")
    parser.add_argument("--delay-files", type=int, default=100,
                        help="files over the simulated round trip (default 100)")
    parser.add_argument("--delay-servers", default="pyftpdlib,vsftpd",
                        help="servers behind the simulated round trip (vsftpd, pyftpdlib; bad_ftpd "
                        "is the test server's own delay mode, without the proxy); empty skips it")
    parser.add_argument("--timeout", type=float, default=60,
                        help="bound of one loopback run in seconds (default 60)")
    parser.add_argument("--clients", default="ours,lftp,wget",
                        help="which clients run (default ours,lftp,wget)")
    parser.add_argument("--keep", action="store_true", help="keep the work directory and logs")
    args = parser.parse_args()
    if args.runs < 1:
        parser.error("--runs must be at least 1")
    for name in filter(None, args.servers.split(",") + args.delay_servers.split(",")):
        if name not in SERVERS and name != "bad_ftpd":
            parser.error("unknown server %r" % name)
    for driver in (args.driver, args.candidate):
        if driver and not os.access(driver, os.X_OK):
            parser.error("no driver at %s" % driver)

    def bail(signum, _frame):
        raise SystemExit(128 + signum)

    signal.signal(signal.SIGTERM, bail)
    signal.signal(signal.SIGHUP, bail)

    # Loopback figures swing with whatever else the machine does; say how busy it was.
    before = machine()
    ticks_before = cpu_ticks()
    work = tempfile.mkdtemp(prefix="quendelin-bench-")
    clients = clients_for(args.driver, args.candidate, args.clients.split(","))
    loopback, delayed = [], []
    try:
        root = os.path.join(work, "loopback")
        files = make_recipe_dir(root, args.files)
        for name in filter(None, args.servers.split(",")):
            server_work = tempfile.mkdtemp(prefix=name + "-", dir=work)
            let_time_wait_drain()
            with SERVERS[name](root, server_work) as server:
                loopback.append((server.label, measure(server, clients, files, args.runs,
                                                       args.timeout, server_work)))

        delay_root = os.path.join(work, "delayed")
        delay_files = make_recipe_dir(delay_root, args.delay_files)
        # Each file costs a few round trips, and a slow client may well take twice that.
        delay_timeout = args.timeout + 10 * args.delay_files * args.rtt_ms / 1000.0
        for name in filter(None, args.delay_servers.split(",")):
            server_work = tempfile.mkdtemp(prefix=name + "-delayed-", dir=work)
            if name == "bad_ftpd":
                with BadFtpd(delay_root, args.rtt_ms, server_work) as server:
                    delayed.append((server.label, measure(server, clients, delay_files, args.runs,
                                                          delay_timeout, server_work, server)))
                continue
            with SERVERS[name](delay_root, server_work) as server, \
                    DelayProxy(server, args.rtt_ms, server_work) as proxy:
                delayed.append((proxy.label, measure(proxy, clients, delay_files, args.runs,
                                                     delay_timeout, server_work, proxy)))
    except KeyboardInterrupt:
        print("interrupted", file=sys.stderr)
        return 130
    finally:
        stop_all()
        if args.keep:
            print("work directory kept: %s" % work, file=sys.stderr)
        else:
            shutil.rmtree(work, ignore_errors=True)

    total = sum(map(len, files.values()))
    out = table("Library refresh of %d recipe files (%d bytes, 300-800 each) into an empty "
                "library on loopback; medians of %d runs; best = fastest run; cpu = CPU seconds "
                "of the client (median); ratio below 1 = faster than the peer"
                % (args.files, total, args.runs), loopback, args.files)
    if delayed:
        out += [""] + table("Simulated round trip of %g ms, %d files; RT/file = median / files / "
                            "round trip; pauses = client pauses of 0.5 s or more, all runs"
                            % (args.rtt_ms, args.delay_files), delayed, args.delay_files,
                            args.rtt_ms)
        out += [""] + details(delayed)
    ticks_after = cpu_ticks()
    spent = ticks_after[0] - ticks_before[0]
    steal = 100.0 * (ticks_after[1] - ticks_before[1]) / spent if spent > 0 else 0.0
    out += ["", "Machine: %s at the start, %.2f at the end; CPU time stolen by the host during "
            "the run: %.0f%%." % (before, os.getloadavg()[0], steal)]
    v = verdicts(loopback, delayed, args.delay_files, args.rtt_ms)
    if v:
        out += ["", "Goals:"] + v
    print("\n".join(out))
    failed = any(run.error is not None for _l, r in loopback + delayed for runs in r.values()
                 for run in runs)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
