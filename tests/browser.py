"""A headless Chromium driven over the DevTools protocol on a pipe (no port is opened).

Chromium reads commands from its file descriptor 3 and writes replies and events to 4, each a JSON
message ended by a NUL byte. The browser is started with networking pointed at nothing: every host
name fails to resolve and every request would go to a closed local port, so a page that tries to
fetch anything shows it as a failed request, and nothing leaves the machine.
"""

import base64
import json
import os
import select
import shutil
import subprocess
import sys
import time

FLAGS = [
    "--headless",
    "--no-sandbox",  # CI containers run as root
    "--disable-gpu",
    "--no-first-run",
    "--no-default-browser-check",
    "--disable-extensions",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--disable-default-apps",
    "--disable-domain-reliability",
    "--disable-client-side-phishing-detection",
    "--no-pings",
    "--dns-prefetch-disable",
    "--proxy-server=http://127.0.0.1:9",
    "--host-resolver-rules=MAP * ~NOTFOUND",
    "--remote-debugging-pipe",
    "--window-size=1200,900",
]


def executable():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


def _browser_environment():
    """This environment without the sanitizer runtimes a sanitized test run preloads: the browser
    is not what is under test, and under them it spins instead of starting."""
    env = dict(os.environ)
    for name in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS"):
        env.pop(name, None)
    return env


class Browser:
    def __init__(self, profile, timeout=60.0):
        to_browser_read, self._write = os.pipe()
        self._read, from_browser_write = os.pipe()
        # A small Python moves the pipe ends to the descriptors Chromium expects and becomes it.
        command = [
            sys.executable,
            "-c",
            "import os, sys; os.dup2(int(sys.argv[1]), 3); os.dup2(int(sys.argv[2]), 4); "
            "os.execv(sys.argv[3], sys.argv[3:])",
            str(to_browser_read),
            str(from_browser_write),
            executable(),
            f"--user-data-dir={profile}",
            *FLAGS,
            "about:blank",
        ]
        self.process = subprocess.Popen(
            command,
            pass_fds=(to_browser_read, from_browser_write),
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            env=_browser_environment(),
        )
        os.close(to_browser_read)
        os.close(from_browser_write)
        self.timeout = timeout
        self._buffer = b""
        self._next_id = 0
        self.events = []

    def close(self):
        try:
            self.send("Browser.close")
        except (OSError, TimeoutError, RuntimeError):
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self._write)
        os.close(self._read)

    def _message(self, deadline):
        while b"\0" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError("no answer from the browser")
            ready, _, _ = select.select([self._read], [], [], left)
            if ready:
                chunk = os.read(self._read, 1 << 20)
                if not chunk:
                    raise RuntimeError("the browser closed its pipe")
                self._buffer += chunk
        message, _, self._buffer = self._buffer.partition(b"\0")
        return json.loads(message)

    def send(self, method, session=None, **params):
        """Send a command and return its result; events met on the way are kept in `events`."""
        self._next_id += 1
        command = {"id": self._next_id, "method": method, "params": params}
        if session is not None:
            command["sessionId"] = session
        os.write(self._write, json.dumps(command).encode() + b"\0")
        deadline = time.monotonic() + self.timeout
        while True:
            message = self._message(deadline)
            if message.get("id") == self._next_id:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message.get("result", {})
            self.events.append(message)

    def wait_for(self, method):
        """Wait until an event `method` has arrived and return it."""
        deadline = time.monotonic() + self.timeout
        while True:
            for event in self.events:
                if event.get("method") == method:
                    return event
            self.events.append(self._message(deadline))

    def open(self, url):
        """Open `url` in a new page with console, log and network events on, wait for its load
        event, and return the page's session id."""
        target = self.send("Target.createTarget", url="about:blank")["targetId"]
        session = self.send("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        for domain in ("Page", "Runtime", "Log", "Network"):
            self.send(f"{domain}.enable", session)
        self.events.clear()
        self.send("Page.navigate", session, url=url)
        self.wait_for("Page.loadEventFired")
        return session

    def evaluate(self, session, expression):
        result = self.send(
            "Runtime.evaluate", session, expression=expression, returnByValue=True
        )
        if "exceptionDetails" in result:
            raise RuntimeError(result["exceptionDetails"])
        return result["result"].get("value")

    def screenshot(self, session, path):
        data = self.send(
            "Page.captureScreenshot", session, format="png", captureBeyondViewport=True
        )
        with open(path, "wb") as handle:
            handle.write(base64.b64decode(data["data"]))

    def problems(self):
        """Console errors and warnings, uncaught exceptions, log errors and requests for anything
        but the page itself and inline data, in arrival order."""
        found = []
        for event in self.events:
            method, params = event.get("method"), event.get("params", {})
            if method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "warning"):
                found.append(f"console {params['type']}: {params.get('args')}")
            elif method == "Runtime.exceptionThrown":
                found.append(f"exception: {params.get('exceptionDetails')}")
            elif method == "Log.entryAdded" and params["entry"].get("level") == "error":
                found.append(f"log: {params['entry'].get('text')} {params['entry'].get('url', '')}")
            elif method == "Network.requestWillBeSent":
                url = params["request"]["url"]
                if not url.startswith(("file:", "data:")):
                    found.append(f"request: {url}")
        return found
