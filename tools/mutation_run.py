#!/usr/bin/env python3
"""Runs the mutation program (qb_mutate.exe) over a range of inputs in
batches of Wine processes, so that a crash costs one input and a hang is cut
off: each process appends "begin N ..." and "end N ..." lines to a progress
file; a process that ends with an input begun and not ended crashed on it,
and one whose last line stays a "begin" for longer than the timeout hangs on
it and is killed. Either way the run goes on from the next input, and the
input is written to the output folder for a regression test.

A crash is ours unless shown to be the platform's: its input's texts (the
fields the property page shows) are replayed in bare EDIT controls by a
program without the module (qb_bare_edit.exe); when that crashes too, the
input counts as a crash of the host's own text layout
(mutation_host_crashes), not as one of ours (mutation_crashes).

Prints counts of accepted, rejected and failed inputs, broken promises by
request, crashes and hangs, then the mutation_* key=value lines.
"""
import argparse
import collections
import os
import signal
import subprocess
import sys
import threading
import time


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_range(args, begin, end, folder, outcome, lock):
    """Runs inputs begin .. end - 1 in batches, going on after a crash or a
    hang; adds the "end" lines and the faults to outcome."""
    os.makedirs(folder, exist_ok=True)
    next_input = begin
    at_start = 0  # batches in a row that ended on their first input
    while next_input < end:
        first = next_input
        count = min(args.batch, end - first)
        ends, stop = run_batch(args, first, count, folder)
        with lock:
            outcome["ends"].extend(ends)
        if stop is None:
            next_input = first + count
            at_start = 0
            continue
        index, kind, mutation, where = stop
        at_start = at_start + 1 if index == first else 0
        if at_start > 5:
            raise SystemExit("mutation: the program fails on every start; is the build complete?")
        found_folder = os.path.join(args.work, "found")
        os.makedirs(found_folder, exist_ok=True)
        saved = os.path.join(found_folder, "%s-%d.mobi" % (kind, index))
        subprocess.run([args.runner, args.exe, str(args.seed), "--write", str(index), windows_path(saved)],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if kind == "crash" and args.bare_exe and host_crash(args, index, saved):
            kind = "host-crash"
        with lock:
            outcome["faults"].append((kind, index, mutation, where, saved))
        next_input = index + 1


def host_crash(args, index, saved):
    """True when the texts of input index crash a bare EDIT control in a
    program without the module. The texts are written by the mutation
    program; a crash while writing them (in the module's own book code)
    leaves the input ours."""
    texts = saved + ".texts"
    made = subprocess.run([args.runner, args.exe, str(args.seed), "--texts", str(index), windows_path(texts)],
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if made.returncode != 0 or not os.path.exists(texts):
        return False
    try:
        shown = subprocess.run([args.runner, args.bare_exe, windows_path(texts)], stdin=subprocess.DEVNULL,
                               capture_output=True, text=True, errors="replace", timeout=60)
    except subprocess.TimeoutExpired:
        return False
    return any(line.startswith("crash ") for line in shown.stdout.splitlines())


def run_batch(args, first, count, folder):
    """Runs inputs first .. first + count - 1 in one process; returns the
    parsed lines and (index, 'crash' | 'hang', mutation, where) for an input
    that did not end, where is the exception code and the library that
    faulted, when the program could write them."""
    progress = os.path.join(folder, "progress-%d.txt" % first)
    if os.path.exists(progress):
        os.remove(progress)
    command = [args.runner, args.exe, str(args.seed), str(first), str(count),
               windows_path(progress), windows_path(folder)]
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, start_new_session=True)
    last_size, last_change = -1, time.monotonic()
    hung = False
    while process.poll() is None:
        time.sleep(0.2)
        size = os.path.getsize(progress) if os.path.exists(progress) else 0
        if size != last_size:
            last_size, last_change = size, time.monotonic()
        elif time.monotonic() - last_change > args.timeout:
            hung = True
            os.killpg(process.pid, signal.SIGKILL)  # the process group this call started
            process.wait()
    lines = []
    if os.path.exists(progress):
        with open(progress, encoding="utf-8", errors="replace") as f:
            lines = [line.split() for line in f if line.strip()]
    begun = {int(l[1]): l[2] if len(l) > 2 else "" for l in lines if l[0] == "begin"}
    ended = {int(l[1]) for l in lines if l[0] == "end"}
    unfinished = sorted(set(begun) - ended)
    # "crash N CODE LIBRARY+OFFSET", written by the program's own crash handler.
    where = {int(l[1]): " ".join(l[2:4]) for l in lines if l[0] == "crash" and len(l) >= 4}
    stop = None
    if unfinished:
        index = unfinished[0]
        stop = (index, "hang" if hung else "crash", begun[index], where.get(index, ""))
    elif len(ended) < count and not hung:
        # Ended before its first input or between inputs: count the next one.
        stop = (first + len(ended), "crash", "", "")
    ends = {int(l[1]): l for l in lines if l[0] == "end"}  # once each, whatever ran twice
    return list(ends.values()), stop


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", required=True, help="build/x64/wine-run.sh")
    parser.add_argument("--exe", required=True, help="qb_mutate.exe")
    parser.add_argument("--bare-exe", help="qb_bare_edit.exe: tells the host's own crashes from ours")
    parser.add_argument("--inputs", type=int, default=10000)
    parser.add_argument("--batch", type=int, default=2500)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--timeout", type=float, default=30.0,
                        help="seconds an input may run before it counts as a hang")
    parser.add_argument("--work", required=True, help="folder for progress files and inputs")
    parser.add_argument("--workers", type=int, default=2,
                        help="processes at a time (the programs mostly wait on Wine and the display)")
    args = parser.parse_args()

    os.makedirs(args.work, exist_ok=True)
    outcome = {"ends": [], "faults": []}
    lock = threading.Lock()
    started = time.monotonic()
    # Each worker takes an equal share of the inputs, in a folder of its own.
    share = (args.inputs + args.workers - 1) // args.workers
    workers = []
    for w in range(args.workers):
        begin, end = w * share, min(args.inputs, (w + 1) * share)
        if begin < end:
            folder = os.path.join(args.work, "worker-%d" % w)
            workers.append(threading.Thread(target=run_range, args=(args, begin, end, folder, outcome, lock)))
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()

    results = collections.Counter()
    broken = collections.Counter()
    pages = collections.Counter()
    filters = collections.Counter()
    for line in outcome["ends"]:
        results[line[2]] += 1
        if line[4] != "-":
            for what in line[4].split(","):
                broken[what] += 1
        pages[line[5]] += 1
        if len(line) > 6:
            filters[line[6]] += 1
    faults = sorted(outcome["faults"], key=lambda f: f[1])
    crashes = sum(1 for f in faults if f[0] == "crash")
    host_crashes = sum(1 for f in faults if f[0] == "host-crash")
    hangs = sum(1 for f in faults if f[0] == "hang")
    total = sum(results.values()) + len(faults)
    print("mutation %d inputs in %.0f s (seed %d, %d workers): accepted %d, rejected %d, failed %d"
          % (total, time.monotonic() - started, args.seed, args.workers, results["accepted"],
             results["rejected"], results["failed"]))
    print("mutation page cycles: " + ", ".join("%s %d" % kv for kv in sorted(pages.items())))
    print("mutation filter cycles: " + ", ".join("%s %d" % kv for kv in sorted(filters.items())))
    print("mutation broken promises: " + (", ".join("%s %d" % kv for kv in sorted(broken.items())) or "none"))
    for kind, index, mutation, where, saved in faults:
        print("mutation %s on input %d (%s)%s, kept as %s%s"
              % (kind, index, mutation, " at " + where if where else "", saved,
                 "; a bare EDIT control without the module crashes on its texts too" if kind == "host-crash" else ""))
    print("mutation_inputs=%d" % total)
    print("mutation_crashes=%d" % crashes)
    print("mutation_host_crashes=%d" % host_crashes)
    print("mutation_hangs=%d" % hangs)
    return 0


if __name__ == "__main__":
    sys.exit(main())
