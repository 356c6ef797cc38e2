"""Runs the real kesmar under Xvfb, sets its period and switches sending on
with xdotool, as a user would, then measures it from a loopback client.

  drive.py period     BINARY PERIOD_MS SECONDS
  drive.py baseline   PERIOD_MS SECONDS            (shell loop + socat)
  drive.py throughput BINARY BLOCK_BYTES SECONDS
  drive.py socat      BYTES                        (socat pushing a file)
  drive.py memory     BINARY idle|flood SECONDS
  drive.py soak       BINARY SECONDS

Everything talks to 127.0.0.1 only and ends by itself."""
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

PORT = 20319
SAMPLE = bytes.fromhex("AA341204030201FEFF")
SAMPLE_TXT = "sync,0,0,8,170\r\nlength,0,0,16,4660\r\ncounter,0,0,32,16909060\r\ndelta,0,0,16,-2\r\n"


def pattern_text(block_bytes):
    if block_bytes == len(SAMPLE):
        return SAMPLE_TXT
    return "".join(f"w,0,0,32,{(i * 2654435761) % 2147483647}\r\n" for i in range(block_bytes // 4))


class Kesmar:
    """The program in a temp dir beside its test.txt, on its own Xvfb."""

    def __init__(self, binary, block_bytes):
        self.dir = tempfile.mkdtemp(prefix="kesmar-bench-")
        shutil.copy(binary, os.path.join(self.dir, "kesmar"))
        with open(os.path.join(self.dir, "test.txt"), "w", newline="") as f:
            f.write(pattern_text(block_bytes))
        display = self.start_xvfb()
        self.env = dict(os.environ, DISPLAY=":" + str(display))
        self.env.pop("QT_QPA_PLATFORM", None)
        self.log = open(os.path.join(self.dir, "kesmar.log"), "w+")
        self.proc = subprocess.Popen([os.path.join(self.dir, "kesmar")], env=self.env,
                                     stdout=self.log, stderr=self.log)
        self.win = None
        for _ in range(100):
            out = self.xdo("search", "--name", "^Tarvolin")
            if out:
                self.win = out.split()[0]
                break
            time.sleep(0.1)
        if not self.win:
            self.log.seek(0)
            reason = self.log.read().strip().splitlines()
            self.close()
            raise SystemExit("kesmar did not show its window: " + (reason[-1] if reason else "?"))
        time.sleep(0.5)
        geo = dict(l.split("=") for l in self.xdo("getwindowgeometry", "--shell", self.win).split())
        self.menu = int(geo["HEIGHT"]) - 383

    def start_xvfb(self):
        # A display of our own, well away from any a desktop would use.
        for n in range(140, 200):
            if os.path.exists(f"/tmp/.X{n}-lock") or os.path.exists(f"/tmp/.X11-unix/X{n}"):
                continue
            self.xvfb = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1024x768x24",
                                          "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL)
            for _ in range(100):
                if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                    return n
                if self.xvfb.poll() is not None:
                    break
                time.sleep(0.05)
        raise SystemExit("cannot start Xvfb")

    def xdo(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True,
                              text=True).stdout.strip()

    def set_period(self, ms):
        # Focus the slider through the tab order, then step it from 0.
        self.xdo("windowfocus", "--sync", self.win)
        self.xdo("key", "--window", self.win, "Tab", "Tab", "Tab", "Home")
        keys = ["Prior"] * (ms // 100) + ["Right"] * ((ms % 100) // 10)
        if keys:
            self.xdo("key", "--window", self.win, *keys)

    def toggle_send(self):
        self.xdo("mousemove", "--window", self.win, "336", str(self.menu + 48), "click", "1")

    def rss_kib(self, field="VmRSS"):
        with open(f"/proc/{self.proc.pid}/status") as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
        return -1

    def close(self):
        for p in (self.proc, self.xvfb):
            p.terminate()
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(self.dir, ignore_errors=True)


def connect(port=PORT, tries=100):
    for _ in range(tries):
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=5)
        except OSError:
            time.sleep(0.05)
    raise SystemExit(f"cannot connect to port {port}")


def block_times(sock, block, seconds, quickack=False):
    """Arrival time of each complete block, and the bytes read."""
    times, total, end = [], 0, time.monotonic() + seconds
    sock.settimeout(0.5)
    while time.monotonic() < end:
        try:
            if quickack:
                # Loopback's 64 KiB segments otherwise wait out the 40 ms
                # delayed ACK whenever the server's 32 KiB send buffer is full.
                sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
            chunk = sock.recv(1 << 20)
        except socket.timeout:
            continue
        if not chunk:
            break
        now = time.perf_counter()
        before = total // block
        total += len(chunk)
        times.extend([now] * (total // block - before))
    return times, total


def period_stats(name, times, period_ms):
    iv = [(b - a) * 1000 for a, b in zip(times, times[1:])]
    if len(iv) < 2:
        print(f"{name}: too few blocks ({len(times)})")
        return
    err = sorted(abs(x - period_ms) for x in iv)
    pct = lambda p: err[min(len(err) - 1, int(p * len(err)))]
    mean = statistics.fmean(iv)
    drift = (times[-1] - times[0]) * 1000 - (len(times) - 1) * period_ms
    print(f"{name:<22} {period_ms:>6} {len(times):>7} {mean - period_ms:>+9.4f} "
          f"{(mean - period_ms) / period_ms * 100:>+8.3f}% {pct(0.5):>7.3f} {pct(0.99):>7.3f} "
          f"{err[-1]:>8.3f} {drift:>+9.2f}")


def header():
    print(f"{'source':<22} {'period':>6} {'blocks':>7} {'mean err':>9} {'err %':>9} "
          f"{'p50 ms':>7} {'p99 ms':>7} {'max ms':>8} {'drift ms':>9}")


def run_period(binary, period, seconds):
    k = Kesmar(binary, len(SAMPLE))
    try:
        sock = connect()
        k.set_period(period)
        k.toggle_send()
        # Blocks that queued while xdotool was still running arrive together.
        block_times(sock, len(SAMPLE), 1.0)
        times, _ = block_times(sock, len(SAMPLE), seconds)
        period_stats("kesmar", times, period)
    finally:
        k.close()


def run_baseline(period, seconds):
    esc = "".join(f"\\{b:03o}" for b in SAMPLE)
    loop = f"while :; do printf '{esc}'; sleep {period / 1000}; done | socat - TCP-LISTEN:20320,reuseaddr"
    p = subprocess.Popen(["sh", "-c", loop], start_new_session=True,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        sock = connect(20320)
        times, _ = block_times(sock, len(SAMPLE), seconds)
        period_stats("sleep loop + socat", times[5:], period)
    finally:
        os.killpg(p.pid, 15)


def run_throughput(binary, block, seconds, quickack):
    k = Kesmar(binary, block)
    try:
        sock = connect()
        k.set_period(10)
        k.toggle_send()
        block_times(sock, block, 1.0, quickack)  # settle
        t0 = time.perf_counter()
        times, total = block_times(sock, block, seconds, quickack)
        dt = time.perf_counter() - t0
        iv = sorted((b - a) * 1000 for a, b in zip(times, times[1:]))
        q = lambda p: iv[min(len(iv) - 1, int(p * len(iv)))] if iv else float("nan")
        print(f"{block:>9} {'quickack' if quickack else 'plain':>9} {total / dt / 1e6:>9.1f} {len(times) / dt:>9.1f} {q(0.5):>8.2f} "
              f"{q(0.99):>8.2f} {q(1.0) if iv else float('nan'):>8.2f}")
    finally:
        k.close()


def run_socat(nbytes):
    cmd = f"head -c {nbytes} /dev/zero | socat -u - TCP-LISTEN:20321,reuseaddr"
    p = subprocess.Popen(["sh", "-c", cmd], start_new_session=True)
    try:
        sock = connect(20321)
        t0, total = time.perf_counter(), 0
        while True:
            chunk = sock.recv(1 << 20)
            if not chunk:
                break
            total += len(chunk)
        dt = time.perf_counter() - t0
        print(f"socat raw: {total / dt / 1e6:.1f} MB/s ({total} bytes in {dt:.2f} s)")
    finally:
        try:
            os.killpg(p.pid, 15)
        except ProcessLookupError:
            pass


def run_memory(binary, mode, seconds):
    block = 64 * 1024
    k = Kesmar(binary, block)
    try:
        sock = connect()
        k.set_period(10)
        k.toggle_send()
        stop = threading.Event()
        if mode == "idle":
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        else:
            def flood():
                data = b"f" * 65536
                sock.settimeout(1)
                while not stop.is_set():
                    try:
                        sock.sendall(data)
                        sock.recv(1 << 20)
                    except (socket.timeout, BlockingIOError):
                        pass
                    except OSError:
                        return
            threading.Thread(target=flood, daemon=True).start()
        samples = []
        for s in range(seconds):
            time.sleep(1)
            samples.append(k.rss_kib())
        stop.set()
        print(f"{mode}: RSS MiB every 10 s: " +
              " ".join(f"{x / 1024:.1f}" for x in samples[9::10]) +
              f" | peak (VmHWM) {k.rss_kib('VmHWM') / 1024:.1f} MiB")
    finally:
        k.close()


def run_soak(binary, seconds):
    """chkDump on, events shown, period 10 ms; a reading and a flooding client in turn."""
    k = Kesmar(binary, len(SAMPLE))
    try:
        k.set_period(10)
        # "ダンプする" sits at (288..369, 240..257) of the client area.
        k.xdo("mousemove", "--window", k.win, "300", str(k.menu + 248), "click", "1")
        k.toggle_send()
        end = time.monotonic() + seconds
        print(f"{'t s':>5} {'RSS MiB':>8} {'client':>7} {'blocks':>7} {'p99 ms':>7} {'drift ms':>9}")
        t0, turn = time.monotonic(), 0
        while time.monotonic() < end:
            sock = connect()
            if turn % 2 == 0:
                times, _ = block_times(sock, len(SAMPLE), 10)
                iv = sorted(abs((b - a) * 1000 - 10) for a, b in zip(times, times[1:]))
                p99 = iv[int(0.99 * len(iv))] if iv else float("nan")
                drift = (times[-1] - times[0]) * 1000 - (len(times) - 1) * 10 if times else 0
                kind = "reads"
            else:
                stop = time.monotonic() + 10
                sock.settimeout(0.5)
                times, p99, drift = [], float("nan"), float("nan")
                while time.monotonic() < stop:
                    try:
                        sock.sendall(b"x" * 16384)
                        sock.recv(1 << 20)
                    except (socket.timeout, BlockingIOError):
                        pass
                kind = "floods"
            sock.close()
            turn += 1
            time.sleep(0.2)
            print(f"{time.monotonic() - t0:>5.0f} {k.rss_kib() / 1024:>8.1f} {kind:>7} "
                  f"{len(times):>7} {p99:>7.3f} {drift:>+9.2f}", flush=True)
        print(f"peak (VmHWM) {k.rss_kib('VmHWM') / 1024:.1f} MiB")
    finally:
        k.close()


if __name__ == "__main__":
    mode, args = sys.argv[1], sys.argv[2:]
    if mode == "period":
        run_period(args[0], int(args[1]), float(args[2]))
    elif mode == "baseline":
        run_baseline(int(args[0]), float(args[1]))
    elif mode == "header":
        header()
    elif mode == "throughput":
        run_throughput(args[0], int(args[1]), float(args[2]), len(args) > 3 and args[3] == "quickack")
    elif mode == "socat":
        run_socat(int(args[0]))
    elif mode == "memory":
        run_memory(args[0], args[1], int(args[2]))
    elif mode == "soak":
        run_soak(args[0], int(args[1]))
