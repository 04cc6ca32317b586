#!/usr/bin/env python3
"""The status page in a real browser.

Starts the virtual transceiver and the real gateway on a throw-away program
folder, opens http://127.0.0.1:<port>/status in headless Chromium (driven by
chromedriver through Selenium), picks "On" in row A1's drop-down - the page's
own script posts the form - and waits for the transceiver to receive the A1 On
frames. The rebuilt page must show A1 as ON; its screenshot is kept in the
artefacts folder.

Everything stays on loopback: the browser resolves no name but 127.0.0.1 and
runs with its background networking switched off.

Exit codes: 0 passed, 1 failed, 77 skipped (no browser, and not root to have
installed one).
"""
import argparse
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


def make_home(home, source, kestrel, port):
    os.makedirs(os.path.join(home, "Config"))
    os.makedirs(os.path.join(home, "Data"))
    os.makedirs(os.path.join(home, "bus"))
    shutil.copytree(os.path.join(source, "html"), os.path.join(home, "HTML"))
    with open(os.path.join(home, "Config", "qixXap.ini"), "w") as f:
        f.write("[Interface]\nBroadcastAddress=127.0.0.1\nInterfaceAddress=127.0.0.1\n")
    with open(os.path.join(home, "Config", "qixBrindle.ini"), "w") as f:
        f.write("[General]\nServerPort=%d\nIncludeX10=1\nBackground=#1E2A3A\n" % port)
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
                # No name resolves but the loopback address we use.
                "--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1",
                "--window-size=1100,1400"):
        options.add_argument(arg)
    return webdriver.Chrome(service=Service(executable_path=CHROMEDRIVER), options=options)


def run(args):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions
    from selenium.webdriver.support.ui import Select, WebDriverWait

    work = tempfile.mkdtemp(prefix="brindle-browser-")
    home = os.path.join(work, "home")
    port = free_port()
    make_home(home, args.source, args.kestrel, port)
    radio = gateway = driver = None
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
        driver.get("http://127.0.0.1:%d/status" % port)
        wait = WebDriverWait(driver, 30)
        row = wait.until(expected_conditions.presence_of_element_located((By.NAME, "A1")))
        if "CM19A Status" not in driver.title:
            fail("unexpected page title: %r" % driver.title)

        mark = len(frames)
        Select(row).select_by_value("On")  # the page's ClearSubmit posts the form
        wait.until(expected_conditions.staleness_of(row))
        wait.until(expected_conditions.presence_of_element_located((By.NAME, "A1")))
        if not frames.wait("A1 On", since=mark, timeout=15, count=3):
            fail("the transceiver did not receive A1 On; it saw: %r" % frames.lines[mark:])
        used = driver.find_element(By.NAME, "A1Used")
        status = used.find_element(By.XPATH, "../following-sibling::td[1]").text
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
