#!/usr/bin/env python3
"""The damaged-image driver: structure-aware damage (boot sector fields, file
record and attribute fields, runlists, $Bitmap) on a small NTFS image, then
analyze, volume-info, check, fragment and defragment on each damaged copy.

  fuzz/run-damaged-images.py --build build/native --images 10000 [--seed 1]
  fuzz/run-damaged-images.py --build build/native --seeds fuzz/regressions.txt
  fuzz/run-damaged-images.py --build build/native --images 500 --damage attribute-list

--damage attribute-list changes one field of one attribute list entry of a
file in 400 pieces (its length most often); --damage backup-boot one byte
of the backup boot sector. Both are damage a reader or a repair tool trips
on, so `check` must find it: the run counts the images it called clean
while ntfscat could no longer read a file whole ("missed").

Each command ends as one of: "error" (exit 1 with a message), "ok" (exit 0),
"problems" (check, exit 1 with its report), "crash" (a signal, an unexpected
exit status, or a sanitizer report) or "hang" (no end within the timeout);
under AddressSanitizer also "library-leak", a leak allocated inside
libntfs-3g's own failure path (counted, not failed). A command that changes
the image is checked again: a read-only command that writes, or a problem the
check did not find before, or a file whose bytes ntfscat read before and
reads differently after, is "spread"; jobs that failed yet wrote are counted
as "error after writing". Crashes, hangs and spreads are listed with their
seeds (add them to fuzz/regressions.txt) and fail the run.
"""
import argparse
import collections
import hashlib
import multiprocessing
import os
import re
import shutil
import subprocess
import sys
import tempfile

TIMEOUT = 20
ORIGINAL = {}  # the files' bytes as ntfscat reads them on the undamaged image
SANITIZER = re.compile(rb"ERROR: AddressSanitizer|runtime error:|ERROR: LeakSanitizer")


def run(cmd, timeout=TIMEOUT):
    try:
        p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
        return p.returncode, p.stdout
    except subprocess.TimeoutExpired:
        return None, b""


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha1(f.read()).hexdigest()


def file_contents(image):
    """The files' bytes as ntfscat (not our code) reads them; None where it cannot."""
    contents = {}
    for name in ("a.bin", "b.bin", "c.txt", "d.bin"):
        code, out = run(["ntfscat", "-f", image, "/" + name])
        contents[name] = out if code == 0 else None
    return contents


def problem_counts(report):
    """The check's problem figures, for telling new problems from old ones."""
    counts = {}
    for key, pattern in [("cross", rb"Cross-linked clusters: (\d+)"),
                         ("leaked", rb"owned by no file: (\d+)"),
                         ("unmarked", rb"marked free: (\d+)"),
                         ("chains", rb"Broken extent chains: (\d+)")]:
        m = re.search(pattern, report)
        counts[key] = int(m.group(1)) if m else 0
    counts["unreadable"] = report.count(b"Unreadable:")
    counts["unreadable files"] = report.count(b"Unreadable file:")
    counts["boot sector"] = report.count(b"Boot sector:")
    return counts


def make_base(shardix, folder, damage):
    """An 8 MiB image with a fragmented file, a contiguous one and a small one;
    for attribute-list damage also a file in 400 pieces, whose extents need
    an attribute list."""
    image = os.path.join(folder, "base.img")
    with open(image, "wb") as f:
        f.truncate(8 << 20)
    subprocess.run(["mkntfs", "-F", "-q", "-Q", "-c", "4096", image], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for name, size in [("a.bin", 96 << 10), ("b.bin", 48 << 10), ("c.txt", 300)]:
        source = os.path.join(folder, name)
        with open(source, "wb") as f:
            f.write(hashlib.sha256(name.encode()).digest() * (size // 32 + 1))
        subprocess.run(["ntfscp", "-q", image, source, "/" + name], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    jobs = [["a.bin", "6"]]
    if damage == "attribute-list":
        source = os.path.join(folder, "d.bin")
        with open(source, "wb") as f:
            f.write(hashlib.sha256(b"d.bin").digest() * (400 * 4096 // 32))
        subprocess.run(["ntfscp", "-q", image, source, "/d.bin"], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        jobs.append(["d.bin", "400"])
    for name, count in jobs:
        code, out = run([shardix, "fragment", image + "/" + name, "--count", count,
                         "--method", "scattered", "--seed", "7"] if name == "d.bin" else
                        [shardix, "fragment", image + "/a.bin", "--count", count, "--seed", "7"], 120)
        if code != 0:
            sys.exit("making the base image failed:\n" + out.decode(errors="replace"))
    return image


def library_leak_only(out):
    """A leak report whose every allocation comes straight from libntfs-3g
    (its own failure paths on a damaged volume, which hand us nothing to
    free), and no other sanitizer report."""
    if b"ERROR: LeakSanitizer" not in out or re.search(rb"ERROR: AddressSanitizer|runtime error:", out):
        return False
    callers = re.findall(rb"^ *#1 .*$", out, re.M)
    return bool(callers) and all(b"libntfs-3g" in line for line in callers)


def classify(command, code, out):
    if code is None:
        return "hang"
    if library_leak_only(out):
        return "library-leak"
    if SANITIZER.search(out) or code < 0 or code not in (0, 1):
        return "crash"
    if code == 0:
        return "ok"
    if command == "check" and b"Result:" in out:
        return "problems"
    return "error" if out.strip() else "crash"  # a failure must say why


def try_image(args, base, folder, seed, tally, failures):
    """Damages a copy of `base` by `seed` and runs every command on it."""
    damaged = os.path.join(folder, "damaged.img")
    code, what = run([args.damage, base, damaged, str(seed), args.kind])
    if code != 0:
        sys.exit("shardix_damage_image failed: " + what.decode(errors="replace"))
    what = what.decode().strip()
    before_digest = digest(damaged)
    code, before = run([args.shardix, "check", damaged])
    readable = file_contents(damaged)
    outcome = classify("check", code, before)
    tally["check"][outcome] += 1
    if outcome == "ok" and any(readable[name] != data for name, data in ORIGINAL.items()):
        tally["check"]["missed"] += 1  # clean, yet ntfscat no longer reads a file whole
        tally["missed seeds"][f"{seed} ({what})"] += 1
    if outcome in ("crash", "hang"):
        failures.append((seed, "check", outcome, what, before))
    copy = os.path.join(folder, "copy.img")
    for command, words in [("analyze", ["analyze", "{}/a.bin"]),
                           ("volume-info", ["volume-info", "{}"]),
                           ("fragment", ["fragment", "{}/b.bin", "--count", "4", "--seed", "3"]),
                           ("defragment", ["defragment", "{}/a.bin"])]:
        shutil.copyfile(damaged, copy)
        code, out = run([args.shardix] + [w.replace("{}", copy) for w in words])
        outcome = classify(command, code, out)
        if outcome in ("ok", "error") and digest(copy) != before_digest:
            # Only a job may write, and one that failed must have failed
            # after whole moves; either way the volume must be no worse.
            if command not in ("fragment", "defragment"):
                outcome = "spread"
            else:
                if outcome == "error":
                    tally[command]["error after writing"] += 1
                check_code, after = run([args.shardix, "check", copy])
                old, new = problem_counts(before), problem_counts(after)
                if check_code is None or any(new[k] > old[k] for k in new):
                    outcome = "spread"
                    out += b"\n--- check after the job ---\n" + after
                lost = [name for name, data in file_contents(copy).items()
                        if readable[name] is not None and data != readable[name]]
                if lost:
                    outcome = "spread"
                    out += b"\n--- ntfscat reads other bytes for: " + " ".join(lost).encode()
        tally[command][outcome] += 1
        if outcome in ("crash", "hang", "spread"):
            failures.append((seed, command, outcome, what, out))


def run_share(share):
    """One worker's seeds, in a folder of its own."""
    args, base, folder, index, seeds = share
    mine = os.path.join(folder, str(index))
    os.mkdir(mine)
    tally = collections.defaultdict(collections.Counter)
    failures = []
    for count, seed in enumerate(seeds, 1):
        try_image(args, base, mine, seed, tally, failures)
        if index == 0 and count % 250 == 0:
            print(f"about {count * args.jobs} images", file=sys.stderr, flush=True)
    return tally, failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default="build/native", help="the tree with shardix built")
    parser.add_argument("--images", type=int, default=100)
    parser.add_argument("--seed", type=int, default=1, help="the first image's seed")
    parser.add_argument("--seeds", help="a file of seeds to replay, one a line (# comments)")
    parser.add_argument("--jobs", type=int, default=4, help="images damaged and run at once")
    parser.add_argument("--damage", dest="kind", default="mixed",
                        choices=["mixed", "attribute-list", "backup-boot"])
    args = parser.parse_args()
    args.shardix = os.path.join(args.build, "src/cli/shardix")
    args.damage = os.path.join(args.build, "fuzz/shardix_damage_image")

    if args.seeds:
        with open(args.seeds) as f:
            seeds = [int(line.split("#")[0]) for line in f if line.split("#")[0].strip()]
    else:
        seeds = list(range(args.seed, args.seed + args.images))

    tally = collections.defaultdict(collections.Counter)
    failures = []
    folder = tempfile.mkdtemp(prefix="shardix-damage-", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        base = make_base(args.shardix, folder, args.kind)
        ORIGINAL.update((name, data) for name, data in file_contents(base).items() if data is not None)
        shares = [(args, base, folder, i, seeds[i::args.jobs]) for i in range(args.jobs)]
        with multiprocessing.Pool(args.jobs) as pool:
            for part_tally, part_failures in pool.imap_unordered(run_share, shares):
                for command, counter in part_tally.items():
                    tally[command].update(counter)
                failures += part_failures
    finally:
        shutil.rmtree(folder, ignore_errors=True)

    print(f"{len(seeds)} damaged images")
    for command in ["check", "analyze", "volume-info", "fragment", "defragment"]:
        figures = ", ".join(f"{k} {v}" for k, v in sorted(tally[command].items()))
        print(f"  {command:12} {figures}")
    for missed in list(tally["missed seeds"])[:20]:
        print(f"  check called clean: seed {missed}")
    for seed, command, outcome, what, out in failures[:50]:
        print(f"\nseed {seed}: {command}: {outcome} ({what})")
        print(out.decode(errors="replace")[-2000:])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
