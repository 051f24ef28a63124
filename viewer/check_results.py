"""Checks veloraview's files against the report they were made from.

    check_results.py xml FOLDER     result.vtu and result.svg are well-formed
                                    XML; the grid has the model's counts and
                                    the report's values; the picture one
                                    filled polygon per element.
    check_results.py vtk FOLDER     VTK's own reader loads result.vtu with the
                                    right counts and range of stress_1
                                    (exit 77, a skip, without VTK).
    check_results.py png FILE       a rendered picture is not blank.

Standard library only, except for the vtk mode.
"""
import os
import struct
import sys
import xml.etree.ElementTree as ET
import zlib

SVG = "{http://www.w3.org/2000/svg}"


def report_tables(folder):
    """The report's node count, element count and stress 1 column, read
    independently of the program: the rows between the headings."""
    lines = open(os.path.join(folder, "output.txt")).read().split("\n")
    def rows(heading):
        i = lines.index(heading) + 3
        out = []
        while lines[i].strip():
            out.append([float(w) for w in lines[i].split()[1:]])
            i += 1
        return out
    displ = rows(" Node             Displ X             Displ Y             Displ Z")
    stress = rows("Element            Stress-1            Stress-2")
    return displ, [s[0] for s in stress]


def check_xml(folder):
    displ, stress1 = report_tables(folder)
    root = ET.parse(os.path.join(folder, "result.vtu")).getroot()
    assert root.tag == "VTKFile" and root.get("type") == "UnstructuredGrid", root.tag
    piece = root.find("UnstructuredGrid/Piece")
    assert int(piece.get("NumberOfPoints")) == len(displ), piece.attrib
    assert int(piece.get("NumberOfCells")) == len(stress1), piece.attrib
    arrays = {a.get("Name"): [float(w) for w in a.text.split()] for a in piece.iter("DataArray") if a.get("Name")}
    assert arrays["stress_1"] == stress1, "stress_1 differs from the report"
    assert arrays["displacement"] == [x for row in displ for x in row], "displacement differs from the report"
    assert len(arrays["reaction"]) == 3 * len(displ)
    assert len(arrays["connectivity"]) == 3 * len(stress1)
    assert set(arrays["types"]) == {5.0}
    points = piece.find("Points/DataArray").text.split()
    assert len(points) == 3 * len(displ)

    svg = ET.parse(os.path.join(folder, "result.svg")).getroot()
    assert svg.tag == SVG + "svg", svg.tag
    polygons = list(svg.iter(SVG + "polygon"))
    assert len(polygons) == len(stress1), (len(polygons), len(stress1))
    assert all(p.get("fill", "").startswith("#") for p in polygons), "a polygon without fill"
    print(f"result.vtu and result.svg: {len(displ)} nodes, {len(stress1)} elements, values as in the report")


def check_vtk(folder):
    try:
        import vtk  # Debian's python3-vtk9
    except ImportError:
        print("VTK for Python is not installed (Debian package python3-vtk9): skipped")
        sys.exit(77)
    displ, stress1 = report_tables(folder)
    reader = vtk.vtkXMLUnstructuredGridReader()
    reader.SetFileName(os.path.join(folder, "result.vtu"))
    reader.Update()
    assert reader.GetErrorCode() == 0, "VTK could not read result.vtu"
    grid = reader.GetOutput()
    assert grid.GetNumberOfPoints() == len(displ), grid.GetNumberOfPoints()
    assert grid.GetNumberOfCells() == len(stress1), grid.GetNumberOfCells()
    assert all(grid.GetCellType(i) == vtk.VTK_TRIANGLE for i in range(grid.GetNumberOfCells()))
    lo, hi = grid.GetCellData().GetArray("stress_1").GetRange()
    assert (lo, hi) == (min(stress1), max(stress1)), (lo, hi)
    assert grid.GetPointData().GetArray("displacement").GetNumberOfComponents() == 3
    assert grid.GetPointData().GetArray("reaction").GetNumberOfComponents() == 3
    print(f"VTK reads result.vtu: {grid.GetNumberOfPoints()} points, {grid.GetNumberOfCells()} cells, "
          f"stress_1 from {lo} to {hi}")


def png_pixels(path):
    """Decodes an 8-bit RGB or RGBA PNG: (width, height, channels, rows)."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, head = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            head = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour = head[:4]
    assert depth == 8 and colour in (2, 6), head
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prev = [], bytearray(stride)
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = prev[i]
            c = prev[i - channels] if i >= channels else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prev = line
    return width, height, channels, rows


def check_png(path):
    width, height, channels, rows = png_pixels(path)
    painted, colours = 0, set()
    for line in rows:
        for x in range(0, width * channels, channels):
            px = tuple(line[x:x + 3])
            if px != (255, 255, 255):
                painted += 1
            colours.add(px)
    share = painted / (width * height)
    print(f"{path}: {width} x {height}, {100 * share:.1f} % painted, {len(colours)} colours")
    assert share > 0.15, "the picture is nearly blank"
    assert len(colours) > 20, "the picture has almost no colours"


if __name__ == "__main__":
    mode, where = sys.argv[1], sys.argv[2]
    {"xml": check_xml, "vtk": check_vtk, "png": check_png}[mode](where)
