#include "looks/Lzma.h"

#include <algorithm>
#include <cstring>

namespace vd {
namespace {

// Probabilities are 11-bit fixed point: the chance that the next bit is 0, starting at 1/2.
using Prob = std::uint16_t;
constexpr unsigned kProbBits = 11;
constexpr Prob kProbInit = 1u << (kProbBits - 1);
constexpr unsigned kMoveBits = 5;  // adaptation speed
constexpr std::uint32_t kTopValue = 1u << 24;

constexpr unsigned kStates = 12;
constexpr unsigned kMaxPosStates = 1u << 4;  // pb <= 4
constexpr unsigned kLenToPosStates = 4;
constexpr unsigned kEndPosModelIndex = 14;  // distance slots below this use probabilities
constexpr unsigned kFullDistances = 1u << (kEndPosModelIndex >> 1);
constexpr unsigned kAlignBits = 4;
constexpr unsigned kMatchMinLen = 2;
constexpr unsigned kLiteralCoderSize = 0x300;
constexpr unsigned kMaxLiteralStates = 1u << 4;  // lc + lp <= 4
constexpr std::uint32_t kEndMarkerDistance = 0xFFFFFFFF;

// The range decoder. Normalisation happens before each bit, so no byte is read that no
// bit needs; input that runs out sets failed and every later bit decodes as 0.
class RangeDecoder {
  public:
    RangeDecoder(const std::uint8_t* in, std::size_t len) : next_(in), end_(in + len) {}

    // The first byte is always zero; the next four start the code.
    bool init() {
        if (end_ - next_ < 5 || next_[0] != 0) {
            return false;
        }
        for (int i = 1; i < 5; ++i) {
            code_ = code_ << 8 | next_[i];
        }
        next_ += 5;
        return true;
    }

    unsigned bit(Prob& prob) {
        normalize();
        const std::uint32_t bound = (range_ >> kProbBits) * prob;
        if (code_ < bound) {
            range_ = bound;
            prob = static_cast<Prob>(prob + (((1u << kProbBits) - prob) >> kMoveBits));
            return 0;
        }
        range_ -= bound;
        code_ -= bound;
        prob = static_cast<Prob>(prob - (prob >> kMoveBits));
        return 1;
    }

    // count bits with probability 1/2, most significant first.
    std::uint32_t direct(unsigned count) {
        std::uint32_t result = 0;
        while (count-- > 0) {
            normalize();
            range_ >>= 1;
            const std::uint32_t bit = code_ >= range_ ? 1 : 0;
            code_ -= range_ & (0u - bit);
            result = result << 1 | bit;
        }
        return result;
    }

    // A bit tree of 2^count leaves, most significant bit first; probs[0] is unused.
    std::uint32_t tree(Prob* probs, unsigned count) {
        std::uint32_t m = 1;
        for (unsigned i = 0; i < count; ++i) {
            m = m << 1 | bit(probs[m]);
        }
        return m - (1u << count);
    }

    // The same tree read least significant bit first.
    std::uint32_t reverseTree(Prob* probs, unsigned count) {
        std::uint32_t m = 1;
        std::uint32_t result = 0;
        for (unsigned i = 0; i < count; ++i) {
            const unsigned b = bit(probs[m]);
            m = m << 1 | b;
            result |= b << i;
        }
        return result;
    }

    // A stream may end without a marker only where the code has come down to zero.
    bool finishedCleanly() {
        normalize();
        return !failed_ && code_ == 0;
    }
    bool failed() const { return failed_; }

  private:
    void normalize() {
        if (range_ < kTopValue) {
            range_ <<= 8;
            std::uint8_t byte = 0;
            if (next_ != end_) {
                byte = *next_++;
            } else {
                failed_ = true;
            }
            code_ = code_ << 8 | byte;
        }
    }

    const std::uint8_t* next_;
    const std::uint8_t* end_;
    std::uint32_t range_ = 0xFFFFFFFF;
    std::uint32_t code_ = 0;
    bool failed_ = false;
};

// Match lengths: 8 short ones per position state, 8 medium ones, then 256 long ones.
struct LengthDecoder {
    Prob choice = kProbInit;
    Prob choice2 = kProbInit;
    Prob low[kMaxPosStates][1u << 3];
    Prob mid[kMaxPosStates][1u << 3];
    Prob high[1u << 8];

    LengthDecoder() {
        std::fill_n(&low[0][0], kMaxPosStates * 8, kProbInit);
        std::fill_n(&mid[0][0], kMaxPosStates * 8, kProbInit);
        std::fill_n(high, 256, kProbInit);
    }

    // 0 .. 271, to which the minimum match length is added.
    unsigned decode(RangeDecoder& rc, unsigned posState) {
        if (rc.bit(choice) == 0) {
            return rc.tree(low[posState], 3);
        }
        if (rc.bit(choice2) == 0) {
            return 8 + rc.tree(mid[posState], 3);
        }
        return 16 + rc.tree(high, 8);
    }
};

// All adaptive state of one stream (about 28 KiB at the largest lc + lp).
struct Model {
    Prob isMatch[kStates][kMaxPosStates];
    Prob isRep[kStates];
    Prob isRepG0[kStates];
    Prob isRepG1[kStates];
    Prob isRepG2[kStates];
    Prob isRep0Long[kStates][kMaxPosStates];
    Prob posSlot[kLenToPosStates][1u << 6];
    Prob posSpecial[kFullDistances - kEndPosModelIndex + 1];
    Prob align[1u << kAlignBits];
    Prob literal[kMaxLiteralStates][kLiteralCoderSize];
    LengthDecoder length;
    LengthDecoder repLength;

    Model() {
        std::fill_n(&isMatch[0][0], kStates * kMaxPosStates, kProbInit);
        std::fill_n(isRep, kStates, kProbInit);
        std::fill_n(isRepG0, kStates, kProbInit);
        std::fill_n(isRepG1, kStates, kProbInit);
        std::fill_n(isRepG2, kStates, kProbInit);
        std::fill_n(&isRep0Long[0][0], kStates * kMaxPosStates, kProbInit);
        std::fill_n(&posSlot[0][0], kLenToPosStates * 64, kProbInit);
        std::fill_n(posSpecial, sizeof posSpecial / sizeof(Prob), kProbInit);
        std::fill_n(align, sizeof align / sizeof(Prob), kProbInit);
        std::fill_n(&literal[0][0], kMaxLiteralStates * kLiteralCoderSize, kProbInit);
    }
};

// States 0..6 follow a literal, 7..11 a match of some kind.
constexpr unsigned kFirstMatchState = 7;
unsigned afterLiteral(unsigned s) {
    return s < 4 ? 0 : s < 10 ? s - 3 : s - 6;
}
unsigned afterMatch(unsigned s) {
    return s < kFirstMatchState ? 7 : 10;
}
unsigned afterRep(unsigned s) {
    return s < kFirstMatchState ? 8 : 11;
}
unsigned afterShortRep(unsigned s) {
    return s < kFirstMatchState ? 9 : 11;
}

// A literal after a match is coded against the byte at the last distance, bit by bit for
// as long as the two agree.
std::uint8_t decodeLiteral(RangeDecoder& rc, Prob* probs, bool afterAMatch, unsigned matchByte) {
    unsigned symbol = 1;
    if (afterAMatch) {
        while (symbol < 0x100) {
            const unsigned matchBit = (matchByte >> 7) & 1;
            matchByte <<= 1;
            const unsigned b = rc.bit(probs[((1 + matchBit) << 8) + symbol]);
            symbol = symbol << 1 | b;
            if (matchBit != b) {
                break;
            }
        }
    }
    while (symbol < 0x100) {
        symbol = symbol << 1 | rc.bit(probs[symbol]);
    }
    return static_cast<std::uint8_t>(symbol);
}

std::uint32_t decodeDistance(RangeDecoder& rc, Model& m, unsigned length) {
    const unsigned lenState = std::min(length, kLenToPosStates - 1);
    const unsigned slot = rc.tree(m.posSlot[lenState], 6);
    if (slot < 4) {
        return slot;
    }
    const unsigned directBits = (slot >> 1) - 1;
    std::uint32_t distance = (2 | (slot & 1)) << directBits;
    if (slot < kEndPosModelIndex) {
        return distance + rc.reverseTree(m.posSpecial + distance - slot, directBits);
    }
    distance += rc.direct(directBits - kAlignBits) << kAlignBits;
    return distance + rc.reverseTree(m.align, kAlignBits);
}

}  // namespace

bool readLzmaProperties(const std::uint8_t header[5], LzmaProperties& out) {
    unsigned d = header[0];
    if (d >= 9 * 5 * 5) {
        return false;
    }
    out.lc = d % 9;
    d /= 9;
    out.lp = d % 5;
    out.pb = d / 5;
    if (out.lc + out.lp > 4) {
        return false;
    }
    out.dictSize =
        static_cast<std::uint32_t>(header[1]) | static_cast<std::uint32_t>(header[2]) << 8 |
        static_cast<std::uint32_t>(header[3]) << 16 | static_cast<std::uint32_t>(header[4]) << 24;
    return true;
}

bool lzmaDecodeExact(const LzmaProperties& properties, const std::uint8_t* in, std::size_t inLen,
                     std::uint8_t* out, std::size_t outLen) {
    if (properties.lc + properties.lp > 4 || properties.pb > 4) {
        return false;
    }
    RangeDecoder rc(in, inLen);
    if (!rc.init()) {
        return false;
    }
    // The output is the window: a distance may reach back over everything written so far,
    // but never further than the dictionary (at least 4 KiB, as encoders assume).
    const std::size_t window = std::max<std::uint32_t>(properties.dictSize, 1u << 12);
    const unsigned pbMask = (1u << properties.pb) - 1;
    const unsigned lpMask = (1u << properties.lp) - 1;
    const unsigned lc = properties.lc;
    Model m;
    std::uint32_t rep0 = 0;
    std::uint32_t rep1 = 0;
    std::uint32_t rep2 = 0;
    std::uint32_t rep3 = 0;
    unsigned state = 0;
    std::size_t pos = 0;

    while (!rc.failed()) {
        // Once the output is complete only an end marker or a clean end may follow.
        const bool complete = pos == outLen;
        if (complete && rc.finishedCleanly()) {
            return true;
        }
        const unsigned posState = static_cast<unsigned>(pos) & pbMask;
        if (rc.bit(m.isMatch[state][posState]) == 0) {
            if (complete) {
                return false;
            }
            const unsigned prev = pos > 0 ? out[pos - 1] : 0;
            const unsigned literalState =
                ((static_cast<unsigned>(pos) & lpMask) << lc) + (prev >> (8 - lc));
            const unsigned matchByte = state >= kFirstMatchState ? out[pos - rep0 - 1] : 0;
            out[pos++] =
                decodeLiteral(rc, m.literal[literalState], state >= kFirstMatchState, matchByte);
            state = afterLiteral(state);
            continue;
        }
        unsigned length = 0;
        if (rc.bit(m.isRep[state]) != 0) {
            if (complete || pos == 0) {
                return false;
            }
            if (rc.bit(m.isRepG0[state]) == 0) {
                if (rc.bit(m.isRep0Long[state][posState]) == 0) {
                    out[pos] = out[pos - rep0 - 1];
                    ++pos;
                    state = afterShortRep(state);
                    continue;
                }
            } else {
                std::uint32_t distance = 0;
                if (rc.bit(m.isRepG1[state]) == 0) {
                    distance = rep1;
                } else {
                    if (rc.bit(m.isRepG2[state]) == 0) {
                        distance = rep2;
                    } else {
                        distance = rep3;
                        rep3 = rep2;
                    }
                    rep2 = rep1;
                }
                rep1 = rep0;
                rep0 = distance;
            }
            length = m.repLength.decode(rc, posState);
            state = afterRep(state);
        } else {
            rep3 = rep2;
            rep2 = rep1;
            rep1 = rep0;
            length = m.length.decode(rc, posState);
            state = afterMatch(state);
            rep0 = decodeDistance(rc, m, length);
            if (rep0 == kEndMarkerDistance) {
                return complete && rc.finishedCleanly();
            }
            if (complete || rep0 >= pos || rep0 >= window) {
                return false;
            }
        }
        length += kMatchMinLen;
        if (length > outLen - pos || rc.failed()) {
            return false;
        }
        // Byte by byte: a match may overlap the bytes it produces.
        const std::uint8_t* from = out + pos - rep0 - 1;
        for (unsigned i = 0; i < length; ++i) {
            out[pos + i] = from[i];
        }
        pos += length;
    }
    return false;
}

}  // namespace vd
