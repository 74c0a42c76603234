#!/usr/bin/env python3
"""Runs the benchmark programs of bench/ and the two tool programs from the build folder,
prints a table of figures (each beside its baseline, its ratio and its target) and writes
the same figures as JSON.

Started by scripts/bench after the build; run alone with
    bench/run_bench.py --build build-bench [--idle-seconds 30] [--quick]
Every program runs with the build folder as current directory, the offscreen platform,
a temporary XDG_CONFIG_HOME, and TESSARO_SERVICE_URL at an unused 127.0.0.1 port, so the
web checks fail at once and nothing leaves the machine.
"""

import argparse
import datetime
import json
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def unused_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Runner:
    def __init__(self, build, log_dir):
        self.build = os.path.abspath(build)
        self.log_dir = log_dir
        self.config_home = tempfile.mkdtemp(prefix="tessaro-bench-config-")
        self.env = dict(os.environ)
        self.env.update({
            "QT_QPA_PLATFORM": "offscreen",
            "XDG_CONFIG_HOME": self.config_home,
            "TESSARO_SERVICE_URL": "http://127.0.0.1:%d" % unused_port(),
        })
        self.env.pop("TESSARO_DEMO_ACTION", None)

    def cleanup(self):
        shutil.rmtree(self.config_home, ignore_errors=True)

    def program(self, name):
        return os.path.join(self.build, name)

    def log(self, name):
        return open(os.path.join(self.log_dir, name + ".log"), "ab")

    def json_of(self, args, log_name, timeout=120, extra_env=None):
        """Runs a benchmark program and returns the JSON object of its last stdout line."""
        env = dict(self.env)
        env.update(extra_env or {})
        with self.log(log_name) as err:
            proc = subprocess.run([self.program(args[0])] + args[1:], cwd=self.build, env=env,
                                  stdout=subprocess.PIPE, stderr=err, timeout=timeout)
        lines = [l for l in proc.stdout.decode(errors="replace").splitlines() if l.startswith("{")]
        if not lines:
            raise RuntimeError("%s printed no result (exit %d), see %s.log" % (args[0], proc.returncode, log_name))
        result = json.loads(lines[-1])
        result["exit"] = proc.returncode
        return result

    def start(self, args, log_name, extra_env=None):
        env = dict(self.env)
        env.update(extra_env or {})
        err = self.log(log_name)
        proc = subprocess.Popen([self.program(args[0])] + args[1:], cwd=self.build, env=env,
                                stdout=subprocess.DEVNULL, stderr=err)
        err.close()
        return proc


def stat_cpu_seconds(pid):
    """utime + stime of the whole process (all threads) from /proc/<pid>/stat."""
    with open("/proc/%d/stat" % pid) as f:
        text = f.read()
    fields = text[text.rindex(")") + 2:].split()
    # fields[0] is field 3 (state); utime and stime are fields 14 and 15.
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def sched_cpu_seconds(pid):
    """Run time of every thread from /proc/<pid>/task/*/schedstat, in nanosecond precision."""
    total = 0
    task_dir = "/proc/%d/task" % pid
    for task in os.listdir(task_dir):
        try:
            with open(os.path.join(task_dir, task, "schedstat")) as f:
                total += int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            pass
    return total / 1e9


def measure_idle(runner, programs, seconds, settle=2.0, window=5.0):
    """Starts the programs side by side, lets them settle, then measures CPU per wall time
    over `seconds`: from /proc/<pid>/stat over the whole span, and per window of `window`
    seconds from schedstat (finer grained), of which the median is kept."""
    procs = {}
    for key, args, extra_env in programs:
        procs[key] = runner.start(args, "idle-" + key, extra_env)
    try:
        time.sleep(settle)
        for key, proc in procs.items():
            if proc.poll() is not None:
                raise RuntimeError("%s ended early with status %d, see idle-%s.log" % (key, proc.returncode, key))
        start_wall = time.monotonic()
        start_stat = {k: stat_cpu_seconds(p.pid) for k, p in procs.items()}
        marks = [(start_wall, {k: sched_cpu_seconds(p.pid) for k, p in procs.items()})]
        end_at = start_wall + seconds
        while True:
            now = time.monotonic()
            if now >= end_at - 1e-3:
                break
            time.sleep(min(window, end_at - now))
            marks.append((time.monotonic(), {k: sched_cpu_seconds(p.pid) for k, p in procs.items()}))
        end_wall = marks[-1][0]
        end_stat = {k: stat_cpu_seconds(p.pid) for k, p in procs.items()}
    finally:
        for proc in procs.values():
            if proc.poll() is None:
                proc.send_signal(signal.SIGTERM)
        for proc in procs.values():
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
    results = {}
    wall = end_wall - start_wall
    for key in procs:
        windows = []
        for (t0, c0), (t1, c1) in zip(marks, marks[1:]):
            if t1 - t0 > 0.5:
                windows.append(100.0 * (c1[key] - c0[key]) / (t1 - t0))
        results[key] = {
            "wall_s": wall,
            "cpu_s_stat": end_stat[key] - start_stat[key],
            "cpu_percent_stat": 100.0 * (end_stat[key] - start_stat[key]) / wall,
            "cpu_percent_sched_windows": windows,
            "cpu_percent_sched_median": statistics.median(windows) if windows else None,
        }
    return results


def measure_startup(runner, args, runs, log_name, extra_env=None):
    """Process start to exit (the program closes its window as soon as its event loop
    runs), and the peak resident set of each run from wait4's rusage. Each run's stderr
    goes to <log_name>-<n>.log."""
    env = dict(runner.env)
    env.update(extra_env or {})
    times, peaks, statuses, logs, shown = [], [], [], [], []
    for run in range(runs):
        name = "%s-%d" % (log_name, run + 1)
        logs.append(os.path.join(runner.log_dir, name + ".log"))
        with runner.log(name) as err:
            wall_start = datetime.datetime.now()
            start = time.monotonic()
            proc = subprocess.Popen([runner.program(args[0])] + args[1:], cwd=runner.build, env=env,
                                    stdout=subprocess.DEVNULL, stderr=err)
            _, status, usage = os.wait4(proc.pid, 0)
            times.append(time.monotonic() - start)
        proc.returncode = os.waitstatus_to_exitcode(status)
        statuses.append(proc.returncode)
        peaks.append(usage.ru_maxrss / 1024.0)  # KiB -> MiB
        shown.append(shown_after(logs[-1], wall_start))
    known = [t for t in shown if t is not None]
    return {
        "runs": runs,
        "seconds": times,
        "median_s": statistics.median(times),
        "peak_rss_mib": peaks,
        "median_peak_rss_mib": statistics.median(peaks),
        "exit_statuses": statuses,
        "logs": logs,
        "shown_s": shown,
        "median_shown_s": statistics.median(known) if known else None,
    }


def shown_after(log_path, wall_start):
    """Seconds from wall_start to the offscreen platform's notice that comes when the first
    top-level window is created on show ("does not support propagateSizeHints"), read from
    the time stamp of the program's message pattern (hh:mm:ss.zzz, local time); None if
    the line is not there."""
    with open(log_path, errors="replace") as f:
        for line in f:
            if "propagateSizeHints" not in line:
                continue
            try:
                stamp = datetime.datetime.strptime(line[:12], "%H:%M:%S.%f").time()
            except ValueError:
                return None
            at = datetime.datetime.combine(wall_start.date(), stamp)
            seconds = (at - wall_start).total_seconds()
            # Past midnight, the stamp belongs to the next day.
            return seconds + 86400 if seconds < -43200 else seconds
    return None


def sensor_connected(log_path, whole_run=False):
    """Whether the demo program's debug output shows the simulated sensor opened and no
    exchange refused; with whole_run, also that it was found only once (a program that
    lost or never kept the sensor searches again on every hot-plug tick)."""
    with open(log_path, errors="replace") as f:
        text = f.read()
    opened = 'connectDevice: "sim/1209:0001' in text and "ABORT" not in text
    if whole_run:
        # The search writes a device's lines once per change of the bus.
        opened = opened and len(re.findall(r"Path:\s+sim/1209:0001", text)) == 1
    return opened


def callgrind_instructions(runner, mode, ticks, instrumented):
    """Instructions of `ticks` calls under callgrind: only the loop when the program has
    the instrumentation requests, else the whole run (to be differenced with ticks=0)."""
    out = os.path.join(runner.log_dir, "callgrind.%s.%d.out" % (mode, ticks))
    cmd = ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out]
    if instrumented:
        cmd.append("--instr-atstart=no")
    cmd += [runner.program("bench_hotplug"), "--mode", mode, "--ticks", str(ticks)]
    with runner.log("callgrind-" + mode) as err:
        subprocess.run(cmd, cwd=runner.build, env=runner.env, stdout=subprocess.DEVNULL, stderr=err,
                       timeout=300, check=False)
    with open(out) as f:
        for line in f:
            if line.startswith("totals:"):
                return int(line.split()[1])
    raise RuntimeError("no totals in " + out)


def ratio(value, baseline):
    if value is None or baseline is None or baseline <= 0:
        return None
    return value / baseline


def figure(fid, name, value, unit, baseline=None, baseline_name="", target=None, op=None, note=""):
    met = None
    if target is not None and value is not None:
        met = value <= target if op == "<=" else value < target if op == "<" else value >= target
    return {
        "id": fid,
        "figure": name,
        "value": value,
        "unit": unit,
        "baseline": baseline,
        "baseline_name": baseline_name,
        "ratio": ratio(value, baseline),
        "target": None if target is None else "%s %g %s" % (op, target, unit),
        "met": met,
        "note": note,
    }


def fmt(value, unit=""):
    if value is None:
        return "n/a"
    if isinstance(value, float):
        text = "%.3g" % value if abs(value) < 1000 else "%.0f" % value
    else:
        text = str(value)
    return text + (" " + unit if unit else "")


def print_table(figures):
    header = ("#", "figure", "measured", "baseline", "ratio", "target", "met")
    rows = []
    for f in figures:
        rows.append((
            f["id"], f["figure"], fmt(f["value"], f["unit"]),
            fmt(f["baseline"], f["unit"]) if f["baseline"] is not None else "-",
            fmt(f["ratio"]) if f["ratio"] is not None else "-",
            f["target"] or "-",
            "-" if f["met"] is None else ("yes" if f["met"] else "NO"),
        ))
    widths = [max(len(str(r[i])) for r in rows + [header]) for i in range(len(header))]
    line = "  ".join("%-*s" % (w, h) for w, h in zip(widths, header))
    print(line)
    print("-" * len(line))
    for r in rows:
        print("  ".join("%-*s" % (w, str(c)) for w, c in zip(widths, r)))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--idle-seconds", type=float, default=30.0)
    parser.add_argument("--quick", action="store_true", help="fewer runs and a 10 s idle span (a smoke run)")
    parser.add_argument("--output", default=None, help="JSON file (default <build>/bench.json)")
    args = parser.parse_args()
    if args.quick:
        args.idle_seconds = min(args.idle_seconds, 10.0)

    log_dir = os.path.join(os.path.abspath(args.build), "bench-logs")
    shutil.rmtree(log_dir, ignore_errors=True)
    os.makedirs(log_dir)
    runner = Runner(args.build, log_dir)
    started = time.monotonic()
    raw = {"machine": {"cpus": os.cpu_count(), "loadavg_start": os.getloadavg()}}
    figures = []

    def step(text):
        print("[%5.1f s] %s" % (time.monotonic() - started, text), file=sys.stderr, flush=True)

    try:
        # 1. Command exchange.
        step("command exchange")
        cmd = runner.json_of(["bench_command", "--runs", "3" if args.quick else "9", "--ops", "4000"], "command")
        raw["command"] = cmd
        figures.append(figure("1", "sendCommand round trip (sim, answering at once)", cmd["sendcommand_us"], "us",
                              cmd["bare_us"], "bare hid_write + hid_read_timeout"))
        # The ratio of each run's pair (measured back to back), median over the runs: steadier
        # under other load than the ratio of the two medians.
        figures.append(figure("1", "  ratio sendCommand / bare exchange", cmd["ratio_median_of_runs"], "x",
                              target=1.5, op="<="))
        figures.append(figure("1", "sendCommand round trip, HID recording on", cmd["recording_on_us"], "us",
                              cmd["recording_off_us"], "recording off"))
        figures.append(figure("1", "  ratio recording on / off (sim, answering at once)",
                              cmd["recording_ratio_median_of_runs"], "x", target=1.05, op="<="))
        figures.append(figure("1", "  ratio recording on / off (sim, 125 us USB frames)",
                              cmd["recording_ratio_usb_median_of_runs"], "x", target=1.05, op="<="))

        # 2. Poll tick.
        step("poll tick")
        poll = runner.json_of(["bench_poll", "--runs", "3" if args.quick else "5", "--ticks", "440"], "poll")
        raw["poll"] = poll
        figures.append(figure("2", "poll tick, plain, median", poll["plain_median_us"] / 1000.0, "ms",
                              poll["bare_plain_median_us"] / 1000.0, "4 bare exchanges", target=0.5, op="<"))
        figures.append(figure("2", "poll tick, plain, p99", poll["plain_p99_us"] / 1000.0, "ms",
                              poll["bare_plain_p99_us"] / 1000.0, "4 bare exchanges"))
        figures.append(figure("2", "poll tick, corner read, median", poll["corner_median_us"] / 1000.0, "ms",
                              poll["bare_corner_median_us"] / 1000.0, "12 bare exchanges"))
        figures.append(figure("2", "poll tick, corner read, p99", poll["corner_p99_us"] / 1000.0, "ms",
                              poll["bare_corner_p99_us"] / 1000.0, "12 bare exchanges"))

        # 2b. The window's longest stall when the sensor stops answering.
        step("event-loop stall, answering and mute sensor")
        stall_seconds = "2" if args.quick else "4"
        stalls = {mode: runner.json_of(["bench_stall", "--mode", mode, "--seconds", stall_seconds], "stall")
                  for mode in ("answering", "mute-new", "mute-open")}
        raw["stall"] = stalls
        figures.append(figure("2", "longest event-loop stall, mute sensor found", stalls["mute-new"]["longest_ms"], "ms",
                              stalls["answering"]["longest_ms"], "answering sensor", target=100, op="<"))
        figures.append(figure("2", "longest event-loop stall, open sensor falls mute",
                              stalls["mute-open"]["longest_ms"], "ms", stalls["answering"]["longest_ms"],
                              "answering sensor", target=100, op="<"))

        # 3b. Hot-plug tick with no device: native time and callgrind instructions.
        step("hot-plug tick (native)")
        tick = runner.json_of(["bench_hotplug", "--mode", "tick", "--ticks", "200"], "hotplug")
        bare_tick = runner.json_of(["bench_hotplug", "--mode", "bare", "--ticks", "200"], "hotplug")
        raw["hotplug_native"] = {"tick": tick, "bare": bare_tick}
        ticks_per_s = 1000.0 / 100.0
        if shutil.which("valgrind"):
            step("hot-plug tick (callgrind)")
            n = 50
            instrumented = bool(tick.get("callgrind_header"))
            def per_tick(mode):
                if instrumented:
                    return callgrind_instructions(runner, mode, n, True) / n
                return (callgrind_instructions(runner, mode, n, False)
                        - callgrind_instructions(runner, mode, 0, False)) / n
            tick_ir, bare_ir = per_tick("tick"), per_tick("bare")
            raw["hotplug_callgrind"] = {"ticks": n, "instrumented_region": instrumented,
                                        "tick_instructions": tick_ir, "bare_instructions": bare_ir}
            figures.append(figure("3", "hot-plug tick, no device: instructions", float(round(tick_ir)), "instr",
                                  float(round(bare_ir)), "bare hid_enumerate(0, 0)"))
        else:
            raw["hotplug_callgrind"] = None
            figures.append(figure("3", "hot-plug tick, no device: instructions", None, "instr",
                                  note="valgrind not installed"))
        figures.append(figure("3", "hot-plug tick, no device: time", tick["tick_us"] / 1000.0, "ms",
                              bare_tick["tick_us"] / 1000.0, "bare hid_enumerate(0, 0)"))
        figures.append(figure("3", "  = CPU at 10 ticks/s", tick["tick_us"] / 1e6 * ticks_per_s * 100.0, "%",
                              bare_tick["tick_us"] / 1e6 * ticks_per_s * 100.0, "", target=0.5, op="<"))

        # 5. Flashing.
        step("flashing 64 KiB (about 10 s per run)")
        flash = runner.json_of(["bench_flash", "--runs", "1" if args.quick else "3"], "flash", timeout=300)
        raw["flash"] = flash
        figures.append(figure("5", "flashing 64 KiB, 1 ms/report: time", flash["sequence_ms"] / 1000.0, "s",
                              flash["bare_ms"] / 1000.0, "bare request/reply loop"))
        figures.append(figure("5", "  fraction of limit (reports x 1 ms)", flash["fraction_of_limit"], "",
                              flash["bare_fraction_of_limit"], "bare loop", target=0.95, op=">=",
                              note="limit %.3f s for %d requests + %d replies" % (
                                  flash["limit_ms"] / 1000.0, flash["requests"], flash["replies"])))

        # 6. Start-up and peak memory.
        step("start-up")
        runs = 3 if args.quick else 7
        sim_start = measure_startup(runner, ["TessaroUtility-sim"], runs, "startup-sim", {"TESSARO_DEMO_ACTION": "quit"})
        base_start = measure_startup(runner, ["bench_window", "--quit"], runs, "startup-window")
        raw["startup"] = {"TessaroUtility-sim": sim_start, "bench_window": base_start}
        connected_runs = sum(1 for log in sim_start["logs"] if sensor_connected(log))
        sim_start["connected_runs"] = connected_runs
        figures.append(figure("6", "start-up to window shown (sensor connected)", sim_start["median_s"], "s",
                              base_start["median_s"], "empty Qt main window", target=0.5, op="<",
                              note="" if connected_runs >= runs else
                              "sensor connected in only %d of %d runs" % (connected_runs, runs)))
        figures.append(figure("6", "  start to window created on show (debug line)", sim_start["median_shown_s"], "s",
                              note="" if sim_start["median_shown_s"] is not None else "no platform notice found"))
        figures.append(figure("6", "peak resident memory (VmHWM)", sim_start["median_peak_rss_mib"], "MiB",
                              base_start["median_peak_rss_mib"], "empty Qt main window", target=80, op="<"))

        # 3a and 4. Idle CPU of both programs, side by side with the empty window.
        step("idle CPU over %g s" % args.idle_seconds)
        idle = measure_idle(runner, [
            ("TessaroUtility", ["TessaroUtility"], None),
            ("TessaroUtility-sim", ["TessaroUtility-sim"], None),
            ("window-1-timer", ["bench_window", "--timers", "1"], None),
            ("window-2-timers", ["bench_window", "--timers", "2"], None),
        ], args.idle_seconds)
        raw["idle"] = idle
        sim_connected = sensor_connected(os.path.join(log_dir, "idle-TessaroUtility-sim.log"), whole_run=True)
        raw["idle"]["sim_connected"] = sim_connected
        one, two = idle["window-1-timer"], idle["window-2-timers"]
        figures.append(figure("3", "idle, no device: CPU / wall (stat)", idle["TessaroUtility"]["cpu_percent_stat"], "%",
                              one["cpu_percent_stat"], "window + empty 100 ms timer", target=0.5, op="<"))
        figures.append(figure("3", "  same, median of 5 s windows (schedstat)",
                              idle["TessaroUtility"]["cpu_percent_sched_median"], "%",
                              one["cpu_percent_sched_median"], "window + empty 100 ms timer"))
        figures.append(figure("4", "connected, idle: CPU / wall (stat)", idle["TessaroUtility-sim"]["cpu_percent_stat"], "%",
                              two["cpu_percent_stat"], "window + 2 empty 100 ms timers", target=2.0, op="<",
                              note="" if sim_connected else "sensor NOT connected"))
        figures.append(figure("4", "  same, median of 5 s windows (schedstat)",
                              idle["TessaroUtility-sim"]["cpu_percent_sched_median"], "%",
                              two["cpu_percent_sched_median"], "window + 2 empty 100 ms timers"))
    finally:
        runner.cleanup()

    raw["machine"]["loadavg_end"] = os.getloadavg()
    raw["total_seconds"] = time.monotonic() - started
    order = {"1": 1, "2": 2, "3": 3, "4": 4, "5": 5, "6": 6}
    figures.sort(key=lambda f: order[f["id"]])

    print()
    print_table(figures)
    notes = [f for f in figures if f["note"]]
    for f in notes:
        print("  note (%s %s): %s" % (f["id"], f["figure"].strip(), f["note"]))
    print("load average %.2f at start, %.2f at end, on %d cpus; %.0f s in all" % (
        raw["machine"]["loadavg_start"][0], raw["machine"]["loadavg_end"][0], os.cpu_count(), raw["total_seconds"]))

    output = args.output or os.path.join(os.path.abspath(args.build), "bench.json")
    with open(output, "w") as f:
        json.dump({"figures": figures, "raw": raw}, f, indent=2)
    print("figures written to %s" % output)
    judged = [f for f in figures if f["met"] is not None]
    missed = [f for f in judged if not f["met"]]
    print("targets met: %d of %d%s" % (len(judged) - len(missed), len(judged),
                                       "" if not missed else " (missed: %s)" % ", ".join(
                                           "%s %s" % (f["id"], f["figure"].strip()) for f in missed)))
    failed = [k for k in ("command", "poll", "flash") if not raw[k].get("ok", False)]
    failed += ["stall " + m for m, r in raw.get("stall", {}).items() if not r.get("ok", False)]
    if failed:
        print("benchmarks that saw a failed exchange: %s" % ", ".join(failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
