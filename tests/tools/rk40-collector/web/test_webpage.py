#!/usr/bin/python3
"""The collector's web page in headless Chromium against the real service
with two simulated terminals. Usage: test_webpage.py BIN_DIR [SCREENSHOT_DIR]
(with a folder: pictures of each view at desktop and phone width instead)."""
import datetime, json, os, shutil, signal, socket, subprocess, sys, tempfile, time, unittest, urllib.request

BIN = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else ""
SHOTS = sys.argv[2] if len(sys.argv) > 2 else ""
# axe-core from the npm registry, fetched by scripts/install-deps (MPL-2.0).
AXE = os.environ.get("RK40_AXE") or os.path.join(
    os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "rk40", "axe-core-4.14.1", "axe.min.js")
CARD_A, CARD_B, NAMED_KEY = "00001234", "00005678", "00000000001234"
try:
    from selenium import webdriver
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
    from selenium.common.exceptions import StaleElementReferenceException
except ImportError:
    webdriver = None


def chrome(*extra):
    options = webdriver.ChromeOptions()
    for a in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", *extra):
        options.add_argument(a)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(options=options)


def open_login(browser, url):
    """The login page of a fresh session."""
    browser.get(url)
    browser.execute_script("sessionStorage.clear()")
    browser.delete_all_cookies()
    browser.get(url)


def log_in(browser, user):
    browser.find_element(By.ID, "login-user").send_keys(user)
    browser.find_element(By.ID, "login-password").send_keys("secret-words\n")


def write(path, text):
    with open(path, "w") as f:
        f.write(text)
    return path


def record(card, terminal):
    now = datetime.datetime.now()
    return now.strftime("%d%m") + str(now.year % 10) + now.strftime("%H%M") + "1" + card + str(terminal)


class Sim:
    # link: the collector is given this link to the device, which the test
    # removes when the terminal goes (a freed pseudo-terminal's name is soon
    # another test's).
    def __init__(self, link=None):
        self.p = subprocess.Popen([os.path.join(BIN, "rk40-sim"), *(["--link", link] if link else [])],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.device = self.p.stdout.readline().strip()
        self.device = link or self.device

    def cmd(self, line):
        self.p.stdin.write(line + "\n")
        self.p.stdin.flush()
        out = []
        while not out or not (out[-1] == "ok" or out[-1].startswith("error")):
            out.append(self.p.stdout.readline().strip())
        return out


class Site:
    """Two simulators, the collector with its HTTP API, an admin and a viewer."""

    def __init__(self):
        self.dir = tempfile.mkdtemp()
        env = dict(os.environ)
        for var in ("HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "RK40_LOCK_DIR"):
            env[var] = os.path.join(self.dir, var.lower())
            os.makedirs(env[var], mode=0o700)
        run = lambda *a: subprocess.run([os.path.join(BIN, a[0]), *a[1:]], env=env, check=True, capture_output=True)
        run("regctl", "-s", os.path.join(BIN, "libRK40COMM.so"))
        pw = os.path.join(self.dir, "pw")
        with open(os.open(pw, os.O_CREAT | os.O_WRONLY, 0o600), "w") as f:
            f.write("secret-words\n")
        for user in ("admin", "viewer"):
            run("rk40-collector", "user", "add", user, "--role", user, "--password-file", pw)
        names = write(os.path.join(self.dir, "names.csv"), f"id,access,name\n{NAMED_KEY},1,Ada Lovelace\n")
        self.sims = [Sim(), Sim(os.path.join(self.dir, "ttyRK40"))]
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.url = f"http://127.0.0.1:{self.port}/"
        args = ["run", "--http", f"127.0.0.1:{self.port}", "--db", os.path.join(self.dir, "db"), "--names", names,
                "--register-file", os.path.join(self.dir, "reg.txt"), "--transfer-log", os.path.join(self.dir, "log")]
        args += [a for sim in self.sims for a in ("--port", sim.device)]
        self.log = os.path.join(self.dir, "collector.log")
        self.collector = subprocess.Popen([os.path.join(BIN, "rk40-collector"), *args], env=env, stderr=open(self.log, "w"))
        deadline = time.monotonic() + 60
        while not self.collecting():
            if time.monotonic() > deadline or self.collector.poll() is not None:
                raise RuntimeError("the collector did not start collecting:\n" + open(self.log).read()[-3000:])
            time.sleep(0.2)

    def collecting(self):
        try:
            req = urllib.request.Request(self.url + "api/v1/session", json.dumps({"user": "admin", "password": "secret-words"}).encode(),
                                         {"Content-Type": "application/json"})
            cookie = urllib.request.urlopen(req).headers["Set-Cookie"].split(";")[0]
            req = urllib.request.Request(self.url + "api/v1/terminals", headers={"Cookie": cookie})
            return all(t["state"] == "collecting" for t in json.load(urllib.request.urlopen(req))["terminals"])
        except OSError:
            return False

    def close(self):
        for p in [self.collector] + [s.p for s in self.sims]:
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                p.wait(30)
        shutil.rmtree(self.dir, ignore_errors=True)


@unittest.skipUnless(webdriver and shutil.which("chromium") and shutil.which("chromedriver"), "no Chromium with its driver")
class WebPageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.site = Site()
        cls.browser = chrome("--window-size=1280,900")

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.site.close()

    def find(self, css):
        return self.browser.find_element(By.CSS_SELECTOR, css)

    def until(self, condition, timeout=60):
        # Rows replaced while being read are read again.
        return WebDriverWait(self.browser, timeout, ignored_exceptions=[StaleElementReferenceException]).until(lambda _: condition())

    def log_in(self, user):
        open_login(self.browser, self.site.url)
        log_in(self.browser, user)
        self.until(lambda: self.find("#events-view").is_displayed())

    def view(self, name):
        self.browser.get(self.site.url + "#" + name)
        self.until(lambda: self.find(f"#{name}-view").is_displayed())

    def rows(self):
        return [[c.text for c in r.find_elements(By.TAG_NAME, "td")] for r in self.browser.find_elements(By.CSS_SELECTOR, "#events-table tbody tr")]

    def serious_violations(self):
        if not os.path.isfile(AXE):
            self.fail(f"axe-core is missing ({AXE}): run scripts/install-deps")
        with open(AXE) as f:
            self.browser.execute_script(f.read())
        result = self.browser.execute_async_script("axe.run(document).then(arguments[arguments.length - 1])")
        return [(v["id"], [n["target"] for n in v["nodes"]]) for v in result["violations"] if v["impact"] in ("serious", "critical")]

    def test_1_admin_sees_live_events_filters_and_keys(self):
        self.browser.get(self.site.url)
        load_ms = self.browser.execute_script("const t = performance.getEntriesByType('navigation')[0]; return t.loadEventEnd - t.startTime")
        print(f"first view loaded in {load_ms:.0f} ms (the page's own files from the service on loopback)", flush=True)
        self.assertLess(load_ms, 5000)  # the 300 ms aim is reported, not asserted: CI machines are slow
        self.log_in("admin")
        self.until(lambda: "Live" in self.find("#live").text)
        self.site.sims[0].cmd("online S " + record(CARD_A, 1))
        self.site.sims[1].cmd("online S " + record(CARD_B, 2))
        start = time.monotonic()
        self.until(lambda: {CARD_A, CARD_B} <= {r[2] for r in self.rows()})
        print(f"live events shown {time.monotonic() - start:.2f} s after the terminals' ACK (aim: 2 s)", flush=True)
        self.assertEqual({r[2]: r[3] for r in self.rows()}[CARD_A], "Ada Lovelace")
        self.find("#f-card").send_keys(CARD_A + "\n")
        self.until(lambda: self.rows() and {r[2] for r in self.rows()} == {CARD_A})

        self.view("keys")
        self.until(lambda: self.browser.find_elements(By.CSS_SELECTOR, "#keys-port option"))
        self.find("#keys-pick button").click()
        self.until(lambda: "Key table of" in self.find("#keys-caption").text)
        self.find("#key-id").send_keys("0123456789ABCD")
        self.find("#key-add button").click()
        self.until(lambda: "0123456789ABCD" in self.find("#keys-table").text)
        self.assertIn("0123456789ABCD", "\n".join(self.site.sims[0].cmd("keys")))
        csv = write(os.path.join(self.site.dir, "import.csv"), f"id,access,name\n0123456789ABCD,7,Grace\n{NAMED_KEY},1,Ada Lovelace\n")
        self.find("#key-file").send_keys(csv)
        self.find("#key-import button").click()
        self.until(lambda: self.find("#import-diff").is_displayed())
        self.assertEqual([h.text for h in self.browser.find_elements(By.CSS_SELECTOR, "#diff-lists h5")], ["Added: 1", "Removed: 0", "Changed: 1"])
        self.assertNotIn(NAMED_KEY, "\n".join(self.site.sims[0].cmd("keys")))  # nothing applied yet
        self.find("#apply").click()
        self.until(lambda: "added 1, removed 0, changed 1" in self.find("#apply-results").text)
        self.assertIn(NAMED_KEY + ",1", "\n".join(self.site.sims[0].cmd("keys")))

        for name in ("events", "terminals", "keys", "configuration"):
            self.view(name)
            with self.subTest(view=name):
                self.assertEqual(self.serious_violations(), [])
        severe = [e["message"] for e in self.browser.get_log("browser") if e["level"] == "SEVERE"]
        self.assertEqual(severe, [])

    def test_2_viewer_sees_no_change_buttons(self):
        self.log_in("viewer")
        self.view("terminals")
        self.until(lambda: len(self.browser.find_elements(By.CSS_SELECTOR, "#terminal-cards .card")) == 2)
        for name in ("terminals", "keys", "configuration"):
            self.view(name)
            shown = [b.text for b in self.browser.find_elements(By.CSS_SELECTOR, f"#{name}-view button") if b.is_displayed()]
            self.assertEqual([t for t in shown if t not in ("Read key table", "Read configuration", "Download .act")], [], name)

    def test_3_a_terminal_that_goes_away_turns_to_retrying(self):
        self.log_in("admin")
        self.view("terminals")
        gone = self.site.sims[1]
        self.until(lambda: len(self.browser.find_elements(By.CSS_SELECTOR, "#terminal-cards .card")) == 2)
        gone.p.send_signal(signal.SIGTERM)
        gone.p.wait(30)
        if os.path.islink(gone.device):
            os.unlink(gone.device)
        card = f'#terminal-cards .card[data-port="{gone.device}"] .state'
        # The health check notices it, then the page's next refresh: allow a loaded machine time.
        self.until(lambda: self.find(card).text == "retrying", timeout=180)


def screenshots(folder):
    """Each view at desktop and phone width, as an admin."""
    site, browser = Site(), chrome("--hide-scrollbars")
    csv = write(os.path.join(site.dir, "import.csv"), f"id,access,name\n{NAMED_KEY},1,Ada Lovelace\n0123456789ABCD,7,Grace Hopper\n")
    try:
        site.sims[0].cmd("id-add CDAB8967452301 05")
        site.sims[0].cmd("id-add 77665544332211 03")
        for sim, (card, terminal) in zip(site.sims * 3, [(CARD_A, 1), (CARD_B, 2), ("00001111", 1)] * 2):
            sim.cmd("online S " + record(card, terminal))
        for width, height, label in ((1280, 900, "desktop"), (360, 780, "phone")):
            browser.set_window_size(width, height)
            open_login(browser, site.url)
            time.sleep(0.5)
            browser.save_screenshot(os.path.join(folder, f"web-login-{label}.png"))
            log_in(browser, "admin")
            for name in ("events", "terminals", "keys", "configuration"):
                browser.get(site.url + "#" + name)
                if name in ("keys", "configuration"):
                    time.sleep(1)
                    browser.find_element(By.CSS_SELECTOR, f"#{name[:6]}-pick button").click()
                if name == "keys":
                    time.sleep(2)
                    browser.find_element(By.ID, "key-file").send_keys(csv)
                    browser.find_element(By.CSS_SELECTOR, "#key-import button").click()
                time.sleep(2)
                height = browser.execute_script("return document.documentElement.scrollHeight")
                browser.set_window_size(width, max(height + 100, 600))
                browser.save_screenshot(os.path.join(folder, f"web-{name}-{label}.png"))
                browser.set_window_size(width, 900)
    finally:
        browser.quit()
        site.close()


if __name__ == "__main__":
    if SHOTS:
        sys.exit(screenshots(SHOTS) or 0) if webdriver else sys.exit("no selenium")
    unittest.main(argv=sys.argv[:1], verbosity=2)
