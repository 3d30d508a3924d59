"""Helpers shared by the benchmark scripts: data making, timing, and the row format run-all reads."""

import json
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time
from contextlib import contextmanager

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SORVIN = os.environ.get("SORVIN_CLI", os.path.join(REPO, "build", "sorvin-cli"))
DISK_TMP = "/tmp"
MEM_TMP = "/dev/shm"
ROW_TAG = "BENCHROW "

MiB = 1 << 20
GiB = 1 << 30

_started = time.monotonic()
last_cpu = 0.0  # user + system seconds of the last timed command and the children it waited for
cpu_times = {}  # the last alternate()'s user + system seconds, by label


def log(*args):
    print(f"[{time.monotonic() - _started:6.1f}s]", *args, file=sys.stderr, flush=True)


def sync():
    os.sync()


def rm(path):
    subprocess.run(["rm", "-rf", "--", path], check=True)


@contextmanager
def scratch(name, base=DISK_TMP):
    path = tempfile.mkdtemp(prefix=f"sorvin-bench-{name}-", dir=base)
    try:
        yield path
    finally:
        log(f"  removing {path}")
        rm(path)
        sync()
        log("  removed")


def fresh_dir(path):
    if os.path.lexists(path):
        rm(path)
    os.makedirs(path)
    return path


def _timing_cpu():
    # The two vCPUs of a small VM need not be equally fast (one takes the interrupts): a command
    # left to the scheduler lands on either, which splits its times in two groups and makes the
    # median a coin toss. Every timed command runs on one CPU, the last one unless BENCH_CPU says.
    allowed = os.sched_getaffinity(0)
    chosen = int(os.environ.get("BENCH_CPU", max(allowed)))
    return chosen if chosen in allowed else max(allowed)


TIMING_CPU = _timing_cpu()


def _pin():
    os.sched_setaffinity(0, {TIMING_CPU})


class CommandFailed(RuntimeError):
    pass


def timed(argv, stdout=subprocess.DEVNULL, pin=True):
    """Wall time of one command; its stderr is captured so that sorvin-cli never sees a terminal
    and so never spends time drawing its progress caption. pin=False leaves it both CPUs, for a
    command whose point is to use the second one."""
    global last_cpu
    with tempfile.TemporaryFile() as err:
        start = time.perf_counter()
        proc = subprocess.Popen(argv, stdout=stdout, stderr=err, preexec_fn=_pin if pin else None)
        _, status, usage = os.wait4(proc.pid, 0)
        elapsed = time.perf_counter() - start
        proc.returncode = os.waitstatus_to_exitcode(status)
        last_cpu = usage.ru_utime + usage.ru_stime
        if proc.returncode != 0:
            err.seek(0)
            raise CommandFailed(f"{' '.join(argv)} exited {proc.returncode}: {err.read().decode(errors='replace')[-2000:]}")
    return elapsed



def alternate(reps, contenders, warmup=False):
    """contenders: {label: (prepare, argv_or_callable, cleanup)}. Runs them in turn, rotating the
    starting one each repetition so that none always follows the same other; prepare and cleanup
    stay outside the timed section, and a sync before every timed run keeps one contender's
    write-back off the next one's clock. Returns {label: [seconds...]}."""
    labels = list(contenders)
    times = {label: [] for label in labels}
    cpu_times.clear()
    cpu_times.update({label: [] for label in labels})
    if warmup:
        for prepare, command, cleanup in contenders.values():
            if prepare:
                prepare()
            command() if callable(command) else timed(command)
            if cleanup:
                cleanup()
    for rep in range(reps):
        order = labels[rep % len(labels):] + labels[:rep % len(labels)]
        for label in order:
            prepare, command, cleanup = contenders[label]
            if prepare:
                prepare()
            sync()
            seconds = command() if callable(command) else timed(command)
            times[label].append(seconds)
            cpu_times[label].append(last_cpu)
            log(f"    {label}: {seconds:.3f} s (cpu {last_cpu:.3f} s)")
            if cleanup:
                cleanup()
    return times


def syscall_seconds(argv, calls, prepare=None):
    """Runs argv once under strace, outside any timed section, and returns how many of `calls`
    it made and the seconds they took together."""
    if prepare:
        prepare()
    sync()
    with tempfile.NamedTemporaryFile(mode="r") as out:
        subprocess.run(["strace", "-f", "-T", "-e", "trace=" + ",".join(calls), "-o", out.name, *argv],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        durations = [float(line.rsplit("<", 1)[1].rstrip(">\n")) for line in out
                     if line.rstrip().endswith(">") and "<" in line]
    return len(durations), sum(durations)


def median(values):
    return statistics.median(values)


def emit(name, sorvin, alternative, ratio, target, met, note=""):
    """One table row; sorvin/alternative are seconds (float) or text, met is True/False/None."""
    row = {"name": name, "sorvin": sorvin, "alternative": alternative, "ratio": ratio,
           "target": target, "met": met, "note": note}
    print(ROW_TAG + json.dumps(row, ensure_ascii=False), flush=True)


def emit_ratio(name, sorvin_times, alt_times, limit, target_text, note=""):
    s, a = median(sorvin_times), median(alt_times)
    ratio = s / a
    emit(name, s, a, ratio, target_text, ratio <= limit, note)
    return ratio


def emit_error(name, error):
    emit(name, "error", "-", None, "-", False, str(error).splitlines()[0][:200])


def write_file(path, size, block):
    with open(path, "wb", buffering=0) as f:
        left = size
        while left > 0:
            n = min(left, len(block))
            f.write(block[:n])
            left -= n


def make_big_file(path, size):
    # Random data, varied per block so that no block repeats its neighbour.
    block = bytearray(os.urandom(8 * MiB))
    with open(path, "wb", buffering=0) as f:
        left, i = size, 0
        while left > 0:
            block[0:8] = i.to_bytes(8, "little")
            n = min(left, len(block))
            f.write(memoryview(block)[:n])
            left -= n
            i += 1


def make_small_tree(root, files, per_folder=100, seed=1, min_size=1024, max_size=16 * 1024):
    """`files` files of random sizes in folders of `per_folder` each, every name distinct."""
    rnd = random.Random(seed)
    pool = os.urandom(max_size + 4096)
    folders = (files + per_folder - 1) // per_folder
    made = 0
    for d in range(folders):
        folder = os.path.join(root, f"dir{d:04d}")
        os.makedirs(folder)
        for _ in range(min(per_folder, files - made)):
            size = rnd.randint(min_size, max_size)
            offset = rnd.randint(0, 4096)
            write_file(os.path.join(folder, f"file{made:06d}.dat"), size, pool[offset:offset + size])
            made += 1
    return folders


def link_tree(master, target, entries=None):
    """Recreates a source tree for a move as hard links to `master`: a move renames, so it never
    looks at the data, and no data has to be written again for every repetition."""
    os.makedirs(target, exist_ok=True)
    names = entries if entries is not None else sorted(os.listdir(master))
    paths = [os.path.join(master, n) for n in names]
    for i in range(0, len(paths), 2000):
        subprocess.run(["cp", "-al", "--", *paths[i:i + 2000], target], check=True)


def count_files(folder):
    return sum(1 for e in os.scandir(folder) if e.is_file(follow_symlinks=False))


def require_sorvin():
    if not os.access(SORVIN, os.X_OK):
        raise SystemExit(f"{SORVIN} is missing: build it with cmake --build build --target sorvin-cli")


def reps_for(default):
    # BENCH_REPS lowers the count for a quick look; the table in the README uses the defaults.
    value = os.environ.get("BENCH_REPS")
    return max(1, min(default, int(value))) if value else default
