"""queno_log as a service: its configuration file judged as a table of cases; the notify protocol
seen on a datagram socket the test owns (READY, STATUS, WATCHDOG following the scans and stopping
in a stall, RELOADING/READY around a SIGHUP, STOPPING); SIGHUP storms that lose and repeat no scan;
a series that goes on after a restart; retention on a small tmpfs beside a stranger's files.
QUENO_BIN names the folder of the built programs; runs under queno-sim. Imports no queno module,
so that it runs beside sanitizer builds of queno_log too."""

import os
import re
import signal
import socket
import subprocess
import time

import pytest

from conftest import BIN

QUENO_LOG = os.path.join(BIN, "queno_log")


def series_scans(files):
    """The scan numbers of a CSV series' rows, file after file, and whether its last file ends."""
    scans = []
    for f in files:
        scans += [int(line.split(",")[1]) for line in f.read_text().splitlines() if line[:1].isdigit()]
    return scans, "\n# end " in files[-1].read_text()
GOOD = 'rate = 100\nchannels = ["AI0:pt100", "AI1:pt100,IIRFilter_VAL=10"]\noutput = "furnace"\nrotate = "1d"\nraw = true\n'

CONFIG_CASES = [  # name, file (text, or "dir" / "fifo" / None for none there), extra arguments, status, said
    ("good", GOOD, [], 0, None),
    ("the command line wins", GOOD, ["-r", "20", "AI3:tc-k"], 0, None),
    ("an unknown key", GOOD + "ratee = 10\n", [], 78, "x.toml:6: unknown key \"ratee\""),
    ("a key twice", GOOD + "rate = 20\n", [], 78, "x.toml:6: "),
    ("a text for a switch", GOOD.replace("raw = true", "raw = \"yes\""), [], 78, "x.toml:5: raw: true or false"),
    ("a bad value", GOOD.replace("rate = 100", "rate = \"ten\""), [], 78, "x.toml:1: --rate \"ten\""),
    ("a list for a value", GOOD.replace("rate = 100", "rate = [1]"), [], 78, "x.toml:1: rate: a text or a number"),
    ("channels not a list", GOOD.replace('channels = ["AI0:pt100", "AI1:pt100,IIRFilter_VAL=10"]', 'channels = "AI0"'), [], 78,
     "x.toml:2: channels: a list of texts"),
    ("an unknown preset", GOOD.replace("AI0:pt100", "AI0:nope"), [], 78, "x.toml:2: channel \"AI0:nope\""),
    ("options that need another", GOOD + "topic = \"lab\"\n", [], 78, "x.toml: --topic"),
    ("not TOML", "rate = = 1\n", [], 78, "x.toml:1: "),
    ("a folder", "dir", [], 78, "x.toml: not a regular file"),
    ("a FIFO", "fifo", [], 78, "x.toml: not a regular file"),
    ("no file", None, [], 78, "x.toml: No such file or directory"),
]


@pytest.mark.parametrize("name,text,extra,status,said", CONFIG_CASES, ids=[c[0] for c in CONFIG_CASES])
def test_the_configuration_is_judged_before_anything_is_touched(tmp_path, name, text, extra, status, said):
    config = tmp_path / "x.toml"
    if text == "dir":
        config.mkdir()
    elif text == "fifo":
        os.mkfifo(config)
    elif text is not None:
        config.write_text(text)
    env = dict(os.environ, QUENO_SIM_TRACE=str(tmp_path / "trace"))
    result = subprocess.run([QUENO_LOG, "--config", str(config), "--check-config"] + extra, capture_output=True, text=True,
                            env=env, timeout=60)
    assert result.returncode == status, result.stderr
    assert not (tmp_path / "trace").exists()  # no driver call
    if status == 0:
        settings = dict(line.split(" = ", 1) for line in result.stdout.splitlines())
        assert settings["rate"] == ("20" if extra else "100") and settings["output"] == '"furnace"' and settings["raw"] == "true"
        assert settings["channels"] == ('["AI3:tc-k"]' if extra else '["AI0:pt100", "AI1:pt100,IIRFilter_VAL=10"]')
    else:
        assert result.stdout == "" and said in result.stderr, result.stderr


class Service:
    """queno_log --service with a notify socket of the test's own."""

    def __init__(self, tmp_path, args, watchdog_us=None, scenario=None):
        self.socket_path = str(tmp_path / "notify")
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.socket.bind(self.socket_path)
        self.socket.settimeout(0.1)
        env = dict(os.environ, NOTIFY_SOCKET=self.socket_path)
        env.pop("WATCHDOG_PID", None)
        if watchdog_us:
            env["WATCHDOG_USEC"] = str(watchdog_us)
        if scenario:
            (tmp_path / "system.xml").write_text(scenario)
            env["QUENO_SIM_SYSTEM"] = str(tmp_path / "system.xml")
        self.err = open(tmp_path / "err.txt", "w+")
        self.process = subprocess.Popen([QUENO_LOG, "--service"] + args, env=env, cwd=tmp_path, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=self.err)
        self.messages = []  # (seconds since the start, {key: value})
        self.started = time.monotonic()

    def collect(self, until):
        """Takes messages until until() is true or the process has ended and the socket is quiet."""
        quiet = 0
        while not until() and quiet < 5:
            try:
                data = self.socket.recv(65536).decode()
            except socket.timeout:
                quiet = quiet + 1 if self.process.poll() is not None else 0
                continue
            fields = dict(line.split("=", 1) for line in data.splitlines() if "=" in line)
            self.messages.append((time.monotonic() - self.started, fields))

    def said(self, key):
        return [t for t, fields in self.messages if key in fields]

    def stderr(self):
        self.err.seek(0)
        return self.err.read()


STALL = """<QuenoSimSystem><Board model='QUENO-1600-UNIV' serial='S1'><Acquisition bufferScans='1000000'/>
<Events><Event at='2s' kind='stall' duration='3s'/></Events>
<ChannelGroup kind='AI' count='2'><Mode Mode='Voltage'><Range><ID0>-10.000000..10.000000 V</ID0></Range></Mode>
</ChannelGroup></Board></QuenoSimSystem>"""


def test_systemd_is_told_ready_status_and_the_pings_follow_the_scans(tmp_path):
    service = Service(tmp_path, ["-r", "1000", "-d", "7s", "-o", "run.csv", "AI0:voltage"], watchdog_us=1000000, scenario=STALL)
    service.collect(lambda: service.said("WATCHDOG") and len(service.said("WATCHDOG")) >= 3)
    service.process.send_signal(signal.SIGHUP)
    service.collect(lambda: service.process.poll() is not None and False)
    assert service.process.wait(timeout=60) == 0, service.stderr()
    keys = [k for _, fields in service.messages for k in fields]
    ready, pings = service.said("READY"), service.said("WATCHDOG")
    assert ready and service.said("STATUS")[0] <= ready[0] <= pings[0]  # ready once scans are in the file
    status = [f["STATUS"] for _, f in service.messages if "STATUS" in f]
    assert re.fullmatch(r"recording AI0 at 1000 S/s into run-000[12]\.csv: \d+ scans, 0 gaps", status[-1]), status[-1]
    # Around the reload: RELOADING with the monotonic time, then READY; the end: STOPPING, last.
    reloading = keys.index("RELOADING")
    assert "MONOTONIC_USEC" in keys[reloading:] and "READY" in keys[reloading:]
    assert keys[-1] == "STOPPING" and keys.count("STOPPING") == 1
    # The stall (3 s without a scan): the pings stop, and come back with the scans after it.
    silences = [b - a for a, b in zip(pings, pings[1:])]
    assert max(silences) >= 2, silences
    assert service.stderr() == ""  # nothing to warn of
    assert (tmp_path / "run-0002.csv").exists()  # the reload began a new file


def test_sighup_storms_lose_and_repeat_no_scan_and_a_restart_goes_on_in_the_series(tmp_path):
    service = Service(tmp_path, ["-r", "10000", "-d", "7s", "-o", "run.csv", "AI0:voltage", "AI1:voltage"])
    service.collect(lambda: service.said("READY"))
    for pause in [0.1] * 30 + [0.01] * 50:
        os.kill(service.process.pid, signal.SIGHUP)
        time.sleep(pause)
    service.collect(lambda: False)
    assert service.process.wait(timeout=60) == 0, service.stderr()
    files = sorted(tmp_path.glob("run-*.csv"))
    assert len(files) >= 10
    for f in files[:-1]:
        assert f.read_text().splitlines()[-1] == f"# continued in {files[files.index(f) + 1].name}"
    scans, complete = series_scans(files)
    assert complete and scans == list(range(len(scans)))  # every scan once, in order
    end = files[-1].read_text().splitlines()[-1]
    assert f": {len(scans)} scans, 0 gaps" in end
    # Started again, the service goes on after the last file of its series.
    again = subprocess.run([QUENO_LOG, "--service", "-n", "10", "-o", "run.csv", "AI0:voltage"], cwd=tmp_path, capture_output=True,
                           text=True, timeout=60)
    assert again.returncode == 0, again.stderr
    number = int(files[-1].name[4:8])
    assert (tmp_path / f"run-{number + 1:04d}.csv").exists()


@pytest.fixture
def small_disk(tmp_path):
    """A 4 MiB tmpfs of the test's own (root only)."""
    disk = tmp_path / "disk"
    disk.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", str(disk)], capture_output=True).returncode != 0:
        pytest.skip("cannot mount a tmpfs here (needs root)")
    yield disk
    subprocess.run(["umount", "-l", str(disk)], check=False)


@pytest.mark.parametrize("limits,floor", [(["--keep-files", "3"], False), (["--max-total", "200K"], False),
                                          (["--min-free", "3M"], True)], ids=["keep-files", "max-total", "min-free"])
def test_retention_removes_the_series_oldest_files_only(small_disk, limits, floor):
    stranger = small_disk / "run-0002.csv"  # a name of the series, not written by queno_log
    stranger.write_text("someone's notes\n")
    (small_disk / "notes.txt").write_bytes(b"x" * (1536 << 10) if floor else b"notes")
    result = subprocess.run([QUENO_LOG, "-q", "-r", "20000", "-d", "3s", "--rotate", "64K", "-o", "run.csv", "AI0:voltage"] + limits,
                            cwd=small_disk, capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert stranger.read_text() == "someone's notes\n" and (small_disk / "notes.txt").exists()
    ours = sorted(f.name for f in small_disk.glob("run-*.csv") if f != stranger)
    numbers = [int(name[4:8]) for name in ours]
    assert numbers == list(range(numbers[0], numbers[0] + len(numbers)) if 2 not in numbers else numbers)
    assert numbers[0] > 1 and ours[-1].endswith(".csv")  # the oldest went, the newest stayed
    if "--keep-files" in limits:
        assert len(ours) <= 3
    if "--max-total" in limits:
        assert sum((small_disk / n).stat().st_size for n in ours[:-1]) <= 200 << 10
    said = [line for line in result.stderr.splitlines() if "retention:" in line]
    assert len(said) == (1 if floor else 0), result.stderr


def test_a_reload_keeps_what_it_cannot_change_and_a_broken_file_changes_nothing(tmp_path):
    """The notify socket is gone: that costs nothing. A file broken at a reload leaves the settings
    as they are; a rate changed in it is said once, as needing a restart."""
    config = tmp_path / "x.toml"
    config.write_text('rate = 1000\nchannels = ["AI0:voltage"]\noutput = "run.csv"\nduration = "4s"\n')
    process = subprocess.Popen([QUENO_LOG, "--service", "--config", str(config)], cwd=tmp_path, stderr=subprocess.PIPE, text=True,
                               env=dict(os.environ, NOTIFY_SOCKET=str(tmp_path / "gone")))
    while not (tmp_path / "run-0001.csv").exists() or (tmp_path / "run-0001.csv").stat().st_size < 4096:
        time.sleep(0.05)
    for text in ('rate = = 1\n', 'rate = 500\nchannels = ["AI0:voltage"]\noutput = "run.csv"\nduration = "4s"\n'):
        config.write_text(text)
        before = len(list(tmp_path.glob("run-*.csv")))
        process.send_signal(signal.SIGHUP)
        while len(list(tmp_path.glob("run-*.csv"))) == before:
            time.sleep(0.05)
    process.send_signal(signal.SIGHUP)  # the same change again: said no more
    _, err = process.communicate(timeout=60)
    assert process.returncode == 0, err
    lines = err.splitlines()
    assert lines[0].startswith("<4>reload: ") and lines[0].endswith("x.toml:1: " + lines[0].split("x.toml:1: ", 1)[1])
    assert lines[0].endswith("; the settings in use are kept")
    assert lines[1:] == ["<4>reload: rate change only with a restart; kept as they are until then"]
    files = sorted(tmp_path.glob("run-*.csv"))
    scans, complete = series_scans(files)
    assert complete and scans == list(range(len(scans)))
    assert all("\n# rate 1000 S/s, " in f.read_text() for f in files)


RAMP = """<QuenoSimSystem><Board model='QUENO-1600-UNIV' serial='S1'><Acquisition bufferScans='65536'/>
<Signals><Signal channels='AI0' kind='ramp' from='-5' to='5' duration='1s'/></Signals>
<ChannelGroup kind='AI' count='2'><Mode Mode='Voltage'><Range><ID0>-10.000000..10.000000 V</ID0></Range></Mode>
</ChannelGroup></Board></QuenoSimSystem>"""


def test_the_alarm_hook_gets_its_event_without_a_shell_and_never_holds_the_run(tmp_path):
    folder = tmp_path / "hooks; touch pwned"  # a shell would run the second half
    folder.mkdir()
    hook = folder / "page"
    hook.write_text('#!/bin/sh\nenv | grep "^QUENO_" | sort > "$(dirname "$0")/event-$QUENO_ALARM_SCAN"\nexec sleep 3600\n')
    hook.chmod(0o755)
    (tmp_path / "system.xml").write_text(RAMP)
    result = subprocess.run([QUENO_LOG, "-q", "-n", "600", "-o", "run.csv", "--alarm", "AI0:lo=-4.5,hi=-1", "--on-alarm", str(hook),
                             "AI0:voltage"], env=dict(os.environ, QUENO_SIM_SYSTEM=str(tmp_path / "system.xml")), cwd=tmp_path,
                            capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    first = dict(line.split("=", 1) for line in (folder / "event-0").read_text().splitlines())
    assert {k: v for k, v in first.items() if k.startswith(("QUENO_ALARM_", "QUENO_BOARD", "QUENO_SERIAL")) and k != "QUENO_ALARM_TIME"} == {
        "QUENO_ALARM_CHANNEL": "AI0", "QUENO_ALARM_STATE": "lo", "QUENO_ALARM_PREVIOUS": "normal", "QUENO_ALARM_SCAN": "0",
        "QUENO_ALARM_VALUE": "-5.000001", "QUENO_ALARM_UNIT": "V", "QUENO_BOARD": "0", "QUENO_SERIAL": "S1"}
    assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z", first["QUENO_ALARM_TIME"])
    assert not list(tmp_path.rglob("pwned"))
    # The hook sleeps for an hour: the run is not held (every scan, no gap); at its end the hook is
    # killed and the events it never got are counted.
    assert "0 gaps, 0 scans lost" in (tmp_path / "run.csv").read_text().splitlines()[-1]
    said = [line for line in result.stderr.splitlines() if "--on-alarm" in line]
    assert said == [f"queno_log: --on-alarm {hook}: killed at the end of the run (later failures are counted)",
                    f"queno_log: --on-alarm {hook}: 2 events were not handed to it"], result.stderr
