// The solver against independent references: the multigrid error reduction
// on the bundled beam and liver measured against a direct solve, the static
// equilibrium of a clamped beam against a direct solve of the same system,
// and element volumes under large rotations.
#include <gtest/gtest.h>

#include <eigen3/Eigen/SparseCholesky>
#include <eigen3/Eigen/SparseCore>

#include <cmath>
#include <vector>

#include "support/cutsim_body.h"

namespace {

using SparseMatrix = Eigen::SparseMatrix<double>;

// The simulation level's system A x = b as assembled, three rows per vertex.
void LevelSystem(const CutSim& sim, SparseMatrix& A, Eigen::VectorXd& b) {
  int u = sim.numEmbeddedLevels;
  int n = sim.vertexCount[u];
  std::vector<Eigen::Triplet<double>> entries;
  b.resize(3 * n);
  for (int i = 0; i < n; ++i) {
    const LevelVertex& row = sim.levelVertices[u][i];
    for (int p = 0; p < row.count; ++p) {
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) entries.emplace_back(3 * i + r, 3 * row.columns[p] + c, row.blocks[p](r, c));
      }
    }
    for (int c = 0; c < 3; ++c) b(3 * i + c) = row.b[c];
  }
  A.resize(3 * n, 3 * n);
  A.setFromTriplets(entries.begin(), entries.end());
}

Eigen::VectorXd Positions(const CutSim& sim) {
  int u = sim.numEmbeddedLevels;
  Eigen::VectorXd x(3 * sim.vertexCount[u]);
  for (int i = 0; i < sim.vertexCount[u]; ++i) {
    for (int c = 0; c < 3; ++c) x(3 * i + c) = sim.levelVertices[u][i].x[c];
  }
  return x;
}

Eigen::VectorXd DirectSolution(const CutSim& sim) {
  SparseMatrix A;
  Eigen::VectorXd b;
  LevelSystem(sim, A, b);
  Eigen::SimplicialLDLT<SparseMatrix> solver(A);
  EXPECT_EQ(solver.info(), Eigen::Success);
  return solver.solve(b);
}

void Step(CutSim& sim) {
  sim.PrepareTimeStep();
  sim.SolveExtended();
  sim.CopyVertexPositionsIntoOctree();
}

// The time step runs two V-cycles, so each of them has to remove most of
// the error. Measured in the energy norm (the norm the cycle minimises; the
// step's start value is the last position, whose error is smooth and so has
// a small residual) and, for the second cycle, in the residual as well.
TEST(Multigrid, EachVCycleOfAStepReducesTheErrorFivefold) {
  for (const char* scene : {"BeamScene.txt", "LiverScene.txt"}) {
    auto body = LoadSceneBody(scene);
    ASSERT_TRUE(body) << scene;
    CutSim& sim = *body->sim;
    for (int step = 0; step < 8; ++step) Step(sim);
    sim.PrepareTimeStep();
    SparseMatrix A;
    Eigen::VectorXd b;
    LevelSystem(sim, A, b);
    Eigen::SimplicialLDLT<SparseMatrix> direct(A);
    ASSERT_EQ(direct.info(), Eigen::Success);
    Eigen::VectorXd exact = direct.solve(b);
    auto energyError = [&] {
      Eigen::VectorXd e = Positions(sim) - exact;
      return std::sqrt(e.dot(A * e));
    };
    auto residual = [&] { return (b - A * Positions(sim)).norm(); };
    double error[3], r[3];
    error[0] = energyError();
    r[0] = residual();
    for (int cycle = 1; cycle <= 2; ++cycle) {
      sim.VCycle(CutSim::kPreSmoothingSweeps, CutSim::kPostSmoothingSweeps);
      error[cycle] = energyError();
      r[cycle] = residual();
      EXPECT_GE(error[cycle - 1] / error[cycle], 5.0) << scene << " cycle " << cycle;
    }
    EXPECT_GE(r[1] / r[2], 5.0) << scene;
  }
}

// Level-0 vertices at the far end of the beam (largest x).
std::vector<int> TipVertices(const CutSim& sim) {
  int u = sim.numEmbeddedLevels;
  int end = 0;
  for (const Vec3i& p : sim.vertexPosition[u]) end = std::max(end, p.x);
  std::vector<int> tip;
  for (int i = 0; i < sim.vertexCount[u]; ++i) {
    if (sim.vertexPosition[u][i].x == end) tip.push_back(i);
  }
  return tip;
}

double TipDeflection(const CutSim& sim, const Eigen::VectorXd& x) {
  int u = sim.numEmbeddedLevels;
  std::vector<int> tip = TipVertices(sim);
  double sum = 0;
  for (int i : tip) sum += x(3 * i + 2) - sim.RestPosition(u, i).z;
  return sum / tip.size();
}

// Stiff enough for small deflections (about 1/600 of the length), damped so
// that it comes to rest in few steps; at rest the step's system reduces to
// the static one K (x - X) = m g.
TEST(TimeStep, ClampedBeamComesToRestAtTheStaticSolution) {
  auto body = LoadSceneBody("BeamScene.txt", {{L"ELASTIC_MODULUS", L"1e8"}, {L"DAMPING_FACTOR", L"200"}});
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  sim.inertiaEnabled = false;
  sim.PrepareTimeStep();
  double expected = TipDeflection(sim, DirectSolution(sim));
  sim.inertiaEnabled = true;
  double previous = 0, deflection = 0;
  int steps = 0;
  for (; steps < 400; ++steps) {
    Step(sim);
    deflection = TipDeflection(sim, Positions(sim));
    if (steps > 10 && std::fabs(deflection - previous) < 1e-7 * std::fabs(deflection)) break;
    previous = deflection;
  }
  EXPECT_LT(expected, 0);
  EXPECT_NEAR(deflection, expected, 1e-3 * std::fabs(expected));
}

// Volume of an element from its corner positions: the integral of the
// trilinear map's Jacobian determinant, exact with 2 x 2 x 2 Gauss points.
double ElementVolume(const CutSim& sim, int element) {
  int u = sim.numEmbeddedLevels;
  Vec3d corner[8];
  CornerStencil stencil;
  for (int c = 0; c < 8; ++c) {
    sim.CornerRepresentation(u, element, c, stencil);
    for (int n = 0; n < stencil.count; ++n) corner[c] += sim.levelVertices[u][stencil.vertex[n]].x * stencil.coefficient[n];
  }
  const double g[2] = {0.5 - 0.5 / std::sqrt(3.0), 0.5 + 0.5 / std::sqrt(3.0)};
  double volume = 0;
  for (int q = 0; q < 8; ++q) {
    double t[3] = {g[q & 1], g[(q >> 1) & 1], g[q >> 2]};
    Vec3d d[3];
    for (int c = 0; c < 8; ++c) {
      for (int a = 0; a < 3; ++a) {
        double w = ((c >> a) & 1) ? 1.0 : -1.0;
        for (int b = 0; b < 3; ++b) {
          if (b != a) w *= ((c >> b) & 1) ? t[b] : 1 - t[b];
        }
        d[a] += corner[c] * w;
      }
    }
    volume += Dot(d[0], Cross(d[1], d[2])) / 8.0;
  }
  return volume;
}

double RestVolume(const CutSim& sim, int element) {
  int u = sim.numEmbeddedLevels;
  double edge = std::ldexp(1.0, sim.cellDepth[u][element]);
  return edge * edge * edge * sim.voxelSize.x * sim.voxelSize.y * sim.voxelSize.z;
}

// The soft beam swings down to half its length in 8 steps, far beyond small
// rotations while its strains stay moderate; with corotation every element
// keeps its volume, without it the rotated elements inflate.
TEST(TimeStep, BeamSwungFarByGravityKeepsItsElementVolumes) {
  auto worstVolumeChange = [](bool rotations, double* tipDrop) {
    auto body = LoadSceneBody("BeamScene.txt", {{L"ELASTIC_MODULUS", L"300000"}});
    EXPECT_TRUE(body);
    if (!body) return 0.0;
    CutSim& sim = *body->sim;
    sim.rotationsEnabled = rotations;
    double worst = 0;
    *tipDrop = 0;
    for (int step = 0; step < 8; ++step) {
      Step(sim);
      *tipDrop = std::max(*tipDrop, -TipDeflection(sim, Positions(sim)));
      for (int e = 0; e < sim.cellCount[sim.numEmbeddedLevels]; ++e) {
        worst = std::max(worst, std::fabs(ElementVolume(sim, e) / RestVolume(sim, e) - 1.0));
      }
    }
    return worst;
  };
  double drop = 0, linearDrop = 0;
  double corotated = worstVolumeChange(true, &drop);
  EXPECT_GT(drop, 0.1);  // a third of the length and more: rotations of tens of degrees
  EXPECT_LT(corotated, 0.2);
  EXPECT_GT(worstVolumeChange(false, &linearDrop), 0.2);
}

}  // namespace
