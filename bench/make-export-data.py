#!/usr/bin/python3
"""Writes the export benchmark's card data: a CSV with a header line and one
row per card, from a fixed seed so that every run prints the same cards.

    /usr/bin/python3 bench/make-export-data.py OUT_FILE [ROWS]   (default 10000 rows)

Columns:
  Seq   the card's sequence text, "No." and six digits from No.000001: what
        our sequence field prints with its default settings. gLabels has no
        sequence of its own, so its template prints this column instead.
  Code  12 random digits, unique within the file: the Code 128 and QR data.
  Name  first and last name, some with accents.
  City  a city name.

No value holds a comma, a quote or a line break, so gLabels' plain CSV merge
and our CSV reader split every line alike, and the first N rows of the file
(head -n N+1) are a valid N-row file of the same cards.
"""

import csv
import os
import random
import sys

SEED = 20240917
FIRST = ["José", "Zoë", "Émile", "Søren", "Łukasz", "Renée", "Jürgen", "Ana",
         "Björn", "Chloé", "François", "Hélène", "Jiří", "Maëlle", "Paweł",
         "Sébastien", "Tomás", "Ursula", "Yusuf", "Mary", "John", "Aiko",
         "Priya", "Liam", "Olga", "Mateo", "Ingrid", "Kofi"]
LAST = ["Müller", "García", "Nowak", "Dvořák", "Lefèvre", "Sánchez", "Schröder",
        "Kovačević", "Gonçalves", "Åkesson", "Žák", "Smith", "Van der Berg",
        "Jäger", "Núñez", "Weiß", "Szabó", "Moreau", "Rossi", "Köhler",
        "Tanaka", "Okafor", "Lindqvist", "Patel"]
CITIES = ["Zürich", "München", "Kraków", "São Paulo", "Malmö", "Québec",
          "Reykjavík", "Łódź", "Göteborg", "Córdoba", "Besançon", "Düsseldorf",
          "Brno", "Ålesund", "Plzeň", "Nîmes", "Genève", "Toruń", "Aarhus",
          "Montréal", "Paris", "Wien", "Porto", "Helsinki", "Osaka", "Accra"]


def generate_rows(count):
    rng = random.Random(SEED)
    seen = set()
    for i in range(count):
        code = f"{rng.randrange(10**12):012d}"
        while code in seen:
            code = f"{rng.randrange(10**12):012d}"
        seen.add(code)
        yield {
            "Seq": f"No.{i + 1:06d}",
            "Code": code,
            "Name": f"{rng.choice(FIRST)} {rng.choice(LAST)}",
            "City": rng.choice(CITIES),
        }


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(f"usage: {sys.argv[0]} OUT_FILE [ROWS]")
    out = sys.argv[1]
    rows = int(sys.argv[2]) if len(sys.argv) == 3 else 10000
    if rows < 1:
        sys.exit("ROWS must be at least 1")
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    tmp = out + ".tmp"
    with open(tmp, "w", encoding="utf-8", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=["Seq", "Code", "Name", "City"], lineterminator="\n",
                                quoting=csv.QUOTE_NONE)
        writer.writeheader()
        writer.writerows(generate_rows(rows))
    os.replace(tmp, out)


if __name__ == "__main__":
    main()
