// qorv/freeform/bezier_primitives.h
//
// Bezier and power-form primitives on flat arrays of doubles, shared by the pole curves and the
// pole surfaces: Bernstein values, de Casteljau evaluation (one point or the whole triangle),
// hodograph, degree elevation, restriction to a sub-domain, Horner evaluation of power forms
// (curves, tensor patches and their iso-curves), and the Bezier knot sequence.
//
// A pole array holds N poles of dim doubles each, consecutive: P[i * dim + d]. The Bezier
// parameter is the local one, s in [0, 1]; values outside it extrapolate.
//
// Conventions a caller gets wrong:
// - Bernstein(i, n, t) is B_{i,n}(t) = C(n,i) t^i (1-t)^(n-i); an index outside [0, n] or a
//   negative n gives 0. AllBernsteins(n, t) gives n + 1 values (empty for n < 0).
// - CasteljauAll fills N(N+1)/2 poles: level 0 (the N poles), then level k with N - k poles;
//   the last pole is the point. The derivatives of a degree n = N - 1 curve come from the
//   levels n - 1 and n - 2: P'(s) = n (Q1 - Q0), P''(s) = n (n-1) (R2 - 2 R1 + R0).
// - Hodographe writes N - 1 poles Q_i = P_{i+1} - P_i without the degree factor.
// - BezierIncreaseDegree works in place: P must have room for N + times poles.
// - RedefineDomain(P, N, a, b, dim) replaces the poles by those of the same curve over [a, b]
//   (a > b reverses it, a or b outside [0, 1] extends it); it is exact in the blossom sense.
// - Horner takes power-form coefficients (coefficient k of s^k at C[k * dim]), not poles. The
//   tensor forms take C[(j * Nu + i) * dim + d], the coefficient of u^i v^j: one row per v index,
//   like the pole matrices. HornerIsoU(C, Nu, Nv, u, …) gives the Nv coefficients in v of the
//   curve at fixed u; HornerIsoV the Nu coefficients in u at fixed v.
// - The net routines (HodographeU/V, RedefineDomainU/V, SpolyPatch2Pole) take Nu x Nv poles or
//   coefficients in that tensor layout, u index fastest. HodographeU writes (Nu - 1) x Nv
//   differences P(i+1, j) - P(i, j), HodographeV Nu x (Nv - 1) differences P(i, j+1) - P(i, j),
//   both without the degree factor, in the same layout.
// - SpolyPatch2Pole converts a tensor power form over [0, 1]^2 (coefficient of u^i v^j) into the
//   poles of the same patch; it may work in place (P == C).
// - Counts below 1 (or dim below 1) do nothing; outputs are left untouched.
//
// No stored image: these are free functions on caller-owned buffers.
#pragma once

#include "qorv/foundation/angles.h"
#include "qorv/freeform/knot_vector.h"
#include "qorv/support/quick_algebra.h"

namespace qorv {

QORV_API double Bernstein(int i, int n, double t);
QORV_API QuickAlgebra::ERVec<double> AllBernsteins(int n, double t);

// One point of the N poles at s into out (dim doubles).
QORV_API void Casteljau(const double* P, int N, double t, int dim, double* out);
// The whole triangle into tri (N(N+1)/2 * dim doubles).
QORV_API void CasteljauAll(const double* P, double* tri, int N, double t, int dim);
// Q (N - 1 poles) = differences of consecutive poles.
QORV_API void Hodographe(const double* P, double* Q, int N, int dim);
QORV_API void BezierIncreaseDegree(double* P, int N, int times, int dim);
QORV_API void RedefineDomain(double* P, int N, double a, double b, int dim);

// Nets of Nu x Nv poles (u index fastest): differences along u or v, restriction of the u or v
// parameter to [a, b] in place, and the poles of a tensor power form over [0, 1]^2.
QORV_API void HodographeU(const double* P, double* Q, int Nu, int Nv, int dim);
QORV_API void HodographeV(const double* P, double* Q, int Nu, int Nv, int dim);
QORV_API void RedefineDomainU(double* P, int Nu, int Nv, double a, double b, int dim);
QORV_API void RedefineDomainV(double* P, int Nu, int Nv, double a, double b, int dim);
QORV_API void SpolyPatch2Pole(const double* C, int Nu, int Nv, int dim, double* P);

// Power form of N coefficients at t into out (dim doubles).
QORV_API void Horner(const double* C, int N, double t, int dim, double* out);
// Tensor power form of Nu x Nv coefficients at (u, v) into out (dim doubles).
QORV_API void Horner(const double* C, int Nu, int Nv, double u, double v, int dim, double* out);
// Iso-curves of a tensor power form: out gets Nv (IsoU) or Nu (IsoV) coefficients of dim doubles.
QORV_API void HornerIsoU(const double* C, int Nu, int Nv, double u, int dim, double* out);
QORV_API void HornerIsoV(const double* C, int Nu, int Nv, double v, int dim, double* out);

// degree + 1 copies of each limit (degree below 0 counts as 0).
QORV_API ERKnotVector BezierKnotVector(int degree, const ERLimites& range);

}  // namespace qorv
