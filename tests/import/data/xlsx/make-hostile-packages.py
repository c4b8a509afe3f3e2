#!/usr/bin/python3
"""Writes the hand-made packages of the Excel reader's tests: ZIP archives
whose records were altered in ways no spreadsheet program writes, to check
that the reader refuses them with a message and without exhausting memory.

    /usr/bin/python3 tests/import/data/xlsx/make-hostile-packages.py

Each starts from a small valid workbook written by openpyxl (one worksheet:
Name / Alice) and changes one thing. Record layouts are those of PKWARE's
APPNOTE.TXT (local file header 4.3.7, central directory header 4.3.12). The
output is committed; every file stays well under 1 MB.

XML-level oddities (relationship targets, entity bombs, deep nesting, cell
references past XFD) are built by the test itself with small literal parts.
"""

import io
import os
import struct
import zipfile

import openpyxl

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "hostile")
SHEET = "xl/worksheets/sheet1.xml"

LOCAL_SIGNATURE = b"PK\x03\x04"
CENTRAL_SIGNATURE = b"PK\x01\x02"

# Offsets within the fixed part of each record.
LOCAL = {"flags": 6, "method": 8, "crc": 14, "compressed": 18, "uncompressed": 22}
CENTRAL = {"flags": 8, "method": 10, "crc": 16, "compressed": 20, "uncompressed": 24}
WIDTH = {"flags": 2, "method": 2, "crc": 4, "compressed": 4, "uncompressed": 4}


def base_parts():
    wb = openpyxl.Workbook()
    wb.active.append(["Name"])
    wb.active.append(["Alice"])
    buffer = io.BytesIO()
    wb.save(buffer)
    with zipfile.ZipFile(buffer) as z:
        return [(name, z.read(name)) for name in z.namelist()]


def package(replace=None, method=zipfile.ZIP_DEFLATED, sheet_method=None, extra=()):
    """A package of the base parts, SHEET replaced by `replace` when given,
    with the (name, bytes) pairs of `extra` added."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        for name, data in base_parts() + list(extra):
            if name == SHEET and replace is not None:
                data = replace
            chosen = sheet_method if (name == SHEET and sheet_method is not None) else method
            z.writestr(zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0)), data,
                       compress_type=chosen, compresslevel=9 if chosen == zipfile.ZIP_DEFLATED else None)
    return bytearray(out.getvalue())


def patch(data, name, **fields):
    """Sets fields of the entry `name` in both its local and its central record."""
    encoded = name.encode()
    with zipfile.ZipFile(io.BytesIO(bytes(data))) as z:
        local = z.getinfo(name).header_offset
    central = data.find(CENTRAL_SIGNATURE)
    while central >= 0:
        name_length = struct.unpack_from("<H", data, central + 28)[0]
        if data[central + 46:central + 46 + name_length] == encoded:
            break
        central = data.find(CENTRAL_SIGNATURE, central + 4)
    assert data[local:local + 4] == LOCAL_SIGNATURE and central >= 0
    for field, value in fields.items():
        form = "<H" if WIDTH[field] == 2 else "<I"
        struct.pack_into(form, data, local + LOCAL[field], value)
        struct.pack_into(form, data, central + CENTRAL[field], value)
    return data


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)
    assert len(data) < 1024 * 1024, name


def main():
    os.makedirs(HERE, exist_ok=True)
    bomb = b"<worksheet>" + b" " * (150 * 1024 * 1024)  # 150 MiB, deflates to ~150 KB

    # The directory states 200,000,000 bytes for a worksheet of a few hundred.
    write("stated-size-over-limit.xlsx", patch(package(), SHEET, uncompressed=200_000_000))

    # The same for an optional part: refused too, not taken as absent.
    shared = "xl/sharedStrings.xml"
    write("shared-strings-over-limit.xlsx",
          patch(package(extra=[(shared, b"<sst/>")]), shared, uncompressed=200_000_000))

    # An honest bomb: the directory states the real 150 MiB, over the limit.
    write("deflate-bomb-honest.xlsx", package(bomb))

    # The same data with the directory understating it as 4 KiB: only what
    # the data really inflates to can reveal it.
    write("deflate-bomb-understated.xlsx", patch(package(bomb), SHEET, uncompressed=4096))

    # Flag bit 0: traditional PKWARE encryption.
    data = package()
    with zipfile.ZipFile(io.BytesIO(bytes(data))) as z:
        flags = z.getinfo(SHEET).flag_bits
    write("encrypted-entry.xlsx", patch(data, SHEET, flags=flags | 1))

    # Method 12, bzip2.
    write("unsupported-method.xlsx", package(sheet_method=zipfile.ZIP_BZIP2))

    # Deflate data with a run of bytes overwritten in the middle.
    data = package(b"<worksheet>" + b"".join(
        b"<row><c t=\"inlineStr\"><is><t>%d</t></is></c></row>" % i for i in range(2000))
        + b"</worksheet>")
    with zipfile.ZipFile(io.BytesIO(bytes(data))) as z:
        info = z.getinfo(SHEET)
    start = info.header_offset + 30 + len(SHEET) + len(info.extra)
    middle = start + info.compress_size // 2
    data[middle:middle + 16] = b"\xff" * 16
    write("corrupt-deflate.xlsx", data)

    # A stored worksheet with one byte changed: only its checksum tells.
    data = package(method=zipfile.ZIP_STORED)
    with zipfile.ZipFile(io.BytesIO(bytes(data))) as z:
        info = z.getinfo(SHEET)
    start = info.header_offset + 30 + len(SHEET) + len(info.extra)
    at = data.index(b"Alice", start)
    data[at] = ord("B")
    write("stored-checksum-mismatch.xlsx", data)

    # A stored worksheet whose stated size is smaller than its data.
    data = package(method=zipfile.ZIP_STORED)
    with zipfile.ZipFile(io.BytesIO(bytes(data))) as z:
        size = z.getinfo(SHEET).file_size
    write("stored-understated.xlsx", patch(data, SHEET, uncompressed=size // 2))

    # Valid but unusual: sizes in data descriptors after the data (flag bit 3,
    # zero sizes in the local headers), as writers that stream do.
    out = io.BytesIO()

    class Unseekable(io.RawIOBase):
        def writable(self):
            return True

        def write(self, b):
            return out.write(b)

    with zipfile.ZipFile(Unseekable(), "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in base_parts():
            z.writestr(name, data)
    write("data-descriptors.xlsx", out.getvalue())

    # Valid but unusual: an archive comment after the end record.
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in base_parts():
            z.writestr(name, data)
        z.comment = b"written by a tool that signs its archives " * 20
    write("archive-comment.xlsx", out.getvalue())


if __name__ == "__main__":
    main()
