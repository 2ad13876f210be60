#!/usr/bin/python3
"""The real tovrin-station on a line of simulated boards, watched in headless
Chromium: four network ports (veth pairs), each with a varnel-sim line of three
boards in a namespace of its own; the board on port 4 refuses its erase. Start
on the page programs the nine good boards (distinct serial numbers, every flash
the file's but its identity record) while port 4's tile turns red with its
cause; the counters and the first-pass yield follow; Stop ends the line; a
new Start runs it again, and SIGTERM stops it and ends the station. Then a
station of scanned numbers on a fifth port (two boards): the number scanned
for the first board is programmed into it, and the same number scanned for the
second is refused on its tile at once, the board never erased. Runs only inside
a network namespace of its own (scripts/private-net).

  line_browser_test.py TOVRIN_STATION VARNEL_SIM

Exits 77 (skipped) when Chromium, its driver or Selenium is missing.
"""
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser_test import browser, count, in_private_namespace, states, tiles, wait_for  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402

PORT = 8766
OPERATOR = f"http://127.0.0.1:{PORT}/"
PORTS = 4
BOARDS = 3
FLASH = 0x20000
IMAGE = FLASH - 64           # the last 64 bytes are reached by no frame
IDENTITY = (0x420, 0x430)    # stamped per board: not the file's
LINE_S = 240                 # nine boards on a sanitized build, two cores shared

# The board's end of a cable: waits for it to be moved into this namespace.
BOARD_END = """
n=0
until ip link show "$1" >/dev/null 2>&1; do
  n=$((n + 1)); [ "$n" -le 50 ] || exit 1; sleep 0.1
done
ip link set lo up
ip addr add 192.168.167.100/24 dev "$1"
ip link set "$1" up
shift
exec "$@"
"""


def ip(*args):
    subprocess.run(["ip", *args], check=True)


def s_records(data):
    """The image as S3 records, 32 bytes each."""
    lines = []
    for at in range(0, len(data), 32):
        chunk = data[at:at + 32]
        body = bytes([len(chunk) + 5]) + at.to_bytes(4, "big") + chunk
        lines.append("S3" + body.hex().upper() + f"{(~sum(body)) & 0xFF:02X}")
    body = bytes([5, 0, 0, 0, 0])
    lines.append("S7" + body.hex().upper() + f"{(~sum(body)) & 0xFF:02X}")
    return "\n".join(lines) + "\n"


def start_boards(sim, work, processes, ports=range(1, PORTS + 1), boards=BOARDS):
    for i in ports:
        extra = ["--erase-nak"] if i == PORTS else []
        log = open(os.path.join(work, f"port{i}.log"), "w")
        board = subprocess.Popen(
            ["unshare", "-n", "sh", "-c", BOARD_END, "sh", f"board{i}", sim, "--bind", "192.168.167.100",
             "--boards", str(boards), "--serial", f"P{i}B01", "--reset-silence-ms", "1500",
             "--flash-file", os.path.join(work, f"port{i}.flash"), "--time-limit", "600", *extra],
            stdout=log, stderr=subprocess.STDOUT)
        processes.append(board)
        mine = os.readlink("/proc/self/ns/net")
        deadline = time.time() + 5
        while os.readlink(f"/proc/{board.pid}/ns/net") == mine:
            assert time.time() < deadline, f"no namespace for port {i}"
            time.sleep(0.05)
        ip("link", "add", f"gang{i}", "type", "veth", "peer", "name", f"board{i}")
        ip("link", "set", f"board{i}", "netns", str(board.pid))
        ip("addr", "add", "192.168.167.1/24", "dev", f"gang{i}")
        # The replies of ports 2..4 come in on a port that is not the route's first choice.
        with open(f"/proc/sys/net/ipv4/conf/gang{i}/rp_filter", "w") as f:
            f.write("2")
        ip("link", "set", f"gang{i}", "up")
    with open("/proc/sys/net/ipv4/conf/all/rp_filter", "w") as f:
        f.write("2")
    for i in ports:
        deadline = time.time() + 10
        while "ready" not in open(os.path.join(work, f"port{i}.log")).read():
            assert time.time() < deadline, f"the board on port {i} did not start"
            time.sleep(0.1)


def start_station(station, work, image, source=("--serial-from", "SN0001"), log="line.jsonl",
                  ports=range(1, PORTS + 1)):
    args = [station, image, *source, "--state", os.path.join(work, "line.state"),
            "--log", os.path.join(work, log), "--listen", f"127.0.0.1:{PORT}", "--no-browser"]
    for i in ports:
        args += ["--interface", f"gang{i}"]
    process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=open(os.path.join(work, "station.err"), "w"),
                               text=True)
    first = process.stdout.readline()
    if "operator's page" not in first:
        process.kill()
        raise SystemExit(f"tovrin-station did not start: {first!r}")
    return process


def check_line(driver, work, data):
    driver.get(OPERATOR)
    wait_for(driver, "four tiles", lambda d: len(tiles(d)) == PORTS)
    wait_for(driver, "the live stream", lambda d: d.find_element(By.ID, "live").get_attribute("data-live") == "yes")
    driver.find_element(By.CSS_SELECTOR, '[data-action="start"]').click()

    refusing = tiles(driver)[PORTS - 1]
    started = time.time()
    while refusing.get_attribute("data-state") != "failed":
        assert time.time() - started < LINE_S, f"port {PORTS}'s tile never failed: {states(driver)}"
        time.sleep(0.2)
    cause = refusing.find_element(By.CLASS_NAME, "cause").text
    assert "erase" in cause.lower(), cause
    while count(driver, "passed") < BOARDS * (PORTS - 1):
        assert time.time() - started < LINE_S, f"the others did not go on: {states(driver)}"
        time.sleep(0.5)
    assert count(driver, "failed") == 1
    assert driver.find_element(By.CSS_SELECTOR, '[data-count="yield"]').text == "90.0%"
    assert states(driver)[PORTS - 1] == "failed", states(driver)

    driver.find_element(By.CSS_SELECTOR, '[data-action="stop"]').click()
    wait_for(driver, "the line ended", lambda d: d.find_element(By.ID, "line-state").get_attribute(
        "data-line-state") == "ended")

    # The run log holds what tovrin-cli batch would have written: one record a
    # board, each passed board its own number, stamped in a flash that is
    # otherwise the file's.
    with urllib.request.urlopen(OPERATOR + "api/history") as answer:
        rows = json.load(answer)
    records = [json.loads(line) for line in open(os.path.join(work, "line.jsonl"))]
    assert len(records) == len(rows) == BOARDS * (PORTS - 1) + 1, (len(records), len(rows))
    passed = sorted(r["serial"] for r in rows if r["result"] == "passed")
    assert len(set(passed)) == BOARDS * (PORTS - 1), passed
    expected = data + b"\xff" * (FLASH - IMAGE)
    stamped = []
    for i in range(1, PORTS):
        for b in range(1, BOARDS + 1):
            flash = open(os.path.join(work, f"port{i}.flash.{b}"), "rb").read()
            assert flash[:IDENTITY[0]] == expected[:IDENTITY[0]], f"port {i} board {b}"
            assert flash[IDENTITY[1]:] == expected[IDENTITY[1]:], f"port {i} board {b}"
            stamped.append(flash[IDENTITY[0] + 1:IDENTITY[1]].split(b"\0")[0].decode())
    assert sorted(stamped) == passed, (stamped, passed)

    # A line that ended starts again; SIGTERM then stops it and waits for it.
    driver.find_element(By.CSS_SELECTOR, '[data-action="start"]').click()
    wait_for(driver, "the line running again", lambda d: d.find_element(By.ID, "line-state").get_attribute(
        "data-line-state") == "running")


def scan(tile, serial):
    field = tile.find_element(By.CSS_SELECTOR, '[data-field="serial"]')
    field.send_keys(serial + "\n")  # as a keyboard-wedge scanner types it


def check_scan(driver, work):
    """A station of one slot, on port 5's two boards."""
    driver.get(OPERATOR)
    wait_for(driver, "one tile", lambda d: len(tiles(d)) == 1)
    wait_for(driver, "the live stream", lambda d: d.find_element(By.ID, "live").get_attribute("data-live") == "yes")
    assert "scanned at each slot" in driver.find_element(By.ID, "job-source").text
    driver.find_element(By.CSS_SELECTOR, '[data-action="start"]').click()
    tile = tiles(driver)[0]
    label = lambda d: tile.find_element(By.CLASS_NAME, "message").text == "Scan the board's label"
    wait_for(driver, "port 5's first board waiting for its label", label)
    scan(tile, "SN0100")
    wait_for(driver, "the scanned number programmed", lambda d: count(d, "passed") == 1)
    wait_for(driver, "port 5's second board waiting for its label", label)
    # The label of the board just programmed, scanned again: refused on the
    # spot, before the waiting board is touched.
    scan(tile, "SN0100")
    answer = tile.find_element(By.CLASS_NAME, "scan-answer")
    wait_for(driver, "the repeat refused", lambda d: answer.get_attribute("data-kind") == "refused")
    assert "handed out before" in answer.text, answer.text
    time.sleep(1)
    board_log = open(os.path.join(work, f"port{PORTS + 1}.log")).read()
    assert "board 1 udp erase ok" in board_log or "board 1 tcp erase ok" in board_log, board_log[-2000:]
    assert "board 2 udp erase" not in board_log and "board 2 tcp erase" not in board_log, board_log[-2000:]
    assert label(driver) and count(driver, "passed") == 1
    flash = open(os.path.join(work, f"port{PORTS + 1}.flash.1"), "rb").read()
    assert flash[IDENTITY[0] + 1:IDENTITY[1]].split(b"\0")[0] == b"SN0100"
    record = json.loads(open(os.path.join(work, "scan.jsonl")).readline())
    assert record["written"]["serial"] == "SN0100" and record["scanned"]["slot"] == f"gang{PORTS + 1}", record


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    if not in_private_namespace():
        raise SystemExit("line_browser_test.py runs only inside scripts/private-net")
    station, sim = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="station-line-")
    processes = []
    # The station reaches its boards through the ports, not its own loopback.
    ip("addr", "del", "192.168.167.100/32", "dev", "lo")
    try:
        data = bytes(random.Random(7).randrange(0, 255) for _ in range(IMAGE))
        image = os.path.join(work, "image.s19")
        with open(image, "w") as f:
            f.write(s_records(data))
        start_boards(sim, work, processes)
        line = start_station(station, work, image)
        processes.append(line)
        driver = browser(os.path.join(work, "operator"))
        try:
            check_line(driver, work, data)
            line.terminate()
            assert line.wait(timeout=10) == 0
            start_boards(sim, work, processes, ports=[PORTS + 1], boards=2)
            line = start_station(station, work, image, source=("--serial-source", "scan"), log="scan.jsonl",
                                 ports=[PORTS + 1])
            processes.append(line)
            check_scan(driver, work)
        finally:
            driver.quit()
        line.terminate()
        assert line.wait(timeout=10) == 0
        print(f"line test passed in {time.time() - started_at:.0f} s")
    finally:
        for process in processes:
            process.kill()
            process.wait()
        for i in range(1, PORTS + 2):
            subprocess.run(["ip", "link", "del", f"gang{i}"], stderr=subprocess.DEVNULL)
        subprocess.run(["ip", "addr", "add", "192.168.167.100/32", "dev", "lo"], stderr=subprocess.DEVNULL)
        if os.environ.get("TOVRIN_LINE_KEEP"):
            shutil.copytree(work, os.environ["TOVRIN_LINE_KEEP"], dirs_exist_ok=True)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    started_at = time.time()
    main()
