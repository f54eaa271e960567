#!/usr/bin/env python3
"""Validates every example recipe against docs/recipe.schema.json with
python3-jsonschema, a validator we did not write, and checks that the schema
still refuses what the program refuses (so a loose schema cannot pass)."""
import json
import pathlib
import sys

import jsonschema

root = pathlib.Path(sys.argv[1])
schema = json.loads((root / "docs/recipe.schema.json").read_text())
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)

failures = 0
examples = sorted((root / "examples/scenarios").glob("*.json"))
if not examples:
    print("no example recipes found")
    failures += 1
for path in examples:
    errors = list(validator.iter_errors(json.loads(path.read_text())))
    for error in errors:
        print(f"{path.name}: {'/'.join(map(str, error.absolute_path))}: {error.message}")
    failures += bool(errors)

good_step = {"op": "create", "path": "/a.jpg", "size": 4096, "content": "jpeg"}
def recipe(step, volume=None):
    return {"volume": volume or {"size": "8M"}, "seed": 1, "steps": [step]}
refused = {
    "misspelt volume key": recipe(good_step, {"size": "8M", "clustersize": 4096}),
    "misspelt step key": recipe({"op": "fragment", "path": "/a", "count": 2, "methd": "random"}),
    "fragment count 0": recipe({"op": "fragment", "path": "/a", "count": 0}),
    "gap past 32 bits": recipe({"op": "layout", "arrange": ["/a", {"gap": 18446744073709551615}]}),
    "pattern without its content": recipe({"op": "create", "path": "/a", "size": 1, "pattern": "x"}),
    "size as a word": recipe({"op": "create", "path": "/a", "size": "big"}),
    "relative path": recipe({"op": "delete", "path": "a/b"}),
    "unknown op": recipe({"op": "shred", "path": "/a"}),
    "freed other than zero or keep": recipe(good_step, {"size": "8M", "freed": "wipe"}),
    "unknown partition table": recipe(good_step, {"size": "8M", "partition_table": "apm"}),
    "offset without a partition table": recipe(good_step, {"size": "8M", "offset": "1M"}),
}
for name, instance in refused.items():
    if validator.is_valid(instance):
        print(f"the schema accepts a recipe with {name}")
        failures += 1
if not validator.is_valid(recipe(good_step, {"size": "8M", "freed": "keep"})):
    print("the schema refuses a good recipe")
    failures += 1

print(f"{len(examples)} example recipes checked, {failures} failures")
sys.exit(1 if failures else 0)
