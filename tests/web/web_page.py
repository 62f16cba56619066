"""Drives the web updater's page in headless Chromium (Debian's chromium and
chromium-driver, through Debian's python3-selenium: run with /usr/bin/python3).

Shared by the browser tests, the pacing benchmark and the screenshots of scripts/run.sh.
The page is served from the web build's folder (build/web): the site in site/, the
simulated unit beside it in simulate/.
"""

import functools
import http.server
import os
import sys
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "resources", "catalogue"))
import generate_catalogue  # noqa: E402  (the catalogue's own reader)

CATALOGUE = generate_catalogue.parse(os.path.join(SOURCE_DIR, "resources", "catalogue",
                                                  "messages.txt"))
# The waits the update must make, as the native benchmark counts them.
MANDATED_WAITS_MS = 42700.0
# chromedriver's switches that keep a hidden page's timers at full speed: without them the
# page meets the throttling a user's browser applies.
THROTTLING_HIDDEN_BY = ["disable-background-timer-throttling",
                        "disable-backgrounding-occluded-windows",
                        "disable-renderer-backgrounding"]


def text(message_id, language="en"):
    return CATALOGUE[message_id][language]


def status_with_instructions(heading_id, language="en"):
    return text(heading_id, language) + "\r\n\r\n" + text(42000, language)


def error_text(message_id, error_value, system_error, language="en"):
    code_line = text(40036, language) % (error_value & 0xFFFFFFFF, system_error)
    return text(message_id, language) + "\r\n" + code_line


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map,
                          **{".wasm": "application/wasm", ".js": "text/javascript"})

    def log_message(self, *args):
        pass


class Server:
    """The web build's folder on 127.0.0.1, a secure origin for WebHID."""

    def __init__(self, folder, port=0):
        handler = functools.partial(QuietHandler, directory=folder)
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def url(self, query="", host="127.0.0.1"):
        return f"http://{host}:{self.port}/site/index.html{query}"

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def browser(language="en-US", throttled=True, width=900, height=1000):
    """Headless Chromium. `throttled`: hidden pages get the timers a user's browser gives
    them. Names under insecure.test reach 127.0.0.1 as an insecure origin."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for switch in ("--headless=new", "--no-sandbox", "--disable-gpu",
                   f"--window-size={width},{height}", f"--lang={language}",
                   "--host-resolver-rules=MAP insecure.test 127.0.0.1"):
        options.add_argument(switch)
    options.add_experimental_option("prefs", {"intl.accept_languages": language})
    if throttled:
        options.add_experimental_option("excludeSwitches", THROTTLING_HIDDEN_BY)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class Page:
    """One tab of the page, read through the DOM as the user sees it."""

    def __init__(self, driver, handle=None):
        self.driver = driver
        self.handle = handle or driver.current_window_handle

    def focus(self):
        self.driver.switch_to.window(self.handle)

    def load(self, url):
        self.focus()
        self.driver.get(url)

    def script(self, source, *args):
        self.focus()
        return self.driver.execute_script(source, *args)

    def wait(self, condition, timeout=20, what="the page"):
        end = time.monotonic() + timeout
        while True:
            value = condition()
            if value:
                return value
            if time.monotonic() > end:
                raise AssertionError(f"timed out waiting for {what}")
            time.sleep(0.1)

    def content(self, element_id):
        return self.script("const e = document.getElementById(arguments[0]);"
                           "return e.hidden ? null : e.textContent;", element_id)

    def state(self):
        """Everything the user can read, and which controls work."""
        return self.script("""
            const t = (id) => document.getElementById(id).textContent;
            const shown = (id) => !document.getElementById(id).hidden;
            return {
              ready: document.body.dataset.ready === 'yes',
              busy: document.body.dataset.busy === 'yes',
              title: t('title'), status: t('status'),
              notice: shown('notice') ? t('notice') : null,
              rows: [0, 1, 2].map((r) => [t('row' + r + '-label'), t('row' + r + '-value'),
                                          document.getElementById('row' + r).className !== 'disabled']),
              connect: t('connect'), connectEnabled: !document.getElementById('connect').disabled,
              update: t('update'), updateEnabled: !document.getElementById('update').disabled,
              dialog: shown('dialog') ? {caption: t('dialog-caption'), text: t('dialog-text'),
                                         accept: t('dialog-accept'),
                                         decline: shown('dialog-decline') ? t('dialog-decline') : null}
                                      : null,
              progress: shown('progress') ? {title: t('progress-title'),
                                             percent: document.getElementById('progress-bar').value}
                                          : null,
            };""")

    def wait_ready(self, timeout=20):
        return self.wait(lambda: (lambda s: s if s["ready"] else None)(self.state()), timeout,
                         "the page's start")

    def wait_idle(self, timeout=20):
        return self.wait(lambda: (lambda s: s if s["ready"] and not s["busy"] else None)(
            self.state()), timeout, "the page to be idle")

    def wait_dialog(self, timeout=20):
        return self.wait(lambda: self.state()["dialog"], timeout, "a dialog")

    def click(self, element_id):
        self.script("document.getElementById(arguments[0]).click();", element_id)

    def answer(self, accept):
        self.click("dialog-accept" if accept else "dialog-decline")

    def summary(self):
        return self.script("return window.escSimulatedUnit.summary();")

    def sequence_ms(self):
        """The command sequence's duration by the page's marks, or None before its end."""
        return self.script("""
            const start = performance.getEntriesByName('esc-sequence-start');
            const end = performance.getEntriesByName('esc-sequence-end');
            return start.length && end.length ? end[0].startTime - start[0].startTime : null;""")

    def screenshot(self, path):
        self.focus()
        self.driver.save_screenshot(path)


def connect(page):
    """Chooses the unit with the page's button; returns the state once Update works."""
    page.click("connect")
    return page.wait(lambda: (lambda s: s if s["updateEnabled"] else None)(page.state()),
                     what="Update to be enabled")


def start_update(page):
    """Connects the simulated unit, presses Update and confirms."""
    connect(page)
    page.click("update")
    page.wait_dialog()
    page.answer(True)


def timed_update(driver, server, hide):
    """A whole simulated update in a new tab, hidden behind another tab once confirmed
    when `hide`; returns the page (left in front) and its sequence's ratio to the mandated
    waits, with the visibility changes it saw before its end."""
    driver.switch_to.new_window("tab")
    page = Page(driver)
    page.load(server.url("?simulate"))
    page.wait_ready()
    page.script("""
        window.visibility = [];
        document.addEventListener('visibilitychange', () =>
            window.visibility.push([document.visibilityState, performance.now()]));""")
    start_update(page)
    if hide:
        driver.switch_to.new_window("tab")
        driver.get("about:blank")
        # Looking at the page would make it visible again: it is read once it has ended.
        time.sleep(MANDATED_WAITS_MS / 1000 * 1.15)
    duration = page.wait(lambda: page.sequence_ms(), 120, "the update's end")
    changes = page.script("""
        const end = performance.getEntriesByName('esc-sequence-end')[0].startTime;
        return window.visibility.filter((change) => change[1] < end).map((c) => c[0]);""")
    return page, duration / MANDATED_WAITS_MS, changes
