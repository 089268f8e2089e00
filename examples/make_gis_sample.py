#!/usr/bin/python3
"""Writes a small synthetic GIS project for the worked example of docs/gis.md.

    make_gis_sample.py [FOLDER]     (default: gis_sample)

FOLDER/dem.tif        a digital elevation model: 240 x 320 cells of 25 m, Float32, metres,
                      a valley between two ranges of hills, no-data -9999 on a lake
FOLDER/geology.gpkg   the geological map: polygons with the field `unit` (granite, schist,
                      quartzite, limestone, marl), and alluvium along the valley floor
FOLDER/springs.gpkg   62 springs (points)

All in ETRS89 / UTM zone 30N (EPSG:25830). The values are the same on every run; the
GeoPackages carry the time they were written. Needs GDAL's Python bindings and numpy
(Debian: python3-gdal python3-numpy).
"""
import math
import os
import sys

import numpy as np
from osgeo import gdal, ogr, osr

ROWS, COLS, CELL = 240, 320, 25.0
X0, Y0 = 430000.0, 4586000.0  # top-left corner
EPSG = 25830
UNITS = ["granite", "schist", "quartzite", "limestone", "marl"]


def srs():
    s = osr.SpatialReference()
    s.ImportFromEPSG(EPSG)
    return s


def valley_x(y):
    """The easting of the valley floor at northing y: the river meanders from north to south."""
    t = (Y0 - y) / (ROWS * CELL)
    return X0 + COLS * CELL * (0.45 + 0.08 * math.sin(2 * math.pi * 1.3 * t))


def write_dem(path):
    ys = Y0 - (np.arange(ROWS) + 0.5) * CELL
    xs = X0 + (np.arange(COLS) + 0.5) * CELL
    x, y = np.meshgrid(xs, ys)
    floor = np.vectorize(valley_x)(y)
    across = np.abs(x - floor) / (COLS * CELL)
    z = 620.0 + 900.0 * across ** 1.4 + 25.0 * (Y0 - y) / (ROWS * CELL) * 4
    z += 60.0 * np.sin(x / 700.0) * np.cos(y / 900.0) + 35.0 * np.sin((x + y) / 310.0)
    lake = ((x - (X0 + 5200)) / 350) ** 2 + ((y - (Y0 - 4300)) / 220) ** 2 < 1
    z = np.where(lake, -9999.0, z).astype(np.float32)
    ds = gdal.GetDriverByName("GTiff").Create(path, COLS, ROWS, 1, gdal.GDT_Float32,
                                              ["TILED=YES", "COMPRESS=DEFLATE"])
    ds.SetGeoTransform((X0, CELL, 0.0, Y0, 0.0, -CELL))
    ds.SetProjection(srs().ExportToWkt())
    band = ds.GetRasterBand(1)
    band.SetNoDataValue(-9999.0)
    band.WriteArray(z)
    ds = None


def polygon(points):
    ring = ogr.Geometry(ogr.wkbLinearRing)
    for x, y in points + points[:1]:
        ring.AddPoint_2D(x, y)
    p = ogr.Geometry(ogr.wkbPolygon)
    p.AddGeometry(ring)
    return p


def write_geology(path):
    """Bands of rock striking north-north-east with wavy contacts, then the alluvium."""
    ds = ogr.GetDriverByName("GPKG").CreateDataSource(path)
    layer = ds.CreateLayer("geology", srs(), ogr.wkbPolygon)
    layer.CreateField(ogr.FieldDefn("unit", ogr.OFTString))
    steps = 48
    ys = [Y0 - ROWS * CELL * k / steps for k in range(steps + 1)]
    width = COLS * CELL

    def contact(k, y):
        if k == 0:
            return X0
        if k == 7:
            return X0 + width
        t = (Y0 - y) / (ROWS * CELL)
        return X0 + width * (k / 7 + 0.05 * t) + 180 * math.sin(y / 600.0 + k)

    for k in range(7):
        left = [(contact(k, y), y) for y in ys]
        right = [(contact(k + 1, y), y) for y in reversed(ys)]
        f = ogr.Feature(layer.GetLayerDefn())
        f.SetField("unit", UNITS[k % len(UNITS)])
        f.SetGeometry(polygon(left + right))
        layer.CreateFeature(f)
    # The valley floor: a strip of alluvium about 300 m wide along the river, on top.
    west = [(valley_x(y) - 150 - 40 * math.sin(y / 400.0), y) for y in ys]
    east = [(valley_x(y) + 150 + 40 * math.cos(y / 500.0), y) for y in reversed(ys)]
    f = ogr.Feature(layer.GetLayerDefn())
    f.SetField("unit", "alluvium")
    f.SetGeometry(polygon(west + east))
    layer.CreateFeature(f)
    ds = None


def write_springs(path):
    rng = np.random.default_rng(62)
    ds = ogr.GetDriverByName("GPKG").CreateDataSource(path)
    layer = ds.CreateLayer("springs", srs(), ogr.wkbPoint)
    layer.CreateField(ogr.FieldDefn("name", ogr.OFTString))
    for k in range(62):
        # Springs gather at the foot of the slopes, 200 to 900 m from the river.
        y = Y0 - rng.uniform(0.02, 0.98) * ROWS * CELL
        x = valley_x(y) + rng.choice([-1, 1]) * rng.uniform(200, 900)
        f = ogr.Feature(layer.GetLayerDefn())
        f.SetField("name", f"spring {k + 1}")
        f.SetGeometry(ogr.CreateGeometryFromWkt(f"POINT({x:.1f} {y:.1f})"))
        layer.CreateFeature(f)
    ds = None


def main():
    gdal.UseExceptions()
    ogr.UseExceptions()
    folder = sys.argv[1] if len(sys.argv) > 1 else "gis_sample"
    os.makedirs(folder, exist_ok=True)
    write_dem(os.path.join(folder, "dem.tif"))
    for name, writer in [("geology.gpkg", write_geology), ("springs.gpkg", write_springs)]:
        path = os.path.join(folder, name)
        if os.path.exists(path):
            os.remove(path)
        writer(path)
    print(f"{folder}: dem.tif, geology.gpkg, springs.gpkg (EPSG:{EPSG})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
