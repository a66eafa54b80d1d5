"""queno_log --http against the simulated board: /status and /meta say what the file's header says;
stalled, hostile and surplus clients get their answers and cost the recording no scan; a port in
use ends the run before the board is touched; and in a real browser (headless chromium, two at
once, one closed mid-run) the page shows every channel, the file's last values and its gap.
QUENO_BIN names the folder of the built programs; runs under queno-sim. Imports no queno module,
so that it runs beside sanitizer builds of queno_log too."""

import json
import os
import re
import resource
import shutil
import socket
import subprocess
import time
import urllib.error
import urllib.request

import pytest

from conftest import BIN
SCENARIO = """<QuenoSimSystem><Board model='QUENO-1600-UNIV' serial='S1'><Acquisition bufferScans='65536'/>
<Signals><Signal channels='AI0' kind='sine' offset='0' amplitude='5' period='2s'/>
<Signal channels='AI1' kind='ramp' from='-5' to='5' duration='4s'/></Signals>
<Events><Event at='1500ms' kind='overflow'/></Events>
<ChannelGroup kind='AI' count='3'><Mode Mode='Voltage'><Range><ID0>-10.000000..10.000000 V</ID0></Range></Mode>
</ChannelGroup></Board></QuenoSimSystem>"""


class Run:
    """queno_log recording with its live view on a free port."""

    def __init__(self, tmp_path, args, scenario=SCENARIO, output=None, descriptors=None):
        (tmp_path / "system.xml").write_text(scenario)
        self.csv = tmp_path / "run.csv"
        self.err = tmp_path / "err.txt"
        env = dict(os.environ, QUENO_SIM_SYSTEM=str(tmp_path / "system.xml"), QUENO_SIM_TRACE=str(tmp_path / "trace"))
        with open(self.err, "w") as err:
            self.process = subprocess.Popen([os.path.join(BIN, "queno_log"), "-q", "--http", "0", "-o", output or str(self.csv)] + args,
                                            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err,
                                            preexec_fn=descriptors and (lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (descriptors, descriptors))))
        for _ in range(300):
            found = re.search(r"live view at http://127\.0\.0\.1:(\d+)/", self.err.read_text())
            if found or self.process.poll() is not None:
                break
            time.sleep(0.05)
        assert found, self.err.read_text()
        self.url = f"http://127.0.0.1:{found.group(1)}"

    def get(self, path):
        with urllib.request.urlopen(self.url + path, timeout=10) as response:
            return json.loads(response.read())

    def wait_recording(self):
        for _ in range(200):
            if self.get("/status")["state"] == "recording":
                return
            time.sleep(0.05)
        raise AssertionError("the run did not start")

    def finish(self):
        assert self.process.wait(timeout=120) in (0, 3), self.err.read_text()
        return self.csv.read_text()


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))


def only_the_scenarios_overflows(text):
    """Scans were lost only where the scenario overflows the buffer (at 1.5 s),
    never because the logger's queue was full."""
    gaps = [line for line in text.splitlines() if line.startswith("# gap: ")]
    return gaps and all("(buffer overflow;" in g for g in gaps)


def test_status_and_meta_say_what_the_file_says(tmp_path):
    run = Run(tmp_path, ["-r", "1000", "-d", "2s", "AI0:voltage", "AI1:voltage"])
    run.wait_recording()
    status, meta = run.get("/status"), run.get("/meta")
    assert (status["board"], status["model"], status["serial"], status["rate"]) == (0, "QUENO-1600-UNIV", "S1", 1000)
    assert set(status) >= {"elapsed_s", "scans_written", "queue_fill", "gaps", "scans_lost", "ended", "latest"}
    assert status["latest"]["AI0"]["unit"] == "V" and 0 <= status["queue_fill"] <= 1 and not status["ended"]
    text = run.finish()
    header = [line for line in text.splitlines() if line.startswith("# ")]
    assert f"# rate 1000 S/s, started {meta['started']}" in "\n".join(header)
    assert [c["name"] for c in meta["channels"]] == ["AI0", "AI1"] and meta["channels"][0]["unit"] == "V"


def test_without_a_file_and_with_means(tmp_path):
    steady = SCENARIO.replace("<Event at='1500ms' kind='overflow'/>", "")
    run = Run(tmp_path, ["-r", "1000", "-d", "3s", "--average", "10", "AI0:voltage"], scenario=steady, output="none")
    run.wait_recording()
    assert run.get("/meta")["average"] == 10
    while run.get("/status")["scans_written"] == 0:
        time.sleep(0.05)
    assert run.get("/status")["latest"]["AI0"]["value"] is not None  # a mean of 10
    assert run.process.wait(timeout=60) == 0 and not run.csv.exists()


def raw_request(url, data, read=True):
    host, port = url[len("http://"):].split(":")
    with socket.create_connection((host, int(port)), timeout=10) as s:
        s.sendall(data)
        return s.recv(200).decode("latin-1") if read else ""


def test_stalled_hostile_and_surplus_clients_cost_no_scan(tmp_path):
    run = Run(tmp_path, ["-r", "20000", "-d", "4s", "AI0:voltage", "AI1:voltage", "AI2:voltage"])
    run.wait_recording()
    host, port = run.url[len("http://"):].split(":")
    stalled = socket.create_connection((host, int(port)))  # asks for events and never reads them
    stalled.sendall(b"GET /events?window=10 HTTP/1.1\r\nHost: x\r\n\r\n")
    assert stalled.recv(12) == b"HTTP/1.1 200"  # a viewer now, before the surplus one asks
    streams = [socket.create_connection((host, int(port))) for _ in range(15)]
    for s in streams:
        s.sendall(b"GET /events?window=3600 HTTP/1.1\r\nHost: x\r\n\r\n")
        assert s.recv(12) == b"HTTP/1.1 200"
    answers = {
        "surplus viewer": raw_request(run.url, b"GET /events HTTP/1.1\r\nHost: x\r\n\r\n"),
        "garbage": raw_request(run.url, bytes(range(256)) * 8 + b"\r\n\r\n"),
        "post": raw_request(run.url, b"POST /status HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\nhi"),
        "post without body": raw_request(run.url, b"POST / HTTP/1.1\r\nHost: x\r\n\r\n"),
        "many headers": raw_request(run.url, b"GET /status HTTP/1.1\r\n" + b"X-A: 1234567890\r\n" * 3000 + b"\r\n"),
        "large headers": raw_request(run.url, b"GET /status HTTP/1.1\r\n" + (b"X-B: " + b"b" * 7000 + b"\r\n") * 3 + b"\r\n"),
        "long uri": raw_request(run.url, b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\nHost: x\r\n\r\n"),
        "outside": raw_request(run.url, b"GET /../../etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n"),
        "bad window": raw_request(run.url, b"GET /events?window=5 HTTP/1.1\r\nHost: x\r\n\r\n"),
    }
    codes = {what: answer[9:12] for what, answer in answers.items()}
    assert codes == {"surplus viewer": "503", "garbage": "400", "post": "405", "post without body": "405",
                     "many headers": "431", "large headers": "431", "long uri": "414", "outside": "404", "bad window": "400"}
    # The port is this run's alone: a second run given it ends before it touches a board.
    second = subprocess.run([os.path.join(BIN, "queno_log"), "--http", port, "-o", str(tmp_path / "second.csv"), "AI0:rtd"],
                            capture_output=True, text=True, timeout=60)
    assert second.returncode == 1 and "Address already in use" in second.stderr
    for s in streams:
        s.close()
    text = run.finish()
    stalled.close()
    assert run.process.returncode == 3
    assert only_the_scenarios_overflows(text)


def connect_from(address, url):
    """A connection from one of loopback's many addresses; it never waits for the server."""
    s = socket.socket()
    s.bind((address, 0))
    s.setblocking(False)
    s.connect_ex(("127.0.0.1", int(url.rsplit(":", 1)[1])))
    return s


def test_hostile_neighbours_are_bounded_and_cost_the_recording_nothing(tmp_path):
    """Under `ulimit -n 256`: floods of idle connections from four addresses, forty requests that
    drip, a header flood and pipelined requests. The view answers while the bounds hold, the
    recording keeps its descriptors throughout, and the end closes what is still open."""
    run = Run(tmp_path, ["-r", "1000", "-d", "15s", "-O", "sigmf", "AI0:voltage"], output=str(tmp_path / "run"),
              descriptors=256)
    run.wait_recording()
    port = int(run.url.rsplit(":", 1)[1])
    flood = [socket.create_connection(("127.0.0.1", port), timeout=10, source_address=("127.0.0.2", 0)) for _ in range(70)]
    served = 0
    for s in flood:  # 64 of one address are held, the others closed as they come
        try:
            s.sendall(b"GET /favicon.ico HTTP/1.1\r\n\r\n")
            served += s.recv(12) == b"HTTP/1.1 204"
        except OSError:
            pass
    assert served == 64
    drips = [socket.create_connection(("127.0.0.1", port)) for _ in range(40)]
    for d in drips:
        d.sendall(b"GET /status HTTP/1.1\r\nX-Slow: ")
    assert run.get("/status")["state"] == "recording"
    # Three pipelined requests get three answers.
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(b"GET /status HTTP/1.1\r\nHost: x\r\n\r\n" * 2 + b"GET /meta HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        answers = b""
        while chunk := s.recv(65536):
            answers += chunk
    assert answers.count(b"HTTP/1.1 200 OK") == 3
    # Endless header lines: the connection is closed, and the process keeps none of them. What the
    # client manages to send says little (the kernel's buffers and the discarded lingering input take
    # megabytes on some machines), so the bound is on the logger's resident memory.
    resident_before = resident_kib(run.process.pid)
    sent = 0
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(b"GET /status HTTP/1.1\r\n")
        with pytest.raises(OSError):
            while sent < 256 << 20:
                s.sendall(b"X-Flood: " + b"f" * 1000 + b"\r\n")
                sent += 1011
    assert resident_kib(run.process.pid) - resident_before < 32 << 10
    # More than the view may hold in all: the rest wait or are closed, the recording goes on.
    flood += [connect_from(f"127.0.0.{a}", run.url) for a in (3, 4, 5) for _ in range(70)]
    for s in flood:
        s.close()
    # A request that drips is cut after its time, however long the run goes on.
    for d in drips:
        d.setblocking(False)
        while True:
            try:
                d.sendall(b"s")
                if d.recv(1) == b"":
                    break
            except BlockingIOError:
                time.sleep(0.2)
            except OSError:
                break
    assert run.get("/status")["state"] == "recording"
    late = socket.create_connection(("127.0.0.1", port))
    late.sendall(b"GET /status HTTP/1.1\r\nX-Slow: ")  # still dripping when the run ends
    assert run.process.wait(timeout=120) == 3, run.err.read_text()
    assert late.recv(1) == b""  # closed with the run
    meta = json.loads((tmp_path / "run.sigmf-meta").read_text())
    assert meta["global"]["core:datatype"] and "Too many open files" not in run.err.read_text()


def test_a_port_in_use_ends_the_run_before_the_board_is_touched(tmp_path):
    with socket.socket() as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        port = taken.getsockname()[1]
        env = dict(os.environ, QUENO_SIM_TRACE=str(tmp_path / "trace"))
        result = subprocess.run([os.path.join(BIN, "queno_log"), "--http", str(port), "-o", str(tmp_path / "x.csv"), "AI0:rtd"],
                                env=env, capture_output=True, text=True, timeout=60)
    assert result.returncode == 1
    assert result.stderr == f"queno_log: --http: cannot listen on 127.0.0.1:{port}: Address already in use\n"
    assert not (tmp_path / "trace").exists() and not (tmp_path / "x.csv").exists()


def browser():
    webdriver = pytest.importorskip("selenium.webdriver")
    from selenium.webdriver.chrome.service import Service
    if not (shutil.which("chromium") and shutil.which("chromedriver")):
        pytest.skip("needs chromium and chromium-driver")
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--window-size=1100,1200"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)


def test_two_browsers_show_the_channels_the_last_values_and_the_gap(tmp_path):
    first, second = browser(), browser()
    try:
        opens = SCENARIO.replace("<Events>", "<Events><Event at='500ms' channels='AI2' kind='open' duration='200ms'/>"
                                             "<Event at='2500ms' channels='AI2' kind='open' duration='200ms'/>")
        run = Run(tmp_path, ["-r", "1000", "-d", "4s", "--alarm", "AI2:lo=1", "AI0:voltage", "AI1:voltage", "AI2:voltage"],
                  scenario=opens)
        first.get(run.url + "/")
        second.get(run.url + "/")
        for _ in range(100):
            if len(second.find_elements("css selector", "#latest tr")) == 3:
                break
            time.sleep(0.1)
        second.quit()  # one viewer goes away mid-run
        second = None
        first.execute_script("view.source.close(); connect();")  # as after a laptop's sleep: all again
        text = run.finish()
        for _ in range(100):
            if first.find_element("id", "state").text == "recording ended":
                break
            time.sleep(0.1)
        rows = [r.text.split() for r in first.find_elements("css selector", "#latest tr")]
        assert [(r[0], r[-1]) for r in rows] == [("AI0", "V"), ("AI1", "V"), ("AI2", "V")]
        last = [line for line in text.splitlines() if line[:1].isdigit()][-1].split(",")
        step = 20.0 / 2 ** 24  # one count of the +-10 V range
        for row, value in zip(rows, last[2:]):
            if row[1] == "at":  # "at a limit": the file's field is empty too (the run may end in an open stretch)
                assert value == "", (row, value)
                continue
            assert abs(float(row[1]) - float(value)) <= step + 1e-6, (row, value)
        gaps = [line[2:] for line in text.splitlines() if line.startswith("# gap: ")]
        shown = [g.text for g in first.find_elements("css selector", "#gaps li.gap")]
        assert shown == gaps and only_the_scenarios_overflows(text)
        # The open input's stretches, listed as the file's comment lines place them.
        stretches = re.findall(r"^# AI2: (\w+ range) from scan (\d+)$", text, re.M)
        listed = [re.match(r"AI2 (\w+ range) (?:from|since) scan (\d+) ", li.text).groups()
                  for li in first.find_elements("css selector", "#limits li.limit")]
        assert listed == stretches and len(stretches) >= 2
        assert len(first.find_elements("css selector", "#charts .chart canvas")) == 1  # one unit, one chart
        # The alarm that holds at the end (AI2 stays below 1 V but while it is open), at the top of
        # the page as the file's last alarm line has it.
        raised = re.findall(r"^# alarm AI2: (\w+) at scan (\d+) ", text, re.M)
        shown = [li.text for li in first.find_elements("css selector", "#alarm-list li.alarm")]
        assert raised and len(shown) == 1 and shown[0].startswith(f"AI2 {raised[-1][0]} since scan {raised[-1][1]} "), (raised, shown)
        assert run.process.returncode == 3  # the closed viewer cost nothing: the overflows' gaps only
    finally:
        first.quit()
        if second is not None:
            second.quit()
