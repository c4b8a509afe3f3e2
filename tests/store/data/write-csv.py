#!/usr/bin/python3
"""Writes a CSV file with Python's csv module (its writer, plus lines written
by hand with stray quotes inside unquoted fields, as hand-made exports have
them), reads it back with Python's csv reader, and prints as JSON what the
import must store: the header with every name settled (trimmed, "Field N"
for an empty one, "_2", "_3" for one already taken) and the data rows, the
blank ones left out.

Usage: write-csv.py PATH CODEC DELIMITER ROWS SEED (run by tst_csvimport)
"""
import csv, json, random, sys

path, codec, delimiter, count, seed = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
rnd = random.Random(seed)
ascii_pieces = ['plain', 'say "hi"', '"', '""x', 'end"', 'a,b', 'a;b', 'a\tb', 'two\nlines', 'cr\r\nlf',
                'cr\ronly', ' pad ', '', "O'Brien", '\\', '{"json": 1}']
wide_pieces = ['Zo\u00eb', 'M\u00fcller', '\u20ac 5', '\u00bd', '\u2018q\u2019 \u201cq\u201d \u2013']
if codec != 'cp1252':
    wide_pieces += ['\u6771\u4eac', '\U0001F600 \U0001F39F', '\u01c5', 'Z\u0301']
# In Windows-1252 every character before the last rows is ASCII: the first
# byte beyond it comes far behind the first 64 KiB.
pieces = ascii_pieces + (wide_pieces if codec != 'cp1252' else [])

header = ['Name', 'Name', ' City', '', 'Note', 'City', 'Name_2']
with open(path, 'w', encoding=codec, newline='') as f:
    writer = csv.writer(f, delimiter=delimiter)
    writer.writerow(header)
    for i in range(count):
        if i % 10 == 9:
            f.write(delimiter.join([str(i), 'x"y', '24" display', 'a"b"c', 'z"']) + '\r\n')
        else:
            writer.writerow([str(i)] + [rnd.choice(pieces) for _ in range(rnd.randint(1, 8))])
    writer.writerow(['last'] + wide_pieces)

def blank(row):
    return len(row) == 0 or (len(row) == 1 and row[0].strip() == '')

with open(path, encoding=codec, newline='') as f:
    rows = [row for row in csv.reader(f, delimiter=delimiter) if not blank(row)]

names, taken = [], set()
for i, name in enumerate(rows[0]):
    name = name.strip() or 'Field %d' % (i + 1)
    if name in taken:
        n = 2
        while '%s_%d' % (name, n) in taken:
            n += 1
        name = '%s_%d' % (name, n)
    taken.add(name)
    names.append(name)
json.dump({'header': names, 'rows': rows[1:]}, sys.stdout)
