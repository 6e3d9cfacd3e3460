#include "cutsim/coarse_solver.h"

#include <cmath>

void CoarseSolver::Init(int32_t n) {
  // clear() keeps the capacity: refilling every time step allocates nothing
  size = n;
  rowStarts.clear();
  columns.clear();
  values.clear();
  rowStarts.push_back(0);
  r.resize(n, 0.0);
  z.resize(n, 0.0);
  p.resize(n, 0.0);
  q.resize(n, 0.0);
  inverseDiagonal.resize(n, 0.0);
}

void CoarseSolver::AddEntry(int32_t column, double value) {
  columns.push_back(column);
  values.push_back(value);
}

void CoarseSolver::UpdateInverseDiagonal() {
  int rows = static_cast<int>(rowStarts.size()) - 1;
  for (int row = 0; row < rows && row < size; ++row) {
    for (int e = rowStarts[row]; e < rowStarts[row + 1]; ++e) {
      if (columns[e] != row) continue;
      double d = values[e];
      // a zero (decoupled) or broken diagonal must not put inf into the
      // preconditioner: that variable is left unpreconditioned at 0
      inverseDiagonal[row] = (d != 0 && std::isfinite(d)) ? 1.0 / d : 0.0;
      break;
    }
  }
}

void CoarseSolver::Multiply(const std::vector<double>& v, std::vector<double>& result) const {
  int rows = static_cast<int>(rowStarts.size()) - 1;
  for (int row = 0; row < size; ++row) {
    double sum = 0;
    if (row < rows) {
      for (int e = rowStarts[row]; e < rowStarts[row + 1]; ++e) sum += values[e] * v[columns[e]];
    }
    result[row] = sum;
  }
}

namespace {
double DotProduct(const std::vector<double>& a, const std::vector<double>& b, int n) {
  double sum = 0;
  for (int i = 0; i < n; ++i) sum += a[i] * b[i];
  return sum;
}
}  // namespace

int CoarseSolver::Solve(const std::vector<double>& rhs, std::vector<double>& x) {
  int n = size;
  if (n == 0 || static_cast<int>(rhs.size()) < n || static_cast<int>(x.size()) < n) return 0;
  Multiply(x, r);
  for (int i = 0; i < n; ++i) {
    r[i] = rhs[i] - r[i];
    z[i] = inverseDiagonal[i] * r[i];
    p[i] = z[i];
  }
  double rho = DotProduct(r, z, n);
  // rho is the squared preconditioned residual norm, hence the squared factor
  double stopRho = relativeTolerance * relativeTolerance * std::fabs(rho);
  int iteration = 0;
  while (true) {
    // a non-finite rho (broken input) ends the solve like convergence does
    if (std::fabs(rho) < 1e-20 || !std::isfinite(rho)) return iteration;
    if (iteration > 0 && std::fabs(rho) <= stopRho) return iteration;
    Multiply(p, q);
    double pq = DotProduct(p, q, n);
    // p.q <= 0 (a matrix that is not positive definite) or non-finite
    // (overflow) gives no usable step: keep the last iterate rather than
    // step along a direction of growing energy or spread inf or NaN
    if (!(pq > 0) || !std::isfinite(pq)) return iteration;
    double alpha = rho / pq;
    if (!std::isfinite(alpha)) return iteration;
    for (int i = 0; i < n; ++i) x[i] += alpha * p[i];
    ++iteration;
    if (iteration >= maxIterations) return iteration;
    for (int i = 0; i < n; ++i) {
      r[i] -= alpha * q[i];
      z[i] = inverseDiagonal[i] * r[i];
    }
    double rhoNew = DotProduct(r, z, n);
    double beta = rhoNew / rho;
    for (int i = 0; i < n; ++i) p[i] = z[i] + beta * p[i];
    rho = rhoNew;
  }
}
