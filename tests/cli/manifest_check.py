#!/usr/bin/env python3
"""Reads scenario manifests with Python's own json module and validates them
against docs/manifest.schema.json with python3-jsonschema: readers and a
validator that share no code with the program that wrote them.

manifest_check.py SCHEMA MANIFEST...   exit 0 when every manifest is valid.
"""
import json
import sys

import jsonschema


def main(argv):
    with open(argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    bad = 0
    for path in argv[2:]:
        with open(path, encoding="utf-8") as f:
            manifest = json.load(f)
        for error in validator.iter_errors(manifest):
            where = "/".join(str(p) for p in error.absolute_path)
            print(f"{path}: {where}: {error.message}")
            bad += 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
