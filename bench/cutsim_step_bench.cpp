// Timing main for the finite element model and the time step on the bundled
// liver: first BuildHierarchy, one full simulation step broken down by stage,
// the same system solved with Eigen's CG (diagonal and incomplete Cholesky)
// and SimplicialLDLT to the residual that 2 V-cycles reach, the memory
// streamed by a V-cycle against a plain copy, and the memory per vertex.
//
//   cutsim_step_bench [steps]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <eigen3/Eigen/IterativeLinearSolvers>
#include <eigen3/Eigen/SparseCholesky>
#include <eigen3/Eigen/SparseCore>
#include <string>
#include <vector>

#include "support/cutsim_body.cpp"

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The scene set-up up to the octree, then a timed first BuildHierarchy.
std::unique_ptr<SimBody> LoadWithTimedBuild(const std::vector<std::pair<std::wstring, std::wstring>>& overrides,
                                            double* buildSeconds) {
  auto body = LoadSceneBody("LiverScene.txt", overrides);
  if (!body) return nullptr;
  // rebuild on a fresh octree to time the first build alone
  auto octree = std::make_unique<Octree>();
  octree->BuildFromMesh(body->mesh, body->octree->voxelSize, 10, nullptr);
  CutSim& old = *body->sim;
  auto sim = std::make_unique<CutSim>(*octree, 0, 0);
  sim->numEmbeddedLevels = old.numEmbeddedLevels;
  sim->SetMaterial(old.voxelSize, old.E, old.nu, true, old.timeStep, old.dampingFactor, old.density, true);
  sim->numLevels = old.numLevels;
  auto start = Clock::now();
  sim->BuildHierarchy(false);
  *buildSeconds = Seconds(start, Clock::now());
  return body;
}

struct StageTimes {
  std::vector<double> rotations, assemble, operators, compact, rhs, corners, solve, copy, total;
};

void TimedStep(CutSim& sim, StageTimes& t) {
  int u = sim.numEmbeddedLevels;
  bool changed = sim.structureChanged;
  auto t0 = Clock::now();
  sim.ComputeRotations(u);
  auto t1 = Clock::now();
  sim.Assemble(u, changed, !changed);
  auto t2 = Clock::now();
  sim.UpdateMultigridOperators(changed, u);
  auto t3 = Clock::now();
  if (changed) sim.CompactRows();
  auto t4 = Clock::now();
  sim.AssembleRightHandSide(u);
  auto t5 = Clock::now();
  sim.ComputeElementCorners();
  sim.structureChanged = false;
  auto t6 = Clock::now();
  sim.SolveExtended();
  auto t7 = Clock::now();
  sim.CopyVertexPositionsIntoOctree();
  auto t8 = Clock::now();
  t.rotations.push_back(Seconds(t0, t1));
  t.assemble.push_back(Seconds(t1, t2));
  t.operators.push_back(Seconds(t2, t3));
  t.compact.push_back(Seconds(t3, t4));
  t.rhs.push_back(Seconds(t4, t5));
  t.corners.push_back(Seconds(t5, t6));
  t.solve.push_back(Seconds(t6, t7));
  t.copy.push_back(Seconds(t7, t8));
  t.total.push_back(Seconds(t0, t8));
}

void PrintStages(const StageTimes& t) {
  std::printf("  median ms: rotations %.2f, assemble %.2f, coarse operators %.2f, right-hand side %.2f, element corners %.2f, "
              "2 V-cycles %.2f, copy into octree %.2f; full step %.2f (min %.2f)\n",
              1e3 * Median(t.rotations), 1e3 * Median(t.assemble), 1e3 * Median(t.operators), 1e3 * Median(t.rhs),
              1e3 * Median(t.corners), 1e3 * Median(t.solve), 1e3 * Median(t.copy), 1e3 * Median(t.total),
              1e3 * *std::min_element(t.total.begin(), t.total.end()));
}

using SparseMatrix = Eigen::SparseMatrix<double, Eigen::RowMajor>;

SparseMatrix LevelMatrix(const CutSim& sim, int level) {
  std::vector<Eigen::Triplet<double>> entries;
  for (int i = 0; i < sim.vertexCount[level]; ++i) {
    const LevelVertex& row = sim.levelVertices[level][i];
    for (int p = 0; p < row.count; ++p) {
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) entries.emplace_back(3 * i + r, 3 * row.columns[p] + c, row.blocks[p](r, c));
      }
    }
  }
  int n = 3 * sim.vertexCount[level];
  SparseMatrix A(n, n);
  A.setFromTriplets(entries.begin(), entries.end());
  return A;
}

Eigen::VectorXd Gather(const CutSim& sim, int level, bool rhs) {
  Eigen::VectorXd v(3 * sim.vertexCount[level]);
  for (int i = 0; i < sim.vertexCount[level]; ++i) {
    const Vec3d& value = rhs ? sim.levelVertices[level][i].b : sim.levelVertices[level][i].x;
    for (int c = 0; c < 3; ++c) v(3 * i + c) = value[c];
  }
  return v;
}

template <typename Solver>
void TimeCG(const char* name, const SparseMatrix& A, const Eigen::VectorXd& b, const Eigen::VectorXd& x0,
            double targetResidual, double ourStep, double* fastest) {
  Solver solver;
  solver.setTolerance(targetResidual / b.norm());
  solver.setMaxIterations(100000);
  auto start = Clock::now();
  solver.compute(A);
  Eigen::VectorXd x = solver.solveWithGuess(b, x0);
  double seconds = Seconds(start, Clock::now());
  double residual = (b - A * x).norm();
  std::printf("  %s: %.2f ms, %ld iterations, residual %.3e (target %.3e); our step is %.1fx faster\n", name,
              1e3 * seconds, static_cast<long>(solver.iterations()), residual, targetResidual, seconds / ourStep);
  *fastest = std::min(*fastest, seconds);
}

void CompareWithEigen(CutSim& sim, double ourStep) {
  int u = sim.numEmbeddedLevels;
  sim.PrepareTimeStep();
  SparseMatrix A = LevelMatrix(sim, u);
  Eigen::VectorXd b = Gather(sim, u, true), x0 = Gather(sim, u, false);
  double initial = (b - A * x0).norm();
  sim.SolveExtended();
  Eigen::VectorXd xMultigrid = Gather(sim, u, false);
  double target = (b - A * xMultigrid).norm();
  std::printf("  system: %ld unknowns, %ld nonzeros; residual %.3e -> %.3e after 2 V-cycles (%.1fx per cycle)\n",
              static_cast<long>(A.rows()), static_cast<long>(A.nonZeros()), initial, target, std::sqrt(initial / target));
  std::printf("  coarsest level: %d unknowns, %d CG iterations in the last V-cycle\n",
              3 * sim.vertexCount[sim.numLevels - 1], sim.lastCoarseIterations);
  double fastest = 1e30;
  TimeCG<Eigen::ConjugateGradient<SparseMatrix, Eigen::Lower | Eigen::Upper, Eigen::DiagonalPreconditioner<double>>>(
      "Eigen CG, diagonal preconditioner", A, b, x0, target, ourStep, &fastest);
  TimeCG<Eigen::ConjugateGradient<SparseMatrix, Eigen::Lower | Eigen::Upper, Eigen::IncompleteCholesky<double>>>(
      "Eigen CG, incomplete Cholesky", A, b, x0, target, ourStep, &fastest);
  Eigen::SparseMatrix<double> column = A;
  auto start = Clock::now();
  Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>> ldlt(column);
  Eigen::VectorXd x = ldlt.solve(b);
  double seconds = Seconds(start, Clock::now());
  std::printf("  Eigen SimplicialLDLT: %.2f ms, residual %.3e; our step is %.1fx faster\n", 1e3 * seconds,
              (b - A * x).norm(), seconds / ourStep);
  fastest = std::min(fastest, seconds);
  std::printf("  fastest Eigen solve / our full step = %.1f\n", fastest / ourStep);
}

// Bytes a V-cycle streams: every smoothing sweep and residual reads the rows
// (blocks and columns) and the records; transfers read the stencils.
double VCycleBytes(const CutSim& sim) {
  double bytes = 0;
  for (int level = sim.numEmbeddedLevels; level < sim.numLevels; ++level) {
    double blocks = 0;
    for (const LevelVertex& row : sim.levelVertices[level]) blocks += row.count;
    double rowBytes = blocks * (sizeof(Mat3d) + sizeof(int32_t)) + sim.vertexCount[level] * sizeof(LevelVertex);
    bool coarsest = level == sim.numLevels - 1;
    int passes = coarsest ? 0 : CutSim::kPreSmoothingSweeps + CutSim::kPostSmoothingSweeps + 1;
    bytes += passes * rowBytes;
    if (!coarsest) bytes += 2.0 * sim.vertexCount[level] * (2 * 8 * sizeof(int32_t) + sizeof(LevelVertex));
  }
  return bytes;
}

double CopyBandwidth() {
  size_t n = size_t(1) << 25;  // 256 MiB per array
  std::vector<double> a(n, 1.0), b(n, 0.0);
  double best = 1e30;
  for (int repeat = 0; repeat < 5; ++repeat) {
    auto start = Clock::now();
    std::memcpy(b.data(), a.data(), n * sizeof(double));
    best = std::min(best, Seconds(start, Clock::now()));
    a[repeat] = b[n - 1 - repeat];
  }
  return 2.0 * n * sizeof(double) / best;
}

void MeasureBandwidth(CutSim& sim) {
  sim.PrepareTimeStep();
  std::vector<double> times;
  for (int repeat = 0; repeat < 20; ++repeat) {
    auto start = Clock::now();
    sim.VCycle(CutSim::kPreSmoothingSweeps, CutSim::kPostSmoothingSweeps);
    times.push_back(Seconds(start, Clock::now()));
  }
  double bytes = VCycleBytes(sim), seconds = Median(times);
  double copy = CopyBandwidth();
  std::printf("  V-cycle: %.2f ms, %.1f MB streamed, %.2f GB/s; plain copy %.2f GB/s; fraction %.2f\n", 1e3 * seconds,
              bytes / 1e6, bytes / seconds / 1e9, copy / 1e9, bytes / seconds / copy);
}

void MemoryPerVertex(const CutSim& sim) {
  int u = sim.numEmbeddedLevels;
  double blocks = 0;
  for (const LevelVertex& row : sim.levelVertices[u]) blocks += row.count;
  double perVertex = sizeof(LevelVertex) + sizeof(VertexHistory) + blocks / sim.vertexCount[u] * (sizeof(Mat3d) + sizeof(int32_t));
  std::printf("  memory per simulation vertex: %.0f bytes (LevelVertex %zu + VertexHistory %zu + %.1f blocks of %zu); "
              "ElementMatrix %zu bytes\n",
              perVertex, sizeof(LevelVertex), sizeof(VertexHistory), blocks / sim.vertexCount[u],
              sizeof(Mat3d) + sizeof(int32_t), sizeof(ElementMatrix));
}

void RunScene(const char* label, const std::vector<std::pair<std::wstring, std::wstring>>& overrides, int steps,
              bool compare) {
  double build = 0;
  auto body = LoadWithTimedBuild(overrides, &build);
  if (!body) {
    std::printf("%s: the scene did not load\n", label);
    return;
  }
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  std::printf("%s: first BuildHierarchy %.3f s; %d level-0 cells, %d elements, %d simulation vertices\n", label, build,
              sim.cellCount[0], sim.cellCount[u], sim.vertexCount[u]);
  StageTimes warm, timed;
  for (int step = 0; step < 3; ++step) TimedStep(sim, warm);
  std::printf("  first step after the build %.2f ms, second %.2f ms\n", 1e3 * warm.total[0], 1e3 * warm.total[1]);
  for (int step = 0; step < steps; ++step) TimedStep(sim, timed);
  PrintStages(timed);
  MemoryPerVertex(sim);
  if (!compare) return;
  CompareWithEigen(sim, Median(timed.total));
  MeasureBandwidth(sim);
}

}  // namespace

int main(int argc, char** argv) {
  int steps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
  RunScene("liver", {}, steps, true);
  RunScene("half-voxel liver", {{L"VOXEL_SIZE", L"0.0011 0.0011 0.0011"}}, std::max(1, steps / 5), false);
  return 0;
}
