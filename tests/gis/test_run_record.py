#!/usr/bin/env python3
"""The run record <R>_run.json against an independent computation.

Each scripted run of the built tessera_summary (every result format, both processing types)
is checked against numpy: the weighted sums of the inputs, the largest valid sum, the step
and the running bounds of every level, bit for bit; the cells of every level counted in the
result image; the item counts of every input; the files the run wrote. Every real in the
record is written in its shortest round-trip form.

Usage: test_run_record.py <path of tessera_summary>
Exits with 77 (a skip for CTest) where numpy is missing.
"""

import json
import os
import re
import sys
import tempfile
import unittest

try:
    import numpy as np
except ImportError as missing:
    print("SKIPPED: the run record test needs numpy (%s); install python3-numpy" % missing)
    sys.exit(77)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tessera_files as tf  # noqa: E402

BINARY = None


def expected_levels(zone, params):
    """count, max_sum, step and the (from, to) of each level, computed as the program's
    documentation states: sums in image order, valid cells where the last image is below 255
    (with a single raw or BMP image its 255 cells count as valid), bounds as running sums."""
    images = [(tf.read_image(os.path.join(zone, name), fmt), fmt, float(w))
              for name, fmt, w in params["images"]]
    total = np.zeros(images[0][0].shape, dtype=np.float64)
    for values, _, weight in images:
        total += values.astype(np.float64) * weight
    last, first_fmt = images[-1][0], images[0][1]
    valid = np.ones(last.shape, bool) if len(images) == 1 and first_fmt != 2 else last < 255
    max_sum = max(0.0, float(total[valid].max())) if valid.any() else 0.0
    n = params["levels"]
    step = max_sum / n
    bounds, lo, hi = [], -step, 0.0
    for _ in range(n):
        lo, hi = lo + step, hi + step
        bounds.append((lo, hi))
    return n, max_sum, step, bounds, images


def listed_items(values):
    """The items the report lists: every value present (255 counted as 254) but the highest."""
    v = values.copy()
    v[v == 255] = 254
    codes, counts = np.unique(v, return_counts=True)
    return [[int(c), int(k)] for c, k in zip(codes[:-1], counts[:-1])]


def digits(token):
    """The significant digits of a number's text."""
    mantissa = re.split("[eE]", token)[0].lstrip("-").replace(".", "")
    return mantissa.strip("0") or "0"


class RecordAgainstNumpy(unittest.TestCase):
    def check_run(self, label, answers):
        params = tf.parse_answers(answers)
        with tempfile.TemporaryDirectory() as root:
            zone = tf.fresh_area(root)
            before = set(os.listdir(zone))
            status, console = tf.run_summary(BINARY, root, answers)
            self.assertEqual(status, 0, console[-400:])
            name = params["result"] + "_run.json"
            text = tf.slurp(os.path.join(zone, name))
            rec = json.loads(text)
            count, max_sum, step, bounds, images = expected_levels(zone, params)

            lv = rec["levels"]
            self.assertEqual(lv["count"], count)
            self.assertEqual(lv["max_sum"].hex(), max_sum.hex())
            self.assertEqual(lv["step"].hex(), step.hex())
            self.assertEqual([c["level"] for c in lv["classes"]], list(range(1, count + 1)))
            for c, (lo, hi) in zip(lv["classes"], bounds):
                self.assertEqual((c["from"].hex(), c["to"].hex()), (lo.hex(), hi.hex()),
                                 "bounds of level %d" % c["level"])

            result = tf.read_result(zone, rec)
            self.assertEqual(result.shape, (rec["grid"]["rows"], rec["grid"]["cols"]))
            counts = np.bincount(result.ravel(), minlength=256)
            self.assertEqual([c["cells"] for c in lv["classes"]],
                             [int(counts[k]) for k in range(1, count + 1)])
            self.assertEqual(rec["cells"], {"with_level": int(counts[1:count + 1].sum()),
                                            "mesh_line": int(counts[0]),
                                            "outside_study_area": int(counts[254]),
                                            "background": int(counts[255])})

            self.assertEqual(len(rec["inputs"]), len(images))
            kinds = ["raw", "bmp", "ascii"]
            for entry, (img_name, fmt, weight), (values, _, _) in zip(
                    rec["inputs"], params["images"], images):
                self.assertTrue(entry["file"].endswith("\\" + img_name + [".raw", ".bmp", ".asc"][fmt]))
                self.assertEqual(entry["format"], kinds[fmt])
                self.assertEqual(entry["weight"], float(weight))
                self.assertEqual([[i["code"], i["cells"]] for i in entry["items"]],
                                 listed_items(values))
            self.assertEqual(rec["result"]["format"], kinds[params["out"]])

            # The record names exactly the files the run wrote (new or replaced).
            written = sorted(set(os.listdir(zone)) - before)
            named = sorted(o.split("\\")[-1] for o in rec["outputs"])
            self.assertEqual(named, written)

            # Shortest round-trip form: as few digits as Python's repr, which is the shortest.
            for token in re.findall(r"(?<![\w.])-?\d+\.\d+(?:[eE][-+]?\d+)?|-?\d+[eE][-+]?\d+", text):
                self.assertEqual(digits(token), digits(repr(float(token))), token)
            return rec

    def test_every_scripted_run(self):
        seen_formats, seen_types = set(), set()
        for label, answers in tf.scripted_runs().items():
            with self.subTest(run=label):
                rec = self.check_run(label, answers)
                seen_formats.add(rec["result"]["format"])
                seen_types.add(rec["processing"]["detected"])
        self.assertEqual(seen_formats, {"raw", "bmp", "ascii"})
        self.assertEqual(seen_types, {"square_cell_mesh", "moving_window"})

    def test_ascii_result_carries_the_first_ascii_inputs_prj(self):
        answers = "0 2 . zone1 3 mw_geol mw_soil mw_geom 1 2 2 1 1 1 1 res_prj 2 6 1\n"
        with tempfile.TemporaryDirectory() as root:
            zone = tf.fresh_area(root)
            # Two ASCII inputs with different .prj: image 2 is the first ASCII one.
            with open(os.path.join(zone, "mw_geom.prj"), "w") as f:
                f.write('PROJCS["another"]')
            status, console = tf.run_summary(BINARY, root, answers)
            self.assertEqual(status, 0, console[-400:])
            carried = tf.slurp(os.path.join(zone, "res_prj_tessum.prj"), binary=True)
            self.assertEqual(carried, tf.slurp(os.path.join(zone, "mw_soil.prj"), binary=True))
            rec = json.loads(tf.slurp(os.path.join(zone, "res_prj_run.json")))
            self.assertEqual(rec["result"]["prj_copied_from"], ".\\zone1\\mw_soil.prj")
            # No ASCII input with a .prj: nothing is carried.
            for n in ("mw_soil.prj", "mw_geom.prj"):
                os.remove(os.path.join(zone, n))
            os.remove(os.path.join(zone, "res_prj_tessum.prj"))
            status, _ = tf.run_summary(BINARY, root, answers)
            self.assertEqual(status, 0)
            self.assertFalse(os.path.exists(os.path.join(zone, "res_prj_tessum.prj")))


if __name__ == "__main__":
    BINARY = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:], verbosity=2)
