#include "cutsim/coarse_solver.h"

#include <algorithm>
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

void CoarseSolver::MultiplyRows(const std::vector<double>& v, std::vector<double>& result, int begin, int end) const {
  int rows = static_cast<int>(rowStarts.size()) - 1;
  for (int row = begin; row < end; ++row) {
    double sum = 0;
    if (row < rows) {
      for (int e = rowStarts[row]; e < rowStarts[row + 1]; ++e) sum += values[e] * v[columns[e]];
    }
    result[row] = sum;
  }
}

namespace {

// Dot products are summed per chunk of a fixed size and then over the chunks
// in order: the same sums on any number of threads.
constexpr int kChunk = 64;
// Below this size the team is one thread: a barrier costs more than a chunk.
constexpr int kParallelSize = 256;

double PartialDot(const std::vector<double>& a, const std::vector<double>& b, int begin, int end) {
  double sum = 0;
  for (int i = begin; i < end; ++i) sum += a[i] * b[i];
  return sum;
}

double SumOfChunks(const std::vector<double>& partial) {
  double sum = 0;
  for (double value : partial) sum += value;
  return sum;
}

}  // namespace

// Every thread of the team runs the whole iteration: the vector work is
// split by chunks, and the scalars (rho, p.q, alpha, beta) are summed by
// every thread from the same chunk sums after the loop's barrier, so all of
// them take the same decisions.
int CoarseSolver::Solve(const std::vector<double>& rhs, std::vector<double>& x) {
  int n = size;
  if (n == 0 || static_cast<int>(rhs.size()) < n || static_cast<int>(x.size()) < n) return 0;
  int chunks = (n + kChunk - 1) / kChunk;
  rhoPartial.assign(chunks, 0.0);
  pqPartial.assign(chunks, 0.0);
  int result = 0;
#pragma omp parallel if (n >= kParallelSize)
  {
#pragma omp for schedule(static)
    for (int c = 0; c < chunks; ++c) {
      int begin = c * kChunk, end = std::min(n, begin + kChunk);
      MultiplyRows(x, r, begin, end);
      for (int i = begin; i < end; ++i) {
        r[i] = rhs[i] - r[i];
        z[i] = inverseDiagonal[i] * r[i];
        p[i] = z[i];
      }
      rhoPartial[c] = PartialDot(r, z, begin, end);
    }
    double rho = SumOfChunks(rhoPartial);
    // rho is the squared preconditioned residual norm, hence the squared factor
    double stopRho = relativeTolerance * relativeTolerance * std::fabs(rho);
    int iteration = 0;
    while (true) {
      // a non-finite rho (broken input) ends the solve like convergence does
      if (std::fabs(rho) < 1e-20 || !std::isfinite(rho)) break;
      if (iteration > 0 && std::fabs(rho) <= stopRho) break;
#pragma omp for schedule(static)
      for (int c = 0; c < chunks; ++c) {
        int begin = c * kChunk, end = std::min(n, begin + kChunk);
        MultiplyRows(p, q, begin, end);
        pqPartial[c] = PartialDot(p, q, begin, end);
      }
      double pq = SumOfChunks(pqPartial);
      // p.q <= 0 (a matrix that is not positive definite) or non-finite
      // (overflow) gives no usable step: keep the last iterate rather than
      // step along a direction of growing energy or spread inf or NaN
      if (!(pq > 0) || !std::isfinite(pq)) break;
      double alpha = rho / pq;
      if (!std::isfinite(alpha)) break;
      ++iteration;
      bool last = iteration >= maxIterations;
#pragma omp for schedule(static)
      for (int c = 0; c < chunks; ++c) {
        int begin = c * kChunk, end = std::min(n, begin + kChunk);
        for (int i = begin; i < end; ++i) x[i] += alpha * p[i];
        if (last) continue;
        for (int i = begin; i < end; ++i) {
          r[i] -= alpha * q[i];
          z[i] = inverseDiagonal[i] * r[i];
        }
        rhoPartial[c] = PartialDot(r, z, begin, end);
      }
      if (last) break;
      double rhoNew = SumOfChunks(rhoPartial);
      double beta = rhoNew / rho;
#pragma omp for schedule(static)
      for (int i = 0; i < n; ++i) p[i] = z[i] + beta * p[i];
      rho = rhoNew;
    }
#pragma omp single nowait
    result = iteration;
  }
  return result;
}
