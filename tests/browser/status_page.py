#!/usr/bin/env python3
"""The status page in a real browser.

Starts the virtual transceiver and the real gateway on a throw-away program
folder with BASIC security and one account (made with brindle-passwd), and
drives headless Chromium (chromedriver through Selenium):

- without credentials the page is refused (401); with them (in the address)
  the logo bar names the user, and the page is styled because the
  connection's address is a touch-screen address, although the browser
  reached the gateway by the name gateway.test;
- names with "&", "<", "+" and non-ASCII letters, and a 100 KB name, typed
  into the page and saved with "Save Changes" (a form the browser sends in
  its own packets) come back byte for byte;
- a page served by this script from another loopback port (another origin)
  that submits a command and a rename to the gateway gets 403 and changes
  nothing: no frame goes out, no name changes;
- "On" in row A1's drop-down (the page's own script posts the form) reaches
  the transceiver, and the rebuilt page shows A1 as ON; its screenshot is
  kept in the artefacts folder.

Everything stays on loopback: the browser resolves no name but gateway.test
(to 127.0.0.1) and 127.0.0.1, and runs with its background networking off.

Exit codes: 0 passed, 1 failed, 77 skipped (no browser, and not root to have
installed one).
"""
import argparse
import http.server
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"


def fail(message):
    print("FAILED: " + message, file=sys.stderr)
    sys.exit(1)


def missing_browser():
    missing = [p for p in (CHROMIUM, CHROMEDRIVER) if not os.access(p, os.X_OK)]
    try:
        import selenium  # noqa: F401
    except ImportError:
        missing.append("python3-selenium")
    return missing


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def reg_string(text):
    return text.replace("\\", "\\\\").replace('"', '\\"')


USER, PASSWORD = "alice", "s3cret word"
GATEWAY = "gateway.test"


def make_home(home, source, kestrel, port, passwd):
    os.makedirs(os.path.join(home, "Config"))
    os.makedirs(os.path.join(home, "Data"))
    os.makedirs(os.path.join(home, "bus"))
    shutil.copytree(os.path.join(source, "html"), os.path.join(home, "HTML"))
    with open(os.path.join(home, "Config", "qixXap.ini"), "w") as f:
        f.write("[Interface]\nBroadcastAddress=127.0.0.1\nInterfaceAddress=127.0.0.1\n")
    with open(os.path.join(home, "Config", "qixBrindle.ini"), "w") as f:
        f.write("[General]\nServerPort=%d\nIncludeX10=1\nBackground=#1E2A3A\n"
                "[Settings]\nusesecurity=BASIC\ntouchscreenips=127.0.0.1\n" % port)
    with open(os.path.join(home, "Config", "includes.ini"), "w") as f:
        f.write("[header.asp]\nlogoShowUsername=Yes\n")
    subprocess.run([passwd, home, USER], input=PASSWORD + "\n", text=True, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    device = "VIRTUAL\\" + os.path.join(home, "bus", "cm19a")
    with open(os.path.join(home, "Config", "registry.reg"), "w") as f:
        f.write("Windows Registry Editor Version 5.00\n\n"
                "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\X10UIF\\Enum]\n"
                '"0"="%s"\n\n' % reg_string(device))
        for prog_id in ("Kestrel.hspi", "Kestrel.cFireCrackerUSB"):
            f.write('[HKEY_CLASSES_ROOT\\%s\\InprocServer32]\n@="%s"\n\n'
                    % (prog_id, reg_string(kestrel)))


class Lines:
    """Collects a child's output lines as they come."""

    def __init__(self, stream):
        self.lines = []
        self._lock = threading.Lock()
        threading.Thread(target=self._read, args=(stream,), daemon=True).start()

    def _read(self, stream):
        for line in stream:
            with self._lock:
                self.lines.append(line.rstrip("\n"))

    def wait(self, fragment, since=0, timeout=10.0, count=1):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            with self._lock:
                found = [l for l in self.lines[since:] if fragment in l]
            if len(found) >= count:
                return True
            time.sleep(0.02)
        return False

    def __len__(self):
        with self._lock:
            return len(self.lines)


def wait_listening(port, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.1)
    return False


def stop(process, sig=signal.SIGTERM):
    if process is None or process.poll() is not None:
        return
    process.send_signal(sig)
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def browser(profile):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                "--no-first-run", "--disable-background-networking",
                "--disable-component-update", "--disable-sync",
                "--user-data-dir=" + profile, "--disable-dev-shm-usage",
                "--disable-default-apps", "--disable-domain-reliability",
                "--disable-client-side-phishing-detection", "--no-pings",
                "--disable-features=Translate,OptimizationHints,MediaRouter",
                # No name resolves but the gateway's and the loopback address.
                "--host-resolver-rules=MAP %s 127.0.0.1 , MAP * ~NOTFOUND , "
                "EXCLUDE 127.0.0.1" % GATEWAY,
                "--window-size=1100,1400"):
        options.add_argument(arg)
    return webdriver.Chrome(service=Service(executable_path=CHROMEDRIVER), options=options)


def other_site(gateway_port):
    """Serves, on another loopback port, a page that posts to the gateway."""
    target = "http://%s:%d/status" % (GATEWAY, gateway_port)
    pages = {
        "/command": "<input name='clientinput' value='A1'><input name='clientvalue' "
                    "value='On'><input name='A1DC' value='A1'>",
        "/rename": "<input name='clientinput' value='yes'><input name='UpdateButton' "
                   "value='Save'><input name='A2DC' value='A2'><input name='A2Name' "
                   "value='Evil'><input name='ServerPort' value='81'>",
    }

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            fields = pages.get(self.path, "")
            body = ("<html><body><form id='f' method='post' action='%s'>%s</form>"
                    "<script>document.getElementById('f').submit();</script></body></html>"
                    % (target, fields)).encode()
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def run(args):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions
    from selenium.webdriver.support.ui import Select, WebDriverWait

    work = tempfile.mkdtemp(prefix="brindle-browser-")
    home = os.path.join(work, "home")
    port = free_port()
    passwd = os.path.join(os.path.dirname(args.brindle), "brindle-passwd")
    make_home(home, args.source, args.kestrel, port, passwd)
    radio = gateway = driver = evil = None
    try:
        radio = subprocess.Popen([args.radio, os.path.join(home, "bus"), "cm19a"],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, text=True)
        frames = Lines(radio.stdout)
        if not frames.wait("ready"):
            fail("the virtual transceiver did not start")
        env = dict(os.environ, BRINDLE_HOME=home, QT_QPA_PLATFORM="offscreen")
        gateway = subprocess.Popen([args.brindle], env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        if not wait_listening(port, 30):
            fail("the gateway's web server never listened on port %d" % port)
        if not frames.wait("W 80 01 00 20 14 24 20 20", timeout=15):
            fail("the gateway never opened the transceiver")

        driver = browser(os.path.join(work, "profile"))
        driver.set_page_load_timeout(60)
        wait = WebDriverWait(driver, 30)
        page = "http://%s:%d/status" % (GATEWAY, port)

        # Who is asking: no credentials, no page; the user comes from them alone.
        driver.get(page)
        # (Chromium holds the 401 for a credentials prompt that headless never shows.)
        if "CM19A" in driver.page_source:
            fail("the page was served without credentials")
        driver.get("http://%s:%s@%s:%d/status" % (USER, PASSWORD.replace(" ", "%20"),
                                                  GATEWAY, port))
        row = wait.until(expected_conditions.presence_of_element_located((By.NAME, "A1")))
        if "CM19A Status" not in driver.title or "<" in driver.title:
            fail("unexpected page title: %r" % driver.title)
        if "User: ALICE" not in driver.page_source:
            fail("the logo bar does not name the checked user")
        # Styled by the connection's address (127.0.0.1), not by the host name.
        if 'bgcolor="#63639C"' not in driver.page_source:
            fail("the touch-screen address of the connection was not recognised")

        # What the browser sends: names round-trip, a large form arrives whole.
        names = {"A2Name": "Gar\u00e7on & <b> 1+1=2 %41", "B4Name": "Kitchen Ceiling Lamp",
                 "B5Name": "N" * 100000}
        for field, value in names.items():
            driver.execute_script("arguments[0].value = arguments[1];",
                                  driver.find_element(By.NAME, field), value)
        save = driver.find_element(By.NAME, "UpdateButton")
        save.click()
        wait.until(expected_conditions.staleness_of(save))
        wait.until(expected_conditions.presence_of_element_located((By.NAME, "A1")))
        if "Changes saved." not in driver.page_source:
            fail("the page does not say the changes were saved")
        for field, value in names.items():
            got = driver.find_element(By.NAME, field).get_attribute("value")
            if got != value:
                fail("%s came back as %r (%d characters), not %r"
                     % (field, got[:60], len(got), value[:60]))

        # Another site's page posting to the gateway changes nothing.
        evil = other_site(port)
        mark = len(frames)
        for path in ("/command", "/rename"):
            driver.get("http://127.0.0.1:%d%s" % (evil.server_address[1], path))
            wait.until(lambda d: "403 Forbidden" in d.page_source)
        driver.get(page)
        row = wait.until(expected_conditions.presence_of_element_located((By.NAME, "A1")))
        if driver.find_element(By.NAME, "A2Name").get_attribute("value") != names["A2Name"]:
            fail("another site's page renamed a device")
        if driver.find_element(By.NAME, "ServerPort").get_attribute("value") != str(port):
            fail("another site's page changed the port")

        Select(row).select_by_value("On")  # the page's ClearSubmit posts the form
        wait.until(expected_conditions.staleness_of(row))
        wait.until(expected_conditions.presence_of_element_located((By.NAME, "A1")))
        if not frames.wait("A1 On", since=mark, timeout=15, count=3):
            fail("the transceiver did not receive A1 On; it saw: %r" % frames.lines[mark:])
        # Requests are answered in order: had another site's command gone out,
        # its frames would stand before this one's.
        if len([l for l in frames.lines[mark:] if "A1 On" in l and l.startswith("W ")]) != 3:
            fail("another site's page sent a command: %r" % frames.lines[mark:])
        used = driver.find_element(By.NAME, "A1Used")
        status = used.find_element(By.XPATH, "ancestor::td[1]/following-sibling::td[1]").text
        if status != "ON":
            fail("row A1 shows %r after the command, not ON" % status)

        driver.execute_script("arguments[0].scrollIntoView({block: 'center'});", used)
        os.makedirs(args.artefacts, exist_ok=True)
        shot = os.path.join(args.artefacts, "status-page.png")
        driver.save_screenshot(shot)
        print("status page after A1 On: screenshot in %s" % shot)
    finally:
        if driver is not None:
            driver.quit()
        if evil is not None:
            evil.shutdown()
        stop(gateway)
        if radio is not None and radio.poll() is None:
            try:
                radio.stdin.write("quit\n")
                radio.stdin.flush()
            except OSError:
                pass
            stop(radio)
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    for name in ("brindle", "kestrel", "radio", "source", "artefacts"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    missing = missing_browser()
    if missing:
        if os.geteuid() != 0:
            print("SKIPPED: the browser test needs %s; install them with "
                  "`sudo apt-get install chromium chromium-driver python3-selenium` "
                  "(make test does it when run as root)" % ", ".join(missing))
            sys.exit(SKIP)
        fail("missing %s although running as root: run tools/setup-debian.sh"
             % ", ".join(missing))
    run(args)


if __name__ == "__main__":
    main()
