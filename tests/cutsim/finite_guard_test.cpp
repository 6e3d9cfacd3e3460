#include "cutsim/finite_guard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "support/cutsim_body.h"

namespace {

// What a step changes and what leaves the model: the simulation level's
// positions, previous positions and right-hand sides and every octree leaf's
// corners.
struct ModelState {
  std::vector<Vec3d> x, previous, b, corners;
  bool operator==(const ModelState&) const = default;
};

ModelState StateOf(const SimBody& body) {
  const CutSim& sim = *body.sim;
  int u = sim.numEmbeddedLevels;
  ModelState state;
  for (int i = 0; i < sim.vertexCount[u]; ++i) {
    state.x.push_back(sim.levelVertices[u][i].x);
    state.previous.push_back(sim.vertexHistory[u][i].previousX);
    state.b.push_back(sim.levelVertices[u][i].b);
  }
  for (const auto& depth : body.octree->cells) {
    for (const OctreeCell& cell : depth) {
      if (!cell.leaf) continue;
      for (const Vec3d& c : cell.corners) state.corners.push_back(c);
    }
  }
  return state;
}

bool AllUsable(const std::vector<Vec3d>& points, double limit) {
  for (const Vec3d& p : points) {
    if (!(std::fabs(p.x) <= limit && std::fabs(p.y) <= limit && std::fabs(p.z) <= limit)) return false;
  }
  return true;
}

int Warnings(const std::wostringstream& log) {
  std::wstring text = log.str();
  int count = 0;
  for (size_t at = text.find(L"WARNING: "); at != std::wstring::npos; at = text.find(L"WARNING: ", at + 1)) ++count;
  return count;
}

// A free vertex of the finest level far from the clamped end.
int FreeTipVertex(const CutSim& sim) {
  int best = -1;
  for (int v = 0; v < sim.vertexCount[0]; ++v) {
    if (sim.vertexFixed[0][v]) continue;
    if (best < 0 || sim.vertexPosition[0][v].x > sim.vertexPosition[0][best].x) best = v;
  }
  return best;
}

void SetForce(CutSim& sim, int vertex, const Vec3d& force) {
  sim.vertexForce[0][vertex] = force;
  sim.PropagateConstraints(sim.numEmbeddedLevels);
}

}  // namespace

// A NaN force makes every step non-finite: each is undone bit for bit, the
// octree keeps the last finite corners, and the log says so once per run of
// undone steps, again after a kept step.
TEST(FiniteGuard, NonFiniteStepsAreUndoneAndReportedOncePerRun) {
  auto body = LoadSceneBody("BeamScene.txt");
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  std::wostringstream log;
  for (int step = 0; step < 3; ++step) ASSERT_TRUE(GuardedTimeStep(sim, &log));
  EXPECT_EQ(Warnings(log), 0);
  ModelState before = StateOf(*body);

  int tip = FreeTipVertex(sim);
  ASSERT_GE(tip, 0);
  SetForce(sim, tip, Vec3d(0, 0, std::nan("")));
  for (int step = 0; step < 4; ++step) EXPECT_FALSE(GuardedTimeStep(sim, &log)) << step;
  EXPECT_EQ(Warnings(log), 1) << "one line for the whole run of undone steps";
  EXPECT_EQ(sim.finiteGuard.rollbackCount(), 4);
  ModelState after = StateOf(*body);
  EXPECT_TRUE(after.x == before.x && after.previous == before.previous && after.corners == before.corners);
  EXPECT_TRUE(FiniteGuard::StateIsUsable(sim));

  SetForce(sim, tip, Vec3d());
  EXPECT_TRUE(GuardedTimeStep(sim, &log));
  EXPECT_NE(StateOf(*body).x, before.x) << "the body moves on once the force is gone";
  SetForce(sim, tip, Vec3d(std::nan(""), 0, 0));
  EXPECT_FALSE(GuardedTimeStep(sim, &log));
  EXPECT_EQ(Warnings(log), 2) << "a new run of undone steps is reported again";
}

// An absurd but finite force first throws the body far out and then overflows;
// neither reaches the octree's corners nor the extracted surface.
TEST(FiniteGuard, AbsurdForceNeverReachesTheOctreeOrTheSurface) {
  auto body = LoadSceneBody("BeamScene.txt");
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  const double limit = FiniteGuard::kBlowUpDiagonals * BodyDiagonal(sim);
  SetForce(sim, FreeTipVertex(sim), Vec3d(1e300, -1e300, 1e300));
  std::wostringstream log;
  int undone = 0;
  for (int step = 0; step < 6; ++step) {
    if (!GuardedTimeStep(sim, &log)) ++undone;
    ASSERT_TRUE(FiniteGuard::StateIsUsable(sim)) << step;
    ASSERT_TRUE(AllUsable(StateOf(*body).corners, limit)) << step;
  }
  EXPECT_EQ(undone, 6) << "the first step already throws the tip beyond any real deformation";
  EXPECT_EQ(Warnings(log), 1);
  body->octree->ExtractSurface();
  body->octree->UpdateSurfacePositions();
  SurfaceMesh surface;
  body->octree->ExportSurface(surface);
  ASSERT_FALSE(surface.vertices.empty());
  for (const SurfaceMesh::Vertex& v : surface.vertices) ASSERT_TRUE(IsFinite(v.position));
}

// The guard only watches: steps it keeps are bit-identical to unguarded ones.
TEST(FiniteGuard, KeptStepsEqualUnguardedSteps) {
  auto guarded = LoadSceneBody("BeamScene.txt");
  auto plain = LoadSceneBody("BeamScene.txt");
  ASSERT_TRUE(guarded && plain);
  for (int step = 0; step < 5; ++step) {
    ASSERT_TRUE(GuardedTimeStep(*guarded->sim, nullptr));
    plain->sim->PrepareTimeStep();
    plain->sim->SolveExtended();
    plain->sim->CopyVertexPositionsIntoOctree();
  }
  EXPECT_TRUE(StateOf(*guarded) == StateOf(*plain));
  EXPECT_EQ(guarded->sim->finiteGuard.rollbackCount(), 0);
}

// The assembly alone puts a NaN force into the right-hand side; the guard
// takes back that and the previous positions the assembly moved on.
TEST(FiniteGuard, AssemblyWithNonFiniteRightHandSideIsUndone) {
  auto body = LoadSceneBody("BeamScene.txt");
  ASSERT_TRUE(body);
  CutSim& sim = *body->sim;
  ASSERT_TRUE(GuardedTimeStep(sim, nullptr));
  ASSERT_TRUE(GuardedTimeStep(sim, nullptr));
  ModelState before = StateOf(*body);
  SetForce(sim, FreeTipVertex(sim), Vec3d(0, std::nan(""), 0));
  std::wostringstream log;
  EXPECT_FALSE(GuardedPrepareTimeStep(sim, &log));
  EXPECT_EQ(Warnings(log), 1);
  EXPECT_TRUE(StateOf(*body) == before);
}

// A snapshot of one model is never written into a model of another size.
TEST(FiniteGuard, RestoreRefusesAModelOfAnotherSize) {
  auto beam = LoadSceneBody("BeamScene.txt");
  auto box = BuildBody(BoxMesh({0, 0, 0}, {8, 6, 6}), BodyOptions{});
  ASSERT_TRUE(beam && box);
  FiniteGuard guard;
  guard.Snapshot(*beam->sim);
  ModelState before = StateOf(*box);
  EXPECT_FALSE(guard.Restore(*box->sim));
  EXPECT_TRUE(StateOf(*box) == before);
  EXPECT_TRUE(guard.Restore(*beam->sim));
}
