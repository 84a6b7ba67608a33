#!/usr/bin/env python3
"""Times trailavi against three references on three workloads and writes
docs/performance.md with the table and a plot.

The references: a straightforward baseline (fgets + sscanf per line, stdio
writes, one AVI 1.0 file), ffmpeg muxing the same frames from a raw bgr24 file
into an uncompressed AVI, and the limit: reading the point file twice with cat
plus dd writing the output's byte count in 1 MiB blocks. trailavi also runs
on one core (taskset -c 0), where it uses no thread of its own, and, where a
win64 build and Wine are at hand, as a Windows program on both cores and on
one, on the point-heavy workload. Every command
runs once a round, in turn, for several rounds, each writing a fresh output
(the previous one removed and synced outside the timing); the medians are
compared. Peak resident memory comes from GNU time.

Where a reference build is given (scripts/bench builds the commit before
the frame pass's queue and the durable replace, 69533f0, unless told
another), trailavi is also paired against it: the point-heavy workload on
both cores and on one, a first video and a replacing one on the
frame-heavy workload, each pair in alternating order, the medians of the
pairs' ratios reported. The notes name the processor and the file system
the run used, and every figure they state comes from this run."""

import argparse
import json
import os
import pathlib
import random
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent

WORKLOADS = [
    # name, width, height, points, frames
    ("frame-heavy 640x480", 640, 480, 18_000, 900),
    ("point-heavy 64x64", 64, 64, 4_000_000, 5_000),
    ("1920x1080", 1920, 1080, 4_000, 400),
]


def stride(width):
    return (3 * width + 3) // 4 * 4


def write_bitmap(path, width, height):
    row = bytearray()
    for x in range(width):
        row += bytes((255, 230 - x * 60 // width, 200 + x * 50 // width))
    row += bytes(stride(width) - len(row))
    pixels = bytes(row) * height
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = b"BM" + struct.pack("<IHHI", 14 + 40 + len(pixels), 0, 0, 54)
    path.write_bytes(header + info + pixels)


def write_points(path, width, height, points, frames):
    rng = random.Random(points * 31 + frames)
    per_frame = points // frames
    with open(path, "w") as out:
        lines = []
        for _ in range(frames):
            for _ in range(per_frame):
                lines.append(f"{rng.randrange(width)} {rng.randrange(height)}\n")
            lines.append("\n")
            if len(lines) > 100_000:
                out.write("".join(lines))
                lines = []
        out.write("".join(lines))


def prepare(folder, workload):
    name, width, height, points, frames = workload
    folder.mkdir(parents=True, exist_ok=True)
    write_bitmap(folder / "TEST_.BMP", width, height)
    write_points(folder / "test_.dat", width, height, points, frames)
    # ffmpeg's input: the same number of frames of the same size, as raw bgr24.
    frame_bytes = 3 * width * height
    with open(folder / "frames.bgr", "wb") as raw:
        chunk = bytes(frame_bytes)
        for _ in range(frames):
            raw.write(chunk)


def timed(command, folder, output):
    """Wall-clock seconds and peak resident KiB of one run, its output removed after."""
    rss_file = folder / "rss.txt"
    started = time.perf_counter()
    result = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", str(rss_file)] + command, cwd=folder,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    seconds = time.perf_counter() - started
    if result.returncode != 0:
        sys.exit(f"{command[0]} failed with {result.returncode}: {result.stderr.decode()}")
    rss_kib = int(rss_file.read_text().split()[-1])
    size = (folder / output).stat().st_size
    (folder / output).unlink()
    subprocess.run(["sync"])
    return seconds, rss_kib, size


def measure(folder, workload, rounds, programs):
    name, width, height, points, frames = workload
    # One untimed run of the program tells the output's size for dd.
    subprocess.run([programs["trailavi"]], cwd=folder, stdout=subprocess.DEVNULL, check=True)
    output_bytes = (folder / "TEST01_.AVI").stat().st_size
    (folder / "TEST01_.AVI").unlink()
    commands = {
        "trailavi": ([programs["trailavi"]], "TEST01_.AVI"),
        "trailavi_one_core": (["taskset", "-c", "0", programs["trailavi"]], "TEST01_.AVI"),
        "baseline": ([programs["baseline"]], "TEST01_.AVI"),
        "ffmpeg": (["ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "rawvideo", "-pix_fmt", "bgr24", "-s",
                    f"{width}x{height}", "-r", "30", "-i", "frames.bgr", "-c:v", "rawvideo", "ffmpeg.avi"],
                   "ffmpeg.avi"),
        "limit": (["sh", "-c", "cat test_.dat >/dev/null && cat test_.dat >/dev/null && "
                   f"dd if=/dev/zero of=limit.out bs=1M count={output_bytes} iflag=count_bytes status=none"],
                  "limit.out"),
        # dd here sometimes takes several times as long for the same bytes
        # (it reads them from /dev/zero first); the same writes from a buffer
        # are the steadier, and stricter, limit.
        "limit_write": (["sh", "-c", "cat test_.dat >/dev/null && cat test_.dat >/dev/null && "
                         f"{programs['write_blocks']} limit.out {output_bytes}"], "limit.out"),
    }
    times = {key: [] for key in commands}
    rss = {key: 0 for key in commands}
    order = list(commands)
    for key in order:  # one untimed run each, to warm the caches
        timed(commands[key][0], folder, commands[key][1])
    for round_index in range(rounds):
        # The order turns every round, so that no command always follows the
        # same one: what a run leaves behind (pages to reclaim, writeback)
        # then weighs on each command alike.
        turned = order[round_index % len(order):] + order[:round_index % len(order)]
        for key in turned:
            command, output = commands[key]
            seconds, rss_kib, _ = timed(command, folder, output)
            times[key].append(seconds)
            rss[key] = max(rss[key], rss_kib)
    medians = {key: statistics.median(values) for key, values in times.items()}
    spreads = {key: (min(values), max(values)) for key, values in times.items()}
    # The ratios are taken against the faster of the two limits.
    medians["limit_dd"] = medians["limit"]
    medians["limit"] = min(medians["limit_dd"], medians["limit_write"])
    bitmap_bytes = (folder / "TEST_.BMP").stat().st_size
    # The writer keeps at most 2^20 frames of index, so the budget does not
    # grow with the frame count.
    budget_kib = (bitmap_bytes + 16 * 2**20) / 1024
    return {
        "name": name, "output_bytes": output_bytes, "medians": medians, "rss_kib": rss,
        "rss_budget_kib": budget_kib, "points_bytes": (folder / "test_.dat").stat().st_size,
        "spreads": spreads,
    }


def timed_replace(command, folder):
    """Wall-clock seconds of one run that replaces the TEST01_.AVI already
    there, which stays for the next; synced outside the timing."""
    subprocess.run(["sync"])
    started = time.perf_counter()
    result = subprocess.run(command, cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    seconds = time.perf_counter() - started
    if result.returncode != 0:
        sys.exit(f"{command[0]} failed with {result.returncode}: {result.stderr.decode()}")
    subprocess.run(["sync"])
    return seconds


def paired_ratios(run_new, run_old, pairs):
    """Median, lower and upper quartile of new / old over pairs run in
    alternating order, after one untimed run of each."""
    run_new()
    run_old()
    ratios = []
    for index in range(pairs):
        if index % 2 == 0:
            new, old = run_new(), run_old()
        else:
            old, new = run_old(), run_new()
        ratios.append(new / old)
    quartiles = statistics.quantiles(ratios, n=4)
    return {"median": statistics.median(ratios), "low": quartiles[0], "high": quartiles[2], "pairs": pairs}


def measure_paired(folder, workload, pairs, program, reference):
    """trailavi against the reference build on one workload: fresh videos on
    both cores and on one, and, for frame-heavy, replacing an earlier video;
    and whether the two write the same video."""
    name = workload[0]
    rows = []

    def fresh(command):
        return lambda: timed(command, folder, "TEST01_.AVI")[0]

    def videos_match():
        subprocess.run([program], cwd=folder, stdout=subprocess.DEVNULL, check=True)
        new = (folder / "TEST01_.AVI").read_bytes()
        subprocess.run([reference], cwd=folder, stdout=subprocess.DEVNULL, check=True)
        same = (folder / "TEST01_.AVI").read_bytes() == new
        (folder / "TEST01_.AVI").unlink()
        return same

    same = videos_match()
    rows.append((f"{name}, both cores, first video", paired_ratios(fresh([program]), fresh([reference]), pairs), same))
    if name.startswith("point-heavy"):
        one = ["taskset", "-c", "0"]
        rows.append((f"{name}, one core, first video",
                     paired_ratios(fresh(one + [program]), fresh(one + [reference]), pairs), same))
    if name.startswith("frame-heavy"):
        subprocess.run([program], cwd=folder, stdout=subprocess.DEVNULL, check=True)
        rows.append((f"{name}, both cores, replacing an earlier video",
                     paired_ratios(lambda: timed_replace([program], folder),
                                   lambda: timed_replace([reference], folder), pairs), same))
        # What the disk itself asks: the same bytes written and flushed with
        # fsync, against written alone.
        output_bytes = (folder / "TEST01_.AVI").stat().st_size
        (folder / "TEST01_.AVI").unlink()
        dd = ["dd", "if=/dev/zero", "of=limit.out", "bs=1M", f"count={output_bytes}", "iflag=count_bytes",
              "status=none"]
        rows.append((f"{name}: `dd conv=fsync` of the same bytes, against `dd` alone",
                     paired_ratios(lambda: timed(dd + ["conv=fsync"], folder, "limit.out")[0],
                                   lambda: timed(dd, folder, "limit.out")[0], pairs), None))
    return rows


def machine_facts(folder):
    """The processor, the cores, the kernel and the file system of the run."""
    model = "unknown processor"
    try:
        for line in pathlib.Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    found = subprocess.run(["findmnt", "-n", "-o", "FSTYPE,OPTIONS", "-T", str(folder)], capture_output=True,
                           text=True)
    fs_type, _, options = found.stdout.strip().partition(" ")
    system = "unknown system"
    try:
        system = "Debian " + pathlib.Path("/etc/debian_version").read_text().strip()
    except OSError:
        pass
    return {"processor": model, "cores": len(os.sched_getaffinity(0)), "kernel": os.uname().release,
            "system": system, "fs_type": fs_type or "unknown", "fs_options": options.strip(),
            "folder": str(folder)}


def measure_wine(workload_folder, rounds, program):
    """The win64 program under Wine on both cores and pinned to one, in turn,
    in a prefix of its own whose server stays up between runs, so that each
    run starts as a Windows program does on Windows, without Wine's own
    start-up. The inputs and the video lie in memory (/dev/shm where there
    is one): Wine makes about a thousand calls to its server a run, and the
    disk's write-back varies by more than the threads save, both the same
    on one core and on two."""
    memory = pathlib.Path("/dev/shm")
    folder = pathlib.Path(tempfile.mkdtemp(dir=memory if memory.is_dir() else workload_folder))
    for name in ("TEST_.BMP", "test_.dat"):
        shutil.copy(workload_folder / name, folder / name)
    prefix = workload_folder / "wine-prefix"
    environment = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEARCH="win64")
    subprocess.run(["wineboot", "--init"], env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=True)
    subprocess.run(["wineserver", "-k"], env=environment)
    subprocess.run(["wineserver", "-w"], env=environment)
    subprocess.run(["wineserver", "-p"], env=environment, check=True)
    # Wine's services start with the first program and outlive it: started
    # here, they hold no timed run's output open.
    subprocess.run(["wine", "cmd", "/c", "exit"], env=environment, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=True)
    commands = {"both": ["wine", program], "one": ["taskset", "-c", "0", "wine", program]}
    times = {key: [] for key in commands}
    saved = dict(os.environ)
    os.environ.update(environment)
    try:
        for key in commands:
            timed(commands[key], folder, "TEST01_.AVI")
        for round_index in range(rounds):
            for key in (list(commands) if round_index % 2 == 0 else list(reversed(commands))):
                times[key].append(timed(commands[key], folder, "TEST01_.AVI")[0])
    finally:
        os.environ.clear()
        os.environ.update(saved)
        subprocess.run(["wineserver", "-k"], env=environment)
        shutil.rmtree(prefix, ignore_errors=True)
    points_bytes = (folder / "test_.dat").stat().st_size
    shutil.rmtree(folder)
    return {key: statistics.median(values) for key, values in times.items()} | {"points_bytes": points_bytes}


def wine_section(wine):
    if wine is None:
        return ["## Windows", "", "Not measured: the win64 build or Wine was missing.", ""]
    return [
        "## Windows", "",
        "The win64 program (`build-bench-win64/trailavi.exe`) under Wine on the point-heavy workload "
        f"({wine['points_bytes'] / 1e6:.1f} MB of points), both cores against `taskset -c 0`, medians of the "
        "same rounds, Wine's server kept running between runs. The files lie in memory (`/dev/shm`): Wine "
        "makes about a thousand calls to its server a run, and disk write-back varies by more than the "
        "threads save, which both weigh alike on one core and on two.", "",
        "| both cores | one core | both / one |", "|---|---|---|",
        f"| {wine['both']:.3f} s | {wine['one']:.3f} s | {wine['both'] / wine['one']:.2f} |", ""]


def classifier_figures(program):
    result = subprocess.run([program, "--benchmark_format=json", "--benchmark_min_time=0.5"],
                            capture_output=True, text=True, check=True)
    return {b["name"]: b["bytes_per_second"] for b in json.loads(result.stdout)["benchmarks"]}


def machine_section(machine):
    options = f" (`{machine['fs_options']}`)" if machine["fs_options"] else ""
    return ["## This run", "",
            f"- processor: {machine['processor']}, {machine['cores']} usable cores",
            f"- system: {machine['system']}, Linux {machine['kernel']}",
            f"- scratch folder: `{machine['folder']}` on {machine['fs_type']}{options}", ""]


def paired_section(paired, reference):
    if not paired:
        return ["## Against an earlier version", "",
                "Not measured: no reference build was given (`scripts/bench` makes one from git history).", ""]
    lines = ["## Against an earlier version", "",
             f"trailavi paired against {reference}, built the same way: each pair runs both, in alternating "
             "order, each writing a fresh video (the earlier one removed and synced outside the timing) or, "
             "where the row says so, replacing the video the previous run left (synced outside the timing). "
             "Medians and quartiles of the pairs' ratios of wall time; below 1 is faster.", "",
             "| workload | pairs | new / earlier (median) | quartiles | same video |", "|---|---|---|---|---|"]
    for name, ratios, same in paired:
        lines.append(f"| {name} | {ratios['pairs']} | {ratios['median']:.3f} | {ratios['low']:.3f} to "
                     f"{ratios['high']:.3f} | {'—' if same is None else 'yes' if same else 'no'} |")
    lines.append("")
    if any("replacing" in name for name, _, _ in paired):
        lines += [
            "Replacing an earlier video waits for the new one to reach the disk before the rename, so that a "
            "crash keeps one of the two whole; the earlier version returned once the bytes were in the page "
            "cache. The `dd conv=fsync` row shows what that flush costs a plain write of the same bytes here.", ""]
    return lines


def report(results, classifier, rounds, wine, machine, paired, reference):
    lines = [
        "# Performance",
        "",
        "Made by `scripts/bench`; medians of "
        f"{rounds} alternating rounds (the order turning each round, after one warm-up run of each "
        "command), page cache warm, outputs removed and synced between runs.",
        "The limit is reading the point file twice with `cat` plus writing the same number of bytes in "
        "1 MiB blocks, once with `dd` from `/dev/zero` and once with `write(2)` from a buffer "
        "(`bench/write_blocks.cpp`); ratios are against the faster of the two.",
        "",
    ]
    lines += machine_section(machine)
    lines += [
        "## Workloads", "",
        "| workload | output | limit (dd) | limit (write) | trailavi | trailavi, one core | baseline | ffmpeg mux "
        "| trailavi / limit | one core / limit | baseline / trailavi | ffmpeg / trailavi | trailavi peak RSS "
        "| RSS budget |",
        "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    for r in results:
        m = r["medians"]
        lines.append(
            f"| {r['name']} | {r['output_bytes'] / 1e6:.0f} MB | {m['limit_dd']:.3f} s | {m['limit_write']:.3f} s "
            f"| {m['trailavi']:.3f} s | {m['trailavi_one_core']:.3f} s "
            f"| {m['baseline']:.3f} s | {m['ffmpeg']:.3f} s | {m['trailavi'] / m['limit']:.2f} "
            f"| {m['trailavi_one_core'] / m['limit']:.2f} "
            f"| {m['baseline'] / m['trailavi']:.2f} | {m['ffmpeg'] / m['trailavi']:.2f} "
            f"| {r['rss_kib']['trailavi'] / 1024:.1f} MiB | {r['rss_budget_kib'] / 1024:.1f} MiB |")
    lines += ["", "![Run time against the limit](performance.png)", ""]
    lines += paired_section(paired, reference)
    lines += ["## Point-line scanner", "",
              "Google Benchmark, `build-bench/bench/trailavi_classifier_bench`:", "",
              "| case | throughput |", "|---|---|"]
    for name, rate in classifier.items():
        lines.append(f"| {name} | {rate / 1e9:.2f} GB/s |")
    lines += ["", "Cases: 0 typical lines (`123 456`), 1 long blank runs, 2 signs, 3 empty lines "
              "(one byte a piece), 4 long values with ignored text, 5 typical lines of varying length "
              "(two random values from 0 to 999); ReadFile 10 is case 0 with CRLF line ends. "
              "ClassifyLines is the reader's scan over text in memory; ReadFile is the whole reader over "
              "a file in the page cache. Every point's values go into a checksum, so the number "
              "conversion is measured too.", ""]
    lines += wine_section(wine)
    lines += notes(results, machine)
    return "\n".join(lines)


def notes(results, machine):
    """The notes, every figure from this run."""
    peaks = ", ".join(f"{r['rss_kib']['trailavi'] / 1024:.1f} MiB on {r['name']} (budget "
                      f"{r['rss_budget_kib'] / 1024:.1f})" for r in results)
    first = results[0]
    dd_low, dd_high = first["spreads"]["limit"]
    write_low, write_high = first["spreads"]["limit_write"]
    lines = [
        "## Notes", "",
        "- Peak memory does not grow with the frame count: the writer keeps the index of the current RIFF "
        "segment, 8 bytes a frame, and a segment holds at most 2^20 frames (8 MiB of index), so tiny frames "
        "go on in new segments. The budget is the picture's size plus 16 MiB; this run peaked at "
        f"{peaks}.",
        f"- Page-cache writes on {machine['fs_type']} here vary from run to run: on {first['name']} "
        f"({first['output_bytes'] / 1e6:.0f} MB), `dd` took {dd_low:.3f} s to {dd_high:.3f} s across the rounds "
        f"and the writes from a buffer {write_low:.3f} s to {write_high:.3f} s, so differences of a few per "
        "cent between trailavi, the baseline and the limit are within that noise.",
    ]
    for r in results:
        if r["name"].startswith("point-heavy"):
            m = r["medians"]
            lines.append(
                f"- On {r['name']}, trailavi took {m['trailavi']:.3f} s on {machine['cores']} cores and "
                f"{m['trailavi_one_core']:.3f} s on one (`taskset -c 0`): "
                f"{m['trailavi'] / m['trailavi_one_core']:.2f} of the one-core time. Both passes use every "
                "core: the pre-scan reads the file in one part a core, and the frame pass reads and "
                "classifies on one thread while the main thread marks and writes. Each pass asks its threads "
                "to keep off the main thread's processor, set before a new thread runs its work (from its "
                "attributes on glibc, by the thread itself elsewhere), so that no other thread is ever moved; "
                "the frame pass's ring keeps its counts and its stop under one lock, and a reader that finds "
                "it full waits until half of it is drawn.")
    lines += [
        "- Files below 1 MiB are read on one thread; Debian's hardening flags, which optimised Linux builds "
        "carry, are on in every figure above.", ""]
    return lines


def plot(results, path):
    data = path.with_suffix(".dat")
    with open(data, "w") as out:
        for r in results:
            m = r["medians"]
            out.write(f"\"{r['name']}\" {m['trailavi'] / m['limit']:.3f} {m['baseline'] / m['limit']:.3f} "
                      f"{m['ffmpeg'] / m['limit']:.3f}\n")
    script = f"""
set terminal pngcairo size 800,420 font ',10'
set output '{path}'
set title 'Run time relative to the limit (cat twice + 1 MiB writes), lower is better'
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set logscale y
set yrange [0.1:100]
set grid ytics mytics
set key top left
plot '{data}' using 2:xtic(1) title 'trailavi', '' using 3 title 'baseline (fgets+sscanf, stdio)', \\
     '' using 4 title 'ffmpeg mux from raw', 1 with lines dashtype 2 lc rgb 'black' title 'limit'
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=True)
    data.unlink()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--scratch", default=os.environ.get("TMPDIR", "/tmp") + "/trailavi-bench")
    parser.add_argument("--build", default=str(ROOT / "build-bench"))
    parser.add_argument("--reference", help="an earlier trailavi program to pair against")
    parser.add_argument("--reference-name", default="an earlier version")
    parser.add_argument("--pairs", type=int, default=30)
    args = parser.parse_args()
    build = pathlib.Path(args.build)
    programs = {"trailavi": str(build / "trailavi"), "baseline": str(build / "bench" / "trailavi_baseline"),
                "write_blocks": str(build / "bench" / "trailavi_write_blocks")}
    scratch = pathlib.Path(args.scratch)
    windows_program = ROOT / "build-bench-win64" / "trailavi.exe"
    results = []
    paired = []
    wine = None
    scratch.mkdir(parents=True, exist_ok=True)
    machine = machine_facts(scratch)
    for index, workload in enumerate(WORKLOADS):
        folder = scratch / f"w{index}"
        print(f"== {workload[0]}: preparing", flush=True)
        prepare(folder, workload)
        print(f"== {workload[0]}: timing {args.rounds} rounds", flush=True)
        results.append(measure(folder, workload, args.rounds, programs))
        if workload[0].startswith("point-heavy") and windows_program.exists() and shutil.which("wine"):
            print(f"== {workload[0]}: timing {args.rounds} rounds of the win64 program under Wine", flush=True)
            wine = measure_wine(folder, args.rounds, str(windows_program))
        if args.reference and not workload[0].startswith("1920"):
            print(f"== {workload[0]}: {args.pairs} pairs against {args.reference_name}", flush=True)
            paired += measure_paired(folder, workload, args.pairs, programs["trailavi"], args.reference)
        shutil.rmtree(folder)
    classifier = classifier_figures(str(build / "bench" / "trailavi_classifier_bench"))
    text = report(results, classifier, args.rounds, wine, machine, paired, args.reference_name)
    (ROOT / "docs").mkdir(exist_ok=True)
    (ROOT / "docs" / "performance.md").write_text(text)
    plot(results, ROOT / "docs" / "performance.png")
    print(text)


if __name__ == "__main__":
    main()
