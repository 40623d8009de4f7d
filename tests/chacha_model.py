"""A plain-Python model of the seeded random source, used as an independent oracle by the
simulation tests: ChaCha12 blocks (64-bit counter, 64-bit stream number), a buffer of four blocks, 64-bit
outputs that may straddle a refill, keys filled from a 64-bit seed by PCG32 steps, and the
inclusive [0, 1] draw of link attempts. Blocks are computed when first read, so that short
trials stay cheap; the outputs are those of whole four-block refills."""

import struct

MASK32 = 0xFFFFFFFF
MASK64 = 0xFFFFFFFFFFFFFFFF
CONSTANTS = (0x61707865, 0x3320646E, 0x79622D32, 0x6B206574)  # "expand 32-byte k"
BUFFER_WORDS = 64


def chacha12_block(key, counter, stream=0):
    """The sixteen output words of one block: constants, key, 64-bit counter, 64-bit stream number."""
    initial = list(CONSTANTS) + list(key) + [counter & MASK32, counter >> 32, stream & MASK32, stream >> 32]
    x0, x1, x2, x3, x4, x5, x6, x7, x8, x9, x10, x11, x12, x13, x14, x15 = initial
    m = MASK32

    def qr(a, b, c, d):
        a = (a + b) & m
        d ^= a
        d = ((d << 16) | (d >> 16)) & m
        c = (c + d) & m
        b ^= c
        b = ((b << 12) | (b >> 20)) & m
        a = (a + b) & m
        d ^= a
        d = ((d << 8) | (d >> 24)) & m
        c = (c + d) & m
        b ^= c
        b = ((b << 7) | (b >> 25)) & m
        return a, b, c, d

    for _ in range(6):  # six double rounds: columns, then diagonals
        x0, x4, x8, x12 = qr(x0, x4, x8, x12)
        x1, x5, x9, x13 = qr(x1, x5, x9, x13)
        x2, x6, x10, x14 = qr(x2, x6, x10, x14)
        x3, x7, x11, x15 = qr(x3, x7, x11, x15)
        x0, x5, x10, x15 = qr(x0, x5, x10, x15)
        x1, x6, x11, x12 = qr(x1, x6, x11, x12)
        x2, x7, x8, x13 = qr(x2, x7, x8, x13)
        x3, x4, x9, x14 = qr(x3, x4, x9, x14)
    mixed = (x0, x1, x2, x3, x4, x5, x6, x7, x8, x9, x10, x11, x12, x13, x14, x15)
    return [(x + y) & m for x, y in zip(mixed, initial)]


def pcg32_key(seed):
    """The eight key words that seed_from_u64 derives from `seed`."""
    state = seed & MASK64
    words = []
    for _ in range(8):
        state = (state * 6364136223846793005 + 11634580027462260723) & MASK64
        x = (((state >> 18) ^ state) >> 27) & MASK32
        r = state >> 59
        words.append(((x >> r) | (x << ((32 - r) & 31))) & MASK32)
    return words


class Generator:
    def __init__(self, key, stream=0):
        self.key = list(key)
        self.stream = stream
        self.counter = 0
        self.buffer = []
        self.index = BUFFER_WORDS

    @classmethod
    def seeded(cls, seed, stream=0):
        return cls(pcg32_key(seed), stream)

    @classmethod
    def zero(cls):
        return cls([0] * 8)

    def _refill(self):
        # The buffer holds the blocks for counters c .. c + 3; each block is computed when first
        # read, which changes nothing but the time short trials take.
        self.buffer = [None] * 4
        self.base = self.counter
        self.counter = (self.counter + 4) & MASK64
        self.index = 0

    def next_u32(self):
        if self.index == BUFFER_WORDS:
            self._refill()
        block, offset = divmod(self.index, 16)
        if self.buffer[block] is None:
            self.buffer[block] = chacha12_block(self.key, (self.base + block) & MASK64, self.stream)
        self.index += 1
        return self.buffer[block][offset]

    def next_u64(self):
        # Low half first; a lone last word of the buffer pairs with the first word of the next one.
        low = self.next_u32()
        high = self.next_u32()
        return (high << 32) | low

    def inclusive(self):
        return inclusive_from_u64(self.next_u64())

    def half_open(self):
        return half_open_from_u64(self.next_u64())


def inclusive_from_u64(x):
    in_one_two = struct.unpack("<d", struct.pack("<Q", 0x3FF0000000000000 | (x >> 12)))[0]
    return (in_one_two - 1.0) * 1.0000000000000002


def half_open_from_u64(x):
    return struct.unpack("<d", struct.pack("<Q", 0x3FF0000000000000 | (x >> 12)))[0] - 1.0


def float_bits(value):
    return struct.unpack("<Q", struct.pack("<d", value))[0]
