"""A pytest fixture that gives a test a running kesmar, headless, and quits
it afterwards: a D-Bus session of the test's own, kesmar on a virtual
display (xvfb-run), and kesmarctl to drive it.

    def test_my_client(kesmar):
        kesmar.ctl("period", "10")
        kesmar.ctl("send", "on")
        ...  # run your client against 127.0.0.1:20319
        assert "Accept requestID = 1 " in kesmar.ctl("log")

Needs kesmar and kesmarctl (the kesmar package), xvfb, xauth, dbus and
at-spi2-core. KESMAR and KESMARCTL may name other binaries.
"""
import os
import shutil
import subprocess

import pytest

KESMAR = os.environ.get("KESMAR", "kesmar")
KESMARCTL = os.environ.get("KESMARCTL", "kesmarctl")


class Kesmar:
    def __init__(self, env):
        self.env = env
        # The pattern kesmar sends: the test.txt beside the real program.
        program = os.path.realpath(shutil.which(KESMAR) or KESMAR)
        self.test_txt = os.path.join(os.path.dirname(program), "test.txt")

    def ctl(self, *args):
        """Runs kesmarctl with these arguments and returns what it printed;
        fails the test with kesmarctl's own words when it could not."""
        done = subprocess.run([KESMARCTL, *args], env=self.env, capture_output=True,
                              text=True, timeout=60)
        if done.returncode != 0:
            pytest.fail(done.stderr.strip() or f"kesmarctl {' '.join(args)}: {done.returncode}")
        return done.stdout


@pytest.fixture
def kesmar(tmp_path):
    env = dict(os.environ)
    # The accessibility bus puts its socket in the runtime directory: one of
    # the test's own keeps tests that run side by side apart.
    env["XDG_RUNTIME_DIR"] = str(tmp_path)
    os.chmod(tmp_path, 0o700)
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1",
                            f"--address=unix:path={tmp_path / 'bus'}"],
                           stdout=subprocess.PIPE, text=True, env=env)
    env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
    server = subprocess.Popen(["xvfb-run", "-a", KESMAR], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        running = Kesmar(env)
        running.ctl("wait", "30")
        yield running
        running.ctl("quit")
        assert server.wait(timeout=15) == 0
    finally:
        if server.poll() is None:
            subprocess.run([KESMARCTL, "quit"], env=env, capture_output=True, timeout=60)
        if server.poll() is None:
            server.kill()
        server.wait()
        bus.terminate()
        bus.wait()
