// BuildHierarchy: the level-0 cells from the octree leaves, their face
// adjacency from the octree links, the vertices of every level with hanging
// corners, surface vertices, the embedding of the finer levels in the
// simulation elements, and the per-element data derived from them.
#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <ostream>

#include "cutsim/cut_sim.h"
#include "cutsim/fatal_error.h"
#include "geometry/octree.h"

namespace {

// Octree neighbour slot of each face: (dx + 1) + 3 (dy + 1) + 9 (dz + 1).
constexpr int kFaceSlot[6] = {12, 14, 10, 16, 4, 22};
// Children of a neighbour that touch a face of ours, per face.
constexpr int kChildrenTouchingFace[6][4] = {{1, 3, 5, 7}, {0, 2, 4, 6}, {2, 3, 6, 7},
                                             {0, 1, 4, 5}, {4, 5, 6, 7}, {0, 1, 2, 3}};
// Corners a, b, c, d of each face, in first-use order of the surface vertices.
constexpr int kFaceCorners[6][4] = {{6, 2, 4, 0}, {5, 1, 7, 3}, {4, 0, 5, 1},
                                    {7, 3, 6, 2}, {0, 2, 1, 3}, {6, 4, 7, 5}};

int CornerOfOffsets(const int8_t offset[3]) { return offset[0] + 2 * offset[1] + 4 * offset[2]; }
bool OffsetsValid(const int8_t offset[3]) { return offset[0] >= 0 && offset[1] >= 0 && offset[2] >= 0; }

}  // namespace

bool CutSim::BuildHierarchy(bool incremental, std::wostream* log) {
  if (!ValidateLevels(log)) return false;
  // the first build has nothing saved in the octree to restore from
  bool restore = incremental && !firstBuild;
  leafConstraintsCopied = false;
  ResetLevelsForBuild();
  BuildLevel0Cells();
  if (cellCount[0] == 0) FatalError("cutsim", 553, L"FATAL ERROR: FE model does not have any voxels", true);
  BuildLevel0Adjacency();
  for (int level = 1; level < numLevels; ++level) {
    BuildCoarseCells(level);
    BuildCoarseAdjacency(level);
    BuildVertices(level - 1);
  }
  MarkOctreeLeavesBuilt();
  BuildVertices(numLevels - 1);
  BuildProlongationStencils();
  BuildLevel0CornerStencils();
  BuildSurfaceVertices();
  SizeSolverRecords();
  BuildEmbeddingMap();
  if (restore) {
    RestorePositionsFromOctree();
    PropagateConstraints(numEmbeddedLevels);
  } else {
    SetRestPositions();
  }
  SizeElementMatrices();
  ComputeElementMatrices();
  ComputeRestForces();
  ComputeLumpedMasses();
  ComputeElementCorners();
  ComputeEmbeddedBounds();
  ComputeOccupancy();
  if (collisionEnabled) ClearContacts();
  vertexDisplacement.assign(vertexCount[numEmbeddedLevels], Vec3d());
  firstBuild = false;
  built = true;
  structureChanged = true;
  return true;
}

void CutSim::ResetLevelsForBuild() {
  ResizeLevels();
  if (firstBuild) {
    for (int level = 0; level < numLevels; ++level) {
      cellCount[level] = 0;
      cellDepth[level].clear();
      cellPosition[level].clear();
      cellParent[level].clear();
      faceNeighbourCount[level].clear();
      faceNeighbours[level].clear();
      cellVertices[level].clear();
      hangingCorners[level].clear();
      cellStiffnessScale[level].clear();
      cellRotation[level].clear();
      vertexCount[level] = 0;
      vertexPosition[level].clear();
      vertexCoarseCell[level].clear();
      vertexFixed[level].clear();
      vertexForce[level].clear();
    }
    elementOctreeCell.clear();
    elementMatrices.clear();
  }
  for (int level = 0; level < numLevels; ++level) {
    cellRebuilt[level].clear();
    prolongationVertices[level].clear();
    prolongationWeights[level].clear();
    levelVertices[level].clear();
    vertexHistory[level].clear();
    vertexMass[level].clear();
    scatterPositions[level].clear();
    if (level >= 1) {
      faceNeighbourCount[level].clear();
      faceNeighbours[level].clear();
    }
    if (level >= 2) {
      cellVertices[level].clear();
      hangingCorners[level].clear();
      vertexCount[level] = 0;
      vertexPosition[level].clear();
      vertexCoarseCell[level].clear();
      vertexFixed[level].clear();
      vertexForce[level].clear();
    }
  }
  restForces.clear();
  poolColumns.clear();
  poolBlocks.clear();
  vertexLookup.clear();
  renderVertices.clear();
  renderVertexIndex.clear();
  int u = numEmbeddedLevels;
  occupancyWordCount = u <= 2 ? 1 : 1 << (3 * u - 6);
}

int CutSim::AllocateCell(int level) {
  int index = cellCount[level]++;
  cellDepth[level].push_back(0);
  cellPosition[level].push_back(Vec3i());
  cellParent[level].push_back(-1);
  faceNeighbourCount[level].resize(faceNeighbourCount[level].size() + 6, 0);
  faceNeighbours[level].resize(faceNeighbours[level].size() + 6 * faceSlotCount[level], -1);
  cellVertices[level].push_back({-1, -1, -1, -1, -1, -1, -1, -1});
  hangingCorners[level].push_back(0);
  cellStiffnessScale[level].push_back(1.0);
  cellRotation[level].push_back(Mat3d::Identity());
  cellRebuilt[level].push_back(0);
  if (level == 0) elementOctreeCell.push_back({-1, -1});
  return index;
}

void CutSim::GrowFaceSlots(int level) {
  int oldSlots = faceSlotCount[level];
  int newSlots = 2 * oldSlots;
  std::vector<int32_t> grown(static_cast<size_t>(cellCount[level]) * 6 * newSlots, -1);
  for (size_t face = 0; face < static_cast<size_t>(cellCount[level]) * 6; ++face) {
    std::copy_n(faceNeighbours[level].begin() + face * oldSlots, oldSlots, grown.begin() + face * newSlots);
  }
  faceNeighbours[level].swap(grown);
  faceSlotCount[level] = newSlots;
}

void CutSim::AddFaceNeighbour(int level, int cell, int face, int neighbour) {
  int slots = faceSlotCount[level];
  int32_t& count = faceNeighbourCount[level][6 * cell + face];
  int32_t* list = &faceNeighbours[level][(6 * static_cast<size_t>(cell) + face) * slots];
  for (int k = 0; k < count; ++k) {
    if (list[k] == neighbour) return;
  }
  // slots grow on demand, so a face never loses a neighbour
  if (count == slots) {
    GrowFaceSlots(level);
    slots = faceSlotCount[level];
    list = &faceNeighbours[level][(6 * static_cast<size_t>(cell) + face) * slots];
  }
  list[count++] = neighbour;
}

void CutSim::ResetCellFaces(int level, int cell) {
  int slots = faceSlotCount[level];
  std::fill_n(faceNeighbourCount[level].begin() + 6 * static_cast<size_t>(cell), 6, 0);
  std::fill_n(faceNeighbours[level].begin() + 6 * static_cast<size_t>(cell) * slots, 6 * slots, -1);
}

void CutSim::BuildLevel0Cells() {
  std::vector<std::vector<OctreeCell>>& cells = octree.cells;
  int depthCount = static_cast<int>(cells.size());
  cellRebuilt[0].assign(cellCount[0], 0);
  // elements of leaves that a cut refined are reused first
  std::vector<int32_t>& freeCells = scratchIndices;
  freeCells.clear();
  for (int d = 0; d < depthCount; ++d) {
    for (const OctreeCell& c : cells[d]) {
      if (!c.leaf && c.wasLeaf) freeCells.push_back(c.element);
    }
  }
  size_t nextFree = 0;
  for (int d = 0; d < depthCount; ++d) {
    for (int i = 0; i < static_cast<int>(cells[d].size()); ++i) {
      OctreeCell& c = cells[d][i];
      if (!c.leaf || c.wasLeaf) continue;
      bool reused = nextFree < freeCells.size();
      int index = reused ? freeCells[nextFree++] : AllocateCell(0);
      int depth = depthCount - 1 - d;
      cellDepth[0][index] = depth;
      cellPosition[0][index] = {c.x << depth, c.y << depth, c.z << depth};
      cellStiffnessScale[0][index] = 1.0;
      cellRotation[0][index] = Mat3d::Identity();
      cellParent[0][index] = -1;
      cellRebuilt[0][index] = 1;
      c.element = index;
      elementOctreeCell[index] = {d, i};
      if (reused) {
        ResetCellFaces(0, index);
        cellVertices[0][index].fill(-1);
        hangingCorners[0][index] = 0;
      }
    }
  }
  for (int d = 0; d < depthCount; ++d) {
    for (const OctreeCell& c : cells[d]) {
      if (!c.leaf || c.adjacencyCurrent) continue;
      ResetCellFaces(0, c.element);
      cellParent[0][c.element] = -1;
    }
  }
}

void CutSim::BuildLevel0Adjacency() {
  std::vector<std::vector<OctreeCell>>& cells = octree.cells;
  for (int d = 0; d < static_cast<int>(cells.size()); ++d) {
    for (OctreeCell& c : cells[d]) {
      if (!c.leaf || c.adjacencyCurrent) continue;
      c.adjacencyCurrent = true;
      for (int face = 0; face < 6; ++face) {
        int slot = kFaceSlot[face];
        int n = c.neighbours[slot];
        if (n == -2 || !c.links[face]) continue;
        if (n == -1) {
          // the place is covered by a leaf one level coarser: our parent's neighbour
          if (d == 0) continue;
          int coarse = cells[d - 1][c.parent].neighbours[slot];
          if (coarse >= 0 && cells[d - 1][coarse].leaf) AddFaceNeighbour(0, c.element, face, cells[d - 1][coarse].element);
          continue;
        }
        const OctreeCell& other = cells[d][n];
        if (other.leaf) {
          AddFaceNeighbour(0, c.element, face, other.element);
          continue;
        }
        for (int octant : kChildrenTouchingFace[face]) {
          int child = other.children[octant];
          if (child >= 0 && cells[d + 1][child].leaf) AddFaceNeighbour(0, c.element, face, cells[d + 1][child].element);
        }
      }
    }
  }
}

void CutSim::PrepareFloodFill(int level) {
  if (floodVisited.size() < static_cast<size_t>(cellCount[level])) floodVisited.resize(cellCount[level], 0);
}

void CutSim::RecordGroupEntry(int level, int cell, const Vec3i& position) {
  GroupEntry entry;
  entry.cell = cell;
  int size = 1 << cellDepth[level][cell];
  const Vec3i& p = cellPosition[level][cell];
  for (int a = 0; a < 3; ++a) {
    int d = position[a] - p[a];
    entry.offset[a] = static_cast<int8_t>(d == 0 ? 0 : (d == size ? 1 : -1));
  }
  floodResult.push_back(entry);
  floodVisited[cell] = 1;
}

bool CutSim::ClosedBoxContains(int level, int cell, const Vec3i& position) const {
  int size = 1 << cellDepth[level][cell];
  const Vec3i& p = cellPosition[level][cell];
  for (int a = 0; a < 3; ++a) {
    int d = position[a] - p[a];
    if (d < 0 || d > size) return false;
  }
  return true;
}

void CutSim::CollectCornerGroup(int level, int startCell, const Vec3i& position) {
  PrepareFloodFill(level);
  floodResult.clear();
  floodStack.clear();
  floodStackState.clear();
  RecordGroupEntry(level, startCell, position);
  floodStack.push_back(0);
  floodStackState.push_back(0);
  int slots = faceSlotCount[level];
  // depth-first search; each stack entry remembers the axis and the slot of
  // the face list it will look at next
  while (!floodStack.empty()) {
    int entryIndex = floodStack.back();
    int state = floodStackState.back();
    int cell = floodResult[entryIndex].cell;
    int axis = state / slots, k = state % slots;
    bool pushed = false;
    for (; axis < 3 && !pushed; ++axis, k = 0) {
      int offset = floodResult[entryIndex].offset[axis];
      if (offset < 0) continue;
      int face = 2 * axis + offset;
      int count = faceNeighbourCount[level][6 * cell + face];
      const int32_t* list = &faceNeighbours[level][(6 * static_cast<size_t>(cell) + face) * slots];
      for (; k < count; ++k) {
        int n = list[k];
        if (floodVisited[n] || !ClosedBoxContains(level, n, position)) continue;
        floodStackState.back() = axis * slots + k + 1;
        RecordGroupEntry(level, n, position);
        floodStack.push_back(static_cast<int>(floodResult.size()) - 1);
        floodStackState.push_back(0);
        pushed = true;
        break;
      }
      if (pushed) break;
    }
    if (!pushed) {
      floodStack.pop_back();
      floodStackState.pop_back();
    }
  }
}

void CutSim::ClearFloodVisited() {
  for (const GroupEntry& entry : floodResult) floodVisited[entry.cell] = 0;
}

int CutSim::FindOctreeCell(int depth, const Vec3i& coordinates) const {
  const std::vector<std::vector<OctreeCell>>& cells = octree.cells;
  if (cells.empty() || cells[0].empty()) return -1;
  int index = 0;
  for (int d = 0; d < depth; ++d) {
    int shift = depth - 1 - d;
    int octant = ((coordinates.x >> shift) & 1) + 2 * ((coordinates.y >> shift) & 1) + 4 * ((coordinates.z >> shift) & 1);
    index = cells[d][index].children[octant];
    if (index < 0) return -1;
  }
  return index;
}

void CutSim::UnassignLevel1CornersBelow(int depth, int index) {
  const std::vector<std::vector<OctreeCell>>& cells = octree.cells;
  std::vector<std::array<int32_t, 2>>& stack = scratchOctreeStack;
  stack.clear();
  stack.push_back({depth, index});
  while (!stack.empty()) {
    auto [d, i] = stack.back();
    stack.pop_back();
    const OctreeCell& c = cells[d][i];
    if (c.leaf) {
      int coarse = cellParent[0][c.element];
      if (coarse >= 0) {
        cellVertices[1][coarse].fill(-1);
        hangingCorners[1][coarse] = 0;
      }
      continue;
    }
    for (int child : c.children) {
      if (child >= 0) stack.push_back({d + 1, child});
    }
  }
}

void CutSim::UnassignLevel1Neighbourhood() {
  const std::vector<std::vector<OctreeCell>>& cells = octree.cells;
  int depthCount = static_cast<int>(cells.size());
  for (int c = 0; c < cellCount[1]; ++c) {
    if (!cellRebuilt[1][c]) continue;
    int depth = cellDepth[1][c];
    int od = depthCount - 1 - depth;
    if (od < 0) continue;
    Vec3i coordinates = {cellPosition[1][c].x >> depth, cellPosition[1][c].y >> depth, cellPosition[1][c].z >> depth};
    int index = FindOctreeCell(od, coordinates);
    if (index < 0) continue;
    const OctreeCell& cell = cells[od][index];
    for (int slot = 0; slot < 27; ++slot) {
      int n = cell.neighbours[slot];
      if (n >= 0) {
        UnassignLevel1CornersBelow(od, n);
      } else if (n == -1 && od > 0) {
        // covered by a coarser leaf: find it through the parent's neighbours
        Vec3i offset = {slot % 3 - 1, (slot % 9) / 3 - 1, slot / 9 - 1};
        Vec3i target = coordinates + offset;
        Vec3i parentOffset = {(target.x >> 1) - (coordinates.x >> 1), (target.y >> 1) - (coordinates.y >> 1),
                              (target.z >> 1) - (coordinates.z >> 1)};
        int parentSlot = (parentOffset.x + 1) + 3 * (parentOffset.y + 1) + 9 * (parentOffset.z + 1);
        int coarse = cells[od - 1][cell.parent].neighbours[parentSlot];
        if (coarse >= 0) UnassignLevel1CornersBelow(od - 1, coarse);
      }
    }
  }
}

void CutSim::StartVertexNumbering(int level) {
  bool keepVertices = level <= 1;
  vertexFreeList.clear();
  nextFreeVertex = 0;
  if (!keepVertices) {
    for (auto& corners : cellVertices[level]) corners.fill(-1);
    std::fill(hangingCorners[level].begin(), hangingCorners[level].end(), 0);
    vertexCount[level] = 0;
    vertexPosition[level].clear();
    vertexFixed[level].clear();
    vertexForce[level].clear();
    return;
  }
  if (level == 0) {
    for (std::vector<OctreeCell>& depthCells : octree.cells) {
      for (OctreeCell& c : depthCells) {
        if (!c.leaf || c.cornerVerticesCurrent) continue;
        cellVertices[0][c.element].fill(-1);
        hangingCorners[0][c.element] = 0;
        c.cornerVerticesCurrent = true;
      }
    }
  } else if (!firstBuild) {
    // (on the first build every level-1 corner is still unassigned)
    UnassignLevel1Neighbourhood();
  }
  // vertices no longer used by a regular corner are renumbered first
  std::vector<uint8_t>& referenced = scratchFlags;
  referenced.assign(vertexCount[level], 0);
  for (int c = 0; c < cellCount[level]; ++c) {
    for (int k = 0; k < 8; ++k) {
      int v = cellVertices[level][c][k];
      if (v >= 0 && !((hangingCorners[level][c] >> k) & 1) && v < vertexCount[level]) referenced[v] = 1;
    }
  }
  for (int v = 0; v < vertexCount[level]; ++v) {
    if (!referenced[v]) vertexFreeList.push_back(v);
  }
}

int CutSim::TakeVertexIndex(int level) {
  if (nextFreeVertex < vertexFreeList.size()) return vertexFreeList[nextFreeVertex++];
  return vertexCount[level]++;
}

void CutSim::SetVertexSlot(int level, int vertex, const Vec3i& position, bool fixed, const Vec3d& force) {
  if (vertex == static_cast<int>(vertexPosition[level].size())) {
    vertexPosition[level].push_back(position);
    vertexFixed[level].push_back(fixed ? 1 : 0);
    vertexForce[level].push_back(force);
    return;
  }
  vertexPosition[level][vertex] = position;
  vertexFixed[level][vertex] = fixed ? 1 : 0;
  vertexForce[level][vertex] = force;
}

void CutSim::AssignCornerGroup(int level, const Vec3i& position) {
  int lastHanging = -1;
  for (int n = 0; n < static_cast<int>(floodResult.size()); ++n) {
    if (!OffsetsValid(floodResult[n].offset)) lastHanging = n;
  }
  if (lastHanging >= 0) {
    // the position lies inside an edge or face of a larger cell: no vertex
    int host = floodResult[lastHanging].cell;
    for (const GroupEntry& entry : floodResult) {
      if (!OffsetsValid(entry.offset)) continue;
      int corner = CornerOfOffsets(entry.offset);
      hangingCorners[level][entry.cell] |= static_cast<uint8_t>(1 << corner);
      cellVertices[level][entry.cell][corner] = host;
    }
    return;
  }
  int vertex = -1;
  if (level <= 1) {
    for (const GroupEntry& entry : floodResult) {
      int corner = CornerOfOffsets(entry.offset);
      int v = cellVertices[level][entry.cell][corner];
      if (v >= 0 && !((hangingCorners[level][entry.cell] >> corner) & 1)) vertex = v;
    }
  }
  bool existing = vertex >= 0;
  if (!existing) vertex = TakeVertexIndex(level);
  for (const GroupEntry& entry : floodResult) {
    int corner = CornerOfOffsets(entry.offset);
    cellVertices[level][entry.cell][corner] = vertex;
    hangingCorners[level][entry.cell] &= static_cast<uint8_t>(~(1 << corner));
  }
  if (existing) return;
  bool fixed = false;
  Vec3d force;
  if (level == 0) {
    // a new level-0 vertex takes the constraint stored at its octree corner
    const GroupEntry& first = floodResult.front();
    auto [depth, index] = elementOctreeCell[first.cell];
    const OctreeCell& leaf = octree.cells[depth][index];
    int corner = CornerOfOffsets(first.offset);
    fixed = leaf.cornerFixed[corner];
    force = leaf.cornerForces[corner];
  }
  SetVertexSlot(level, vertex, position, fixed, force);
}

void CutSim::BuildVertices(int level) {
  StartVertexNumbering(level);
  PrepareFloodFill(level);
  for (int c = 0; c < cellCount[level]; ++c) {
    for (int k = 0; k < 8; ++k) {
      if (cellVertices[level][c][k] != -1) continue;
      Vec3i position = CornerPosition(level, c, k);
      CollectCornerGroup(level, c, position);
      AssignCornerGroup(level, position);
      ClearFloodVisited();
    }
  }
  // free indices left over belong to no corner: they carry no constraint
  for (size_t n = nextFreeVertex; n < vertexFreeList.size(); ++n) {
    vertexFixed[level][vertexFreeList[n]] = 0;
    vertexForce[level][vertexFreeList[n]] = Vec3d();
  }
  int count = vertexCount[level];
  vertexPosition[level].resize(count);
  vertexFixed[level].resize(count, 0);
  vertexForce[level].resize(count);
  vertexCoarseCell[level].assign(count, -1);
  for (int c = 0; c < cellCount[level]; ++c) {
    for (int k = 0; k < 8; ++k) {
      if ((hangingCorners[level][c] >> k) & 1) continue;
      int v = cellVertices[level][c][k];
      if (v >= 0) vertexCoarseCell[level][v] = cellParent[level][c];
    }
  }
  if (level == 0 && firstBuild) {
    vertexLookup.clear();
    for (int v = 0; v < count; ++v) {
      const Vec3i& p = vertexPosition[0][v];
      vertexLookup.emplace(std::array<int32_t, 3>{p.x, p.y, p.z}, v);
    }
  }
}

void CutSim::MarkOctreeLeavesBuilt() {
  for (std::vector<OctreeCell>& depthCells : octree.cells) {
    for (OctreeCell& c : depthCells) c.wasLeaf = c.leaf;
  }
}

int CutSim::RenderIndexOfVertex(int vertex) {
  int& index = renderVertexIndex[vertex];
  if (index == -1) {
    index = static_cast<int>(renderVertices.size());
    renderVertices.push_back(vertex);
  }
  return index;
}

void CutSim::BuildSurfaceVertices() {
  renderVertexIndex.assign(vertexCount[0], -1);
  renderVertices.clear();
  for (int c = 0; c < cellCount[0]; ++c) {
    for (int face = 0; face < 6; ++face) {
      if (faceNeighbourCount[0][6 * c + face] != 0) continue;
      bool hanging = false;
      for (int corner : kFaceCorners[face]) hanging |= ((hangingCorners[0][c] >> corner) & 1) != 0;
      if (hanging) continue;
      for (int corner : kFaceCorners[face]) RenderIndexOfVertex(cellVertices[0][c][corner]);
    }
  }
}

void CutSim::SizeSolverRecords() {
  for (int level = 0; level < numLevels; ++level) {
    // cuts add vertices a few at a time: room to spare saves moving (and
    // faulting in) the whole record array again at every cut
    size_t count = static_cast<size_t>(vertexCount[level]);
    if (levelVertices[level].capacity() < count) levelVertices[level].reserve(count + count / 8);
    if (vertexHistory[level].capacity() < count) vertexHistory[level].reserve(count + count / 8);
    levelVertices[level].assign(vertexCount[level], LevelVertex());
    vertexHistory[level].resize(vertexCount[level]);
  }
}

void CutSim::BuildEmbeddingMap() {
  int u = numEmbeddedLevels;
  embeddingMap.assign(std::max(u, 1), {});
  if (u == 0) {
    embeddingMap[0].resize(cellCount[0]);
    for (int c = 0; c < cellCount[0]; ++c) embeddingMap[0][c] = c;
    return;
  }
  embeddingMap[u - 1] = cellParent[u - 1];
  for (int level = u - 2; level >= 0; --level) {
    embeddingMap[level].resize(cellCount[level]);
    for (int c = 0; c < cellCount[level]; ++c) embeddingMap[level][c] = embeddingMap[level + 1][cellParent[level][c]];
  }
}

int CutSim::ElementOfLevel0Cell(int cell) const { return embeddingMap[0][cell]; }

void CutSim::SetRestPositions() {
  for (int level = 0; level < numLevels; ++level) {
    for (int v = 0; v < vertexCount[level]; ++v) {
      Vec3d rest = RestPosition(level, v);
      levelVertices[level][v].x = rest;
      vertexHistory[level][v].previousX = rest;
    }
  }
}

void CutSim::RestorePositionsFromOctree() {
  int u = numEmbeddedLevels;
  // one representative leaf per element; the last in octree order wins
  std::vector<std::array<int32_t, 2>>& representative = scratchRepresentative;
  representative.assign(cellCount[u], {-1, -1});
  const std::vector<std::vector<OctreeCell>>& cells = octree.cells;
  for (int d = 0; d < static_cast<int>(cells.size()); ++d) {
    for (int i = 0; i < static_cast<int>(cells[d].size()); ++i) {
      if (cells[d][i].leaf) representative[ElementOfLevel0Cell(cells[d][i].element)] = {d, i};
    }
  }
  for (int e = 0; e < cellCount[u]; ++e) {
    if (representative[e][0] < 0) continue;
    const OctreeCell& leaf = cells[representative[e][0]][representative[e][1]];
    for (int k = 0; k < 8; ++k) {
      if ((hangingCorners[u][e] >> k) & 1) continue;
      int v = cellVertices[u][e][k];
      levelVertices[u][v].x = leaf.savedCorners[k];
      vertexHistory[u][v].previousX = leaf.savedPreviousCorners[k];
    }
  }
}

void CutSim::SizeElementMatrices() {
  int u = numEmbeddedLevels;
  elementMatrices.resize(u + 1);
  for (int level = 0; level <= u; ++level) {
    if (StoresElementMatrices(level)) {
      elementMatrices[level].resize(cellCount[level], level == 0 ? voxelStiffness : ElementMatrix());
    } else {
      std::vector<ElementMatrix>().swap(elementMatrices[level]);
    }
  }
}

void CutSim::ComputeElementCorners() {
  int u = numEmbeddedLevels;
  elementCorners.resize(cellCount[u]);
  const std::vector<LevelVertex>& vertices = levelVertices[u];
#pragma omp parallel for schedule(static)
  for (int e = 0; e < cellCount[u]; ++e) {
    CornerStencil stencil;
    for (int k = 0; k < 8; ++k) {
      CornerRepresentation(u, e, k, stencil);
      Vec3d p;
      for (int n = 0; n < stencil.count; ++n) p += vertices[stencil.vertex[n]].x * stencil.coefficient[n];
      elementCorners[e][k] = Vec3f(p);
    }
  }
}

void CutSim::ComputeEmbeddedBounds() {
  int u = numEmbeddedLevels;
  double big = std::numeric_limits<double>::max();
  embeddedBounds.assign(cellCount[u], {Vec3d(big, big, big), Vec3d(-big, -big, -big)});
  for (int c = 0; c < cellCount[0]; ++c) {
    int e = ElementOfLevel0Cell(c);
    int size = 1 << cellDepth[0][c];
    const Vec3i& p = cellPosition[0][c];
    for (int a = 0; a < 3; ++a) {
      embeddedBounds[e][0][a] = std::min(embeddedBounds[e][0][a], static_cast<double>(p[a]));
      embeddedBounds[e][1][a] = std::max(embeddedBounds[e][1][a], static_cast<double>(p[a] + size));
    }
  }
  for (int e = 0; e < cellCount[u]; ++e) {
    double size = static_cast<double>(1 << cellDepth[u][e]);
    for (int a = 0; a < 3; ++a) {
      for (int m = 0; m < 2; ++m) embeddedBounds[e][m][a] = (embeddedBounds[e][m][a] - cellPosition[u][e][a]) / size;
    }
  }
}

void CutSim::ComputeOccupancy() {
  int u = numEmbeddedLevels;
  occupancyWords.assign(static_cast<size_t>(cellCount[u]) * occupancyWordCount, 0);
  int wordsPerAxis = (1 << u) / 4;
  for (int c = 0; c < cellCount[0]; ++c) {
    int e = ElementOfLevel0Cell(c);
    // elements taken over from a finer level are larger than 2^u: no bits
    if (cellDepth[u][e] != u) continue;
    int size = 1 << cellDepth[0][c];
    Vec3i offset = cellPosition[0][c] - cellPosition[u][e];
    for (int z = offset.z; z < offset.z + size; ++z) {
      for (int y = offset.y; y < offset.y + size; ++y) {
        for (int x = offset.x; x < offset.x + size; ++x) {
          int word = x / 4 + wordsPerAxis * (y / 4 + wordsPerAxis * (z / 4));
          int bit = x % 4 + 4 * (y % 4) + 16 * (z % 4);
          occupancyWords[static_cast<size_t>(e) * occupancyWordCount + word] |= uint64_t{1} << bit;
        }
      }
    }
  }
}

void CutSim::ClearContacts() {
  elementHash.clear();
  contactStiffness.clear();
  contactForce.clear();
  contactFlag.clear();
  pointHashKey.clear();
}
