#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <omp.h>
#include <vector>

#include "cutsim/coarse_solver.h"

namespace {

// Fills the solver with a dense matrix given row by row.
void LoadDense(CoarseSolver& solver, const std::vector<std::vector<double>>& rows) {
  int n = static_cast<int>(rows.size());
  solver.Init(n);
  for (const auto& row : rows) {
    for (int c = 0; c < n; ++c) solver.AddEntry(c, row[c]);
    solver.EndRow();
  }
  solver.UpdateInverseDiagonal();
}

TEST(CoarseSolver, SolvesASymmetricPositiveDefiniteSystem) {
  CoarseSolver solver(2500);
  LoadDense(solver, {{4, 1, 0}, {1, 3, -1}, {0, -1, 2}});
  std::vector<double> x = {0, 0, 0}, b = {1, 2, 3};
  solver.Solve(b, x);
  const double expected[3] = {-1.0 / 9.0, 13.0 / 9.0, 20.0 / 9.0};
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(x[i], expected[i], 1e-12);
}

TEST(CoarseSolver, StartValueThatSolvesTheSystemReturnsAtOnce) {
  CoarseSolver solver(2500);
  LoadDense(solver, {{2, 0}, {0, 5}});
  std::vector<double> x = {0.5, 0.2}, b = {1, 1};
  EXPECT_EQ(solver.Solve(b, x), 0);
  EXPECT_EQ(x[0], 0.5);
  EXPECT_EQ(x[1], 0.2);
}

// A well-conditioned tridiagonal system converges geometrically: the relative
// stop ends well before round-off, with the residual below the factor asked for.
TEST(CoarseSolver, RelativeToleranceStopsOnceTheResidualHasDroppedEnough) {
  const int n = 60;
  std::vector<std::vector<double>> rows(n, std::vector<double>(n, 0.0));
  for (int i = 0; i < n; ++i) {
    rows[i][i] = 3.0;
    if (i > 0) rows[i][i - 1] = -1.0;
    if (i + 1 < n) rows[i][i + 1] = -1.0;
  }
  std::vector<double> b(n);
  for (int i = 0; i < n; ++i) b[i] = 1.0 + i % 3;
  CoarseSolver exact(2500), relaxed(2500, 1e-3);
  LoadDense(exact, rows);
  LoadDense(relaxed, rows);
  std::vector<double> xExact(n, 0.0), xRelaxed(n, 0.0);
  int exactIterations = exact.Solve(b, xExact);
  int relaxedIterations = relaxed.Solve(b, xRelaxed);
  EXPECT_GT(relaxedIterations, 0);
  EXPECT_LT(relaxedIterations, exactIterations);
  double residual = 0, start = 0;
  for (int i = 0; i < n; ++i) {
    double ax = 0;
    for (int c = 0; c < n; ++c) ax += rows[i][c] * xRelaxed[c];
    residual += (b[i] - ax) * (b[i] - ax) / 3.0;
    start += b[i] * b[i] / 3.0;
  }
  EXPECT_LE(std::sqrt(residual / start), 1e-3);
}

// p.q = 0 (a zero matrix with a preconditioner that still sees a residual),
// p.q < 0 (a matrix that is not positive definite) and p.q = inf (overflow)
// give no usable step: the start value is kept and nothing non-finite or
// energy-raising reaches it.
TEST(CoarseSolver, NonPositiveOrNonFiniteCurvatureKeepsTheLastIterate) {
  const double huge = std::numeric_limits<double>::max();
  struct Case {
    const char* name;
    std::vector<std::vector<double>> rows;
  } cases[] = {{"zero matrix", {{0, 0}, {0, 0}}},
                 {"negative definite", {{-1, 0}, {0, -2}}},
                 {"overflowing p.q", {{huge, 0}, {0, huge}}}};
  for (const Case& c : cases) {
    CoarseSolver solver(2500);
    LoadDense(solver, c.rows);
    solver.inverseDiagonal = {1.0, 1.0};
    std::vector<double> x = {0.25, -0.5}, b = {1, 1};
    EXPECT_EQ(solver.Solve(b, x), 0) << c.name;
    EXPECT_EQ(x[0], 0.25) << c.name;
    EXPECT_EQ(x[1], -0.5) << c.name;
  }
}

TEST(CoarseSolver, BrokenDiagonalEntriesDoNotEnterThePreconditioner) {
  CoarseSolver solver(2500);
  const double nan = std::nan("");
  LoadDense(solver, {{0, 0, 0}, {0, nan, 0}, {0, 0, 4}});
  EXPECT_EQ(solver.inverseDiagonal[0], 0.0);
  EXPECT_EQ(solver.inverseDiagonal[1], 0.0);
  EXPECT_EQ(solver.inverseDiagonal[2], 0.25);
}

TEST(CoarseSolver, StopsAtTheIterationLimit) {
  // three distinct eigenvalues of the scaled matrix: exact CG needs three steps
  CoarseSolver solver(2);
  LoadDense(solver, {{2, 1, 0}, {1, 2, 1}, {0, 1, 2}});
  std::vector<double> x = {0, 0, 0}, b = {1, 1, 1};
  EXPECT_EQ(solver.Solve(b, x), 2);
  for (double v : x) EXPECT_TRUE(std::isfinite(v));
}

// A grid Laplacian with a shift, large enough for a team of threads: the
// result must not depend on how many share the work, and must solve it.
TEST(CoarseSolver, ThreadCountDoesNotChangeTheResult) {
  const int side = 9, n = side * side * side;
  auto load = [&](CoarseSolver& solver) {
    solver.Init(n);
    for (int i = 0; i < n; ++i) {
      int x = i % side, y = (i / side) % side, z = i / (side * side);
      int neighbours[6][3] = {{x - 1, y, z}, {x + 1, y, z}, {x, y - 1, z}, {x, y + 1, z}, {x, y, z - 1}, {x, y, z + 1}};
      for (auto& m : neighbours) {
        if (m[0] >= 0 && m[0] < side && m[1] >= 0 && m[1] < side && m[2] >= 0 && m[2] < side)
          solver.AddEntry(m[0] + side * (m[1] + side * m[2]), -1.0);
      }
      solver.AddEntry(i, 6.1 + 0.01 * (i % 7));
      solver.EndRow();
    }
    solver.UpdateInverseDiagonal();
  };
  std::vector<double> b(n);
  for (int i = 0; i < n; ++i) b[i] = std::sin(0.37 * i) + 0.2;
  int threads = omp_get_max_threads();
  std::vector<double> solutions[2];
  int iterations[2];
  for (int run = 0; run < 2; ++run) {
    omp_set_num_threads(run == 0 ? 1 : 2);
    CoarseSolver solver(2500);
    load(solver);
    solutions[run].assign(n, 0.0);
    iterations[run] = solver.Solve(b, solutions[run]);
  }
  omp_set_num_threads(threads);
  EXPECT_EQ(iterations[0], iterations[1]);
  EXPECT_GT(iterations[0], 5);
  for (int i = 0; i < n; ++i) ASSERT_EQ(solutions[0][i], solutions[1][i]) << i;
  // and it is the solution: A x = b to a tight residual
  CoarseSolver check(2500);
  load(check);
  double worst = 0;
  for (int i = 0; i < n; ++i) {
    double ax = 0;
    for (int e = check.rowStarts[i]; e < check.rowStarts[i + 1]; ++e) ax += check.values[e] * solutions[0][check.columns[e]];
    worst = std::max(worst, std::fabs(ax - b[i]));
  }
  EXPECT_LT(worst, 1e-8);
}

}  // namespace
