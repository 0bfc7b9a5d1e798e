#!/usr/bin/python3
"""zxctl serve's /metrics against Debian's promtool and a real Prometheus server
scraping `zxctl --simulate nvidia-dual-kind2 serve`; the example rules.
Usage: prometheus_test.py ZXCTL SOURCE_DIR; 77 (skipped) without prometheus."""
import json, os, re, shutil, signal, socket, subprocess, sys, tempfile, time, urllib.parse, urllib.request

ZXCTL, SOURCE = sys.argv[1], sys.argv[2]
if not (shutil.which("prometheus") and shutil.which("promtool")):
    print("*" * 72 + "\nSKIPPED: Debian's prometheus package is not installed; "
          "scripts/setup.sh installs it\n" + "*" * 72)
    sys.exit(77)
DEADLINE = time.monotonic() + 45
TMP = tempfile.mkdtemp(prefix="zx-prometheus-")
ENV = dict(os.environ, XDG_STATE_HOME=TMP + "/state")
PROCS = []

def start(*args):
    PROCS.append(subprocess.Popen(args, env=ENV, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True))
    return PROCS[-1]

def serve(machine, *options):
    """The /metrics URL of a zxctl serve on the machine."""
    for line in start(ZXCTL, "--simulate", machine, "serve", "--port", "0", *options).stdout:
        if m := re.match(r"Metrics: (http://\S+)", line):
            return m.group(1)
    raise AssertionError(f"{machine}: zxctl serve printed no metrics URL")

def until(what, probe):
    while time.monotonic() < DEADLINE:
        try:
            if value := probe():
                return value
        except OSError:
            pass
        time.sleep(0.2)
    raise AssertionError("timed out waiting for " + what)

def promtool(*args, given=None):
    r = subprocess.run(["promtool", *args], input=given, capture_output=True, timeout=20)
    assert r.returncode == 0 and (given is None or not r.stdout + r.stderr), f"promtool {args}: {r.stdout + r.stderr}"

try:
    for machine in ("nvidia-kind1", "nvidia-dual-kind2", "ati-radeon"):
        with urllib.request.urlopen(serve(machine, "--metrics-only"), timeout=5) as r:
            promtool("check", "metrics", given=r.read())
    for check in (("check", "rules", "alerts.yml"), ("test", "rules", "alerts_test.yml"),
                  ("check", "config", "--syntax-only", "prometheus.yml")):
        promtool(*check[:-1], SOURCE + "/docs/prometheus/" + check[-1])

    target = urllib.parse.urlparse(serve("nvidia-dual-kind2")).netloc
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        prom = "127.0.0.1:%d" % s.getsockname()[1]
    with open(TMP + "/prometheus.yml", "w") as f:
        f.write("global: {scrape_interval: 1s, scrape_timeout: 1s}\n"
                f"scrape_configs: [{{job_name: zxdisplay, static_configs: [{{targets: ['{target}']}}]}}]\n")
    start("prometheus", "--config.file=" + TMP + "/prometheus.yml", "--storage.tsdb.path=" + TMP + "/tsdb",
          "--web.listen-address=" + prom, "--log.level=warn")

    def query(q):
        url = f"http://{prom}/api/v1/query?" + urllib.parse.urlencode({"query": q})
        with urllib.request.urlopen(url, timeout=5) as r:
            return {s["metric"].get("gpu"): float(s["value"][1]) for s in json.load(r)["data"]["result"]}

    def expect(q, want):
        assert (got := query(q)) == want, f"{q}: {got}, expected {want}"

    until("two scrapes", lambda: query("count_over_time(zxdisplay_up[1m]) >= 2"))
    # The scenario: GPU 0 at 54 °C in level 2 (700 MHz), GPU 1 at 61 °C in level 1 (550 MHz).
    expect("zxdisplay_gpu_temperature_celsius", {"0": 54, "1": 61})
    expect('zxdisplay_gpu_clock_hertz{clock="gpu"}', {"0": 700e6, "1": 550e6})
    expect("sum(zxdisplay_gpu_reading_failures_total)", {None: 0})
    subprocess.run([ZXCTL, "--simulate", "nvidia-dual-kind2", "set", "gpu-clock", "2", "720"], env=ENV, check=True,
                   timeout=20)
    until("the clock set", lambda: query('zxdisplay_gpu_clock_hertz{clock="gpu"}') == {"0": 720e6, "1": 550e6})
    print("ok: promtool checks, and Prometheus saw the scenario and the change")
finally:
    for p in PROCS:
        p.send_signal(signal.SIGINT)
    for p in PROCS:
        try:
            p.wait(timeout=10)
        except subprocess.TimeoutExpired:
            p.kill()
    shutil.rmtree(TMP, ignore_errors=True)
