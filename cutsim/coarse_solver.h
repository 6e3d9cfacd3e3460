#pragma once
// Jacobi-preconditioned conjugate gradients on a CSR matrix: the solver of the
// coarsest multigrid level. The solution passed in is the start value.
#include <cstdint>
#include <vector>

class CoarseSolver {
 public:
  // relativeTolerance > 0 stops once the preconditioned residual norm has
  // dropped by that factor from the start value; 0 iterates to rho ~ 0.
  explicit CoarseSolver(int32_t maxIterations, double relativeTolerance = 0.0)
      : maxIterations(maxIterations), relativeTolerance(relativeTolerance) {}

  // Empties the matrix and sizes the work vectors to n (new elements 0).
  void Init(int32_t n);
  void AddEntry(int32_t column, double value);
  // Closes the current row: appends the entry count as the next row start.
  void EndRow() { rowStarts.push_back(static_cast<int32_t>(columns.size())); }
  // Sets the inverse diagonal of every row that has a diagonal entry; rows
  // without one (or with a zero one) keep their previous value.
  void UpdateInverseDiagonal();
  // Returns the number of iterations made.
  int Solve(const std::vector<double>& rhs, std::vector<double>& solution);

  const int32_t maxIterations;
  const double relativeTolerance;
  int32_t size = 0;                 // n
  std::vector<int32_t> rowStarts;   // n + 1 CSR row pointers
  std::vector<int32_t> columns;     // per entry
  std::vector<double> values;       // per entry
  std::vector<double> r, z, p, q;   // work vectors, n each
  std::vector<double> inverseDiagonal;  // n
  std::vector<double> rhoPartial, pqPartial;  // dot products per chunk

 private:
  void MultiplyRows(const std::vector<double>& v, std::vector<double>& result, int begin, int end) const;
};
