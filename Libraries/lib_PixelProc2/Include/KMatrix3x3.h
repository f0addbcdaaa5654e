#pragma once
// 3 x 3 matrices of doubles, nine elements in row order (m[0] m[1] m[2] is the first row), and the small
// helpers the colour stages build their matrices with.
#include <array>

using KMatrix3x3 = std::array<double, 9>;

// All zero.
KMatrix3x3 Zero3x3();
// A x B: element [i][j] = sum over k of A[i][k] x B[k][j].
KMatrix3x3 Multiply3x3(const KMatrix3x3& a, const KMatrix3x3& b);
// Every element times s.
KMatrix3x3 Scale3x3(const KMatrix3x3& a, double s);

// Expansion along the first row.
double Determinant3x3(const KMatrix3x3& m);
// The adjugate times 1 / determinant. A singular matrix is not detected: the result then holds infinities
// or not-a-number values (callers test the determinant first where it matters).
KMatrix3x3 Invert3x3(const KMatrix3x3& m);
