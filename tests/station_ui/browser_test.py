#!/usr/bin/python3
"""The station's page in headless Chromium, against station-ui-demo's scripted
line: the tiles' data-* attributes change live, Start and Stop reach the line,
a scanned number is bound or refused on its tile, the read-only view cannot
start the line, a foreign Host is refused, and the console stays free of
errors. Runs only inside a network namespace of its own (scripts/private-net).

  browser_test.py STATION_UI_DEMO [SCREENSHOT_DIR]

With SCREENSHOT_DIR, also takes the guide's pictures of a shift under way.
Exits 77 (skipped) when Chromium, its driver or Selenium is missing.
"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("skipped: python3-selenium is not installed")
    sys.exit(77)

PORT = 8765
OPERATOR = f"http://127.0.0.1:{PORT}/"
# The namespace's loopback carries the board's address too: a client reaching
# the station there is "another PC", a viewer.
VIEWER = f"http://192.168.167.100:{PORT}/"
VIEW_TOKEN = "view-token-for-the-browser-test"
WAIT_S = 20


def in_private_namespace():
    # Asked of the kernel, not of /sys, which shows the namespace it was mounted in.
    return [name for _, name in socket.if_nameindex()] == ["lo"]


def start_demo(demo, *args):
    process = subprocess.Popen([demo, *args], stdout=subprocess.PIPE, text=True)
    line = process.stdout.readline()
    if not line.startswith("ready"):
        process.kill()
        raise SystemExit(f"station-ui-demo did not start: {line!r}")
    return process


def stop_demo(process):
    process.terminate()
    try:
        rest = process.communicate(timeout=10)[0]
    except subprocess.TimeoutExpired:
        process.kill()
        rest = process.communicate()[0]
    return rest


def browser(profile, width=1280, height=800, mobile=False):
    chromium = shutil.which("chromium")
    driver_path = shutil.which("chromedriver")
    if not chromium or not driver_path:
        print("skipped: chromium or chromedriver is not installed")
        sys.exit(77)
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", f"--user-data-dir={profile}", f"--window-size={width},{height}",
                 # A name that resolves to the station, as a rebinding attack's would.
                 "--host-resolver-rules=MAP station.example 127.0.0.1"):
        options.add_argument(flag)
    if mobile:
        options.add_experimental_option("mobileEmulation", {
            "deviceMetrics": {"width": width, "height": height, "pixelRatio": 2.0}})
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(driver_path), options=options)


def wait_for(driver, what, condition):
    try:
        return WebDriverWait(driver, WAIT_S, poll_frequency=0.1).until(lambda d: condition(d))
    except Exception:
        raise AssertionError(f"timed out waiting for {what}")


def tiles(driver):
    return driver.find_elements(By.CSS_SELECTOR, "[data-slot]")


def states(driver):
    return [t.get_attribute("data-state") for t in tiles(driver)]


def count(driver, name):
    return int(driver.find_element(By.CSS_SELECTOR, f'[data-count="{name}"]').text)


def console_errors(driver, expected=()):
    """Errors but those of requests refused on purpose (the URL and status given)."""
    return [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"
            and not any(url in entry["message"] and f"status of {status}" in entry["message"]
                        for url, status in expected)]


def post_from_page(driver, path):
    """The status a POST from the page's own script gets."""
    return driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "fetch(arguments[0], {method: 'POST', body: '{}'}).then(r => done(r.status), () => done(0));", path)


def check_operator(driver, demo):
    driver.get(OPERATOR)
    wait_for(driver, "four tiles", lambda d: len(tiles(d)) == 4)
    assert states(driver) == ["idle"] * 4, states(driver)
    wait_for(driver, "the live stream", lambda d: d.find_element(By.ID, "live").get_attribute("data-live") == "yes")

    driver.find_element(By.CSS_SELECTOR, '[data-action="start"]').click()
    wait_for(driver, "a slot programming", lambda d: "programming" in states(d))
    serial = wait_for(driver, "a serial number on a programming tile", lambda d: next(
        (t.get_attribute("data-serial") for t in tiles(d)
         if t.get_attribute("data-state") == "programming" and t.get_attribute("data-serial")), None))
    assert serial.startswith("SN"), serial
    wait_for(driver, "a board passed", lambda d: count(d, "passed") >= 1)
    wait_for(driver, "a failed tile with its cause", lambda d: any(
        t.get_attribute("data-state") == "failed" and t.find_element(By.CLASS_NAME, "cause").text
        for t in tiles(d)))
    assert count(driver, "failed") >= 1
    wait_for(driver, "a row in the last boards", lambda d: d.find_elements(By.CSS_SELECTOR, "#history tbody tr"))

    # A scanned number: bound once, refused the second time, on the tile.
    field = tiles(driver)[2].find_element(By.CSS_SELECTOR, '[data-field="serial"]')
    assert field.is_displayed()
    field.send_keys("SN4242" + Keys.ENTER)
    answer = tiles(driver)[2].find_element(By.CLASS_NAME, "scan-answer")
    wait_for(driver, "the binding accepted", lambda d: answer.get_attribute("data-kind") == "accepted")
    field.send_keys("SN4242" + Keys.ENTER)
    wait_for(driver, "the same number refused", lambda d: answer.get_attribute("data-kind") == "refused")
    assert "already" in answer.text, answer.text

    driver.find_element(By.CSS_SELECTOR, '[data-action="stop"]').click()
    wait_for(driver, "every slot ended", lambda d: all(s in ("stopped", "failed") for s in states(d)))
    wait_for(driver, "the line ended", lambda d: d.find_element(By.ID, "line-state").get_attribute(
        "data-line-state") == "ended")
    errors = console_errors(driver, [("/api/slots/2/serial", 409)])
    assert not errors, errors


def check_viewer(driver):
    driver.get(VIEWER + "?token=" + VIEW_TOKEN)
    wait_for(driver, "the view's tiles", lambda d: len(tiles(d)) == 4)
    assert "token" not in driver.current_url, driver.current_url
    assert not driver.find_element(By.CSS_SELECTOR, '[data-action="start"]').is_displayed()
    assert driver.find_element(By.ID, "viewer-note").is_displayed()
    assert post_from_page(driver, "/api/start") == 403
    errors = console_errors(driver, [("/api/start", 403)])
    assert not errors, errors
    # Without the token (its cookie gone) nothing is served.
    driver.delete_all_cookies()
    driver.get(VIEWER + "api/status")
    assert "view token" in driver.page_source, driver.page_source[:300]


def check_foreign_host(driver):
    driver.get(f"http://station.example:{PORT}/")
    assert not tiles(driver)
    assert "only to its own address" in driver.page_source, driver.page_source[:300]


def screenshots(demo, folder, work):
    process = start_demo(demo, "--scene")
    try:
        driver = browser(os.path.join(work, "wide"))
        try:
            driver.get(OPERATOR)
            wait_for(driver, "the scene", lambda d: "failed" in states(d))
            time.sleep(0.5)
            driver.save_screenshot(os.path.join(folder, "station-line.png"))
            failed = next(t for t in tiles(driver) if t.get_attribute("data-state") == "failed")
            failed.screenshot(os.path.join(folder, "station-failed-slot.png"))
        finally:
            driver.quit()
        driver = browser(os.path.join(work, "phone"), 390, 844, mobile=True)
        try:
            driver.get(OPERATOR)
            wait_for(driver, "the scene", lambda d: "failed" in states(d))
            time.sleep(0.5)
            driver.save_screenshot(os.path.join(folder, "station-phone.png"))
        finally:
            driver.quit()
    finally:
        stop_demo(process)


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    if not in_private_namespace():
        raise SystemExit("browser_test.py runs only inside scripts/private-net")
    demo = sys.argv[1]
    work = tempfile.mkdtemp(prefix="station-browser-")
    try:
        token_file = os.path.join(work, "view-token")
        with open(token_file, "w") as f:
            f.write(VIEW_TOKEN + "\n")
        process = start_demo(demo, "--listen", f"0.0.0.0:{PORT}", "--view-token-file", token_file, "--scan")
        try:
            driver = browser(os.path.join(work, "operator"))
            try:
                check_operator(driver, process)
            finally:
                driver.quit()
            driver = browser(os.path.join(work, "viewer"))
            try:
                check_viewer(driver)
                check_foreign_host(driver)
            finally:
                driver.quit()
        finally:
            said = stop_demo(process)
        for expected in ("control: start", "control: bind 2 SN4242", "control: stop"):
            assert expected in said, f"{expected!r} not in the line's output:\n{said}"
        if len(sys.argv) > 2:
            screenshots(demo, sys.argv[2], work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("browser test passed")


if __name__ == "__main__":
    main()
