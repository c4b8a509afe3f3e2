#!/usr/bin/python3
"""Independent reference for the scratch-card prize order.

Computes, in plain Python, the prize allocation (card counts by card count or
by percentage with largest-remainder rounding), the MT19937 generator, the
bounded draw, the shuffle and the seed of a field, and writes the expected
card orders to prize_shuffle_reference.json beside this script. The C++ tests
read that file; this script's check mode confirms that it is current.

    /usr/bin/python3 prize_shuffle_reference.py           check the committed file
    /usr/bin/python3 prize_shuffle_reference.py --write   write it anew

Only the standard library is used. The generator is checked against
Python's own Mersenne Twister (random.Random loaded with the same state), so
that the seeding, the twist and the tempering are confirmed by an
implementation that is not ours.
"""

import hashlib
import json
import math
import os
import random
import sys

FIXTURE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "prize_shuffle_reference.json")
MASK32 = 0xFFFFFFFF


class MT19937:
    N, M = 624, 397

    def __init__(self, seed):
        mt = [seed & MASK32]
        for i in range(1, self.N):
            prev = mt[i - 1]
            mt.append((1812433253 * (prev ^ (prev >> 30)) + i) & MASK32)
        self.mt = mt
        self.index = self.N

    def initial_state(self):
        return list(self.mt)

    def _twist(self):
        mt = self.mt
        for i in range(self.N):
            y = (mt[i] & 0x80000000) | (mt[(i + 1) % self.N] & 0x7FFFFFFF)
            mt[i] = mt[(i + self.M) % self.N] ^ (y >> 1) ^ (0x9908B0DF if y & 1 else 0)
        self.index = 0

    def next(self):
        if self.index >= self.N:
            self._twist()
        y = self.mt[self.index]
        self.index += 1
        y ^= y >> 11
        y ^= (y << 7) & 0x9D2C5680
        y ^= (y << 15) & 0xEFC60000
        y ^= y >> 18
        return y & MASK32


def uniform(gen, b):
    """An integer from 0 to b inclusive."""
    r = b + 1
    p = gen.next() * r
    low = p % (1 << 32)
    if low < r:
        t = ((1 << 32) - r) % r
        while low < t:
            p = gen.next() * r
            low = p % (1 << 32)
    return p >> 32


def shuffle(items, seed):
    n = len(items)
    if n < 2:
        return items
    gen = MT19937(seed)
    if MASK32 // n >= n:
        i = 1
        if n % 2 == 0:
            j = uniform(gen, 1)
            items[1], items[j] = items[j], items[1]
            i = 2
        while i < n:
            s = i + 1
            x = uniform(gen, s * (s + 1) - 1)
            a = x // (s + 1)
            items[i], items[a] = items[a], items[i]
            b = x % (s + 1)
            items[i + 1], items[b] = items[b], items[i + 1]
            i += 2
    else:
        for i in range(1, n):
            j = uniform(gen, i)
            items[i], items[j] = items[j], items[i]
    return items


def prize_seed(field_id, total, mode):
    k = 0x9E3779B9 if mode == "ratio" else 0x85EBCA6B
    return (((field_id & MASK32) * 0x9E3779B1) & MASK32) ^ (total & MASK32) ^ k


def round_half_away(v):
    """v rounded to a whole number, halves away from zero (v >= 0 here)."""
    whole = math.floor(v)
    return whole + 1 if v - whole >= 0.5 else whole


def counts_for(mode, total, prizes):
    """The card count of each prize, or the failure message."""
    if not prizes:
        return "At least one prize is required"
    for name, value in prizes:
        if name.strip() == "" or math.isinf(value) or value < 0:
            return "Prize names cannot be empty, and values cannot be negative."
    if mode == "ratio":
        if total < 1:
            return "Total card count must be greater than zero in percentage mode."
        if abs(sum_in_order([v for _, v in prizes]) - 100) > 0.001:
            return "Prize percentages must add up to 100%"
        counts, remainders = [], []
        for _, value in prizes:
            exact = value * total / 100
            base = math.floor(exact)
            counts.append(base)
            remainders.append(exact - base)
        order = sorted(range(len(prizes)), key=lambda i: -remainders[i])  # sorted() is stable
        missing = total - sum(counts)
        for k in range(max(missing, 0)):
            counts[order[k % len(prizes)]] += 1
        return counts
    counts = []
    for _, value in prizes:
        count = round_half_away(value)
        if abs(value - count) > 0.000001:
            return "At least one prize must have a positive card count."
        counts.append(count)
    if sum(counts) <= 0:
        return "Total prize count must be greater than 0"
    return counts


def sum_in_order(values):
    total = 0.0
    for v in values:
        total += v
    return total


def allocate(mode, total, prizes, seed):
    counts = counts_for(mode, total, prizes)
    if isinstance(counts, str):
        return counts, None
    cards = []
    for (name, _), count in zip(prizes, counts):
        cards.extend([name.strip()] * count)
    return counts, shuffle(cards, seed)


def sha256_lines(cards):
    return hashlib.sha256("\n".join(cards).encode("utf-8")).hexdigest()


def check_generator():
    """Our MT19937 against Python's, loaded with the same initial state."""
    for seed in (0, 1, 5489, 0x85EBCA6B, MASK32):
        ours = MT19937(seed)
        theirs = random.Random()
        theirs.setstate((3, tuple(ours.initial_state()) + (624,), None))
        for _ in range(2000):
            a, b = ours.next(), theirs.getrandbits(32)
            if a != b:
                sys.exit(f"MT19937 with seed {seed} differs from Python's own: {a} != {b}")
    first = MT19937(5489)
    if [first.next() for _ in range(2)] != [3499211612, 581869302]:
        sys.exit("MT19937 with seed 5489 does not start with the published outputs")


def build():
    check_generator()

    gen = MT19937(5489)
    outputs = [gen.next() for _ in range(10000)]
    generator = [
        {"seed": 5489, "first": outputs[:5], "at10000": outputs[9999]},
    ]
    for seed in (0, 42, 0xDEADBEEF):
        g = MT19937(seed)
        generator.append({"seed": seed, "first": [g.next() for _ in range(5)]})

    # Draws of uniform(0, b) from one generator, one bound after another:
    # small bounds, bounds that reject often (just above 2^31) and the
    # whole 32-bit range.
    draw_seed = 2024
    bounds = [0, 1, 2, 6, 9, 99, 65535, 2147483648, 3000000000, 4294967294, 4294967295] * 3
    g = MT19937(draw_seed)
    draws = {"seed": draw_seed, "bounds": bounds, "results": [uniform(g, b) for b in bounds]}

    # Shuffles of distinct names, one card each (count mode).
    shuffles = []
    seeds = [0, 1, 5489, 0xFFFFFFFF, prize_seed(1, 10000, "count"), prize_seed(7, 250, "ratio"),
             prize_seed(123456, 10000, "count"), prize_seed(-1, 0, "other")]
    for length in (2, 3, 8, 9):
        names = [f"Prize {chr(ord('A') + i)}" for i in range(length)]
        for seed in seeds:
            _, order = allocate("count", 0, [(n, 1) for n in names], seed)
            shuffles.append({"names": names, "seed": seed, "order": order})

    seeds_of_fields = []
    for field_id, total, mode in [(1, 10000, "count"), (1, 10000, "ratio"), (7, 250, "ratio"),
                                  (123456, 10000, "count"), (-1, 0, "other"), (2**32 + 5, 2**32 + 9, "ratio"),
                                  (0, 10000000, "ratio")]:
        seeds_of_fields.append({"fieldId": field_id, "total": total, "mode": mode,
                                "seed": prize_seed(field_id, total, mode)})

    # Whole runs: the starter list, percentages with equal and unequal
    # remainders, a list of one prize.
    runs = []
    for field_id, mode, total, prizes in [
        (1, "count", 10000, [("First Prize", 2), ("Thanks for Playing", 500)]),
        (3, "ratio", 10, [("Gold", 25), ("Silver", 25), ("Bronze", 50)]),
        (4, "ratio", 7, [("A", 33.3), ("B", 33.3), ("C", 33.4)]),
        (5, "ratio", 1000, [("Car", 0.1), ("Bike", 9.95), ("Cap", 39.9495), ("Try again", 50)]),
        (6, "ratio", 3, [("X", 10), ("Y", 10), ("Z", 80)]),
        (8, "count", 0, [("Only prize", 5)]),
        (9, "count", 0, [(" Spaced ", 2), ("Other", 3.0000004)]),
    ]:
        seed = prize_seed(field_id, total, mode)
        counts, order = allocate(mode, total, prizes, seed)
        runs.append({"fieldId": field_id, "mode": mode, "total": total,
                     "prizes": [{"name": n, "value": v} for n, v in prizes],
                     "seed": seed, "counts": counts, "order": order})

    # Long lists on both sides of the branch: 65,535 is the longest list
    # shuffled two entries per draw, 65,536 the shortest shuffled one entry
    # per draw, and 70,000 well inside the latter.
    long_runs = []
    for count, field_id in [(65535, 41), (65536, 42), (70000, 42)]:
        names = [f"card-{i:05d}" for i in range(count)]
        seed = prize_seed(field_id, count, "count")
        _, order = allocate("count", 0, [(n, 1) for n in names], seed)
        middle = count // 2 - 50
        long_runs.append({"count": count, "namePattern": "card-%05d", "seed": seed, "sha256": sha256_lines(order),
                          "first": order[:100], "middleFrom": middle, "middle": order[middle:middle + 100],
                          "last": order[-100:]})

    return {"generator": generator, "draws": draws, "seeds": seeds_of_fields, "shuffles": shuffles,
            "runs": runs, "long": long_runs}


def render(data, indent=""):
    """JSON with one member or list entry per line, lists of plain values on one line."""
    inner = indent + " "
    if isinstance(data, dict):
        members = [f"{inner}{json.dumps(k)}: {render(v, inner)}" for k, v in sorted(data.items())]
        return "{\n" + ",\n".join(members) + "\n" + indent + "}" + ("\n" if not indent else "")
    if isinstance(data, list) and any(isinstance(v, (dict, list)) for v in data):
        return "[\n" + ",\n".join(inner + render(v, inner) for v in data) + "\n" + indent + "]"
    return json.dumps(data, ensure_ascii=False)


def main():
    text = render(build())
    if sys.argv[1:] == ["--write"]:
        with open(FIXTURE, "w", encoding="utf-8") as f:
            f.write(text)
        print(f"wrote {FIXTURE}")
        return 0
    if sys.argv[1:]:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        with open(FIXTURE, encoding="utf-8") as f:
            current = f.read()
    except OSError as e:
        print(f"cannot read {FIXTURE}: {e}", file=sys.stderr)
        return 1
    if current != text:
        print(f"{FIXTURE} is not what this script writes; run it with --write", file=sys.stderr)
        return 1
    print("prize order fixture is current")
    return 0


if __name__ == "__main__":
    sys.exit(main())
