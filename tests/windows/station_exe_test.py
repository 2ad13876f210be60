#!/usr/bin/python3
"""tovrin-station.exe under Wine runs a signed job for the Linux browser: the
job and its key made with the openssl command, the board a Linux varnel-sim in
a namespace of its own at 192.168.167.100 behind a veth port, the station
listening on the session's 127.0.0.1, and headless Chromium (Selenium) loading
the page, pressing Start and seeing the tile pass; the board's flash is then
the image byte for byte but the identity stamped from the job. A job whose
firmware changed ends the station with 20 before its page. Runs inside the
Windows tests' session (scripts/private-net, scripts/with-wine), whose
wineserver carries the station's sockets in this namespace.

  station_exe_test.py WINE64 TOVRIN_STATION_EXE HOST_VARNEL_SIM WORK_DIR

Exits 77 (skipped) when the Linux varnel-sim, openssl, Chromium, its driver or
Selenium is missing.
"""
import hashlib
import json
import os
import random
import shutil
import subprocess
import sys
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "station_ui"))
from browser_test import browser, count, in_private_namespace, states, tiles, wait_for  # noqa: E402
from line_browser_test import BOARD_END, ip, s_records  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402

PORT = 8767
OPERATOR = f"http://127.0.0.1:{PORT}/"
FLASH = 0x20000
IMAGE = FLASH - 64  # the last 64 bytes are reached by no frame
REVISION, SERIAL = "C", "SN0001"
START_S = 120       # Wine starts the exe (the prefix is warm by now)
RUN_S = 240         # 2047 frames through Wine's sockets

def signed_job(work, firmware):
    """job.json beside fw.s19, signed with a key made here; the public key's path."""
    openssl = shutil.which("openssl")
    if not openssl:
        print("skipped: the openssl command is missing")
        sys.exit(77)
    key, pub = os.path.join(work, "release.key"), os.path.join(work, "release.pem")
    subprocess.run([openssl, "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", key],
                   check=True, capture_output=True)
    subprocess.run([openssl, "pkey", "-in", key, "-pubout", "-out", pub], check=True, capture_output=True)
    with open(os.path.join(work, "fw.s19"), "w", newline="\n") as f:
        f.write(firmware)
    job = {"job_version": 1, "name": "VR32 station under Wine",
           "firmware": {"file": "fw.s19", "sha256": hashlib.sha256(firmware.encode()).hexdigest()},
           "revision": REVISION, "serial_from": SERIAL, "verify": "frames", "expect_hardware": "VR32", "count": 1}
    with open(os.path.join(work, "job.json"), "w") as f:
        f.write(json.dumps(job) + "\n")
    subprocess.run([openssl, "dgst", "-sha256", "-sign", key, "-out", os.path.join(work, "job.json.sig"),
                    os.path.join(work, "job.json")], check=True)
    return pub


def start_board(sim, work):
    log = open(os.path.join(work, "board.log"), "w")
    board = subprocess.Popen(
        ["unshare", "-n", "sh", "-c", BOARD_END, "sh", "board1", sim, "--bind", "192.168.167.100", "--udp-only",
         "--flash-file", os.path.join(work, "board.flash"), "--time-limit", "600"],
        stdout=log, stderr=subprocess.STDOUT)
    mine = os.readlink("/proc/self/ns/net")
    deadline = time.time() + 5
    while os.readlink(f"/proc/{board.pid}/ns/net") == mine:
        assert time.time() < deadline, "no namespace for the board"
        time.sleep(0.05)
    ip("link", "add", "station1", "type", "veth", "peer", "name", "board1")
    ip("link", "set", "board1", "netns", str(board.pid))
    ip("addr", "add", "192.168.167.1/24", "dev", "station1")
    ip("link", "set", "station1", "up")
    deadline = time.time() + 10
    while "ready" not in open(os.path.join(work, "board.log")).read():
        assert time.time() < deadline, "the board did not start"
        time.sleep(0.1)
    return board


def station(wine, exe, *args):
    # Relative paths: the same names on both systems, the exe in the work folder.
    return [wine, exe, "--job", "job.json", "--trusted-key", "release.pem", "--state", "line.state",
            "--log", "line.jsonl", "--listen", f"127.0.0.1:{PORT}", "--no-browser", *args]


def check_page(driver, work, data):
    driver.get(OPERATOR)
    wait_for(driver, "the tile", lambda d: len(tiles(d)) == 1)
    wait_for(driver, "the live stream", lambda d: d.find_element(By.ID, "live").get_attribute("data-live") == "yes")
    assert driver.find_element(By.ID, "job-name").text == "VR32 station under Wine"
    driver.find_element(By.CSS_SELECTOR, '[data-action="start"]').click()
    # The tile passes; the job's count of one then ends the line, and the
    # tile with it, while its counter keeps the board.
    started = time.time()
    tile = tiles(driver)[0]
    while tile.find_element(By.CLASS_NAME, "t-passed").text != "1":
        assert count(driver, "failed") == 0 and states(driver)[0] != "failed", tiles(driver)[0].text
        assert time.time() - started < RUN_S, f"the tile never passed: {states(driver)}"
        time.sleep(0.2)
    wait_for(driver, "the line ended", lambda d: d.find_element(By.ID, "line-state").get_attribute(
        "data-line-state") == "ended")
    with urllib.request.urlopen(OPERATOR + "api/history") as answer:
        rows = json.load(answer)
    assert [r["result"] for r in rows] == ["passed"], rows
    record = json.loads(open(os.path.join(work, "line.jsonl")).readline())
    assert record["job"]["name"] == "VR32 station under Wine", record["job"]
    assert record["job"]["signer"], record["job"]

    expected = bytearray(data + b"\xff" * (FLASH - IMAGE))
    expected[0x420] = ord(REVISION)
    expected[0x421:0x421 + len(SERIAL)] = SERIAL.encode()
    expected[0x421 + len(SERIAL)] = 0
    flash = open(os.path.join(work, "board.flash"), "rb").read()
    assert flash == bytes(expected), "the board's flash differs from the image"


def main():
    if len(sys.argv) < 5:
        raise SystemExit(__doc__)
    wine, exe, sim, work = sys.argv[1:5]
    if not os.access(sim, os.X_OK):
        print(f"skipped: no Linux varnel-sim at {sim}: build it (scripts/test) to run this test")
        sys.exit(77)
    if not in_private_namespace():
        raise SystemExit("station_exe_test.py runs only inside the Windows tests' namespace")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    os.chdir(work)
    data = bytes(random.Random(11).randrange(0, 255) for _ in range(IMAGE))
    signed_job(work, s_records(data))
    processes = []
    # The station reaches its board through the port, not its own loopback.
    ip("addr", "del", "192.168.167.100/32", "dev", "lo")
    try:
        processes.append(start_board(sim, work))

        # A firmware byte changed: refused with 20 before the page, nothing sent.
        good = open("fw.s19").read()
        changed = list(data)
        changed[5] ^= 1
        with open("fw.s19", "w", newline="\n") as f:
            f.write(s_records(bytes(changed)))
        refused = subprocess.run(station(wine, exe), capture_output=True, text=True, timeout=START_S)
        assert refused.returncode == 20, (refused.returncode, refused.stdout, refused.stderr)
        assert "is not the job's" in refused.stderr, refused.stderr
        with open("fw.s19", "w", newline="\n") as f:
            f.write(good)

        line = subprocess.Popen(station(wine, exe), stdout=subprocess.PIPE,
                                stderr=open(os.path.join(work, "station.err"), "w"), text=True)
        processes.append(line)
        first = line.stdout.readline()
        assert "operator's page" in first, (first, open(os.path.join(work, "station.err")).read())
        driver = browser(os.path.join(work, "profile"))
        try:
            check_page(driver, work, data)
        finally:
            driver.quit()
        # Ctrl+C (Wine turns SIGINT into it) ends the station.
        line.send_signal(2)
        assert line.wait(timeout=30) == 0
        print("tovrin-station.exe programmed the board for the browser, byte-exact")
    finally:
        for process in processes:
            process.kill()
            process.wait()
        subprocess.run(["ip", "link", "del", "station1"], stderr=subprocess.DEVNULL)
        subprocess.run(["ip", "addr", "add", "192.168.167.100/32", "dev", "lo"], stderr=subprocess.DEVNULL)
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
