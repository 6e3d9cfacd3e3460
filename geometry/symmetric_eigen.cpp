#include "geometry/symmetric_eigen.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kN = 3;
// relative convergence threshold of the QL iteration (2^-52)
constexpr double kEpsilon = 2.220446049250313e-16;
constexpr int kMaxIterations = 64;

// Reduces the symmetric matrix in v to tridiagonal form; d receives the
// diagonal, e the subdiagonal (e[0] = 0) and v the orthogonal transformation.
void Tridiagonalize(double v[kN][kN], double d[kN], double e[kN]) {
  for (int j = 0; j < kN; ++j) d[j] = v[kN - 1][j];
  for (int i = kN - 1; i > 0; --i) {
    double scale = 0.0, h = 0.0;
    for (int k = 0; k < i; ++k) scale += std::fabs(d[k]);
    if (scale == 0.0) {
      e[i] = d[i - 1];
      for (int j = 0; j < i; ++j) {
        d[j] = v[i - 1][j];
        v[i][j] = 0.0;
        v[j][i] = 0.0;
      }
    } else {
      // Householder vector of row i
      for (int k = 0; k < i; ++k) {
        d[k] /= scale;
        h += d[k] * d[k];
      }
      double f = d[i - 1];
      double g = std::sqrt(h);
      if (f > 0) g = -g;
      e[i] = scale * g;
      h -= f * g;
      d[i - 1] = f - g;
      for (int j = 0; j < i; ++j) e[j] = 0.0;
      for (int j = 0; j < i; ++j) {
        f = d[j];
        v[j][i] = f;
        g = e[j] + v[j][j] * f;
        for (int k = j + 1; k <= i - 1; ++k) {
          g += v[k][j] * d[k];
          e[k] += v[k][j] * f;
        }
        e[j] = g;
      }
      f = 0.0;
      for (int j = 0; j < i; ++j) {
        e[j] /= h;
        f += e[j] * d[j];
      }
      const double hh = f / (h + h);
      for (int j = 0; j < i; ++j) e[j] -= hh * d[j];
      for (int j = 0; j < i; ++j) {
        f = d[j];
        g = e[j];
        for (int k = j; k <= i - 1; ++k) v[k][j] -= (f * e[k] + g * d[k]);
        d[j] = v[i - 1][j];
        v[i][j] = 0.0;
      }
    }
    d[i] = h;
  }
  // accumulate the transformations
  for (int i = 0; i < kN - 1; ++i) {
    v[kN - 1][i] = v[i][i];
    v[i][i] = 1.0;
    const double h = d[i + 1];
    if (h != 0.0) {
      for (int k = 0; k <= i; ++k) d[k] = v[k][i + 1] / h;
      for (int j = 0; j <= i; ++j) {
        double g = 0.0;
        for (int k = 0; k <= i; ++k) g += v[k][i + 1] * v[k][j];
        for (int k = 0; k <= i; ++k) v[k][j] -= g * d[k];
      }
    }
    for (int k = 0; k <= i; ++k) v[k][i + 1] = 0.0;
  }
  for (int j = 0; j < kN; ++j) {
    d[j] = v[kN - 1][j];
    v[kN - 1][j] = 0.0;
  }
  v[kN - 1][kN - 1] = 1.0;
  e[0] = 0.0;
}

// Diagonalizes the tridiagonal matrix (d, e) by QL steps with implicit
// shifts, applying the rotations to v.
void DiagonalizeTridiagonal(double v[kN][kN], double d[kN], double e[kN]) {
  for (int i = 1; i < kN; ++i) e[i - 1] = e[i];
  e[kN - 1] = 0.0;
  double f = 0.0, largest = 0.0;
  for (int l = 0; l < kN; ++l) {
    largest = std::max(largest, std::fabs(d[l]) + std::fabs(e[l]));
    int m = l;
    while (m < kN - 1 && std::fabs(e[m]) > kEpsilon * largest) ++m;
    if (m > l) {
      int iteration = 0;
      do {
        // implicit shift from the leading 2 x 2 block
        double g = d[l];
        double p = (d[l + 1] - g) / (2.0 * e[l]);
        double r = std::hypot(p, 1.0);
        if (p < 0) r = -r;
        d[l] = e[l] / (p + r);
        d[l + 1] = e[l] * (p + r);
        const double dl1 = d[l + 1];
        double h = g - d[l];
        for (int i = l + 2; i < kN; ++i) d[i] -= h;
        f += h;
        // QL sweep from m up to l
        p = d[m];
        double c = 1.0, c2 = 1.0, c3 = 1.0, s = 0.0, s2 = 0.0;
        const double el1 = e[l + 1];
        for (int i = m - 1; i >= l; --i) {
          c3 = c2;
          c2 = c;
          s2 = s;
          g = c * e[i];
          h = c * p;
          r = std::hypot(p, e[i]);
          e[i + 1] = s * r;
          s = e[i] / r;
          c = p / r;
          p = c * d[i] - s * g;
          d[i + 1] = h + s * (c * g + s * d[i]);
          for (int k = 0; k < kN; ++k) {
            h = v[k][i + 1];
            v[k][i + 1] = s * v[k][i] + c * h;
            v[k][i] = c * v[k][i] - s * h;
          }
        }
        p = -s * s2 * c3 * el1 * e[l] / dl1;
        e[l] = s * p;
        d[l] = c * p;
      } while (std::fabs(e[l]) > kEpsilon * largest && ++iteration < kMaxIterations);
    }
    d[l] += f;
    e[l] = 0.0;
  }
}

}  // namespace

void DecomposeSymmetric3(const Mat3d& matrix, double eigenvalues[3], Mat3d& eigenvectors) {
  for (double value : matrix.m) {
    if (!std::isfinite(value)) {
      eigenvalues[0] = eigenvalues[1] = eigenvalues[2] = 0.0;
      eigenvectors = Mat3d::Identity();
      return;
    }
  }
  double v[kN][kN], d[kN], e[kN];
  for (int r = 0; r < kN; ++r) {
    for (int c = 0; c < kN; ++c) v[r][c] = matrix(r, c);
  }
  Tridiagonalize(v, d, e);
  DiagonalizeTridiagonal(v, d, e);

  // ascending order, vectors alongside
  int order[kN] = {0, 1, 2};
  std::sort(order, order + kN, [&](int a, int b) { return d[a] < d[b]; });
  for (int k = 0; k < kN; ++k) {
    eigenvalues[k] = d[order[k]];
    for (int r = 0; r < kN; ++r) eigenvectors(r, k) = v[r][order[k]];
  }
}
