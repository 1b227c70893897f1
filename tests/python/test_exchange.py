"""Files exchanged with Fiji, napari and tifffile: stacks written by tifffile with OME and ImageJ
metadata give the program their pixel size and their frames' values, and the masks it writes are
read back by tifffile and by the Python package with the pixel size and the numbers they came
with. Needs Debian's python3-tifffile; TOVRA names the program."""
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

import h5py
import numpy as np
import tifffile

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "scripts"))
sys.path.insert(0, str(ROOT / "measure" / "python"))
import calibration  # noqa: E402
import tovra_measure  # noqa: E402

TOVRA = os.environ.get("TOVRA", str(ROOT / "build" / "default" / "bin" / "Tovra"))


def frames(n=3, side=128):
    return np.stack([calibration.make(calibration.Recipe("m", "maze", blur=1.0), seed, side)[0] for seed in range(n)])


def ome_with_field(values, side=128, unit="nm", size=250):
    """OME-XML as a microscope's software writes it: the field of each plane in a map annotation."""
    planes = "".join(f'<Plane TheZ="0" TheC="0" TheT="{k}"><AnnotationRef ID="Annotation:{k}"/></Plane>'
                     for k in range(len(values)))
    maps = "".join(f'<MapAnnotation ID="Annotation:{k}"><Value><M K="field">{v}</M></Value></MapAnnotation>'
                   for k, v in enumerate(values))
    return ('<?xml version="1.0" encoding="UTF-8"?><OME xmlns="http://www.openmicroscopy.org/Schemas/OME/2016-06">'
            f'<Image ID="Image:0"><Pixels ID="Pixels:0" DimensionOrder="XYZCT" Type="uint8" SizeX="{side}" '
            f'SizeY="{side}" SizeZ="1" SizeC="1" SizeT="{len(values)}" PhysicalSizeX="{size}" '
            f'PhysicalSizeXUnit="{unit}">{planes}</Pixels></Image><StructuredAnnotations>{maps}'
            '</StructuredAnnotations></OME>')


def write_pages(path, stack, description):
    with tifffile.TiffWriter(path) as w:
        for k, page in enumerate(stack):
            w.write(page, description=description if k == 0 else None, metadata=None, contiguous=False)


class Exchange(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.at = pathlib.Path(self.dir.name)

    def tearDown(self):
        self.dir.cleanup()

    def run_tovra(self, *args):
        return subprocess.run([TOVRA, "--measure", *map(str, args)], capture_output=True, text=True, cwd=self.at)

    def table(self, path):
        lines = [line for line in path.read_text().splitlines() if not line.startswith("#")]
        header = lines[0].split(",")
        return [dict(zip(header, line.split(","))) for line in lines[1:]]

    def test_metadata_in(self):
        stack = frames()
        tifffile.imwrite(self.at / "t.ome.tif", stack, ome=True,
                         metadata={"axes": "TYX", "PhysicalSizeX": 0.25, "PhysicalSizeXUnit": "µm",
                                   "PhysicalSizeY": 0.25, "PhysicalSizeYUnit": "µm",
                                   "Plane": {"DeltaT": [0.0, 0.5, 1.0], "DeltaTUnit": ["s"] * 3}})
        tifffile.imwrite(self.at / "ij.tif", stack, imagej=True, resolution=(1 / 0.4, 1 / 0.4),
                         metadata={"axes": "TYX", "unit": "um", "finterval": 2.0})
        write_pages(self.at / "field.ome.tif", stack, ome_with_field([-5, 0, 5]))
        rows = [("t.ome.tif", "DeltaT", [0, 0.5, 1], 0.25), ("ij.tif", "DeltaT", [0, 2, 4], 0.4),
                ("field.ome.tif", "field", [-5, 0, 5], 0.25)]
        for name, key, values, um in rows:
            with self.subTest(name):
                got = self.run_tovra(name, "--values-from-metadata", key, "--table", "out.csv")
                self.assertEqual(got.returncode, 0, got.stderr)
                table = self.table(self.at / "out.csv")
                self.assertEqual([float(r["value"]) for r in table], values)
                self.assertEqual({float(r["pixel_size_um"]) for r in table}, {um})
                # The Python package reads the same pixel size.
                self.assertAlmostEqual(tovra_measure.measure_file(str(self.at / name))[0].pixel_size_um, um)
        # A plane without the key, or with text for it, is refused before anything is measured.
        write_pages(self.at / "text.ome.tif", stack, ome_with_field([-5, "high", 5]))
        for name, says in (("field.ome.tif", 'has no value "current"'), ("text.ome.tif", '"high", not a number')):
            got = self.run_tovra(name, "--values-from-metadata", "current" if name == "field.ome.tif" else "field")
            self.assertEqual(got.returncode, 2)
            self.assertIn(says, got.stderr)
        # An unknown unit is said, and the tags' pixel size (none here) stands.
        write_pages(self.at / "odd.ome.tif", stack, ome_with_field([1, 2, 3], unit="furlong"))
        got = self.run_tovra("odd.ome.tif", "--values-from-metadata", "field", "--table", "odd.csv")
        self.assertIn('"furlong" is not known', got.stderr)
        self.assertEqual({r["pixel_size_um"] for r in self.table(self.at / "odd.csv")}, {""})

    def test_masks_out(self):
        stack = frames()
        bubbles = calibration.make(calibration.Recipe("b", "bubbles", period=24, black=0.25, blur=1.0), 5, 128)[0]
        write_pages(self.at / "in.ome.tif", np.concatenate([stack, bubbles[None]]), ome_with_field([-5, 0, 5, 10]))
        got = self.run_tovra("in.ome.tif", "--values-from-metadata", "field", "--masks", "m.ome.tif")
        self.assertEqual(got.returncode, 0, got.stderr)
        lines = got.stdout.splitlines()
        provenance = json.loads(lines[0])["provenance"]
        records = [json.loads(line) for line in lines[1:]]
        with tifffile.TiffFile(self.at / "m.ome.tif") as t:
            self.assertTrue(t.is_ome)
            series = t.series[0]
            self.assertEqual((series.axes, series.shape), ("TCYX", (4, 2, 128, 128)))
            masks = series.asarray()
            xml = tifffile.xml2dict(t.ome_metadata)["OME"]
        pixels = xml["Image"]["Pixels"]
        self.assertEqual((pixels["PhysicalSizeX"], pixels["PhysicalSizeXUnit"]), (0.25, "µm"))
        read = tovra_measure.read_masks(str(self.at / "m.ome.tif"))
        self.assertEqual(read.pixel_size_um, 0.25)
        self.assertTrue(np.array_equal(read.domains, masks[:, 0]) and np.array_equal(read.labels, masks[:, 1]))
        for k, (record, frame) in enumerate(zip(records, read.frames)):
            self.assertEqual(float(frame["field"]), [-5, 0, 5, 10][k])
            self.assertAlmostEqual(float(frame["black_fraction"]), record["black_fraction"], delta=1e-9)
            self.assertAlmostEqual(float(frame["black_fraction_of_mask"]), masks[k, 0].mean(), delta=1e-6)
            # The record's fraction is the mask's corrected for the walls the blur moved, at most
            # four times the allowance it carries for that.
            self.assertLessEqual(abs(record["black_fraction"] - masks[k, 0].mean()),
                                 4 * record["black_fraction_sys"] + 1e-6)
        # The bubbles numbered, one label each: as many as the record counts.
        self.assertEqual(len(np.unique(masks[3, 1])) - 1, records[3]["bubbles"]["count"])
        # A mask file that cannot be written: exit 1, and nothing under its name.
        got = self.run_tovra("in.ome.tif", "--masks", "missing/m.ome.tif")
        self.assertEqual(got.returncode, 1)
        self.assertFalse((self.at / "missing").exists())
        self.assertEqual(sorted(p.name for p in self.at.iterdir()), ["in.ome.tif", "m.ome.tif"])


    def test_provenance_in_every_export(self):
        write_pages(self.at / "in.ome.tif", frames(), ome_with_field([-5, 0, 5]))
        outputs = ("t.csv", "p.png", "p.svg", "l.json", "m.ome.tif")

        def run(tag):
            args = ["in.ome.tif", "--values-from-metadata", "field", "--table", f"{tag}t.csv", "--plot", f"{tag}p.png",
                    "--loop", f"{tag}l.json", "--masks", f"{tag}m.ome.tif"]
            got = self.run_tovra(*args)
            self.assertEqual(got.returncode, 0, got.stderr)
            self.run_tovra(*args[:3], "--plot", f"{tag}p.svg")
            lines = got.stdout.splitlines()
            stream = json.loads(lines[0])["provenance"]
            table = next(line for line in (self.at / f"{tag}t.csv").read_text().splitlines()
                         if line.startswith("# provenance: "))
            from PIL import Image
            with Image.open(self.at / f"{tag}p.png") as png:
                plot = png.info["provenance"]
            svg = (self.at / f"{tag}p.svg").read_text()
            svg_desc = svg[svg.index("<desc>") + 6:svg.index("</desc>")]
            loop = json.loads((self.at / f"{tag}l.json").read_text())["provenance"]
            with tifffile.TiffFile(self.at / f"{tag}m.ome.tif") as t:
                masks = tifffile.xml2dict(t.ome_metadata)["OME"]["StructuredAnnotations"]["CommentAnnotation"]
            import html
            found = [stream, json.loads(table[len("# provenance: "):]), json.loads(plot),
                     json.loads(html.unescape(svg_desc)), loop, json.loads(masks["Value"])]
            return lines[1:], found

        records, first = run("a")
        again, second = run("b")
        self.assertEqual(records, again)  # the same numbers
        import hashlib
        digest = hashlib.sha256((self.at / "in.ome.tif").read_bytes()).hexdigest()
        for a, b in zip(first, second):
            self.assertEqual(a["inputs"], [{"role": "frame", "file": "in.ome.tif",
                                            "bytes": (self.at / "in.ome.tif").stat().st_size, "sha256": digest}])
            self.assertEqual(a["settings"]["values"], "metadata field")
            self.assertIn("median", a["settings"]["measurement"])
            self.assertEqual(a["version"], first[0]["version"])
            # The same provenance but for the time and the outputs' names on the command line.
            for p in (a, b):
                p.pop("time"), p.pop("command")
            self.assertEqual(a, b)
        self.assertIn(b"provenance.json", self.pdf_bytes())

    def test_hdf5(self):
        write_pages(self.at / "in.ome.tif", frames(4), ome_with_field([-20, 20, -20, 20]))
        got = self.run_tovra("in.ome.tif", "--values-from-metadata", "field", "--value-unit", "mT", "--hdf5", "r.h5",
                             "--table", "t.csv", "--masks", "m.ome.tif")
        self.assertEqual(got.returncode, 0, got.stderr)
        table = self.table(self.at / "t.csv")
        with h5py.File(self.at / "r.h5") as f:
            entry = f["entry"]
            self.assertEqual(entry.attrs["NX_class"], "NXentry")
            rows = entry["frames"]
            self.assertEqual(rows.attrs["signal"], "black_fraction")
            self.assertEqual(rows["value"].attrs["units"], "mT")
            for name in ("value", "black_fraction", "black_width_px", "period_se_px"):
                self.assertTrue(np.allclose(rows[name][:], [float(r[name]) for r in table], rtol=1e-9), name)
            self.assertEqual([f.decode() for f in rows["file"][:]], ["in.ome.tif"] * 4)
            domains = entry["masks/domains"]
            self.assertEqual((domains.shape, domains.chunks, domains.compression), ((4, 128, 128), (1, 128, 128), "gzip"))
            with tifffile.TiffFile(self.at / "m.ome.tif") as t:
                self.assertTrue(np.array_equal(domains[:], t.series[0].asarray()[:, 0]))
            self.assertIn("coercivity", json.loads(entry["loop/json"][()]))
            provenance = json.loads(entry["provenance/data"][()])
            self.assertEqual(provenance["inputs"][0]["file"], "in.ome.tif")
        # A file that cannot be written: exit 1, nothing under its name or beside it.
        got = self.run_tovra("in.ome.tif", "--hdf5", "missing/r.h5")
        self.assertEqual(got.returncode, 1)
        self.assertFalse((self.at / "missing").exists())
        self.assertFalse(any(p.name.startswith(".") for p in self.at.iterdir()))

    def test_parts_merged_are_the_whole_run(self):
        from PIL import Image
        sweep = self.at / "sweep"
        sweep.mkdir()
        for k, h in enumerate([-30, -15, 0, 15, 30, 15, 0, -15, -30]):
            recipe = calibration.Recipe("m", "maze", blur=1.0, black=0.5 + h / 100)
            Image.fromarray(calibration.make(recipe, k, 128)[0]).save(sweep / f"H_{k:03d}_{h}mT.png")
        common = ["sweep", "--values-from-name", "--value-unit", "mT"]
        whole = self.run_tovra(*common, "--table", "whole.csv", "--loop", "whole.json", "--hdf5", "whole.h5",
                               "--masks", "whole.ome.tif")
        self.assertEqual(whole.returncode, 0, whole.stderr)
        for k in (1, 2, 3):
            part = self.run_tovra(*common, "--part", f"{k}/3", "--masks", f"part{k}.ome.tif")
            self.assertEqual(part.returncode, 0, part.stderr)
            (self.at / f"part{k}.out").write_text(part.stdout)
        merged = subprocess.run([TOVRA, "--merge", "part3.out", "part1.out", "part2.out", "--table", "merged.csv",
                                 "--loop", "merged.json", "--hdf5", "merged.h5", "--masks", "merged.ome.tif"],
                                capture_output=True, text=True, cwd=self.at)
        self.assertEqual(merged.returncode, 0, merged.stderr)
        self.assertEqual(whole.stdout.splitlines()[1:], merged.stdout.splitlines()[1:])

        def without_provenance(name):
            return [line for line in (self.at / name).read_text().splitlines() if not line.startswith("# provenance")]
        self.assertEqual(without_provenance("whole.csv"), without_provenance("merged.csv"))
        loops = [json.loads((self.at / f"{name}.json").read_text()) for name in ("whole", "merged")]
        provenances = [loop.pop("provenance") for loop in loops]
        self.assertEqual(loops[0], loops[1])
        for p in provenances:
            p.pop("time")
        self.assertEqual(provenances[0]["inputs"], provenances[1]["inputs"])
        self.assertEqual(provenances[0]["settings"], provenances[1]["settings"])
        # The masks: the same planes and the same OME-XML but for the provenance's comment.
        stacks = []
        for name in ("whole", "merged"):
            with tifffile.TiffFile(self.at / f"{name}.ome.tif") as t:
                xml = t.ome_metadata
                stacks.append((t.series[0].asarray(), xml[:xml.index("<CommentAnnotation")]))
        self.assertTrue(np.array_equal(stacks[0][0], stacks[1][0]))
        self.assertEqual(stacks[0][1], stacks[1][1])
        with h5py.File(self.at / "whole.h5") as a, h5py.File(self.at / "merged.h5") as b:
            for name in ("domains", "labels"):
                self.assertTrue(np.array_equal(a["entry/masks"][name][:], b["entry/masks"][name][:]), name)
            for name in a["entry/frames"]:
                self.assertTrue(np.array_equal(a["entry/frames"][name][:], b["entry/frames"][name][:], equal_nan=True)
                                if a["entry/frames"][name].dtype.kind == "f"
                                else np.array_equal(a["entry/frames"][name][:], b["entry/frames"][name][:]), name)
        # Parts of different settings, a part twice, a part missing: refused, saying which.
        other = self.run_tovra("sweep", "--values-from-name", "--value-unit", "T", "--part", "2/3")
        (self.at / "other.out").write_text(other.stdout)
        (self.at / "cut.out").write_text("\n".join((self.at / "part2.out").read_text().splitlines()[:2]) + "\n")
        (self.at / "bare.out").write_text(self.run_tovra(*common, "--part", "2/3").stdout)
        for parts, says in ((["part1.out", "other.out", "part3.out"], "the setting value_unit differs"),
                            (["part1.out", "part1.out", "part2.out"], "are both part 1/3"),
                            (["part1.out", "part2.out"], "part 3/3 is missing"),
                            (["whole.csv"], "is not the records of a part"),
                            (["part1.out", "cut.out", "part3.out"], "the part did not finish"),
                            (["part1.out", "bare.out", "part3.out", "--masks", "m.ome.tif"],
                             "not every part wrote its masks")):
            got = subprocess.run([TOVRA, "--merge", *parts], capture_output=True, text=True, cwd=self.at)
            self.assertEqual(got.returncode, 2, parts)
            self.assertIn(says, got.stderr)

    def pdf_bytes(self):
        got = self.run_tovra("in.ome.tif", "--plot", "p.pdf")
        self.assertEqual(got.returncode, 0, got.stderr)
        return (self.at / "p.pdf").read_bytes()


if __name__ == "__main__":
    unittest.main()
