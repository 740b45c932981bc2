// The eight DES S-boxes as gate circuits over bit slices (AND, OR, XOR, AND-NOT, NOT),
// for DesSliceKernel.h. Inputs a1..a6 are the S-box input bits in FIPS order (a1 and a6
// choose the row, a2..a5 the column); outputs o1..o4 are the table entry's bits, o1 the
// top one. Each circuit was found by a search over multiplexer decompositions of the
// output functions with shared gates, and checked against the FIPS 46-3 tables on all
// 64 inputs; the known-answer and libgcrypt tests check them again through whole DES.
//
// Only for DesSliceKernel.h, which defines DES_SLICE_TARGET and DES_SLICE_INLINE.
#pragma once

namespace {

// 60 gates.
template <class W>
DES_SLICE_TARGET DES_SLICE_INLINE void Sbox1(W a1, W a2, W a3, W a4, W a5, W a6,
                                            W& o1, W& o2, W& o3, W& o4) {
  const W x1 = a3 ^ a4, x2 = x1 ^ a1, x3 = a1 | a4, x4 = a6 & ~x3, x5 = x2 & ~x4,
      x6 = a4 ^ a6, x7 = a6 | x2, x8 = x7 & a1, x9 = x6 ^ x8, x10 = x5 ^ x9,
      x11 = x10 & a5, x12 = x5 ^ x11, x13 = ~x7, x14 = x3 & a5, x15 = x13 | x14,
      x16 = a4 & ~a5, x17 = x7 | x16, x18 = x17 & a3, x19 = x15 ^ x18, x20 = x19 & ~a2,
      x21 = x12 ^ x20, x22 = x2 ^ x16, x23 = a4 | x8, x24 = a2 ^ x18, x25 = x24 & ~a5,
      x26 = x23 ^ x25, x27 = x26 & ~a6, x28 = x22 ^ x27, x29 = a4 ^ x8, x30 = x6 | x29,
      x31 = x4 ^ x28, x32 = a1 | x31, x33 = x32 & ~a5, x34 = x30 ^ x33, x35 = x34 & ~a2,
      x36 = x28 ^ x35, x37 = x2 & x10, x38 = a2 ^ x37, x39 = x32 & ~x17, x40 = x13 ^ x39,
      x41 = x38 ^ x40, x42 = x29 ^ x37, x43 = a5 ^ x42, x44 = x41 & ~x28, x45 = x44 & a2,
      x46 = x43 ^ x45, x47 = x46 & a5, x48 = x41 ^ x47, x49 = x11 ^ x43, x50 = a2 ^ x49,
      x51 = a5 | x21, x52 = x10 ^ x51, x53 = x52 & a1, x54 = x50 ^ x53, x55 = x21 ^ x49,
      x56 = x15 & x54, x57 = x56 & ~a6, x58 = x55 ^ x57, x59 = x58 & ~a4,
      x60 = x54 ^ x59;
  o1 = x60, o2 = x21, o3 = x48, o4 = x36;
}

// 54 gates.
template <class W>
DES_SLICE_TARGET DES_SLICE_INLINE void Sbox2(W a1, W a2, W a3, W a4, W a5, W a6,
                                            W& o1, W& o2, W& o3, W& o4) {
  const W x1 = a5 ^ a6, x2 = a1 ^ x1, x3 = a5 & a6, x4 = a1 & ~x3, x5 = a2 & ~x4,
      x6 = x2 ^ x5, x7 = a5 & ~x4, x8 = a2 | x7, x9 = x8 & a4, x10 = x6 ^ x9, x11 = ~a1,
      x12 = x11 | x4, x13 = x5 & ~a6, x14 = x12 ^ x13, x15 = x14 & ~a3, x16 = x10 ^ x15,
      x17 = x1 | x16, x18 = a4 ^ x17, x19 = a3 ^ a4, x20 = x16 & a6, x21 = x19 ^ x20,
      x22 = x21 & a2, x23 = x18 ^ x22, x24 = x8 & ~x19, x25 = x24 & ~x5, x26 = x17 & ~a6,
      x27 = x25 | x26, x28 = x27 & a1, x29 = x23 ^ x28, x30 = a2 ^ x7, x31 = x5 ^ x14,
      x32 = x31 & ~a5, x33 = x30 ^ x32, x34 = x26 ^ x29, x35 = x2 ^ x34, x36 = x35 & ~a3,
      x37 = x33 ^ x36, x38 = x19 ^ x32, x39 = x11 & ~x36, x40 = x39 & ~a6,
      x41 = x38 ^ x40, x42 = x41 & a4, x43 = x37 ^ x42, x44 = x11 ^ x38, x45 = x4 | x17,
      x46 = a6 ^ x45, x47 = x46 & ~a3, x48 = x44 ^ x47, x49 = x24 | x43, x50 = x37 & ~a5,
      x51 = a6 & ~x50, x52 = x49 & ~x51, x53 = x52 & a2, x54 = x48 ^ x53;
  o1 = x16, o2 = x54, o3 = x43, o4 = x29;
}

// 53 gates.
template <class W>
DES_SLICE_TARGET DES_SLICE_INLINE void Sbox3(W a1, W a2, W a3, W a4, W a5, W a6,
                                            W& o1, W& o2, W& o3, W& o4) {
  const W x1 = a2 ^ a6, x2 = x1 ^ a1, x3 = x2 ^ a3, x4 = a1 & ~a2, x5 = x3 | x4,
      x6 = a4 ^ x1, x7 = x6 & ~a1, x8 = x5 ^ x7, x9 = x8 & ~a5, x10 = x3 ^ x9,
      x11 = a6 & x5, x12 = a1 & ~x11, x13 = x12 & ~a4, x14 = x10 ^ x13, x15 = a5 ^ x3,
      x16 = x1 | x10, x17 = a1 | x16, x18 = x17 & ~a4, x19 = x15 ^ x18, x20 = ~x7,
      x21 = x10 | x20, x22 = x18 & ~a1, x23 = x16 ^ x22, x24 = x23 & a3, x25 = x21 ^ x24,
      x26 = x25 & ~a2, x27 = x19 ^ x26, x28 = x20 & ~x15, x29 = x19 & ~a5,
      x30 = x29 & a3, x31 = x28 ^ x30, x32 = a5 & x27, x33 = x32 & ~a2, x34 = x31 ^ x33,
      x35 = x7 & ~a3, x36 = x6 & ~x2, x37 = x27 ^ x36, x38 = x37 & ~a5, x39 = x35 ^ x38,
      x40 = x39 & a6, x41 = x34 ^ x40, x42 = a5 ^ x1, x43 = x42 & a6, x44 = a5 ^ x43,
      x45 = x44 & a4, x46 = x15 ^ x45, x47 = x7 & ~x44, x48 = a5 ^ x47, x49 = x9 ^ x27,
      x50 = a4 & ~x49, x51 = x48 & ~x50, x52 = x51 & ~a3, x53 = x46 ^ x52;
  o1 = x27, o2 = x53, o3 = x41, o4 = x14;
}

// 56 gates.
template <class W>
DES_SLICE_TARGET DES_SLICE_INLINE void Sbox4(W a1, W a2, W a3, W a4, W a5, W a6,
                                            W& o1, W& o2, W& o3, W& o4) {
  const W x1 = a2 ^ a4, x2 = a2 | a4, x3 = x2 & a6, x4 = x1 ^ x3, x5 = x4 ^ a1,
      x6 = a2 ^ a6, x7 = a1 ^ a2, x8 = x7 & a4, x9 = x6 | x8, x10 = x9 & ~a3,
      x11 = x5 ^ x10, x12 = a1 | a3, x13 = x9 & a4, x14 = x12 ^ x13, x15 = x1 | x12,
      x16 = a3 ^ a5, x17 = x16 & ~a4, x18 = x15 ^ x17, x19 = x18 & ~a6, x20 = x14 ^ x19,
      x21 = x20 & a5, x22 = x11 ^ x21, x23 = x15 ^ x22, x24 = x6 ^ x23, x25 = x16 & ~x7,
      x26 = a1 ^ x25, x27 = x26 & a4, x28 = x24 ^ x27, x29 = ~x18, x30 = a4 ^ x29,
      x31 = x30 & ~a5, x32 = x28 ^ x31, x33 = x19 ^ x28, x34 = x16 ^ x20, x35 = x34 & a2,
      x36 = x23 | x35, x37 = x36 & ~a1, x38 = x33 ^ x37, x39 = x22 | x32,
      x40 = x15 ^ x39, x41 = x34 ^ x37, x42 = x15 ^ x41, x43 = x42 & a2, x44 = x40 ^ x43,
      x45 = x44 & ~a3, x46 = x38 ^ x45, x47 = x6 ^ x46, x48 = a3 ^ x47, x49 = x26 & ~a4,
      x50 = x48 ^ x49, x51 = x1 & ~a1, x52 = a2 ^ x51, x53 = x52 & a3, x54 = a4 ^ x53,
      x55 = x54 & ~a5, x56 = x50 ^ x55;
  o1 = x22, o2 = x32, o3 = x46, o4 = x56;
}

// 58 gates.
template <class W>
DES_SLICE_TARGET DES_SLICE_INLINE void Sbox5(W a1, W a2, W a3, W a4, W a5, W a6,
                                            W& o1, W& o2, W& o3, W& o4) {
  const W x1 = a1 ^ a4, x2 = a4 | a6, x3 = a5 & ~x2, x4 = x1 & ~x3, x5 = a6 | x3,
      x6 = x5 & ~a1, x7 = a5 ^ x6, x8 = x7 & a3, x9 = x4 ^ x8, x10 = a3 | x2,
      x11 = a1 | x10, x12 = a6 & ~a4, x13 = x1 & ~x12, x14 = ~x6, x15 = x14 & ~a3,
      x16 = x13 ^ x15, x17 = x16 & ~a5, x18 = x11 ^ x17, x19 = x18 & ~a2, x20 = x9 ^ x19,
      x21 = a5 & ~a1, x22 = x4 ^ x21, x23 = a6 ^ x22, x24 = x13 | x20, x25 = x24 & a3,
      x26 = x23 ^ x25, x27 = x12 | x16, x28 = x10 ^ x16, x29 = x28 & ~a1,
      x30 = x27 ^ x29, x31 = x30 & a2, x32 = x26 ^ x31, x33 = a6 | x22, x34 = x30 ^ x33,
      x35 = x7 ^ x30, x36 = a6 ^ x35, x37 = x36 & ~a3, x38 = x34 ^ x37, x39 = x37 & ~a5,
      x40 = x25 ^ x39, x41 = a5 | x11, x42 = x41 & ~a4, x43 = x40 ^ x42, x44 = x43 & ~a2,
      x45 = x38 ^ x44, x46 = x32 ^ x38, x47 = x20 ^ x46, x48 = x43 & ~x45,
      x49 = x19 ^ x48, x50 = x49 & a5, x51 = x47 ^ x50, x52 = x49 & ~x38,
      x53 = x16 & ~x19, x54 = a3 ^ x53, x55 = x54 & ~a6, x56 = x52 | x55,
      x57 = x56 & ~a1, x58 = x51 ^ x57;
  o1 = x58, o2 = x32, o3 = x20, o4 = x45;
}

// 54 gates.
template <class W>
DES_SLICE_TARGET DES_SLICE_INLINE void Sbox6(W a1, W a2, W a3, W a4, W a5, W a6,
                                            W& o1, W& o2, W& o3, W& o4) {
  const W x1 = a5 & a1, x2 = a2 ^ x1, x3 = a1 ^ a5, x4 = x3 & ~a3, x5 = x2 ^ x4,
      x6 = a3 | x5, x7 = x3 ^ x6, x8 = x7 & ~a4, x9 = x5 ^ x8, x10 = a1 & x6,
      x11 = x7 & ~x5, x12 = a5 ^ x11, x13 = x12 & a4, x14 = x10 | x13, x15 = x14 & a6,
      x16 = x9 ^ x15, x17 = a3 & ~x11, x18 = a5 & a2, x19 = a6 & ~x18, x20 = x17 ^ x19,
      x21 = x4 | x12, x22 = x21 & a6, x23 = x2 ^ x22, x24 = x23 & a1, x25 = x20 ^ x24,
      x26 = x2 & ~x24, x27 = a6 ^ x26, x28 = x27 & a5, x29 = a4 & ~x28, x30 = x25 ^ x29,
      x31 = a4 ^ x7, x32 = ~a5, x33 = x32 & ~a4, x34 = x33 & ~a3, x35 = x31 ^ x34,
      x36 = x30 & ~x21, x37 = a6 ^ x36, x38 = x14 & x29, x39 = x38 & a2, x40 = x37 ^ x39,
      x41 = x40 & a6, x42 = x35 ^ x41, x43 = x27 ^ x34, x44 = x32 ^ x40, x45 = x16 ^ x44,
      x46 = x45 & a4, x47 = x43 ^ x46, x48 = x13 ^ x17, x49 = x6 ^ x48, x50 = x16 & ~x36,
      x51 = x50 & a6, x52 = x49 ^ x51, x53 = x52 & a1, x54 = x47 ^ x53;
  o1 = x42, o2 = x54, o3 = x30, o4 = x16;
}

// 55 gates.
template <class W>
DES_SLICE_TARGET DES_SLICE_INLINE void Sbox7(W a1, W a2, W a3, W a4, W a5, W a6,
                                            W& o1, W& o2, W& o3, W& o4) {
  const W x1 = a1 ^ a5, x2 = a2 ^ x1, x3 = a1 & ~a5, x4 = a2 | x3, x5 = x4 & ~a4,
      x6 = x2 ^ x5, x7 = a1 & x4, x8 = a6 ^ x7, x9 = x8 & ~a3, x10 = x6 ^ x9,
      x11 = a3 & ~x5, x12 = a1 | x11, x13 = a4 ^ x1, x14 = a5 & ~x13, x15 = x12 & ~x14,
      x16 = x15 & ~a6, x17 = x10 ^ x16, x18 = x6 | x14, x19 = a3 ^ x18, x20 = x18 & ~x9,
      x21 = x13 ^ x20, x22 = x21 & ~a6, x23 = x19 ^ x22, x24 = a6 & ~a4, x25 = a4 & ~a5,
      x26 = a2 ^ x25, x27 = x26 & ~a3, x28 = x24 ^ x27, x29 = x28 & ~a1, x30 = x23 ^ x29,
      x31 = a1 & ~a3, x32 = a2 ^ x31, x33 = x26 & ~x9, x34 = x8 ^ x33, x35 = x34 & a4,
      x36 = x32 ^ x35, x37 = x5 | x23, x38 = x37 & ~x27, x39 = x38 & a1, x40 = x19 ^ x39,
      x41 = x40 & ~a6, x42 = x36 ^ x41, x43 = ~x23, x44 = a6 | x38, x45 = x44 & a4,
      x46 = x43 ^ x45, x47 = x15 & ~a1, x48 = x46 ^ x47, x49 = x37 & ~a6,
      x50 = x11 | x49, x51 = a1 & ~x10, x52 = x51 & a5, x53 = x50 | x52, x54 = x53 & a2,
      x55 = x48 ^ x54;
  o1 = x17, o2 = x55, o3 = x42, o4 = x30;
}

// 55 gates.
template <class W>
DES_SLICE_TARGET DES_SLICE_INLINE void Sbox8(W a1, W a2, W a3, W a4, W a5, W a6,
                                            W& o1, W& o2, W& o3, W& o4) {
  const W x1 = a1 ^ a3, x2 = a2 | a3, x3 = x2 & a6, x4 = x1 ^ x3, x5 = a2 | a6,
      x6 = a1 & ~a3, x7 = x5 | x6, x8 = x7 & ~a5, x9 = x4 ^ x8, x10 = ~a5, x11 = a1 | a5,
      x12 = x11 & a2, x13 = x10 ^ x12, x14 = x1 & x9, x15 = a6 ^ x14, x16 = x15 & a6,
      x17 = x13 ^ x16, x18 = x17 & ~a4, x19 = x9 ^ x18, x20 = a1 & ~x15, x21 = x1 & ~a5,
      x22 = x20 ^ x21, x23 = a5 | x20, x24 = x23 & ~a4, x25 = x22 ^ x24, x26 = x4 ^ x17,
      x27 = a3 | x26, x28 = x16 & ~x19, x29 = x28 & ~a4, x30 = x27 ^ x29, x31 = x30 & a2,
      x32 = x25 ^ x31, x33 = x2 ^ x17, x34 = a4 ^ x33, x35 = a2 & x34, x36 = x4 ^ x35,
      x37 = x36 & ~a5, x38 = x34 ^ x37, x39 = x7 & ~x25, x40 = a2 ^ x39, x41 = x40 & ~a6,
      x42 = x37 ^ x41, x43 = x42 & a1, x44 = x38 ^ x43, x45 = x32 ^ x44, x46 = x19 ^ x45,
      x47 = x16 | x33, x48 = a4 | x47, x49 = x48 & ~a2, x50 = x46 ^ x49, x51 = x4 | x30,
      x52 = x51 & a2, x53 = x24 ^ x52, x54 = x53 & a5, x55 = x50 ^ x54;
  o1 = x55, o2 = x44, o3 = x32, o4 = x19;
}

}  // namespace
