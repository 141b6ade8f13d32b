// See aes256.h.
#include "aes256.h"

#include <cstring>
#include <utility>

namespace fake {

namespace {

std::uint8_t Xtime(std::uint8_t x) {
    return static_cast<std::uint8_t>((x << 1) ^ ((x & 0x80) != 0 ? 0x1B : 0x00));
}

std::uint8_t Mul(std::uint8_t a, std::uint8_t b) {
    std::uint8_t product = 0;
    while (b != 0) {
        if ((b & 1) != 0) {
            product ^= a;
        }
        a = Xtime(a);
        b >>= 1;
    }
    return product;
}

std::uint8_t RotateLeft(std::uint8_t x, int n) {
    return static_cast<std::uint8_t>((x << n) | (x >> (8 - n)));
}

// The S-box and its inverse, derived from the field inverse and the affine map.
struct SBoxes {
    std::uint8_t forward[256];
    std::uint8_t inverse[256];

    SBoxes() {
        for (int x = 0; x < 256; ++x) {
            std::uint8_t inv = 0;
            for (int y = 1; x != 0 && y < 256; ++y) {
                if (Mul(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)) == 1) {
                    inv = static_cast<std::uint8_t>(y);
                    break;
                }
            }
            const std::uint8_t s = inv ^ RotateLeft(inv, 1) ^ RotateLeft(inv, 2) ^
                                   RotateLeft(inv, 3) ^ RotateLeft(inv, 4) ^ 0x63;
            forward[x] = s;
            inverse[s] = static_cast<std::uint8_t>(x);
        }
    }
};

const SBoxes& Boxes() {
    static const SBoxes boxes;
    return boxes;
}

constexpr int kRounds = 14;

// The state is column-major: byte r + 4c is row r of column c.
void AddRoundKey(std::uint8_t* s, const std::uint8_t* key) {
    for (int i = 0; i < 16; ++i) {
        s[i] ^= key[i];
    }
}

void SubBytes(std::uint8_t* s, const std::uint8_t* box) {
    for (int i = 0; i < 16; ++i) {
        s[i] = box[s[i]];
    }
}

void ShiftRows(std::uint8_t* s, bool inverse) {
    std::uint8_t t[16];
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            const int moved = r + 4 * ((c + r) % 4);
            if (inverse) {
                t[moved] = s[r + 4 * c];
            } else {
                t[r + 4 * c] = s[moved];
            }
        }
    }
    std::memcpy(s, t, 16);
}

void MixColumns(std::uint8_t* s, bool inverse) {
    const std::uint8_t m[4] = {
        static_cast<std::uint8_t>(inverse ? 14 : 2), static_cast<std::uint8_t>(inverse ? 11 : 3),
        static_cast<std::uint8_t>(inverse ? 13 : 1), static_cast<std::uint8_t>(inverse ? 9 : 1)};
    for (int c = 0; c < 4; ++c) {
        std::uint8_t a[4];
        std::memcpy(a, s + 4 * c, 4);
        for (int r = 0; r < 4; ++r) {
            s[4 * c + r] = Mul(a[r], m[0]) ^ Mul(a[(r + 1) % 4], m[1]) ^ Mul(a[(r + 2) % 4], m[2]) ^
                           Mul(a[(r + 3) % 4], m[3]);
        }
    }
}

}  // namespace

Aes256::Aes256(const std::uint8_t* key) {
    const SBoxes& boxes = Boxes();
    std::memcpy(round_keys_, key, kKeySize);
    std::uint8_t rcon = 1;
    for (std::size_t i = 8; i < 4 * (kRounds + 1); ++i) {
        std::uint8_t word[4];
        std::memcpy(word, round_keys_ + 4 * (i - 1), 4);
        if (i % 8 == 0) {
            const std::uint8_t first = word[0];
            word[0] = static_cast<std::uint8_t>(boxes.forward[word[1]] ^ rcon);
            word[1] = boxes.forward[word[2]];
            word[2] = boxes.forward[word[3]];
            word[3] = boxes.forward[first];
            rcon = Xtime(rcon);
        } else if (i % 8 == 4) {
            for (std::uint8_t& b : word) {
                b = boxes.forward[b];
            }
        }
        for (int j = 0; j < 4; ++j) {
            round_keys_[4 * i + j] = round_keys_[4 * (i - 8) + j] ^ word[j];
        }
    }
}

void Aes256::EncryptBlock(const std::uint8_t* in, std::uint8_t* out) const {
    const std::uint8_t* box = Boxes().forward;
    std::uint8_t s[16];
    std::memcpy(s, in, 16);
    AddRoundKey(s, round_keys_);
    for (int round = 1; round <= kRounds; ++round) {
        SubBytes(s, box);
        ShiftRows(s, false);
        if (round != kRounds) {
            MixColumns(s, false);
        }
        AddRoundKey(s, round_keys_ + 16 * round);
    }
    std::memcpy(out, s, 16);
}

void Aes256::DecryptBlock(const std::uint8_t* in, std::uint8_t* out) const {
    const std::uint8_t* box = Boxes().inverse;
    std::uint8_t s[16];
    std::memcpy(s, in, 16);
    AddRoundKey(s, round_keys_ + 16 * kRounds);
    for (int round = kRounds - 1; round >= 0; --round) {
        ShiftRows(s, true);
        SubBytes(s, box);
        AddRoundKey(s, round_keys_ + 16 * round);
        if (round != 0) {
            MixColumns(s, true);
        }
    }
    std::memcpy(out, s, 16);
}

std::vector<std::uint8_t> CbcEncrypt(const std::uint8_t* key, const std::uint8_t* iv,
                                     const std::uint8_t* plain, std::size_t size) {
    const Aes256 aes(key);
    const std::size_t padded = Aes256::kBlockSize * (size / Aes256::kBlockSize + 1);
    const auto pad = static_cast<std::uint8_t>(padded - size);
    std::vector<std::uint8_t> out(padded, pad);
    if (size > 0) {
        std::memcpy(out.data(), plain, size);
    }
    const std::uint8_t* chain = iv;
    for (std::size_t at = 0; at < padded; at += Aes256::kBlockSize) {
        for (std::size_t i = 0; i < Aes256::kBlockSize; ++i) {
            out[at + i] ^= chain[i];
        }
        aes.EncryptBlock(&out[at], &out[at]);
        chain = &out[at];
    }
    return out;
}

bool CbcDecrypt(const std::uint8_t* key, const std::uint8_t* iv, const std::uint8_t* cipher,
                std::size_t size, std::vector<std::uint8_t>* plain) {
    if (size == 0 || size % Aes256::kBlockSize != 0) {
        return false;
    }
    const Aes256 aes(key);
    std::vector<std::uint8_t> out(size);
    const std::uint8_t* chain = iv;
    for (std::size_t at = 0; at < size; at += Aes256::kBlockSize) {
        aes.DecryptBlock(cipher + at, &out[at]);
        for (std::size_t i = 0; i < Aes256::kBlockSize; ++i) {
            out[at + i] ^= chain[i];
        }
        chain = cipher + at;
    }
    const std::uint8_t pad = out.back();
    if (pad == 0 || pad > Aes256::kBlockSize) {
        return false;
    }
    for (std::size_t i = size - pad; i < size; ++i) {
        if (out[i] != pad) {
            return false;
        }
    }
    out.resize(size - pad);
    *plain = std::move(out);
    return true;
}

}  // namespace fake
