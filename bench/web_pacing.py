#!/usr/bin/python3
"""Times a full update of the web updater against the simulated unit in headless
Chromium, once with the page visible and once with it hidden behind another tab, and
prints each as a ratio to the 42,700 ms of mandated waits.

Usage: /usr/bin/python3 bench/web_pacing.py [BUILD_DIR]   (default build/web; build it
first with cmake --preset web && cmake --build --preset web)
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import web_page  # noqa: E402


def ratio(driver, server, hide):
    page, measured, changes = web_page.timed_update(driver, server, hide)
    status = page.state()["status"]
    if status != web_page.text(40032) or changes != (["hidden"] if hide else []):
        raise SystemExit(f"the update did not run as planned: {status!r}, {changes}")
    return measured


def main():
    build_dir = sys.argv[1] if len(sys.argv) > 1 else "build/web"
    server = web_page.Server(build_dir)
    driver = web_page.browser()
    try:
        visible = ratio(driver, server, hide=False)
        hidden = ratio(driver, server, hide=True)
    finally:
        driver.quit()
        server.close()
    print(f"visible: ratio {visible:.4f} to the {web_page.MANDATED_WAITS_MS:.0f} ms of mandated waits")
    print(f"hidden:  ratio {hidden:.4f}")


if __name__ == "__main__":
    main()
