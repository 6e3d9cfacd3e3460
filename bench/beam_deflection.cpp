// Static tip deflection of the bundled cantilever under its own weight at
// three voxel sizes, against beam theory. The beam is clamped over its whole
// -x end face, stiffened to small deflection, and solved linearly: inertia
// off, rotations at rest, V-cycles until the residual stops falling.
// Euler-Bernoulli gives w L^4 / (8 E I) for a load w per length; Timoshenko
// adds the shear part w L^2 / (2 kappa G A). Finer voxels must approach them.
//
//   beam_deflection [finest voxel size, default 0.00125]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/cutsim_body.cpp"

namespace {

constexpr double kLength = 0.3, kWidth = 0.05, kHeight = 0.05;  // beam.obj, metres
constexpr double kModulus = 1e8, kPoisson = 0.3, kDensity = 1000, kGravity = 9.81;

double LargestResidual(CutSim& sim) {
  int u = sim.numEmbeddedLevels;
  sim.ComputeResidual(u);
  double largest = 0;
  for (int i = 0; i < sim.vertexCount[u]; ++i) largest = std::max(largest, Length(sim.levelVertices[u][i].r));
  return largest;
}

struct Result {
  int vertices = 0;
  int cycles = 0;
  double residualDrop = 0;
  double deflection = 0;  // mean z displacement of the tip vertices (negative: down)
  double seconds = 0;
};

bool SolveAtVoxelSize(double voxel, Result& result) {
  std::wstring size = std::to_wstring(voxel);
  auto body = LoadSceneBody("BeamScene.txt", {{L"VOXEL_SIZE", size + L" " + size + L" " + size},
                                             {L"ELASTIC_MODULUS", std::to_wstring(kModulus)},
                                             {L"FIXED_VERTICES", L""}});
  if (!body) return false;
  CutSim& sim = *body->sim;
  int u = sim.numEmbeddedLevels;
  int low = INT32_MAX, high = INT32_MIN;
  for (int i = 0; i < sim.vertexCount[u]; ++i) {
    low = std::min(low, sim.vertexPosition[u][i].x);
    high = std::max(high, sim.vertexPosition[u][i].x);
  }
  std::vector<int> tip;
  for (int i = 0; i < sim.vertexCount[u]; ++i) {
    if (sim.vertexPosition[u][i].x == low) sim.SetVertexFixed(u, i, true);
    if (sim.vertexPosition[u][i].x == high) tip.push_back(i);
  }
  auto start = std::chrono::steady_clock::now();
  sim.inertiaEnabled = false;
  sim.PrepareTimeStep();
  double first = LargestResidual(sim), last = first;
  int cycles = 0;
  for (; cycles < 2000; ++cycles) {
    sim.Solve(10);
    double now = LargestResidual(sim);
    if (!(now < 0.999 * last) || now < 1e-12 * first) break;
    last = now;
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double sum = 0;
  for (int i : tip) sum += sim.levelVertices[u][i].x.z - sim.RestPosition(u, i).z;
  result.vertices = sim.vertexCount[u];
  result.cycles = 10 * (cycles + 1);
  result.residualDrop = first / std::max(last, 1e-300);
  result.deflection = tip.empty() ? 0 : sum / tip.size();
  return !tip.empty();
}

}  // namespace

int main(int argc, char** argv) {
  double finest = argc > 1 ? std::atof(argv[1]) : 0.00125;
  if (!(finest > 0)) {
    std::fprintf(stderr, "ERROR: the voxel size must be positive\n");
    return 1;
  }
  double area = kWidth * kHeight, inertia = kWidth * kHeight * kHeight * kHeight / 12.0;
  double load = kDensity * kGravity * area;
  double shearModulus = kModulus / (2 * (1 + kPoisson));
  double bending = load * std::pow(kLength, 4) / (8 * kModulus * inertia);
  double shear = load * kLength * kLength / (2 * (5.0 / 6.0) * shearModulus * area);
  std::printf("beam %.2f x %.2f x %.2f m, E %.0e Pa, nu %.1f, own weight %.1f N/m\n", kLength, kWidth, kHeight,
              kModulus, kPoisson, load);
  std::printf("Euler-Bernoulli tip deflection %.4f mm, Timoshenko %.4f mm\n", bending * 1e3, (bending + shear) * 1e3);
  std::printf("%-10s %9s %7s %12s %12s %9s %9s %8s\n", "voxel (m)", "vertices", "cycles", "residual /", "tip (mm)",
              "/ E-B", "/ Tim.", "time (s)");
  for (double voxel : {4 * finest, 2 * finest, finest}) {
    Result r;
    if (!SolveAtVoxelSize(voxel, r)) {
      std::printf("ERROR: the beam could not be set up at voxel size %g\n", voxel);
      return 1;
    }
    std::printf("%-10.5f %9d %7d %12.1e %12.4f %9.3f %9.3f %8.2f\n", voxel, r.vertices, r.cycles, r.residualDrop,
                -r.deflection * 1e3, -r.deflection / bending, -r.deflection / (bending + shear), r.seconds);
  }
  return 0;
}
