"""Benchmarks of profiledesk, each a ratio against a reference measured side by side.

Usage: run_bench.py PROGRAM WORK_FOLDER [--quick]
The data is made here, from records the program itself writes.
"""

import os
import statistics
import subprocess
import sys
import time

PROGRAM = os.path.abspath(sys.argv[1])
WORK = os.path.abspath(sys.argv[2])
QUICK = "--quick" in sys.argv
GIB = 1 << 30
BIG_SIZE = (64 << 20) if QUICK else GIB
LONG_LINE = (16 << 20) if QUICK else (256 << 20)
ROUNDS = 3 if QUICK else 7
ANSWERS = "Jane Roe Accra 01-01-1985 41 41 -2.5 Tech-Institute Ring-Road Kofi Mill Cocoa-Co Repairs " \
          "West-Library 250 Accra-Mall Park-School\n"


def run(command, folder, stdin_text=b"", shell=False):
    """Runs once with no controlling terminal, so the closing pause does not wait."""
    started = time.perf_counter()
    subprocess.run(command, cwd=folder, input=stdin_text, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, start_new_session=True, shell=shell, check=True)
    return time.perf_counter() - started


def side_by_side(subject, reference, rounds=ROUNDS):
    """Median time of each, alternating runs so that both see the same machine."""
    os.sync()  # no writeback of earlier work may land on either side
    subject_times, reference_times = [], []
    for _ in range(rounds):
        subject_times.append(subject())
        reference_times.append(reference())
    return statistics.median(subject_times), statistics.median(reference_times)


def folder(name):
    path = os.path.join(WORK, name)
    os.makedirs(path, exist_ok=True)
    return path


def make_big_file(path, size):
    """Whole records written by the program, repeated up to `size` bytes."""
    if os.path.exists(path) and os.path.getsize(path) >= size:
        return
    seed = folder("seed")
    if os.path.exists(os.path.join(seed, "datas.dat")):
        os.remove(os.path.join(seed, "datas.dat"))
    for n in range(20):
        run([PROGRAM], seed, f"1 Candidate{n} {ANSWERS}".encode())
    with open(os.path.join(seed, "datas.dat"), "rb") as f:
        block = f.read()
    block *= max(1, (4 << 20) // len(block))
    with open(path, "wb") as out:
        written = 0
        while written < size:
            out.write(block)
            written += len(block)


def report(name, subject, reference, goal, unit="s"):
    ratio = subject / reference
    verdict = "meets" if ratio <= goal else "misses"
    print(f"{name:<52} {subject:9.4f}{unit} vs {reference:9.4f}{unit}  ratio {ratio:5.2f}x "
          f"(goal <= {goal}x, {verdict})", flush=True)


def peak_memory_kib(command, folder_path, stdin_text, stdout):
    """Measured by GNU time, a small process of its own: a child forked from this Python
    would count Python's memory as its own."""
    result = subprocess.run(["/usr/bin/time", "-f", "%M", *command], cwd=folder_path, input=stdin_text,
                            stdout=stdout, stderr=subprocess.PIPE, start_new_session=True, check=True)
    return int(result.stderr.decode().strip().splitlines()[-1])


def main():
    big = folder("big")
    make_big_file(os.path.join(big, "datas.dat"), BIG_SIZE)
    size_mib = os.path.getsize(os.path.join(big, "datas.dat")) >> 20
    print(f"profiledesk benchmarks, {ROUNDS} rounds each, medians; record file of {size_mib} MiB")

    # Listing into /dev/null and into a pipe, against cat doing the same.
    subject, reference = side_by_side(
        lambda: run([PROGRAM], big, b"2\n"),
        lambda: run(["cat", "datas.dat"], big))
    report("listing into /dev/null, against cat", subject, reference, 1.0)
    subject, reference = side_by_side(
        lambda: run(f"'{PROGRAM}' | cat > /dev/null", big, b"2\n", shell=True),
        lambda: run("cat datas.dat | cat > /dev/null", big, shell=True))
    report("listing into a pipe, against cat", subject, reference, 1.0)

    # Peak memory listing one very long line, through a pipe and through the buffer path.
    long_folder = folder("long-line")
    with open(os.path.join(long_folder, "datas.dat"), "wb") as f:
        f.write(b"x" * LONG_LINE)
    for target in ("a pipe", "a file"):
        if target == "a pipe":
            reader = subprocess.Popen(["cat"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
            kib = peak_memory_kib([PROGRAM], long_folder, b"2\n", reader.stdin)
            reader.stdin.close()
            reader.wait()
        else:
            with open(os.path.join(long_folder, "shown"), "wb") as shown:
                kib = peak_memory_kib([PROGRAM], long_folder, b"2\n", shown)
            os.remove(os.path.join(long_folder, "shown"))
        name = f"peak memory listing one {LONG_LINE >> 20} MiB line into {target}"
        print(f"{name:<52} {kib / 1024:9.2f}MiB (goal <= 8 MiB, {'meets' if kib <= 8192 else 'misses'})")
    os.remove(os.path.join(long_folder, "datas.dat"))

    # One append into the big file against one into an empty file.
    empty = folder("empty")
    answers = ("1 Bench " + ANSWERS).encode()

    def append_to_empty():
        path = os.path.join(empty, "datas.dat")
        if os.path.exists(path):
            os.remove(path)
        return run([PROGRAM], empty, answers)
    subject, reference = side_by_side(lambda: run([PROGRAM], big, answers), append_to_empty, rounds=5 * ROUNDS)
    report("one option-1 append into the big file, against empty", subject, reference, 1.2)

    # A whole scripted run of option 3, against cat of what it prints.
    guidance = folder("guidance")
    expected = os.path.join(guidance, "expected.txt")
    with open(expected, "wb") as f:
        f.write(subprocess.run([PROGRAM], cwd=guidance, input=b"3\n", capture_output=True,
                               start_new_session=True, check=True).stdout)
    subject, reference = side_by_side(
        lambda: run([PROGRAM], guidance, b"3\n"),
        lambda: run(["cat", "expected.txt"], guidance))
    report("a scripted run of option 3, against cat", subject, reference, 1.3)


if __name__ == "__main__":
    main()
