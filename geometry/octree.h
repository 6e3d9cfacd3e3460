#pragma once
// Adaptive octree over the voxelized body: cells per level in contiguous
// arrays, links per side that cuts sever, the voxel grid with its distance
// field, and the surface reconstructed by dual contouring.
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <vector>

#include "geometry/cut_configuration_table.h"
#include "geometry/octree_cell.h"
#include "geometry/vec.h"
#include "geometry/voxel_grid.h"

class SurfaceMesh;
struct VoxelModel;

// Wall-clock seconds of the phases of the last BuildFromMesh.
struct OctreeBuildTimings {
  double voxelize = 0;      // peeling passes and voxel model
  double refine = 0;        // top-down subdivision
  double copyCrossings = 0; // finest-cell offsets, normals and links
  double neighbours = 0;    // neighbour tables and restriction
  double renumber = 0;      // depth-first renumbering
  double corners = 0;       // rest positions of the corners
};

class Octree {
 public:
  Octree();
  ~Octree();

  // Voxelizes the mesh, refines every cell that touches the surface down to
  // voxels, restricts and renumbers the tree depth first.
  bool BuildFromMesh(const SurfaceMesh& mesh, const Vec3d& voxelSize, int maxInteriorCellWidth,
                     std::wostream* log);
  // Appends the children of the occupied octants to the next level.
  void Subdivide(int level, int cell, const bool occupied[8]);
  // Same-level neighbour in a slot, -1 (coarser leaf there) or -2 (nothing);
  // splits leaves two or more levels coarser on the way (restriction).
  int FindNeighbour(int level, int cell, int slot);
  // Leaf covering a voxel (coordinates in voxels) or -1 outside the body;
  // *leafLevel receives the leaf's level.
  int FindLeaf(const Vec3i& voxel, int* leafLevel) const;

  // Cut insertion: rasterizes the triangle (octree frame, mesh units) along
  // the three axes and stores a crossing on both voxels of every covered line.
  void InsertCutTriangle(const Vec3f& p0, const Vec3f& p1, const Vec3f& p2, int32_t tag);
  // Stores one crossing in the finest cell of a voxel, refining leaves on the
  // way; returns the cell index, or -1 outside the grid or in empty space.
  int AddCutCrossing(const Vec3i& voxel, int side, float offset, const Vec3f& normal, int32_t tag);
  // Splits a leaf into eight children, refining coarser neighbours first.
  void RefineLeaf(int level, int cell);

  // Dual contouring of the invalidated blocks; rebuilds the triangles and the
  // vertex-to-triangle adjacency, sizes the position arrays and places the
  // vertices it created (the others keep theirs until the next update).
  void ExtractSurface();
  // parallel = false keeps the pass on the calling thread, for callers that
  // must not wait for a team on a busy machine.
  void UpdateSurfacePositions(bool parallel = true);
  void UpdatePreviousSurfacePositions();
  void ExportSurface(SurfaceMesh& target) const;

  int FinestLevel() const { return levelCount - 1; }
  // Edge length in voxels of a cell at this level.
  int CellWidth(int level) const { return 1 << (levelCount - 1 - level); }

  const SurfaceMesh* mesh = nullptr;     // not owned
  std::unique_ptr<VoxelGrid> voxelGrid;
  Vec3i resolution;                      // voxel counts n_x, n_y, n_z
  Vec3d voxelSize;                       // voxel edge lengths (mesh units)
  int32_t levelCount = 0;                // L; level L - 1 is the voxel level
  std::vector<std::vector<OctreeCell>> cells;  // [level][index]
  // per level: cells present right after the build, numbered depth first;
  // cells appended by later refinement follow them
  std::vector<int32_t> builtCellCounts;

  CutConfigurationTable cutTable;

  // Surface arrays (dual contouring).
  std::vector<Vec3f> cutTriangleVertices;       // three per inserted cut triangle
  std::vector<int32_t> surfaceTriangles;        // three vertex indices per triangle
  std::vector<int32_t> surfaceTriangleTag;      // per triangle, 0 = the mesh's own surface
  std::vector<int32_t> vertexTriangleCount;     // per vertex
  std::vector<int32_t> vertexTriangleStart;     // vertex count + 1 prefix sums
  std::vector<int32_t> vertexTriangles;         // triangle numbers per vertex
  std::vector<int32_t> surfaceVertexLevel;      // per vertex: hosting cell's level
  std::vector<int32_t> surfaceVertexCell;       // per vertex: hosting cell's index
  std::vector<Vec3f> surfaceVertexLocal;        // per vertex: position in [0,1]^3 of the host
  std::vector<Vec3f> surfacePositions;          // per vertex, from current corners
  std::vector<Vec3f> surfacePreviousPositions;  // per vertex, from previous corners
  int32_t surfaceVertexCount = 0;

  bool embedded = false;      // set by scene set-up after the build
  int32_t embeddedLevels = 0; // NUM_EMBEDDED_LEVELS
  Vec3d meshBoxCenter;
  Vec3d meshBoxHalfExtent;
  OctreeBuildTimings buildTimings;

 private:
  void Clear();
  // The build after the resolution check; false leaves a partial tree to clear.
  bool Build(const SurfaceMesh& mesh, int maxInteriorCellWidth, std::wostream* log);
  void CreateRoot();
  // False, with an ERROR line, when a level's cells would not fit in memory.
  bool RefineTopDown(const VoxelModel& model, int maxInteriorCellWidth, std::wostream* log);
  void CopyVoxelCrossings(const VoxelModel& model);
  void ComputeNeighbours();
  void RenumberDepthFirst();
  void ComputeRestCorners();
  // Octant occupancy for splitting an interior leaf: every octant that
  // reaches into the voxel grid.
  void OctantsInsideGrid(int level, int cell, bool occupied[8]) const;

  // Cut insertion helpers.
  void InsertCrossingsAlongAxis(const Vec3d vertices[3], int axis, Vec3d& normal, int32_t tag);
  void InterpolateChildCorners(int level, int cell);
  void ConnectChildNeighbours(int level, int cell);
  void InvalidateSurfaceAroundSide(int finestCell, int side);

  // Dual contouring helpers.
  void ContourBlock(int cell, int corner);
  void BuildSurfaceTriangles();
  void BuildVertexTriangleAdjacency();
  // Positions of the vertices from `first` on; the array is sized to all.
  void UpdateNewSurfacePositions(int32_t first);
};
