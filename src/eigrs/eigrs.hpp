// EIGRS: selected eigenvalues and eigenvectors of a real symmetric matrix.
//
// Householder reduction to tridiagonal form (order 3 and above), eigenvalues
// by bisection with Sturm-sequence counts, eigenvectors by inverse iteration
// with back-transformation through the reflections; closed forms for orders 1
// and 2. Single precision throughout; inner products and sums of squares are
// accumulated in double precision and rounded once.
//
// Arrays are column-major with 1-based element (i, j) at offset
// (j - 1) * N1 + (i - 1). The routine allocates nothing, keeps no state
// between calls and returns no status; bad sizes are reported by a message on
// standard output.
//
//   A   in: the symmetric matrix, N1 x N; only the lower triangle with the
//       diagonal is read. Out, for N >= 3: the lower triangle holds the
//       Householder vectors. The upper triangle is never read or written.
//   N   order of the matrix.
//   N1  leading dimension of A, W and V (N <= N1).
//   NE  abs(NE) eigenvalues wanted: NE > 0 the largest, descending;
//       NE < 0 the smallest, ascending; 0 is an error.
//   NV  abs(NV) eigenvectors wanted, for E(1)..E(abs(NV)); NV > 0 unit length
//       (close eigenvalues orthogonalised), NV < 0 largest component 1.
//   EPS bisection tolerance relative to the tridiagonal norm; a negative value
//       is replaced by 1e-6 and stored back.
//   W   work, N1 x 6 reals.       IW  work, at least N integers.
//   E   out, at least abs(NE) eigenvalues.
//   V   out, N1 x abs(NV): column k is the eigenvector of E(k).
#pragma once

void EIGRS(float* A, int N, int N1, int NE, int NV, float& EPS, float* W, int* IW, float* E,
           float* V);
