#pragma once
// Fixed-length multi-precision arithmetic for the 1024-bit public-key operation.
//
// A number is an array of 32-bit words, least significant first, of a length the caller
// gives (at most kBnMaxWords for operands, twice that for products). No heap: working
// storage is on the stack of the call and wiped before return. No routine keeps state.
#include <cstdint>

using BnWord = uint32_t;
constexpr int kBnMaxWords = 32;

// a := the number whose bytes, least significant first, are bytes[0..len-1]; words above
// the last byte are zero. Bytes beyond 4n are not read.
void BnDecode(BnWord* a, int n, const uint8_t* bytes, int len);
void BnAssign(BnWord* a, const BnWord* b, int n);
void BnAssignWord(BnWord* a, BnWord w, int n);
// 1 if a > b, -1 if a < b, 0 if equal.
int BnCmp(const BnWord* a, const BnWord* b, int n);
// a := b + c; returns the carry out.
BnWord BnAdd(BnWord* a, const BnWord* b, const BnWord* c, int n);
// a := a - q*c over n words with `top` as the word above a; returns top minus the final
// borrow (nonzero: the result went below zero).
BnWord BnSubMul(BnWord* a, BnWord top, const BnWord* c, BnWord q, int n);
// a (2n words) := b * c. a MUST NOT overlap b or c.
void BnMul(BnWord* a, const BnWord* b, const BnWord* c, int n);
// a (2n words) := b * b. a MUST NOT overlap b.
void BnSqr(BnWord* a, const BnWord* b, int n);
// a := b << bits (0..31); returns the bits shifted out, in the low end.
BnWord BnShiftLeft(BnWord* a, const BnWord* b, unsigned bits, int n);
// a := b >> bits (0..31); returns the bits shifted out, in the high end.
BnWord BnShiftRight(BnWord* a, const BnWord* b, unsigned bits, int n);
// q := a / d for one word d != 0 (n at most 2 * kBnMaxWords); returns a mod d.
BnWord BnDivWord(BnWord* q, const BnWord* a, BnWord d, int n);
// q := a / m, r := a mod m (Knuth's Algorithm D). q and r need room for alen words. m is
// normalised in place and restored before return. Returns -1 for m == 0, else 0.
int BnDiv(BnWord* q, BnWord* r, const BnWord* a, int alen, BnWord* m, int mlen);
// result := base^exponent mod modulus, left-to-right square-and-multiply; returns 0.
int BnModExp(BnWord* result, const BnWord* base, const BnWord* exponent, BnWord* modulus, int n);

// The public-key operation: BnModExp with the arguments in this order.
int RsaPublic(BnWord* result, const BnWord* base, const BnWord* exponent, BnWord* modulus, int n);

// Overwrites memory in a way the compiler cannot drop.
void secureWipe(void* memory, unsigned long size);
