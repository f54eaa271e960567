#!/usr/bin/env python3
"""Every command's --json output, on success and on failure, read with
Python's own json module (strict UTF-8) and validated against
docs/json/shardix-output.schema.json with python3-jsonschema: a reader and
a validator that share no code with the program that wrote it.

json_output_check.py SHARDIX SOURCE_DIR SCRATCH   exit 0 when all is well.
"""
import json
import os
import shutil
import subprocess
import sys

import jsonschema

failures = []


def expect(condition, what, output=None):
    if not condition:
        failures.append(what + ("" if output is None else "\n    " + json.dumps(output)[:600]))


class Cli:
    def __init__(self, program, schema):
        self.program = program
        self.validator = jsonschema.Draft202012Validator(schema)

    def run(self, *words, status=None):
        """Runs shardix; returns its one JSON object after checking it."""
        words = [w if isinstance(w, bytes) else w.encode() for w in words]
        done = subprocess.run([self.program.encode()] + words, capture_output=True, timeout=600)
        name = b" ".join(words).decode("utf-8", "replace")
        lines = done.stdout.splitlines()
        expect(len(lines) == 1, f"{name}: one line of JSON on stdout, got {len(lines)}")
        try:
            obj = json.loads(done.stdout.decode("utf-8"))  # strict: no stray bytes
        except (UnicodeDecodeError, json.JSONDecodeError) as e:
            failures.append(f"{name}: not JSON: {e}: {done.stdout[:300]!r}")
            return {}
        for error in self.validator.iter_errors(obj):
            where = "/".join(str(p) for p in error.absolute_path)
            failures.append(f"{name}: {where}: {error.message[:300]}")
        expect(obj.get("ok") == (done.returncode == 0), f"{name}: ok says the exit status", obj)
        if status is not None:
            expect(done.returncode == status, f"{name}: exit status {done.returncode}, not {status}")
        # The error in words for people, once, on stderr.
        if obj.get("error"):
            expect(done.stderr.count(b"\n") >= 1, f"{name}: the error also on stderr")
        return obj


def check_jobs(cli, image, file):
    analyze = cli.run("analyze", "--json", file, status=0)["file"]
    expect(isinstance(analyze["percent_fragmented"], (int, float)), "percent is a number", analyze)
    expect(analyze["file_size"] > 0 and len(analyze["fragments"]) == analyze["fragment_count"],
           "sizes in bytes, one row per fragment", analyze)

    plan = cli.run("fragment", file, "--count", "5", "--seed", "7", "--dry-run", "--json", status=0)
    expect(plan["dry_run"] and len(plan["plan"]) == 5 and plan["moved"] == 0 and
           plan["outcome"] == "done" and plan["seed"] == 7, "a dry run's plan", plan)
    done = cli.run("fragment", file, "--count", "5", "--seed", "7", "--json", status=0)
    expect(done["outcome"] == "done" and done["moved"] == 5 and done["requested"] == 5 and
           done["after"]["fragment_count"] == 5, "fragment: moved counts fragments", done)
    gather = cli.run("defragment", file, "--json", status=0)
    expect(gather["outcome"] == "done" and gather["moved"] == gather["after"]["fragment_count"],
           "defragment: moved counts the fragments of the result", gather)
    over = cli.run("fragment", file, "--count", "4000000000", "--json", status=1)
    expect(over["outcome"] == "refused" and over["error"]["code"] == "count-out-of-range" and
           over["error"]["path"] == file, "a count past Max: refused by name", over)
    if gather["after"]["fragment_count"] == 1:
        single = cli.run("defragment", file, "--json", status=1)
        expect(single["error"]["code"] == "not-fragmented", "one fragment: not-fragmented", single)



def check_failures(cli, image, file):
    missing = cli.run("analyze", "--json", image + "/no-such.bin", status=1)
    expect(missing["error"]["code"] == "ENOENT" and missing["error"]["path"] == image + "/no-such.bin",
           "a missing file: ENOENT with its path", missing)
    expect(cli.run("fragment", "--json", "--count", "2", image + "/$MFT")["error"]["code"] ==
           "system-file", "a system file's refusal by name")
    # Linux names may be any bytes: the path still round-trips, exactly.
    odd = image.encode() + b"/caf\xe9-\xff.bin"
    stray = cli.run(b"analyze", b"--json", odd, status=1)
    expect(bytes.fromhex(stray["error"].get("path_hex", "")) == odd, "a stray byte round-trips", stray)



def check_volume(cli, image, file):
    info = cli.run("volume-info", image, "--json", status=0)
    v = info["volume"]
    expect(v["cluster_size"] == 4096 and v["used_clusters"] + v["free_clusters"] == v["total_clusters"] and
           sum(r["clusters"] for r in info["runs"]) == v["total_clusters"], "volume figures add up", info)
    self_save = cli.run("volume-info", image, "--save", image, "--json", status=1)
    expect(self_save["error"]["code"] == "report-is-the-volume", "no report over the image", self_save)

    clean = cli.run("check", image, "--json", status=0)
    expect(clean["report"]["clean"] and clean["report"]["problems"] == [], "a clean image", clean)
    not_ntfs = cli.run("check", "--json", __file__, status=1)
    expect(not_ntfs["error"]["code"] == "not-ntfs" and not_ntfs["report"] is None, "not NTFS", not_ntfs)



def check_usage(cli, image, file):
    for words in (["analyze", "--json"], ["fragment", file, "--count", "0", "--json"],
                  ["check", "--bogus", "--json"], ["no-such-command", "--json"],
                  ["volume-info", image, "--sort", "size", "--json"], ["demo", "a", "b", "--json"]):
        usage = cli.run(*words, status=2)
        expect(usage.get("error", {}).get("code") == "usage", " ".join(words) + ": a usage error", usage)


def check_scenario(cli, source, scratch):
    image = os.path.join(scratch, "carve.img")
    built = cli.run("scenario", os.path.join(source, "examples/scenarios/carve-1-contiguous.json"),
                    image, "--json", status=0)
    expect(built.get("manifest") == image + ".manifest.json" and built.get("streams", 0) > 0,
           "scenario: what was built", built)
    manifest_path = image + ".manifest.json"
    same = cli.run("scenario", "--verify", manifest_path, image, "--json", status=0)
    expect(same.get("differences") == [], "scenario --verify: nothing differs", same)
    with open(manifest_path, encoding="utf-8") as f:
        manifest = json.load(f)
    target = next(f for f in manifest["files"] if f["state"] == "allocated" and f["runs"] and
                  f["runs"][0]["first_cluster"] is not None)
    with open(image, "r+b") as f:  # one byte of that file's data changed
        f.seek(target["runs"][0]["first_cluster"] * manifest["cluster_size"])
        byte = f.read(1)
        f.seek(-1, os.SEEK_CUR)
        f.write(bytes([byte[0] ^ 0xFF]))
    changed = cli.run("scenario", "--verify", manifest_path, image, "--json", status=1)
    places = [d["place"] for d in changed.get("differences", [])]
    expect(changed["error"]["code"] == "differs" and any(target["path"] in p for p in places),
           "scenario --verify names the changed file", changed)
    missing = cli.run("scenario", os.path.join(scratch, "none.json"), image, "--json", status=2)
    expect(missing["error"]["code"] == "unreadable-recipe", "scenario: no recipe", missing)


def main(argv):
    program, source, scratch = argv[1], argv[2], argv[3]
    with open(os.path.join(source, "docs/json/shardix-output.schema.json"), encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    cli = Cli(program, schema)
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    demo = cli.run("demo", os.path.join(scratch, "demo"), "--json", status=0)
    steps = demo.get("steps", [])
    expect([s["result"]["command"] for s in steps] ==
           ["analyze", "fragment", "defragment", "volume-info", "check"] and
           all(s["exit_status"] == 0 for s in steps), "demo: each step's result", demo)
    # An image of its own, made by the text demo: the jobs need it whatever
    # demo --json does.
    subprocess.run([program, "demo", os.path.join(scratch, "jobs")], capture_output=True, check=True)
    image = os.path.join(scratch, "jobs", "demo.img")
    on_image = (cli, image, image + "/demo.bin")
    # An object missing what a later step reads is a failure, not a crash.
    for check, args in ((check_jobs, on_image), (check_failures, on_image), (check_volume, on_image),
                        (check_usage, on_image), (check_scenario, (cli, source, scratch))):
        try:
            check(*args)
        except (KeyError, TypeError, StopIteration, OSError, subprocess.CalledProcessError) as e:
            failures.append(f"{check.__name__}: {type(e).__name__}: {e}")
    for failure in failures:
        print("FAILED:", failure)
    shutil.rmtree(scratch, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
