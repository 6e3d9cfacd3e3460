#include "cutsim/hierarchy_validation.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "cutsim/cut_sim.h"
#include "geometry/octree.h"

namespace {

class Checker {
 public:
  explicit Checker(const CutSim& sim) : sim_(sim) {}

  template <typename... Parts>
  bool Fail(const Parts&... parts) {
    if (!problem_.empty()) return false;
    std::ostringstream text;
    (text << ... << parts);
    problem_ = text.str();
    return false;
  }
  const std::string& Problem() const { return problem_; }

  bool CheckSizes(int level) {
    size_t cells = sim_.cellCount[level], vertices = sim_.vertexCount[level];
    if (sim_.cellDepth[level].size() != cells || sim_.cellPosition[level].size() != cells ||
        sim_.cellParent[level].size() != cells || sim_.cellVertices[level].size() != cells ||
        sim_.hangingCorners[level].size() != cells || sim_.faceNeighbourCount[level].size() != 6 * cells ||
        sim_.faceNeighbours[level].size() != 6 * cells * sim_.faceSlotCount[level] ||
        sim_.cellRotation[level].size() != cells || sim_.cellStiffnessScale[level].size() != cells) {
      return Fail("level ", level, ": cell arrays differ from cellCount ", cells);
    }
    if (sim_.vertexPosition[level].size() != vertices || sim_.vertexFixed[level].size() != vertices ||
        sim_.vertexForce[level].size() != vertices || sim_.vertexCoarseCell[level].size() != vertices ||
        sim_.levelVertices[level].size() != vertices || sim_.vertexHistory[level].size() != vertices) {
      return Fail("level ", level, ": vertex arrays differ from vertexCount ", vertices);
    }
    return true;
  }

  bool CheckLeaves() {
    const Octree& octree = sim_.octree;
    std::vector<int> uses(sim_.cellCount[0], 0);
    int depthCount = static_cast<int>(octree.cells.size());
    for (int d = 0; d < depthCount; ++d) {
      for (int i = 0; i < static_cast<int>(octree.cells[d].size()); ++i) {
        const OctreeCell& c = octree.cells[d][i];
        if (!c.leaf) continue;
        if (!c.wasLeaf) return Fail("octree leaf (", d, ", ", i, ") is not in the model");
        int e = c.element;
        if (e < 0 || e >= sim_.cellCount[0]) return Fail("octree leaf (", d, ", ", i, ") has element ", e);
        ++uses[e];
        int depth = depthCount - 1 - d;
        Vec3i p = {c.x << depth, c.y << depth, c.z << depth};
        if (sim_.cellDepth[0][e] != depth || sim_.cellPosition[0][e] != p) {
          return Fail("level-0 cell ", e, " does not match its octree leaf (", d, ", ", i, ")");
        }
        if (sim_.elementOctreeCell[e][0] != d || sim_.elementOctreeCell[e][1] != i) {
          return Fail("elementOctreeCell of ", e, " does not name its leaf");
        }
      }
    }
    for (int e = 0; e < sim_.cellCount[0]; ++e) {
      if (uses[e] != 1) return Fail("level-0 cell ", e, " belongs to ", uses[e], " octree leaves");
    }
    return true;
  }

  bool BoxInside(int level, int cell, int outerLevel, int outer) {
    int size = 1 << sim_.cellDepth[level][cell], outerSize = 1 << sim_.cellDepth[outerLevel][outer];
    const Vec3i& p = sim_.cellPosition[level][cell];
    const Vec3i& q = sim_.cellPosition[outerLevel][outer];
    for (int a = 0; a < 3; ++a) {
      if (p[a] < q[a] || p[a] + size > q[a] + outerSize) return false;
    }
    return true;
  }

  bool CheckParents(int level) {
    bool coarsest = level == sim_.numLevels - 1;
    std::vector<int> children(coarsest ? 0 : sim_.cellCount[level + 1], 0);
    for (int c = 0; c < sim_.cellCount[level]; ++c) {
      int parent = sim_.cellParent[level][c];
      if (coarsest) {
        if (parent != -1) return Fail("coarsest cell ", c, " has parent ", parent);
        continue;
      }
      if (parent < 0 || parent >= sim_.cellCount[level + 1]) return Fail("level ", level, " cell ", c, " has parent ", parent);
      if (!BoxInside(level, c, level + 1, parent)) return Fail("level ", level, " cell ", c, " lies outside its parent");
      int expected = std::max(level + 1, sim_.cellDepth[level][c]);
      if (sim_.cellDepth[level + 1][parent] != expected) return Fail("level ", level + 1, " cell ", parent, " has depth ", sim_.cellDepth[level + 1][parent]);
      ++children[parent];
    }
    for (size_t p = 0; p < children.size(); ++p) {
      if (children[p] == 0) return Fail("level ", level + 1, " cell ", p, " has no children");
    }
    return true;
  }

  bool FacesTouch(int level, int cell, int face, int other) {
    int axis = face / 2;
    int size = 1 << sim_.cellDepth[level][cell], otherSize = 1 << sim_.cellDepth[level][other];
    const Vec3i& p = sim_.cellPosition[level][cell];
    const Vec3i& q = sim_.cellPosition[level][other];
    int plane = (face & 1) ? p[axis] + size : p[axis];
    int otherPlane = (face & 1) ? q[axis] : q[axis] + otherSize;
    if (plane != otherPlane) return false;
    for (int a = 0; a < 3; ++a) {
      if (a == axis) continue;
      if (std::min(p[a] + size, q[a] + otherSize) <= std::max(p[a], q[a])) return false;
    }
    return true;
  }

  bool CheckAdjacency(int level) {
    int slots = sim_.faceSlotCount[level];
    for (int c = 0; c < sim_.cellCount[level]; ++c) {
      for (int face = 0; face < 6; ++face) {
        int count = sim_.faceNeighbourCount[level][6 * c + face];
        if (count < 0 || count > slots) return Fail("level ", level, " cell ", c, " face ", face, " count ", count);
        const int32_t* list = &sim_.faceNeighbours[level][(6 * static_cast<size_t>(c) + face) * slots];
        for (int k = 0; k < slots; ++k) {
          int n = list[k];
          if (k >= count) {
            if (n != -1) return Fail("level ", level, " cell ", c, " face ", face, " unused slot holds ", n);
            continue;
          }
          if (n < 0 || n >= sim_.cellCount[level]) return Fail("level ", level, " cell ", c, " face ", face, " names ", n);
          if (!FacesTouch(level, c, face, n)) {
            return Fail("level ", level, " cell ", c, " face ", face, ": neighbour ", n, " does not touch it");
          }
          for (int m = 0; m < k; ++m) {
            if (list[m] == n) return Fail("level ", level, " cell ", c, " face ", face, " lists ", n, " twice");
          }
        }
      }
    }
    return true;
  }

  bool CheckCorners(int level, bool allowUnused) {
    std::vector<int> uses(sim_.vertexCount[level], 0);
    for (int c = 0; c < sim_.cellCount[level]; ++c) {
      for (int k = 0; k < 8; ++k) {
        int entry = sim_.cellVertices[level][c][k];
        Vec3i corner = sim_.CornerPosition(level, c, k);
        if ((sim_.hangingCorners[level][c] >> k) & 1) {
          if (entry < 0 || entry >= sim_.cellCount[level]) return Fail("level ", level, " cell ", c, " corner ", k, " hangs on ", entry);
          int hostDepth = sim_.cellDepth[level][entry];
          if (hostDepth <= sim_.cellDepth[level][c]) return Fail("level ", level, " cell ", c, " corner ", k, " hangs on a cell no larger");
          int sum = 0, largest = 0;
          for (int j = 0; j < 8; ++j) {
            int w = HangingWeight(sim_.CornerPosition(level, entry, j), corner, hostDepth);
            sum += w;
            largest = std::max(largest, w);
          }
          if (sum != 8 || largest == 8) return Fail("level ", level, " cell ", c, " corner ", k, " is not inside an edge or face of its host");
          continue;
        }
        if (entry < 0 || entry >= sim_.vertexCount[level]) return Fail("level ", level, " cell ", c, " corner ", k, " has vertex ", entry);
        if (sim_.vertexPosition[level][entry] != corner) return Fail("level ", level, " vertex ", entry, " is not at corner ", k, " of cell ", c);
        ++uses[entry];
      }
    }
    for (int v = 0; v < sim_.vertexCount[level]; ++v) {
      if (uses[v] == 0 && !allowUnused) return Fail("level ", level, " vertex ", v, " belongs to no corner");
      int coarse = sim_.vertexCoarseCell[level][v];
      if (uses[v] == 0) continue;
      if (level == sim_.numLevels - 1) {
        if (coarse != -1) return Fail("coarsest vertex ", v, " has a coarse cell");
        continue;
      }
      if (coarse < 0 || coarse >= sim_.cellCount[level + 1]) return Fail("level ", level, " vertex ", v, " has coarse cell ", coarse);
      if (!sim_.ClosedBoxContains(level + 1, coarse, sim_.vertexPosition[level][v])) {
        return Fail("level ", level, " vertex ", v, " lies outside its coarse cell");
      }
    }
    return true;
  }

  bool CheckStencils(int level) {
    if (level == sim_.numLevels - 1) return true;
    if (sim_.prolongationVertices[level].size() != static_cast<size_t>(sim_.vertexCount[level]) ||
        sim_.prolongationWeights[level].size() != static_cast<size_t>(sim_.vertexCount[level])) {
      return Fail("level ", level, ": stencil arrays differ from vertexCount");
    }
    for (int v = 0; v < sim_.vertexCount[level]; ++v) {
      int sum = 0;
      for (int k = 0; k < 8; ++k) {
        int w = sim_.prolongationWeights[level][v][k];
        if (w < 0 || w > 8) return Fail("level ", level, " vertex ", v, " has stencil weight ", w);
        sum += w;
        int coarse = sim_.prolongationVertices[level][v][k];
        if (w != 0 && (coarse < 0 || coarse >= sim_.vertexCount[level + 1])) {
          return Fail("level ", level, " vertex ", v, " stencil names ", coarse);
        }
      }
      bool hasCoarse = sim_.vertexCoarseCell[level][v] >= 0;
      if (sum != (hasCoarse ? 8 : 0)) return Fail("level ", level, " vertex ", v, " stencil weights sum to ", sum);
    }
    return true;
  }

  bool CheckEmbedding() {
    int u = sim_.numEmbeddedLevels;
    for (int c = 0; c < sim_.cellCount[0]; ++c) {
      int e = sim_.embeddingMap[0][c];
      if (e < 0 || e >= sim_.cellCount[u]) return Fail("level-0 cell ", c, " embeds in ", e);
      if (e != sim_.SimulationElementOf(c)) return Fail("level-0 cell ", c, " embedding differs from its parents");
      if (!BoxInside(0, c, u, e)) return Fail("level-0 cell ", c, " lies outside its element ", e);
    }
    return true;
  }

 private:
  const CutSim& sim_;
  std::string problem_;
};

}  // namespace

std::string ValidateHierarchy(const CutSim& sim, bool allowUnusedVertices) {
  if (!sim.Built()) return "the hierarchy is not built";
  Checker checker(sim);
  bool ok = checker.CheckLeaves();
  for (int level = 0; ok && level < sim.numLevels; ++level) {
    ok = checker.CheckSizes(level) && checker.CheckParents(level) && checker.CheckAdjacency(level) &&
         checker.CheckCorners(level, allowUnusedVertices) && checker.CheckStencils(level);
  }
  ok = ok && checker.CheckEmbedding();
  if (ok && sim.inexactStencilCount != 0) checker.Fail(sim.inexactStencilCount, " stencils did not fit eight entries");
  return checker.Problem();
}
