#!/usr/bin/env python3
"""Computes prime-product hash digests with Python integers, for the unit-test vectors.

The state is one integer modulo 2^(32n); each word rotates it and adds the step terms.
Usage: hash_vectors.py SIZE [WORD ...]   (words in hex); prints the state limbs and digest.
"""
import sys


def primes(count):
    found = [2, 3]
    while len(found) < count:
        candidate = found[-1] + 2
        while True:
            if candidate < 8 or all(candidate % d for d in range(3, candidate // 2, 2)):
                break
            candidate += 2
        found.append(candidate)
    return found


def rotl32(x, r):
    r %= 32
    return ((x << r) | (x >> (32 - r))) & 0xFFFFFFFF if r else x


def main():
    size = int(sys.argv[1])
    words = [int(w, 16) for w in sys.argv[2:]]
    n = max(1, -(-size // 4))
    bits = 32 * n
    mask = (1 << bits) - 1
    state = 1
    for count, w in enumerate(words, 1):
        a = (w + count) & 0xFFFFFFFF
        for i in range(n):
            state = ((state << 31) | (state >> (bits - 31))) & mask
            a = (a + i) & 0xFFFFFFFF
            state = (state + rotl32(a, i)) & mask
    plist = primes(2 * bits)
    product = 1
    for m in range(bits):
        product = product * plist[2 * m + ((state >> m) & 1)] & mask
    limbs = [(state >> (32 * i)) & 0xFFFFFFFF for i in range(n)]
    print("state", " ".join("%08X" % x for x in limbs))
    out = bytes((product >> (32 * (k // 4) + 24 - 8 * (k % 4))) & 0xFF for k in range(size))
    print("digest", out.hex().upper())


if __name__ == "__main__":
    main()
