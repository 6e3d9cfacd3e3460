// One implicit time step in positions: corotated linear elasticity, lumped
// masses with mass-proportional damping (central differences), fixed
// vertices built into the system, gravity and user forces on the right.
#include <cmath>

#include "cutsim/cut_sim.h"

namespace {

Mat3d Multiply(const Mat3d& a, const Mat3d& b) {
  Mat3d c;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) c(i, j) = a(i, 0) * b(0, j) + a(i, 1) * b(1, j) + a(i, 2) * b(2, j);
  }
  return c;
}

// a * b^T
Mat3d MultiplyTransposed(const Mat3d& a, const Mat3d& b) {
  Mat3d c;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) c(i, j) = a(i, 0) * b(j, 0) + a(i, 1) * b(j, 1) + a(i, 2) * b(j, 2);
  }
  return c;
}

Mat3d Transposed(const Mat3d& a) {
  Mat3d t;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) t(i, j) = a(j, i);
  }
  return t;
}

double Determinant(const Mat3d& a) {
  return a(0, 0) * (a(1, 1) * a(2, 2) - a(1, 2) * a(2, 1)) - a(0, 1) * (a(1, 0) * a(2, 2) - a(1, 2) * a(2, 0)) +
         a(0, 2) * (a(1, 0) * a(2, 1) - a(1, 1) * a(2, 0));
}

// (a^-1)^T = cofactor matrix / det
Mat3d InverseTransposed(const Mat3d& a) {
  double det = Determinant(a);
  Mat3d c;
  c(0, 0) = a(1, 1) * a(2, 2) - a(1, 2) * a(2, 1);
  c(0, 1) = a(1, 2) * a(2, 0) - a(1, 0) * a(2, 2);
  c(0, 2) = a(1, 0) * a(2, 1) - a(1, 1) * a(2, 0);
  c(1, 0) = a(0, 2) * a(2, 1) - a(0, 1) * a(2, 2);
  c(1, 1) = a(0, 0) * a(2, 2) - a(0, 2) * a(2, 0);
  c(1, 2) = a(0, 1) * a(2, 0) - a(0, 0) * a(2, 1);
  c(2, 0) = a(0, 1) * a(1, 2) - a(0, 2) * a(1, 1);
  c(2, 1) = a(0, 2) * a(1, 0) - a(0, 0) * a(1, 2);
  c(2, 2) = a(0, 0) * a(1, 1) - a(0, 1) * a(1, 0);
  for (double& v : c.m) v /= det;
  return c;
}

bool IsFiniteMatrix(const Mat3d& a) {
  for (double v : a.m) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

}  // namespace

Mat3d PolarRotation(const Mat3d& F) {
  Mat3d R = F;
  for (int iteration = 0; iteration < 5; ++iteration) {
    Mat3d inverseT = InverseTransposed(R);
    for (int k = 0; k < 9; ++k) R.m[k] = 0.5 * (R.m[k] + inverseT.m[k]);
  }
  // a degenerate or inverted element keeps the unrotated frame; the
  // comparison alone would let NaN through (it is false for NaN)
  double det = Determinant(R);
  if (!IsFiniteMatrix(R) || !(det > 0) || std::fabs(det - 1.0) >= 0.1) return Mat3d::Identity();
  return R;
}

void CutSim::PrepareTimeStep() {
  if (!built) return;
  int u = numEmbeddedLevels;
  ComputeRotations(u);
  Assemble(u, structureChanged, !structureChanged);
  // Contact terms go into the rows before the coarse operators are formed:
  // a penalty stiffness far above the inertia that the coarse levels did not
  // see makes their correction overshoot, and the body blows up on the ground.
  ComputeElementCorners();
  if (collisionEnabled) {
    FillElementHash();
    DetectContacts();
    DistributeContacts();
  }
  UpdateMultigridOperators(structureChanged, u);
  if (structureChanged) CompactRows();
  AssembleRightHandSide(u);
  structureChanged = false;
}

// Least-squares fit about the weighted corner centroid; with equal corner
// weights this is the centre gradient of the trilinear field. Unlike the
// plain weighted sum (used when the moment matrix has no full rank, e.g.
// mass on one plane of corners) it stays exact for linear, and so for rigid,
// motions when the corner weights differ, as they do at the body's surface.
Mat3d CornerDisplacementGradient(const double q[8], const Vec3d u[8], const double length[3]) {
  double Q = 0;
  for (int c = 0; c < 8; ++c) Q += q[c];
  double centre[3] = {0, 0, 0};
  for (int c = 0; c < 8; ++c) {
    for (int a = 0; a < 3; ++a) centre[a] += q[c] * 2.0 * ((c >> a) & 1) / Q;
  }
  Mat3d moment, weighted;
  for (int c = 0; c < 8; ++c) {
    double y[3];
    for (int a = 0; a < 3; ++a) y[a] = (((c >> a) & 1) - centre[a] / 2.0) * length[a];
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        moment(i, j) += q[c] * y[i] * y[j];
        weighted(i, j) += q[c] * u[c][i] * y[j];
      }
    }
  }
  double trace = moment(0, 0) + moment(1, 1) + moment(2, 2);
  if (Determinant(moment) > 1e-9 * trace * trace * trace) return Multiply(weighted, Transposed(InverseTransposed(moment)));
  Mat3d G;
  for (int c = 0; c < 8; ++c) {
    double weight = q[c] / (Q / 8.0);
    for (int j = 0; j < 3; ++j) {
      double g = (2.0 * ((c >> j) & 1) - centre[j]) * 0.25 / length[j];
      for (int i = 0; i < 3; ++i) G(i, j) += weight * u[c][i] * g;
    }
  }
  return G;
}

Mat3d CutSim::ElementRotation(int level, int element) const {
  CornerStencil stencil;
  double q[8];
  Vec3d u[8];
  double Q = 0;
  for (int c = 0; c < 8; ++c) {
    CornerRepresentation(level, element, c, stencil);
    q[c] = 0;
    u[c] = Vec3d();
    for (int n = 0; n < stencil.count; ++n) {
      q[c] += stencil.coefficient[n] * vertexMass[level][stencil.vertex[n]];
      u[c] += vertexDisplacement[stencil.vertex[n]] * stencil.coefficient[n];
    }
    Q += q[c];
  }
  // without corner masses the weighted centre is undefined: no rotation
  if (!(Q > 0) || !std::isfinite(Q)) return Mat3d::Identity();
  double edge = std::ldexp(1.0, cellDepth[level][element]);
  double length[3] = {edge * voxelSize.x, edge * voxelSize.y, edge * voxelSize.z};
  Mat3d F = CornerDisplacementGradient(q, u, length);
  for (int i = 0; i < 3; ++i) F(i, i) += 1.0;
  return PolarRotation(F);
}

void CutSim::ComputeRotations(int level) {
  int vertices = vertexCount[level];
  const std::vector<LevelVertex>& records = levelVertices[level];
  vertexDisplacement.resize(vertices);
#pragma omp parallel for schedule(static)
  for (int v = 0; v < vertices; ++v) vertexDisplacement[v] = records[v].x - RestPosition(level, v);
  int elements = cellCount[level];
#pragma omp parallel for schedule(static)
  for (int e = 0; e < elements; ++e) {
    cellRotation[level][e] = rotationsEnabled ? ElementRotation(level, e) : Mat3d::Identity();
  }
}

void CutSim::RotateElementBlocks(int level, int element, Mat3d* upper) const {
  double S = std::ldexp(cellStiffnessScale[level][element], cellDepth[level][element]);
  const Mat3d& R = cellRotation[level][element];
  const ElementMatrix& K = elementMatrices[level][element];
  for (int a = 0; a < 8; ++a) {
    for (int b = a; b < 8; ++b) {
      Mat3d k;
      for (int e = 0; e < 9; ++e) k.m[e] = K.Block(a, b)[e];
      Mat3d B = MultiplyTransposed(Multiply(R, k), R);
      for (double& v : B.m) v *= S;
      upper[UpperBlockIndex(a, b)] = B;
    }
  }
}

void CutSim::AssembleElement(int level, int element) {
  CornerStencil* stencil = assemblyStencils;
  for (int c = 0; c < 8; ++c) CornerRepresentation(level, element, c, stencil[c]);
  double S = std::ldexp(cellStiffnessScale[level][element], cellDepth[level][element]);
  const Mat3d& R = cellRotation[level][element];
  // K is symmetric, so B(b, a) = B(a, b)^T
  const Mat3d* upper = &rotatedElementBlocks[36 * static_cast<size_t>(element)];
  Mat3d* rotated = assemblyBlocks;
  for (int a = 0; a < 8; ++a) {
    for (int b = a; b < 8; ++b) {
      const Mat3d& B = upper[UpperBlockIndex(a, b)];
      rotated[8 * a + b] = B;
      if (b != a) rotated[8 * b + a] = Transposed(B);
    }
  }
  for (int a = 0; a < 8; ++a) {
    for (int b = 0; b < 8; ++b) {
      const Mat3d& B = rotated[8 * a + b];
      for (int m = 0; m < stencil[a].count; ++m) {
        for (int n = 0; n < stencil[b].count; ++n) {
          ScatterBlock(level, stencil[a].vertex[m], stencil[b].vertex[n], B,
                       stencil[a].coefficient[m] * stencil[b].coefficient[n]);
        }
      }
    }
  }
  std::vector<LevelVertex>& rows = levelVertices[level];
  for (int a = 0; a < 8; ++a) {
    Vec3d f = MulVec(R, restForces[element][a]) * S;
    for (int m = 0; m < stencil[a].count; ++m) rows[stencil[a].vertex[m]].b += f * stencil[a].coefficient[m];
  }
}

void CutSim::Assemble(int level, bool structureChangedNow, bool record) {
  // the rotations are independent per element and go in parallel
  int elements = cellCount[level];
  rotatedElementBlocks.resize(36 * static_cast<size_t>(elements));
#pragma omp parallel for schedule(static)
  for (int e = 0; e < elements; ++e) RotateElementBlocks(level, e, &rotatedElementBlocks[36 * static_cast<size_t>(e)]);
  double inertiaFactor = inertiaEnabled ? dampingFactor / (2.0 * timeStep) + 1.0 / (timeStep * timeStep) : 0.0;
  std::vector<LevelVertex>& rows = levelVertices[level];
  int vertices = vertexCount[level];
#pragma omp parallel for schedule(static)
  for (int k = 0; k < vertices; ++k) {
    double d = vertexMass[level][k] * inertiaFactor;
    Mat3d D;
    D(0, 0) = D(1, 1) = D(2, 2) = d;
    rows[k].inertia = D;
  }
  bool replay = !structureChangedNow && !scatterPositions[level].empty();
  if (replay && ((gatherLevel == level && AssemblyGatherFitsRows(level)) || BuildAssemblyGather(level))) {
    // the gather applies the fixations to each row it completes
    GatherAssembly(level);
    return;
  }
  // the scatter runs sequentially in element order, so sums do not depend on
  // threads; it also searches and records the positions the gather needs
  gatherLevel = -1;
  ZeroLevelSystem(level);
  BeginScatter(level, structureChangedNow, record);
  for (int e = 0; e < elements; ++e) AssembleElement(level, e);
  for (int k = 0; k < vertices; ++k) {
    // the slow path makes sure every row holds its diagonal block
    if (!ScatterReplaying()) AddBlock(level, k, k, Mat3d());
    ScatterBlock(level, k, k, rows[k].inertia, 1.0);
  }
  EndScatter();
  ApplyFixations(level);
}

void CutSim::ApplyFixations(int level) {
  int n = vertexCount[level];
  // each iteration writes only its own row and b; it reads x of fixed
  // vertices, which nobody writes here
#pragma omp parallel for schedule(static)
  for (int i = 0; i < n; ++i) {
    WireRow(level, i);
    ApplyRowFixation(level, i);
  }
}

void CutSim::ApplyRowFixation(int level, int i) {
  std::vector<LevelVertex>& rows = levelVertices[level];
  const std::vector<uint8_t>& fixed = vertexFixed[level];
  LevelVertex& row = rows[i];
  if (fixed[i]) {
    for (int p = 0; p < row.count; ++p) {
      Mat3d block;
      if (row.columns[p] == i) block(0, 0) = block(1, 1) = block(2, 2) = E;
      row.blocks[p] = block;
    }
    row.b = row.x * E;
    return;
  }
  for (int p = 0; p < row.count; ++p) {
    int j = row.columns[p];
    if (!fixed[j]) continue;
    row.b -= MulVec(row.blocks[p], rows[j].x);
    row.blocks[p] = Mat3d();
  }
}

void CutSim::AssembleRightHandSide(int level) {
  std::vector<LevelVertex>& rows = levelVertices[level];
  std::vector<VertexHistory>& history = vertexHistory[level];
  double dt = timeStep;
  for (int i = 0; i < vertexCount[level]; ++i) {
    if (vertexFixed[level][i]) continue;
    double m = vertexMass[level][i];
    Vec3d& previous = history[i].previousX;
    Vec3d b = gravity * m + vertexForce[level][i];
    if (inertiaEnabled) b += (rows[i].x * 2.0 - previous) * (m / (dt * dt)) + previous * (dampingFactor * m / (2.0 * dt));
    rows[i].b += b;
    previous = rows[i].x;
  }
}
