#!/usr/bin/env python3
"""Computes encrypted stream files with plain Python integers, for the unit-test vectors.

The key comes from a 288-byte seed, the context's generator from a 32-byte seed; the input is
byte i = (i * 13) mod 256. Each block takes as many input bytes as it requests (or what is
left), is completed with generator filler, gathered through the block order, XORed with the
block pad and, with inflate, expanded fourfold through the two code tables.

Usage:
  stream_vectors.py [--key-seed HEX] [--rng-seed HEX] [--options 0,1,2,3] [--sizes 0,1,...]
                    [--full]
Without --key-seed the key seed is byte i = (i * 7 + 3) mod 256. For each option and size it
prints one line: options, size, stream length, header hex, the number of input bytes taken by
each of the first three blocks, the first 32 bytes of block 0, and the FNV-1a 64 of the whole
stream (with --full, the whole stream as hex instead).
"""
import argparse

MASK64 = (1 << 64) - 1


def rotl(value, count):
    count %= 64
    return ((value << count) | (value >> (64 - count))) & MASK64 if count else value


def be64(data, offset):
    return int.from_bytes(data[offset:offset + 8], "big")


class Rng:
    """Four 64-bit words; counter from seed bytes 24-31, x, y, z from bytes 0-23."""

    def __init__(self, seed):
        assert len(seed) == 32
        self.x, self.y, self.z, self.counter = (be64(seed, 8 * i) for i in range(4))

    def step(self):
        out = self.x ^ self.y ^ self.z
        self.counter = (self.counter + 1) & MASK64
        swap = (self.counter & 0x3FF) == 0
        old_x, old_z = self.x, self.z
        self.x = rotl(old_z if swap else old_x, 11)
        if (self.counter & 0x3F) == 0:
            self.y = rotl(self.y, 13)
        self.z = (rotl(old_x if swap else old_z, 17) + out) & MASK64
        return out

    def byte(self):
        return self.step() & 0xFF


class Key:
    """A 256-byte permutation k and the words a, b, c, s."""

    def __init__(self, seed):
        assert len(seed) >= 288
        self.k = list(range(256))
        for i in range(256):
            j = seed[i]
            self.k[i], self.k[j] = self.k[j], self.k[i]
        self.a, self.b, self.c, self.s = (be64(seed, 256 + 8 * i) for i in range(4))


def code_tables(k):
    """row_codes[v][col] and col_codes[v][col], col = 16 * j + m."""
    row_codes = [[0] * 256 for _ in range(256)]
    col_codes = [[0] * 256 for _ in range(256)]
    for v in range(256):
        hi, lo = v >> 4, v & 15
        for j in range(16):
            for m in range(16):
                row_codes[v][16 * j + m] = k[16 * hi + j] * 256 + k[16 * lo + m]
                col_codes[v][16 * j + m] = k[16 * j + hi] * 256 + k[16 * m + lo]
    return row_codes, col_codes


def block_pad(a, b, c, s, number):
    """The 257 pad bytes of a block: 0-255 for the order and the XOR, 256 for its length."""
    t = (s + number) & MASK64
    x = (rotl(c, t % 64) * t) & MASK64
    y = x ^ a
    z = (x + b) & MASK64
    pad = []
    for p in range(257):
        pad.append((((z ^ y) + x) & MASK64) & 0xFF)
        y = rotl(y, 11)
        if p % 3 == 0:
            z = rotl(z, 13)
        if p % 5 == 0:
            x = rotl(x, 17)
    return pad


def block_order(k, pad):
    order = list(k)
    for p in range(256):
        q = pad[p]
        order[p], order[q] = order[q], order[p]
    return order


def requested_length(pad, partial):
    return ((pad[256] | 0x80) + 1) if partial else 256


def inflate_4x(block, rng, row_codes, col_codes):
    """Two passes, each from the top down, one generator byte per code choice."""
    expanded = [0] * 1024
    for p in range(255, -1, -1):
        code = row_codes[block[p]][rng.byte()]
        expanded[2 * p], expanded[2 * p + 1] = code >> 8, code & 0xFF
    for q in range(511, -1, -1):
        code = col_codes[expanded[q]][rng.byte()]
        expanded[2 * q], expanded[2 * q + 1] = code >> 8, code & 0xFF
    return expanded


def encode(key, rng, options, data, tables):
    """Returns the stream bytes, the requested lengths and the input bytes of each block."""
    partial, inflate = bool(options & 1), bool(options & 2)
    mods = [rng.step() for _ in range(4)]
    a = key.a ^ mods[0]
    b, c, s = a ^ mods[1], a ^ mods[2], a ^ mods[3]

    stream = bytearray(b"JXD" + bytes([1, options]))
    for word in mods:
        stream += word.to_bytes(8, "big")

    requested = [requested_length(block_pad(a, b, c, s, i), partial) for i in range(3)]
    taken = []
    position, number = 0, 0
    while True:
        pad = block_pad(a, b, c, s, number)
        order = block_order(key.k, pad)
        length = requested_length(pad, partial)
        chunk = data[position:position + length]
        if not chunk:
            break
        taken.append(len(chunk))
        position += len(chunk)
        buffer = list(chunk) + [rng.byte() for _ in range(256 - len(chunk))]
        out = [buffer[order[p]] ^ pad[p] for p in range(256)]
        if inflate:
            out = inflate_4x(out, rng, *tables)
        stream += bytes(out)
        number += 1

    stream += position.to_bytes(8, "big")
    return bytes(stream), requested, taken


def fnv1a64(data):
    value = 0xCBF29CE484222325
    for byte in data:
        value = ((value ^ byte) * 0x100000001B3) & MASK64
    return value


def int_list(text):
    return [int(item) for item in text.split(",") if item]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--key-seed", help="288 or more bytes as hex")
    parser.add_argument("--rng-seed", default="".join(f"{i:02x}" for i in range(32)))
    parser.add_argument("--options", type=int_list, default=[0, 1, 2, 3])
    parser.add_argument("--sizes", type=int_list, default=[0, 1, 255, 256, 257, 600])
    parser.add_argument("--full", action="store_true")
    args = parser.parse_args()

    if args.key_seed:
        key_seed = bytes.fromhex(args.key_seed)
    else:
        key_seed = bytes((i * 7 + 3) % 256 for i in range(288))
    rng_seed = bytes.fromhex(args.rng_seed)
    key = Key(key_seed)
    tables = code_tables(key.k)

    for options in args.options:
        for size in args.sizes:
            data = bytes((i * 13) % 256 for i in range(size))
            stream, requested, taken = encode(key, Rng(rng_seed), options, data, tables)
            line = [f"options={options}", f"size={size}", f"length={len(stream)}",
                    f"header={stream[:37].hex()}",
                    "requested=" + ",".join(map(str, requested[:3])),
                    "taken=" + ",".join(map(str, taken[:3]))]
            if args.full:
                line.append(f"stream={stream.hex()}")
            else:
                line.append(f"block0={stream[37:69].hex() if taken else ''}")
                line.append(f"fnv=0x{fnv1a64(stream):016x}")
            print(" ".join(line))


if __name__ == "__main__":
    main()
