#!/usr/bin/python3
"""The dashboard in headless Chromium, on every bundled simulated machine.

Run by CTest: dashboard_test.py ZXCTL MACHINES_DIR SCREENSHOT_DIR. Exits 77
(skipped, announced loudly) when the browser or its driver cannot be used.
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SKIP = 77
ZXCTL, MACHINES, SHOTS = sys.argv[1:4] if len(sys.argv) >= 4 else (None, None, None)


def skip(why):
    bar = "!" * 72
    print(f"{bar}\n!!! BROWSER TESTS SKIPPED: {why}\n!!! Install chromium, chromium-driver and "
          f"python3-selenium (scripts/setup.sh) to run them.\n{bar}", file=sys.stderr, flush=True)
    sys.exit(SKIP)


try:
    from selenium import webdriver
    from selenium.common.exceptions import WebDriverException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError as e:
    skip(f"selenium is not available ({e})")


def find(*names):
    return next((shutil.which(n) for n in names if shutil.which(n)), None)


def start_browser():
    chromium, chromedriver = find("chromium", "chromium-browser"), find("chromedriver")
    if not chromium or not chromedriver:
        skip("chromium or chromedriver is not installed")
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--window-size=1280,2600", "--no-first-run", "--disable-extensions"):
        options.add_argument(arg)
    try:
        return webdriver.Chrome(service=Service(executable_path=chromedriver), options=options)
    except (WebDriverException, OSError) as e:
        skip(f"headless Chromium could not be started ({str(e).splitlines()[0]})")


class Machine:
    """zxctl serve on one simulated machine, in its own state folder."""

    def __init__(self, name):
        self.name = name
        self.state = tempfile.mkdtemp(prefix="zxdash-")
        self.env = dict(os.environ, XDG_STATE_HOME=self.state)
        self.server = subprocess.Popen([ZXCTL, "--simulate", name, "serve", "--port", "0"], env=self.env,
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.server.stdout.readline()
        assert line.startswith("Dashboard: http://"), line + self.server.stderr.read()
        self.url = line.split()[1]

    def zxctl(self, *args):
        return subprocess.run([ZXCTL, "--simulate", self.name, *args], env=self.env, capture_output=True,
                              text=True, timeout=30)

    def status(self):
        r = self.zxctl("status", "--json")
        assert r.returncode == 0, r.stderr
        return json.loads(r.stdout)["gpus"][0]

    def close(self):
        self.server.send_signal(signal.SIGINT)
        out, _ = self.server.communicate(timeout=20)
        shutil.rmtree(self.state, ignore_errors=True)
        return self.server.returncode, out


class Dashboard(unittest.TestCase):
    browser = None

    @classmethod
    def setUpClass(cls):
        cls.browser = start_browser()

    @classmethod
    def tearDownClass(cls):
        if cls.browser:
            cls.browser.quit()

    def wait(self, condition, what, timeout=15):
        return WebDriverWait(self.browser, timeout).until(lambda d: condition(d), message=what)

    def shot(self, name):
        os.makedirs(SHOTS, exist_ok=True)
        self.browser.save_screenshot(os.path.join(SHOTS, name + ".png"))

    def set_clock(self, level, value):
        field = self.browser.find_element(By.ID, f"gpu0-gpu-clock-{level}")
        field.clear()
        field.send_keys(str(value), Keys.ENTER)

    def field_value(self, level):
        return int(self.browser.find_element(By.ID, f"gpu0-gpu-clock-{level}").get_attribute("value"))

    def message(self):
        return self.browser.find_element(By.ID, "message").text

    def test_every_machine(self):
        machines = sorted(os.listdir(MACHINES))
        self.assertTrue(machines)
        for name in machines:
            with self.subTest(machine=name):
                m = Machine(name)
                try:
                    self.check_machine(m)
                finally:
                    code, out = m.close()
                self.assertEqual(code, 0, out)
                self.assertIn("Dashboard stopped.", out)

    def check_machine(self, m):
        b = self.browser
        info = json.loads(m.zxctl("info", "--json").stdout)
        b.get(m.url)
        # The card's name, the level table and a chart that grows.
        self.wait(lambda d: d.find_element(By.ID, "card-name").text == info["descriptions"][0], "card name")
        self.wait(lambda d: d.find_elements(By.ID, "gpu0-gpu-clock-0"), "level table")
        self.assertIn("GPU clock, MHz", b.find_element(By.ID, "gpu0-levels").text)
        # A reading the card does not offer shows its reason, never 0.
        reason = m.status().get("unavailable", {}).get("usage_percent")
        if reason is not None:
            self.assertIn("not available (%s)" % reason, b.find_element(By.ID, "gpu-0").text)
        chart = b.find_element(By.CSS_SELECTOR, "#gpu-0 .chart-temp")
        first = int(chart.get_attribute("data-points"))
        self.wait(lambda d: int(chart.get_attribute("data-points")) >= first + 2, "chart grows", timeout=10)

        # A GPU clock changed in the table reaches the card, and the table shows it.
        before = m.status()["clocks"]["gpu"]["mhz"][1]
        wanted = before + 10
        self.set_clock(1, wanted)
        self.wait(lambda d: "set to" in self.message(), "the change is confirmed")
        self.assertEqual(m.status()["clocks"]["gpu"]["mhz"][1], wanted)
        self.assertEqual(self.field_value(1), wanted)
        self.shot(f"{m.name}-page")

        # With the lock held by another process the change is refused, the
        # page says so and the table shows what the card holds.
        holder = subprocess.Popen([ZXCTL, "--simulate", m.name, "lock", "hold"], env=m.env,
                                  stdout=subprocess.PIPE, text=True)
        try:
            self.assertIn("Holding the card lock", holder.stdout.readline())
            self.set_clock(1, wanted + 10)
            self.wait(lambda d: "locked by another process" in self.message(), "the refusal is shown")
            self.assertEqual(self.field_value(1), wanted)
            self.assertEqual(m.status()["clocks"]["gpu"]["mhz"][1], wanted)
            self.wait(lambda d: "held by another process" in d.find_element(By.ID, "lock-state").text,
                      "lock state shown")
            self.shot(f"{m.name}-locked")
        finally:
            holder.send_signal(signal.SIGINT)
            holder.wait(timeout=20)
        # Readable on a phone.
        b.set_window_size(390, 1500)
        self.shot(f"{m.name}-phone")
        b.set_window_size(1280, 2600)


if __name__ == "__main__":
    if not ZXCTL:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    unittest.main(argv=sys.argv[:1], verbosity=2)
