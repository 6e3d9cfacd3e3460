// The element assembly of the simulation level as a gather. The sequential
// scatter adds each element's blocks into the rows in element order; once its
// block positions are recorded, the terms of every row block are listed in
// that same order, and later steps let each row sum its own terms. The rows
// are independent, so they go in parallel, and each sum adds the same
// products in the same order as the scatter: the result is bit-identical to
// it whatever the number of threads.
#include <algorithm>
#include <cmath>

#include "cutsim/cut_sim.h"

namespace {

// Sorts terms by key, keeping their order within a key; start gets the first
// term of every key (size keys + 1).
template <typename Term>
void GroupByKey(const std::vector<int32_t>& key, int keys, std::vector<Term>& terms, std::vector<int32_t>& start) {
  start.assign(static_cast<size_t>(keys) + 1, 0);
  for (int32_t k : key) ++start[k + 1];
  for (int k = 0; k < keys; ++k) start[k + 1] += start[k];
  std::vector<int32_t> fill(start.begin(), start.end() - 1);
  std::vector<Term> grouped(terms.size());
  for (size_t t = 0; t < terms.size(); ++t) grouped[fill[key[t]]++] = terms[t];
  terms.swap(grouped);
}

}  // namespace

// Walks the scatter of Assemble in its order and pairs every block it adds
// with the recorded position; false (no lists) when the record does not fit
// the rows as they are, so that the caller falls back to the scatter.
bool CutSim::BuildAssemblyGather(int level) {
  gatherLevel = -1;
  const std::vector<int32_t>& record = scatterPositions[level];
  const std::vector<LevelVertex>& rows = levelVertices[level];
  int vertices = vertexCount[level];
  int elements = cellCount[level];
  gatherRowSlot.assign(static_cast<size_t>(vertices) + 1, 0);
  gatherRowBlocks.resize(vertices);
  for (int i = 0; i < vertices; ++i) {
    gatherRowSlot[i + 1] = gatherRowSlot[i] + rows[i].count;
    gatherRowBlocks[i] = rows[i].blocks;
  }
  std::vector<int32_t> termSlot;
  termSlot.reserve(record.size());
  gatherTerms.clear();
  gatherTerms.reserve(record.size());
  size_t cursor = 0;
  auto take = [&](int row, int column, const GatherTerm& term) {
    if (cursor >= record.size()) return false;
    int p = record[cursor++];
    if (p < 0 || p >= rows[row].count || rows[row].columns[p] != column) return false;
    termSlot.push_back(gatherRowSlot[row] + p);
    gatherTerms.push_back(term);
    return true;
  };
  std::vector<int32_t> forceVertex;
  gatherForceTerms.clear();
  CornerStencil stencil[8];
  for (int e = 0; e < elements; ++e) {
    for (int c = 0; c < 8; ++c) CornerRepresentation(level, e, c, stencil[c]);
    for (int a = 0; a < 8; ++a) {
      for (int b = 0; b < 8; ++b) {
        int upper = 36 * e + (a <= b ? UpperBlockIndex(a, b) : UpperBlockIndex(b, a));
        for (int m = 0; m < stencil[a].count; ++m) {
          for (int n = 0; n < stencil[b].count; ++n) {
            GatherTerm term{upper, a > b, stencil[a].coefficient[m] * stencil[b].coefficient[n]};
            if (!take(stencil[a].vertex[m], stencil[b].vertex[n], term)) return false;
          }
        }
      }
    }
    for (int a = 0; a < 8; ++a) {
      for (int m = 0; m < stencil[a].count; ++m) {
        forceVertex.push_back(stencil[a].vertex[m]);
        gatherForceTerms.push_back({8 * e + a, stencil[a].coefficient[m]});
      }
    }
  }
  for (int k = 0; k < vertices; ++k) {
    if (!take(k, k, GatherTerm{36 * elements + k, 0, 1.0})) return false;
  }
  if (cursor != record.size()) return false;
  GroupByKey(termSlot, gatherRowSlot[vertices], gatherTerms, gatherSlotStart);
  GroupByKey(forceVertex, vertices, gatherForceTerms, gatherForceStart);
  gatherLevel = level;
  return true;
}

bool CutSim::AssemblyGatherFitsRows(int level) const {
  if (gatherLevel != level || static_cast<int>(gatherRowBlocks.size()) != vertexCount[level]) return false;
  const std::vector<LevelVertex>& rows = levelVertices[level];
  for (int i = 0; i < vertexCount[level]; ++i) {
    if (rows[i].blocks != gatherRowBlocks[i] || rows[i].count != gatherRowSlot[i + 1] - gatherRowSlot[i]) return false;
  }
  return true;
}

void CutSim::GatherAssembly(int level) {
  int elements = cellCount[level];
  int vertices = vertexCount[level];
  rotatedRestForces.resize(8 * static_cast<size_t>(elements));
#pragma omp parallel for schedule(static)
  for (int e = 0; e < elements; ++e) {
    double S = std::ldexp(cellStiffnessScale[level][e], cellDepth[level][e]);
    const Mat3d& R = cellRotation[level][e];
    for (int a = 0; a < 8; ++a) rotatedRestForces[8 * static_cast<size_t>(e) + a] = MulVec(R, restForces[e][a]) * S;
  }
  const Mat3d* upper = rotatedElementBlocks.data();
  int upperCount = 36 * elements;
  std::vector<LevelVertex>& rows = levelVertices[level];
  // each row writes only its own blocks and b; it reads its own inertia and
  // x of fixed vertices, which nobody writes here
#pragma omp parallel for schedule(static)
  for (int i = 0; i < vertices; ++i) {
    LevelVertex& row = rows[i];
    for (int p = 0; p < row.count; ++p) {
      int slot = gatherRowSlot[i] + p;
      Mat3d sum;
      for (int t = gatherSlotStart[slot]; t < gatherSlotStart[slot + 1]; ++t) {
        const GatherTerm& term = gatherTerms[t];
        if (term.source >= upperCount) {
          AddScaled(sum, rows[term.source - upperCount].inertia, term.weight);
        } else if (term.transposed) {
          const Mat3d& B = upper[term.source];
          for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) sum(r, c) += term.weight * B(c, r);
          }
        } else {
          AddScaled(sum, upper[term.source], term.weight);
        }
      }
      row.blocks[p] = sum;
    }
    Vec3d b;
    for (int t = gatherForceStart[i]; t < gatherForceStart[i + 1]; ++t) {
      b += rotatedRestForces[gatherForceTerms[t].corner] * gatherForceTerms[t].weight;
    }
    row.b = b;
    ApplyRowFixation(level, i);
  }
}

// Walks the Galerkin pass of UpdateMultigridOperators in its order: for every
// fine row the entries of T = sum_j A(i, j) P(j, .) with the recorded
// positions in T, then the blocks P(i, k) T scattered into the coarse rows
// with their recorded positions. False (no lists) when the record does not
// fit the rows.
bool CutSim::BuildGalerkinGather(int coarseLevel) {
  GalerkinGather& g = galerkinGathers[coarseLevel];
  g.valid = false;
  int fine = coarseLevel - 1;
  const std::vector<int32_t>& record = scatterPositions[coarseLevel];
  int fineVertices = vertexCount[fine];
  int coarseVertices = vertexCount[coarseLevel];
  const std::vector<LevelVertex>& fineRows = levelVertices[fine];
  const std::vector<LevelVertex>& coarseRows = levelVertices[coarseLevel];
  g.fineRowBlocks.resize(fineVertices);
  g.fineRowCount.resize(fineVertices);
  for (int i = 0; i < fineVertices; ++i) {
    WireRow(fine, i);
    g.fineRowBlocks[i] = fineRows[i].blocks;
    g.fineRowCount[i] = fineRows[i].count;
  }
  g.coarseRowBlocks.resize(coarseVertices);
  g.coarseRowSlot.assign(static_cast<size_t>(coarseVertices) + 1, 0);
  for (int r = 0; r < coarseVertices; ++r) {
    WireRow(coarseLevel, r);
    g.coarseRowBlocks[r] = coarseRows[r].blocks;
    g.coarseRowSlot[r + 1] = g.coarseRowSlot[r] + coarseRows[r].count;
  }
  g.productStart.assign(static_cast<size_t>(fineVertices) + 1, 0);
  g.productTerms.clear();
  g.coarseTerms.clear();
  std::vector<int32_t> productKey, coarseKey;
  std::vector<int32_t> columns;  // coarse columns of the current row's T
  size_t cursor = 0;
  for (int i = 0; i < fineVertices; ++i) {
    const LevelVertex& row = fineRows[i];
    int base = g.productStart[i];
    columns.clear();
    for (int p = 0; p < row.count; ++p) {
      int j = row.columns[p];
      const auto& stencil = prolongationVertices[fine][j];
      const auto& weights = prolongationWeights[fine][j];
      for (int k = 0; k < 8; ++k) {
        if (weights[k] == 0) continue;
        if (cursor >= record.size()) return false;
        int position = record[cursor++];
        if (position >= static_cast<int>(columns.size()) || (position >= 0 && columns[position] != stencil[k])) {
          return false;
        }
        if (position < 0) {
          position = static_cast<int>(columns.size());
          columns.push_back(stencil[k]);
        }
        productKey.push_back(base + position);
        g.productTerms.push_back({p, j, weights[k]});
      }
    }
    g.productStart[i + 1] = base + static_cast<int>(columns.size());
    const auto& stencil = prolongationVertices[fine][i];
    const auto& weights = prolongationWeights[fine][i];
    for (int k = 0; k < 8; ++k) {
      if (weights[k] == 0) continue;
      const LevelVertex& target = coarseRows[stencil[k]];
      for (size_t t = 0; t < columns.size(); ++t) {
        if (cursor >= record.size()) return false;
        int position = record[cursor++];
        if (position < 0 || position >= target.count || target.columns[position] != columns[t]) return false;
        coarseKey.push_back(g.coarseRowSlot[stencil[k]] + position);
        g.coarseTerms.push_back({base + static_cast<int>(t), weights[k]});
      }
    }
  }
  if (cursor != record.size()) return false;
  GroupByKey(productKey, g.productStart[fineVertices], g.productTerms, g.productTermStart);
  GroupByKey(coarseKey, g.coarseRowSlot[coarseVertices], g.coarseTerms, g.coarseTermStart);
  g.products.resize(g.productStart[fineVertices]);
  g.valid = true;
  return true;
}

bool CutSim::GalerkinGatherFitsRows(int coarseLevel) const {
  const GalerkinGather& g = galerkinGathers[coarseLevel];
  int fine = coarseLevel - 1;
  if (!g.valid || static_cast<int>(g.fineRowBlocks.size()) != vertexCount[fine] ||
      static_cast<int>(g.coarseRowBlocks.size()) != vertexCount[coarseLevel]) {
    return false;
  }
  for (int i = 0; i < vertexCount[fine]; ++i) {
    const LevelVertex& row = levelVertices[fine][i];
    if (row.blocks != g.fineRowBlocks[i] || row.count != g.fineRowCount[i]) return false;
  }
  for (int r = 0; r < vertexCount[coarseLevel]; ++r) {
    const LevelVertex& row = levelVertices[coarseLevel][r];
    if (row.blocks != g.coarseRowBlocks[r] || row.count != g.coarseRowSlot[r + 1] - g.coarseRowSlot[r]) return false;
  }
  return true;
}

void CutSim::GatherGalerkinProduct(int coarseLevel) {
  GalerkinGather& g = galerkinGathers[coarseLevel];
  int fine = coarseLevel - 1;
  const std::vector<LevelVertex>& fineRows = levelVertices[fine];
  int fineVertices = vertexCount[fine];
  // T of each fine row; a fixed row or column enters with weight 0, as in
  // BuildGalerkinRow
#pragma omp parallel for schedule(static)
  for (int i = 0; i < fineVertices; ++i) {
    double rowScale = HeldByFixation(fine, i) ? 0.0 : 1.0;
    const Mat3d* blocks = fineRows[i].blocks;
    for (int e = g.productStart[i]; e < g.productStart[i + 1]; ++e) {
      Mat3d sum;
      for (int t = g.productTermStart[e]; t < g.productTermStart[e + 1]; ++t) {
        const GalerkinGather::ProductTerm& term = g.productTerms[t];
        double scale = HeldByFixation(fine, term.column) ? 0.0 : rowScale;
        AddScaled(sum, blocks[term.block], scale * term.weight / 8.0);
      }
      g.products[e] = sum;
    }
  }
  std::vector<LevelVertex>& coarseRows = levelVertices[coarseLevel];
  int coarseVertices = vertexCount[coarseLevel];
#pragma omp parallel for schedule(static)
  for (int r = 0; r < coarseVertices; ++r) {
    LevelVertex& row = coarseRows[r];
    for (int p = 0; p < row.count; ++p) {
      int slot = g.coarseRowSlot[r] + p;
      Mat3d sum;
      for (int t = g.coarseTermStart[slot]; t < g.coarseTermStart[slot + 1]; ++t) {
        AddScaled(sum, g.products[g.coarseTerms[t].product], g.coarseTerms[t].weight / 8.0);
      }
      row.blocks[p] = sum;
    }
  }
}
