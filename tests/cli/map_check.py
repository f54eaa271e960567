#!/usr/bin/env python3
"""Reads a scenario image's map (OUT.img.map.svg) with Python's own XML
parser and, given the manifest, holds it against the manifest read with
Python's json module.

map_check.py MAP [MANIFEST]   exit 0 when the map is well-formed XML and,
with a manifest, every file has one legend entry and the first and last
cluster of each of its runs lie in a cell of the legend's fill; each remnant
is hatched grey and cluster 0 (the boot sector) is metadata. Prints
"per_cell N", "height H", "legend TEXT" per file entry, and for each
allocated file "probe FILL X Y": the centre of a cell of it that bears no
number, for a pixel check of the rendered map.
"""
import json
import sys
import xml.etree.ElementTree as ET

SVG = "{http://www.w3.org/2000/svg}"


def legend_of(root, kind):
    return [("".join(g.find(SVG + "text").itertext()), g.find(SVG + "rect").get("fill"))
            for g in root.iter(SVG + "g") if g.get("class") == kind]


def main(argv):
    root = ET.parse(argv[1]).getroot()  # raises on XML that is not well formed
    per_cell = int(root.get("data-clusters-per-cell"))
    print(f"per_cell {per_cell}\nheight {root.get('height')}")
    legend = legend_of(root, "legend-file")
    for text, _ in legend:
        print(f"legend {text}")
    if len(argv) < 3:
        return 0
    with open(argv[2], encoding="utf-8") as f:
        manifest = json.load(f)
    cells = [(int(r.get("data-first")), int(r.get("data-last")), r)
             for r in root.iter(SVG + "rect") if r.get("data-first") is not None]

    def cell(cluster):
        found = [(first, r) for first, last, r in cells if first <= cluster <= last]
        return found[0] if len(found) == 1 else (None, None)

    def fill(cluster):
        return cell(cluster)[1].get("fill") if cell(cluster)[1] is not None else None

    bad = []
    if fill(0) != legend_of(root, "legend-kind")[0][1]:
        bad.append(f"cluster 0 drawn {fill(0)}, not as metadata")
    for remnant in manifest["remnants"]:
        if fill(remnant["first_cluster"]) != "url(#hatch-remnant)":
            bad.append(f"remnant at {remnant['first_cluster']} drawn {fill(remnant['first_cluster'])}")
    for entry in manifest["files"]:
        name = entry["path"] + (":" + entry["stream"] if entry["stream"] else "")
        fills = [f for text, f in legend if text.startswith(name + " \u2014 ")]
        if len(fills) != 1:
            bad.append(f"{name}: {len(fills)} legend entries")
            continue
        hatched = fills[0].startswith("url(#hatch-")
        if hatched != (entry["state"] != "allocated"):
            bad.append(f"{name}: {entry['state']} but legend fill {fills[0]}")
        runs = [r for r in entry["runs"] if r["first_cluster"] is not None]
        for run in runs if per_cell == 1 else []:
            for cluster in (run["first_cluster"], run["last_cluster"]):
                if fill(cluster) != fills[0]:
                    bad.append(f"{name}: cluster {cluster} drawn {fill(cluster)}, legend {fills[0]}")
        if per_cell == 1 and not hatched and runs and runs[0]["clusters"] > 1:
            cluster = runs[0]["last_cluster"]
            first, rect = cell(cluster)
            width = float(rect.get("width")) / (int(rect.get("data-last")) - first + 1)
            x = float(rect.get("x")) + (cluster - first + 0.5) * width
            y = float(rect.get("y")) + float(rect.get("height")) / 2
            print(f"probe {fills[0]} {int(x)} {int(y)}")
    for line in bad:
        print(line)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
