#!/usr/bin/python3
"""Screenshots of the web updater in simulate mode, taken in headless Chromium: ready,
confirmation, progress, success, error and German. They show what a user sees; look at
them after a change to the page.

Usage: /usr/bin/python3 tests/web/screenshots.py BUILD_DIR OUTPUT_DIR
"""

import os
import sys
import time

import web_page


def main():
    build_dir, output = sys.argv[1], sys.argv[2]
    os.makedirs(output, exist_ok=True)
    server = web_page.Server(build_dir)
    shots = []

    def shoot(page, name):
        path = os.path.join(output, f"web-{name}.png")
        page.screenshot(path)
        shots.append(path)

    def english(page):
        shoot(page, "ready")
        page.click("update")
        page.wait_dialog()
        shoot(page, "confirmation")
        page.answer(True)
        page.wait(lambda: (page.state()["progress"] or {}).get("percent", 0) >= 25, 40,
                  "a quarter of the blocks")
        shoot(page, "progress")
        page.wait(lambda: not page.state()["busy"], 80, "the update's end")
        shoot(page, "success")
        page.load(server.url("?simulate=fault=block:100"))
        page.wait_ready()
        web_page.start_update(page)
        page.wait(lambda: page.state()["dialog"], 30, "the error report")
        time.sleep(0.2)
        shoot(page, "error")

    try:
        for language, session in (("en-US", english), ("de-DE", lambda p: shoot(p, "german"))):
            driver = web_page.browser(language)
            try:
                page = web_page.Page(driver)
                page.load(server.url("?simulate"))
                page.wait_ready()
                web_page.connect(page)
                session(page)
            finally:
                driver.quit()
    finally:
        server.close()
    for path in shots:
        print(path)


if __name__ == "__main__":
    main()
