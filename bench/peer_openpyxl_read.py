#!/usr/bin/python3
"""openpyxl's streaming mode on a workbook, the way a Python user reads a large
sheet: load_workbook(read_only=True), then every cell value of the first sheet.

    /usr/bin/python3 bench/peer_openpyxl_read.py FILE

Prints "peer-openpyxl seconds=S rows=N columns=C cells=K", N the data rows
after the header row, K the non-empty cells read.
"""

import sys
import time

import openpyxl


def main():
    if len(sys.argv) != 2:
        sys.exit(f"usage: {sys.argv[0]} FILE")
    start = time.perf_counter()
    workbook = openpyxl.load_workbook(sys.argv[1], read_only=True)
    sheet = workbook.worksheets[0]
    rows = columns = cells = 0
    for row in sheet.iter_rows(values_only=True):
        rows += 1
        columns = max(columns, len(row))
        for value in row:
            if value is not None:
                cells += 1
    workbook.close()
    elapsed = time.perf_counter() - start
    print(f"peer-openpyxl seconds={elapsed:.3f} rows={rows - 1} columns={columns} cells={cells}")


if __name__ == "__main__":
    main()
