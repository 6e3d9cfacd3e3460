#pragma once
// Eigen-decomposition of a symmetric 3 x 3 matrix: Householder reduction to
// tridiagonal form followed by the QL algorithm with implicit shifts.
#include "geometry/vec.h"

// Eigenvalues in ascending order; column k of eigenvectors belongs to
// eigenvalue k. A matrix with a non-finite entry gives zero eigenvalues and
// the identity.
void DecomposeSymmetric3(const Mat3d& matrix, double eigenvalues[3], Mat3d& eigenvectors);
