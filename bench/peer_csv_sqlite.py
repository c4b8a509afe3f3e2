#!/usr/bin/python3
"""The hand-made pipeline the CSV import is compared with: Python's csv module
reads the file and sqlite3 stores one row per record, in one transaction, into
a table shaped like ours, with the same compact JSON payload per row.

    /usr/bin/python3 bench/peer_csv_sqlite.py FILE DB

Prints "peer-csv-sqlite seconds=S rows=N columns=C checksum=X" like
bench-import: S the wall time from opening the database to the commit, X the
summed length of the stored payloads.
"""

import csv
import json
import os
import sqlite3
import sys
import time


def main():
    if len(sys.argv) != 3:
        sys.exit(f"usage: {sys.argv[0]} FILE DB")
    path, db_path = sys.argv[1], sys.argv[2]
    for suffix in ("", "-wal", "-shm", "-journal"):
        try:
            os.remove(db_path + suffix)
        except FileNotFoundError:
            pass

    start = time.perf_counter()
    db = sqlite3.connect(db_path)
    # The store's connection settings, so that only the work differs.
    db.execute("PRAGMA journal_mode = WAL")
    db.execute("PRAGMA synchronous = NORMAL")
    db.execute("CREATE TABLE data_source_records ("
               " id INTEGER PRIMARY KEY AUTOINCREMENT,"
               " data_source_id INTEGER NOT NULL,"
               " sort_index INTEGER NOT NULL,"
               " payload_json TEXT NOT NULL,"
               " UNIQUE(data_source_id, sort_index))")
    with open(path, newline="", encoding="utf-8-sig") as f:
        reader = csv.reader(f)
        header = [name.strip() for name in next(reader)]
        rows = ((1, i, json.dumps(dict(zip(header, row)), ensure_ascii=False, separators=(",", ":")))
                for i, row in enumerate(r for r in reader if r))
        with db:
            db.executemany("INSERT INTO data_source_records(data_source_id, sort_index, payload_json)"
                           " VALUES(?,?,?)", rows)
    elapsed = time.perf_counter() - start

    count, total = db.execute("SELECT COUNT(*), TOTAL(LENGTH(payload_json)) FROM data_source_records").fetchone()
    db.close()
    print(f"peer-csv-sqlite seconds={elapsed:.3f} rows={count} columns={len(header)} checksum={int(total)}")


if __name__ == "__main__":
    main()
