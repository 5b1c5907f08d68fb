#include "image/Bignum.h"

namespace {
using Wide = uint64_t;
constexpr int kWordBits = 32;

int effectiveLength(const BnWord* a, int n) {
    while (n > 0 && a[n - 1] == 0) {
        --n;
    }
    return n;
}

unsigned leadingZeros(BnWord w) {
    unsigned bits = 0;
    for (BnWord mask = 0x80000000u; mask != 0 && (w & mask) == 0; mask >>= 1) {
        ++bits;
    }
    return bits;
}
}  // namespace

void secureWipe(void* memory, unsigned long size) {
    volatile unsigned char* p = static_cast<volatile unsigned char*>(memory);
    while (size-- > 0) {
        *p++ = 0;
    }
}

void BnDecode(BnWord* a, int n, const uint8_t* bytes, int len) {
    BnAssignWord(a, 0, n);
    for (int i = 0; i < len && i < 4 * n; ++i) {
        a[i / 4] |= static_cast<BnWord>(bytes[i]) << (8 * (i % 4));
    }
}

void BnAssign(BnWord* a, const BnWord* b, int n) {
    for (int i = 0; i < n; ++i) {
        a[i] = b[i];
    }
}

void BnAssignWord(BnWord* a, BnWord w, int n) {
    for (int i = 0; i < n; ++i) {
        a[i] = 0;
    }
    if (n > 0) {
        a[0] = w;
    }
}

int BnCmp(const BnWord* a, const BnWord* b, int n) {
    for (int i = n - 1; i >= 0; --i) {
        if (a[i] != b[i]) {
            return a[i] > b[i] ? 1 : -1;
        }
    }
    return 0;
}

BnWord BnAdd(BnWord* a, const BnWord* b, const BnWord* c, int n) {
    Wide carry = 0;
    for (int i = 0; i < n; ++i) {
        const Wide sum = static_cast<Wide>(b[i]) + c[i] + carry;
        a[i] = static_cast<BnWord>(sum);
        carry = sum >> kWordBits;
    }
    return static_cast<BnWord>(carry);
}

BnWord BnSubMul(BnWord* a, BnWord top, const BnWord* c, BnWord q, int n) {
    Wide borrow = 0;
    for (int i = 0; i < n; ++i) {
        const Wide product = static_cast<Wide>(q) * c[i] + borrow;
        const BnWord low = static_cast<BnWord>(product);
        const BnWord before = a[i];
        a[i] = before - low;
        borrow = (product >> kWordBits) + (a[i] > before ? 1 : 0);
    }
    return static_cast<BnWord>(top - borrow);
}

void BnMul(BnWord* a, const BnWord* b, const BnWord* c, int n) {
    BnAssignWord(a, 0, 2 * n);
    for (int j = 0; j < n; ++j) {
        if (c[j] == 0) {
            continue;
        }
        Wide carry = 0;
        for (int i = 0; i < n; ++i) {
            const Wide t = static_cast<Wide>(b[i]) * c[j] + a[i + j] + carry;
            a[i + j] = static_cast<BnWord>(t);
            carry = t >> kWordBits;
        }
        a[j + n] = static_cast<BnWord>(carry);
    }
}

void BnSqr(BnWord* a, const BnWord* b, int n) {
    BnAssignWord(a, 0, 2 * n);
    // Cross products once ...
    for (int i = 0; i < n; ++i) {
        Wide carry = 0;
        for (int j = i + 1; j < n; ++j) {
            const Wide t = static_cast<Wide>(b[i]) * b[j] + a[i + j] + carry;
            a[i + j] = static_cast<BnWord>(t);
            carry = t >> kWordBits;
        }
        a[i + n] = static_cast<BnWord>(carry);
    }
    // ... doubled ...
    BnShiftLeft(a, a, 1, 2 * n);
    // ... plus the squares.
    Wide carry = 0;
    for (int i = 0; i < n; ++i) {
        const Wide square = static_cast<Wide>(b[i]) * b[i];
        Wide t = static_cast<Wide>(a[2 * i]) + static_cast<BnWord>(square) + carry;
        a[2 * i] = static_cast<BnWord>(t);
        t = static_cast<Wide>(a[2 * i + 1]) + (square >> kWordBits) + (t >> kWordBits);
        a[2 * i + 1] = static_cast<BnWord>(t);
        carry = t >> kWordBits;
    }
}

BnWord BnShiftLeft(BnWord* a, const BnWord* b, unsigned bits, int n) {
    if (bits == 0) {
        BnAssign(a, b, n);
        return 0;
    }
    BnWord carry = 0;
    for (int i = 0; i < n; ++i) {
        const BnWord w = b[i];
        a[i] = (w << bits) | carry;
        carry = w >> (kWordBits - bits);
    }
    return carry;
}

BnWord BnShiftRight(BnWord* a, const BnWord* b, unsigned bits, int n) {
    if (bits == 0) {
        BnAssign(a, b, n);
        return 0;
    }
    BnWord carry = 0;
    for (int i = n - 1; i >= 0; --i) {
        const BnWord w = b[i];
        a[i] = (w >> bits) | carry;
        carry = w << (kWordBits - bits);
    }
    return carry;
}

BnWord BnDivWord(BnWord* q, const BnWord* a, BnWord d, int n) {
    BnWord shifted[2 * kBnMaxWords];
    const unsigned s = leadingZeros(d);
    d <<= s;
    Wide remainder = BnShiftLeft(shifted, a, s, n);
    for (int i = n - 1; i >= 0; --i) {
        const Wide dividend = (remainder << kWordBits) | shifted[i];
        q[i] = static_cast<BnWord>(dividend / d);
        remainder = dividend % d;
    }
    secureWipe(shifted, sizeof shifted);
    return static_cast<BnWord>(remainder >> s);
}

int BnDiv(BnWord* q, BnWord* r, const BnWord* a, int alen, BnWord* m, int mlen) {
    BnAssignWord(q, 0, alen);
    BnAssignWord(r, 0, alen);
    const int mlenEff = effectiveLength(m, mlen);
    if (mlenEff == 0) {
        return -1;
    }
    const int alenEff = effectiveLength(a, alen);
    if (mlenEff == 1) {
        r[0] = BnDivWord(q, a, m[0], alenEff);
        return 0;
    }
    if (alenEff < mlenEff) {
        BnAssign(r, a, alenEff);
        return 0;
    }
    if (alenEff == mlenEff) {
        const int order = BnCmp(a, m, alenEff);
        if (order < 0) {
            BnAssign(r, a, alenEff);
            return 0;
        }
        if (order == 0) {
            q[0] = 1;
            return 0;
        }
    }

    const unsigned s = leadingZeros(m[mlenEff - 1]);
    BnShiftLeft(m, m, s, mlenEff);
    BnWord top = BnShiftLeft(r, a, s, alenEff);
    const BnWord d1 = m[mlenEff - 1];
    const BnWord d2 = m[mlenEff - 2];

    for (int j = alenEff - mlenEff; j >= 0; --j) {
        const BnWord next = r[j + mlenEff - 1];
        BnWord qhat;
        Wide rhat;
        bool correct = true;
        if (top >= d1) {
            qhat = 0xFFFFFFFFu;
            rhat = static_cast<Wide>(next) + d1;
            correct = (rhat >> kWordBits) == 0;
        } else {
            const Wide dividend = (static_cast<Wide>(top) << kWordBits) | next;
            qhat = static_cast<BnWord>(dividend / d1);
            rhat = dividend % d1;
        }
        for (int k = 0; correct && k < 2; ++k) {
            const Wide lhs = static_cast<Wide>(qhat) * d2;
            const Wide rhs = (rhat << kWordBits) | r[j + mlenEff - 2];
            if (lhs <= rhs) {
                break;
            }
            --qhat;
            rhat += d1;
            correct = (rhat >> kWordBits) == 0;
        }
        if (BnSubMul(r + j, top, m, qhat, mlenEff) != 0) {
            --qhat;
            BnAdd(r + j, r + j, m, mlenEff);
        }
        q[j] = qhat;
        top = r[j + mlenEff - 1];
    }

    for (int i = mlenEff; i < alen; ++i) {
        r[i] = 0;
    }
    BnShiftRight(r, r, s, mlenEff);
    BnShiftRight(m, m, s, mlenEff);
    return 0;
}

int BnModExp(BnWord* result, const BnWord* base, const BnWord* exponent, BnWord* modulus, int n) {
    BnWord product[2 * kBnMaxWords];
    BnWord quotient[2 * kBnMaxWords];
    BnWord accumulator[2 * kBnMaxWords];
    BnAssignWord(product, 0, 2 * kBnMaxWords);
    BnAssignWord(quotient, 0, 2 * kBnMaxWords);
    BnAssignWord(accumulator, 0, 2 * kBnMaxWords);

    const int top = effectiveLength(exponent, n) - 1;
    if (top < 0) {
        BnAssignWord(result, 1, n);
    } else {
        int bit = kWordBits - 1;
        while ((exponent[top] >> bit & 1u) == 0) {
            --bit;
        }
        BnAssign(accumulator, base, n);
        for (int word = top; word >= 0; --word) {
            for (int b = (word == top ? bit - 1 : kWordBits - 1); b >= 0; --b) {
                BnSqr(product, accumulator, n);
                BnDiv(quotient, accumulator, product, 2 * n, modulus, n);
                if ((exponent[word] >> b & 1u) != 0) {
                    BnMul(product, accumulator, base, n);
                    BnDiv(quotient, accumulator, product, 2 * n, modulus, n);
                }
            }
        }
        BnAssign(result, accumulator, n);
    }
    secureWipe(product, sizeof product);
    secureWipe(quotient, sizeof quotient);
    secureWipe(accumulator, sizeof accumulator);
    return 0;
}

int RsaPublic(BnWord* result, const BnWord* base, const BnWord* exponent, BnWord* modulus, int n) {
    return BnModExp(result, base, exponent, modulus, n);
}
