#include "cutsim/cut_sim.h"

#include <cstdlib>
#include <ostream>

#include "geometry/octree.h"

CutSim::CutSim(Octree& octreeRef, int solverKindValue, int logLevelValue)
    : octree(octreeRef), solverKind(solverKindValue), logLevel(logLevelValue) {
  ResizeLevels();
}

CutSim::~CutSim() = default;

bool CutSim::SetVertexFixed(int level, int vertex, bool on) {
  if (level < 0 || level >= static_cast<int>(vertexFixed.size())) return false;
  if (vertex < 0 || vertex >= static_cast<int>(vertexFixed[level].size())) return false;
  vertexFixed[level][vertex] = on ? 1 : 0;
  return true;
}

Vec3d CutSim::RestPosition(int level, int vertex) const {
  const Vec3i& p = vertexPosition[level][vertex];
  return {p.x * voxelSize.x, p.y * voxelSize.y, p.z * voxelSize.z};
}

Vec3i CutSim::CornerPosition(int level, int cell, int corner) const {
  int size = 1 << cellDepth[level][cell];
  const Vec3i& p = cellPosition[level][cell];
  return {p.x + (corner & 1) * size, p.y + ((corner >> 1) & 1) * size, p.z + ((corner >> 2) & 1) * size};
}

int HangingWeight(const Vec3i& hostCorner, const Vec3i& point, int hostDepth) {
  int shift = hostDepth - 1;
  int w = 1;
  for (int a = 0; a < 3; ++a) {
    int factor = 2 - (std::abs(hostCorner[a] - point[a]) >> shift);
    // a point outside the host's box gets no weight from this corner
    if (factor <= 0) return 0;
    w *= factor;
  }
  return w;
}

namespace {

void AppendMerged(CornerStencil& out, int32_t vertex, double coefficient) {
  for (int k = 0; k < out.count; ++k) {
    if (out.vertex[k] == vertex) {
      out.coefficient[k] += coefficient;
      return;
    }
  }
  // never written past the end; the build counts incomplete representations
  if (out.count == CornerStencil::kCapacity) {
    out.overflow = true;
    return;
  }
  out.vertex[out.count] = vertex;
  out.coefficient[out.count] = coefficient;
  ++out.count;
}

}  // namespace

void CutSim::AccumulateCorner(int level, int cell, int corner, double coefficient, int depthGuard,
                              CornerStencil& out) const {
  if (!((hangingCorners[level][cell] >> corner) & 1)) {
    AppendMerged(out, cellVertices[level][cell][corner], coefficient);
    return;
  }
  // a host corner hanging again only arises in unbalanced trees; the guard
  // stops a (corrupt) cycle of hosts
  if (depthGuard == 0) return;
  int host = cellVertices[level][cell][corner];
  Vec3i point = CornerPosition(level, cell, corner);
  int hostDepth = cellDepth[level][host];
  for (int j = 0; j < 8; ++j) {
    int w = HangingWeight(CornerPosition(level, host, j), point, hostDepth);
    if (w == 0) continue;
    AccumulateCorner(level, host, j, coefficient * w / 8.0, depthGuard - 1, out);
  }
}


bool CutSim::ValidateMaterial(std::wostream* log) const {
  const wchar_t* problem = nullptr;
  if (!(voxelSize.x > 0 && voxelSize.y > 0 && voxelSize.z > 0) || !IsFinite(voxelSize)) {
    problem = L"ERROR: Voxel size must be positive";
  } else if (!(E > 0) || !std::isfinite(E)) {
    problem = L"ERROR: Elastic modulus must be positive";
  } else if (!(nu > -1.0 && nu < 0.5)) {
    problem = L"ERROR: Poisson ratio must be greater than -1 and less than 0.5";
  } else if (!(density > 0) || !std::isfinite(density)) {
    problem = L"ERROR: Density must be positive";
  } else if (!(timeStep > 0) || !std::isfinite(timeStep)) {
    problem = L"ERROR: Time step must be positive";
  } else if (!(dampingFactor >= 0) || !std::isfinite(dampingFactor)) {
    problem = L"ERROR: Damping factor must not be negative";
  }
  if (problem && log) *log << problem << std::endl;
  return problem == nullptr;
}

bool CutSim::ValidateLevels(std::wostream* log) const {
  if (numLevels >= 1 && numEmbeddedLevels >= 0 && numEmbeddedLevels < numLevels) return true;
  if (log) {
    *log << L"ERROR: NUM_EMBEDDED_LEVELS (" << numEmbeddedLevels << L") must lie between 0 and NUM_LEVELS - 1 ("
         << numLevels - 1 << L")" << std::endl;
  }
  return false;
}

void CutSim::ResizeLevels() {
  size_t n = static_cast<size_t>(numLevels < 1 ? 1 : numLevels);
  cellCount.resize(n, 0);
  cellDepth.resize(n);
  cellPosition.resize(n);
  cellParent.resize(n);
  faceSlotCount.resize(n, 0);
  for (size_t level = 0; level < n; ++level) {
    if (faceSlotCount[level] == 0) faceSlotCount[level] = level == 0 ? 4 : 16;
  }
  faceNeighbourCount.resize(n);
  faceNeighbours.resize(n);
  cellVertices.resize(n);
  hangingCorners.resize(n);
  cellStiffnessScale.resize(n);
  cellRotation.resize(n);
  cellRebuilt.resize(n);
  vertexCount.resize(n, 0);
  vertexPosition.resize(n);
  vertexCoarseCell.resize(n);
  vertexFixed.resize(n);
  vertexForce.resize(n);
  prolongationVertices.resize(n);
  prolongationWeights.resize(n);
  vertexMass.resize(n);
  levelVertices.resize(n);
  vertexHistory.resize(n);
  scatterPositions.resize(n);
}
