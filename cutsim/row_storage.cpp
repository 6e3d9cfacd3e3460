// Storage of the level matrices: rows grow in per-vertex builders, are pooled
// into two contiguous arrays after a structure change, and later passes
// replay cached block positions instead of searching the rows.
#include "cutsim/row_storage.h"

#include <cassert>

#include "cutsim/cut_sim.h"

int CutSim::AddScaledBlock(int level, int rowVertex, int column, const Mat3d& block, double scale) {
  LevelVertex& row = levelVertices[level][rowVertex];
  if (row.Wired()) {
    for (int p = 0; p < row.count; ++p) {
      if (row.columns[p] == column) {
        AddScaled(row.blocks[p], block, scale);
        return p;
      }
    }
  }
  VertexHistory& history = vertexHistory[level][rowVertex];
  for (size_t p = 0; p < history.builderColumns.size(); ++p) {
    if (history.builderColumns[p] == column) {
      AddScaled(history.builderBlocks[p], block, scale);
      return -1;
    }
  }
  bool wiredToBuilder = row.Wired() && row.columns == history.builderColumns.data();
  history.builderColumns.push_back(column);
  history.builderBlocks.push_back(Mat3d());
  AddScaled(history.builderBlocks.back(), block, scale);
  // appending may move the builder: a row wired to it follows, so that it
  // never points at released memory
  if (wiredToBuilder) {
    row.columns = nullptr;
    WireRow(level, rowVertex);
  }
  return -1;
}

int CutSim::AddBlock(int level, int rowVertex, int column, const Mat3d& block) {
  return AddScaledBlock(level, rowVertex, column, block, 1.0);
}

void CutSim::WireRow(int level, int vertex) {
  LevelVertex& row = levelVertices[level][vertex];
  if (row.Wired()) return;
  VertexHistory& history = vertexHistory[level][vertex];
  row.count = static_cast<int32_t>(history.builderColumns.size());
  row.columns = history.builderColumns.data();
  row.blocks = history.builderBlocks.data();
}

void CutSim::CompactRows() {
  int u = numEmbeddedLevels;
  size_t total = 0;
  for (int level = u; level < numLevels; ++level) {
    for (const VertexHistory& history : vertexHistory[level]) total += history.builderColumns.size();
  }
  std::vector<int32_t>().swap(poolColumns);
  std::vector<Mat3d>().swap(poolBlocks);
  poolColumns.resize(total);
  poolBlocks.resize(total);
  size_t next = 0;
  for (int level = u; level < numLevels; ++level) {
    for (int v = 0; v < vertexCount[level]; ++v) {
      VertexHistory& history = vertexHistory[level][v];
      LevelVertex& row = levelVertices[level][v];
      size_t count = history.builderColumns.size();
      std::copy(history.builderColumns.begin(), history.builderColumns.end(), poolColumns.begin() + next);
      std::copy(history.builderBlocks.begin(), history.builderBlocks.end(), poolBlocks.begin() + next);
      row.count = static_cast<int32_t>(count);
      row.columns = total > 0 ? poolColumns.data() + next : nullptr;
      row.blocks = total > 0 ? poolBlocks.data() + next : nullptr;
      next += count;
      std::vector<int32_t>().swap(history.builderColumns);
      std::vector<Mat3d>().swap(history.builderBlocks);
    }
  }
}

void CutSim::BeginScatter(int level, bool structureChangedNow, bool record) {
  std::vector<int32_t>& cache = scatterPositions[level];
  scatterLevel_ = level;
  scatterFast_ = !cache.empty() && !structureChangedNow;
  scatterRecord_ = !scatterFast_ && record && !structureChangedNow;
  scatterAbandoned_ = false;
  if (scatterRecord_) cache.clear();
  scatterCursor_ = 0;
}

void CutSim::AbandonReplay() {
  scatterFast_ = false;
  scatterRecord_ = false;
  scatterAbandoned_ = true;
}

void CutSim::EndScatter() {
  if (scatterFast_ && scatterCursor_ != scatterPositions[scatterLevel_].size()) AbandonReplay();
  if (scatterAbandoned_) scatterPositions[scatterLevel_].clear();
  scatterFast_ = false;
  scatterRecord_ = false;
  scatterAbandoned_ = false;
}

void CutSim::RecordScatterPosition(int position) {
  if (scatterRecord_) scatterPositions[scatterLevel_].push_back(position);
}

// The slow path of ScatterBlock: a search through the row (recorded when a
// recording pass is on), or a replayed position of -1 (a block that was
// missing from the row when the positions were recorded).
void CutSim::ScatterBlockSlow(int level, int rowVertex, int column, const Mat3d& block, double scale, bool replayed) {
  int p = AddScaledBlock(level, rowVertex, column, block, scale);
  if (!replayed) RecordScatterPosition(p);
}
