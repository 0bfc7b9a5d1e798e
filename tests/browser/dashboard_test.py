#!/usr/bin/python3
"""What the dashboard shows in headless Chromium, on every bundled simulated machine.

Usage: dashboard_test.py ZXCTL MACHINES_DIR SCREENSHOT_DIR. Exits 77 (skipped, loudly) without the browser.
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

ZXCTL, MACHINES, SHOTS = sys.argv[1:4] if len(sys.argv) >= 4 else sys.exit(__doc__)


def skip(why):
    print(f"{'!' * 72}\n!!! BROWSER TESTS SKIPPED: {why}\n!!! Install chromium, chromium-driver and python3-selenium "
          f"(scripts/setup.sh) to run them.\n{'!' * 72}", file=sys.stderr, flush=True)
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


class Dashboard(unittest.TestCase):
    def setUp(self):
        chromium = shutil.which("chromium") or shutil.which("chromium-browser")
        chromedriver = shutil.which("chromedriver")
        if not chromium or not chromedriver:
            skip("chromium or chromedriver is not installed")
        options = webdriver.ChromeOptions()
        options.binary_location = chromium
        for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1280,900"):
            options.add_argument(arg)
        try:
            self.browser = webdriver.Chrome(service=Service(executable_path=chromedriver), options=options)
        except (WebDriverException, OSError) as e:
            skip(f"headless Chromium could not be started ({str(e).splitlines()[0]})")
        self.addCleanup(self.browser.quit)

    def zxctl(self, *args):  # its --json answer
        command = [ZXCTL, "--simulate", self.machine, *args, "--json"]
        return json.loads(subprocess.run(command, env=self.env, capture_output=True, text=True, timeout=30).stdout)

    def start(self, *args):
        return subprocess.Popen([ZXCTL, "--simulate", self.machine, *args], env=self.env, text=True,
                                stdout=subprocess.PIPE)

    def wait(self, condition, what):
        WebDriverWait(self.browser, 15).until(lambda d: condition(), message=what)

    def text(self, element_id):
        return self.browser.find_element(By.ID, element_id).text

    def set_field(self, field_id, value):
        field = self.browser.find_element(By.ID, field_id)
        self.browser.execute_script("arguments[0].scrollIntoView({block: 'end'})", field)
        field.send_keys(Keys.CONTROL, "a", Keys.NULL, str(value), Keys.ENTER)

    def set_clock(self, value):
        self.set_field("gpu0-gpu-clock-1", value)

    def message_in_view(self, text):  # the toast says text and lies inside the viewport
        return self.browser.execute_script(
            "const m = document.getElementById('message'), r = m.getBoundingClientRect();"
            "return !m.hidden && m.textContent.includes(arguments[0]) && r.top >= 0 && r.bottom <= innerHeight;", text)

    def screenshots(self, width, height, name):  # light and dark
        b = self.browser
        b.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                          {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 600})
        self.assertLessEqual(b.execute_script("return document.documentElement.scrollWidth - innerWidth"), 0, name)
        for scheme in ("light", "dark"):
            b.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": [{"name": "prefers-color-scheme", "value": scheme}]})
            b.save_screenshot(os.path.join(SHOTS, f"{self.machine}-{name}-{scheme}.png"))
        b.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})
        b.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})

    def clocks(self):  # the GPU clock of level 1 as the card holds it and as the table shows it
        shown = self.browser.find_element(By.ID, "gpu0-gpu-clock-1").get_attribute("value")
        return self.zxctl("status")["gpus"][0]["clocks"]["gpu"]["mhz"][1], int(shown)

    def test_every_machine(self):
        self.assertTrue(os.listdir(MACHINES))
        os.makedirs(SHOTS, exist_ok=True)
        for name in sorted(os.listdir(MACHINES)):
            self.machine = name
            with self.subTest(machine=name), tempfile.TemporaryDirectory(prefix="zxdash-") as state:
                self.env = dict(os.environ, XDG_STATE_HOME=state, ZXSIM_NVAPI_LOG=os.path.join(state, "nvapi.log"))
                server = self.start("serve", "--port", "0")
                try:
                    line = server.stdout.readline()
                    self.assertTrue(line.startswith("Dashboard: http://"), line)
                    self.check_page(line.split()[1])
                finally:
                    server.send_signal(signal.SIGINT)
                    server.communicate(timeout=20)
                self.assertEqual(server.returncode, 0)

    def check_page(self, url):
        b = self.browser
        b.get(url)
        # The card's name and a chart that grows; the level table is used below.
        description = self.zxctl("info")["descriptions"][0]
        self.wait(lambda: self.text("card-name") == description, "card name")
        # The one-time code has left the address bar, and the session cookie is out of the page's reach.
        self.wait(lambda: not b.find_element(By.ID, "gpu0-gpu-clock-1").get_attribute("disabled"), "writable")
        self.assertNotIn("code=", b.current_url)
        self.assertEqual(b.execute_script("return document.cookie"), "")
        chart = b.find_element(By.CSS_SELECTOR, "#gpu-0 .chart-temp")
        first = int(chart.get_attribute("data-points"))
        self.wait(lambda: int(chart.get_attribute("data-points")) >= first + 2, "chart grows")

        # A GPU clock changed in the table reaches the card, and the table shows it.
        wanted = self.clocks()[0] + 10
        self.set_clock(wanted)
        self.wait(lambda: self.message_in_view("set to"), "the change is confirmed")
        self.assertEqual(self.clocks(), (wanted, wanted))
        self.screenshots(1280, 1000, "desktop")
        self.screenshots(390, 844, "phone")

        # A level the card takes but cannot report (kind-2 memory voltage) has a field too.
        status = self.zxctl("status")["gpus"][0]["memory_voltage"]
        if status["level"] is None and status.get("range"):
            level = (status["default"] + 1) % (status["range"]["max"] + 1)
            self.set_field("gpu0-memory-voltage", level)
            self.wait(lambda: self.message_in_view("memory voltage level set to"), "memory voltage set")
            with open(self.env["ZXSIM_NVAPI_LOG"]) as log:
                self.assertIn(f"mem={level} ", [line for line in log if line.startswith("Regulator")][-1])

        # With the lock held by another process the change is refused and the page says so.
        holder = self.start("lock", "hold")
        try:
            self.assertIn("Holding the card lock", holder.stdout.readline())
            self.set_clock(wanted + 10)
            self.wait(lambda: self.message_in_view("locked by another process"), "the refusal is shown in view")
            self.wait(lambda: self.clocks() == (wanted, wanted), "the refused value is put back")
            b.save_screenshot(os.path.join(SHOTS, f"{self.machine}-locked.png"))
        finally:
            holder.send_signal(signal.SIGINT)
            holder.wait(timeout=20)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
