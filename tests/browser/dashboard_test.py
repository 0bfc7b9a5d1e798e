#!/usr/bin/python3
"""The dashboard in headless Chromium, on every bundled simulated machine.

Run by CTest: dashboard_test.py ZXCTL MACHINES_DIR SCREENSHOT_DIR. Exits 77
(skipped, announced loudly) when the browser or its driver cannot be used.
The API itself is checked by the serve tests; this checks what the page shows.
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

ZXCTL, MACHINES, SHOTS = sys.argv[1:4] if len(sys.argv) >= 4 else (None, None, None)


def skip(why):
    bar = "!" * 72
    print(f"{bar}\n!!! BROWSER TESTS SKIPPED: {why}\n!!! Install chromium, chromium-driver and "
          f"python3-selenium (scripts/setup.sh) to run them.\n{bar}", file=sys.stderr, flush=True)
    sys.exit(77)


try:
    from selenium import webdriver
    from selenium.common.exceptions import WebDriverException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError as e:
    skip(f"selenium is not available ({e})")


def start_browser():
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    chromedriver = shutil.which("chromedriver")
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


class Dashboard(unittest.TestCase):
    def setUp(self):
        self.browser = start_browser()
        self.addCleanup(self.browser.quit)

    def zxctl(self, *args, **popen):
        command = [ZXCTL, "--simulate", self.machine, *args]
        if popen:
            return subprocess.Popen(command, env=self.env, text=True, **popen)
        return subprocess.run(command, env=self.env, capture_output=True, text=True, timeout=30)

    def status(self):
        return json.loads(self.zxctl("status", "--json").stdout)["gpus"][0]

    def gpu_clock(self):
        return self.status()["clocks"]["gpu"]["mhz"][1]

    def wait(self, condition, what, timeout=15):
        WebDriverWait(self.browser, timeout).until(condition, message=what)

    def text(self, element_id):
        return self.browser.find_element(By.ID, element_id).text

    def set_clock(self, value):
        field = self.browser.find_element(By.ID, "gpu0-gpu-clock-1")
        field.clear()
        field.send_keys(str(value), Keys.ENTER)

    def shown_clock(self):
        return int(self.browser.find_element(By.ID, "gpu0-gpu-clock-1").get_attribute("value"))

    def shot(self, name):
        os.makedirs(SHOTS, exist_ok=True)
        self.browser.save_screenshot(os.path.join(SHOTS, f"{self.machine}-{name}.png"))

    def test_every_machine(self):
        machines = sorted(os.listdir(MACHINES))
        self.assertTrue(machines)
        for name in machines:
            self.machine = name
            with self.subTest(machine=name):
                state = tempfile.mkdtemp(prefix="zxdash-")
                self.env = dict(os.environ, XDG_STATE_HOME=state)
                server = self.zxctl("serve", "--port", "0", stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                try:
                    line = server.stdout.readline()
                    self.assertTrue(line.startswith("Dashboard: http://"), line)
                    self.check_page(line.split()[1])
                finally:
                    server.send_signal(signal.SIGINT)
                    out, _ = server.communicate(timeout=20)
                    shutil.rmtree(state, ignore_errors=True)
                self.assertEqual(server.returncode, 0, out)
                self.assertIn("Dashboard stopped.", out)

    def check_page(self, url):
        b = self.browser
        info = json.loads(self.zxctl("info", "--json").stdout)
        b.get(url)
        # The card's name, the level table and a chart that grows.
        self.wait(lambda d: self.text("card-name") == info["descriptions"][0], "card name")
        self.wait(lambda d: d.find_elements(By.ID, "gpu0-gpu-clock-0"), "level table")
        self.assertIn("GPU clock, MHz", self.text("gpu0-levels"))
        # A reading the card does not offer shows its reason, never 0.
        reason = self.status().get("unavailable", {}).get("usage_percent")
        if reason is not None:
            self.assertIn(f"not available ({reason})", self.text("gpu-0"))
        chart = b.find_element(By.CSS_SELECTOR, "#gpu-0 .chart-temp")
        first = int(chart.get_attribute("data-points"))
        self.wait(lambda d: int(chart.get_attribute("data-points")) >= first + 2, "chart grows")

        # A GPU clock changed in the table reaches the card, and the table shows it.
        wanted = self.gpu_clock() + 10
        self.set_clock(wanted)
        self.wait(lambda d: "set to" in self.text("message"), "the change is confirmed")
        self.assertEqual(self.gpu_clock(), wanted)
        self.assertEqual(self.shown_clock(), wanted)
        self.shot("page")

        # With the lock held by another process the change is refused, the
        # page says so and the table shows what the card holds.
        holder = self.zxctl("lock", "hold", stdout=subprocess.PIPE)
        try:
            self.assertIn("Holding the card lock", holder.stdout.readline())
            self.set_clock(wanted + 10)
            self.wait(lambda d: "locked by another process" in self.text("message"), "the refusal is shown")
            self.assertEqual(self.shown_clock(), wanted)
            self.assertEqual(self.gpu_clock(), wanted)
            self.wait(lambda d: "held by another process" in self.text("lock-state"), "lock state shown")
            self.shot("locked")
        finally:
            holder.send_signal(signal.SIGINT)
            holder.wait(timeout=20)
        b.set_window_size(390, 1500)  # readable on a phone
        self.shot("phone")
        b.set_window_size(1280, 2600)


if __name__ == "__main__":
    if not ZXCTL:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    unittest.main(argv=sys.argv[:1], verbosity=2)
