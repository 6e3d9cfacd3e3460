#pragma once
// The simulated body: material and time parameters, the hexahedral finite
// element hierarchy built on the octree's leaves, the multigrid solver state
// and the collision data. Nearly everything is a structure of arrays, one
// vector per attribute and hierarchy level, indexed by cell or vertex number
// (-1 = none), so that cuts update the model in place.
//
// Hierarchy levels count from the finest (0, one cell per octree leaf) up to
// numLevels - 1; level numEmbeddedLevels is the simulation level.
#include <array>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "cutsim/coarse_solver.h"
#include "cutsim/element_hash.h"
#include "cutsim/element_matrix.h"
#include "cutsim/finite_guard.h"
#include "cutsim/row_storage.h"
#include "geometry/vec.h"

class Octree;
struct OctreeCell;

// Vertices representing one cell corner with their interpolation
// coefficients: a regular corner is its own vertex with coefficient 1, a
// hanging corner the corners of the cell it hangs on with trilinear weights.
struct CornerStencil {
  static constexpr int kCapacity = 64;
  int count = 0;
  bool overflow = false;  // a vertex did not fit: the representation is incomplete
  int32_t vertex[kCapacity];
  double coefficient[kCapacity];
};

// Position of block (a, b), a <= b, among the 36 upper-triangle blocks of an
// element matrix, row by row.
inline int UpperBlockIndex(int a, int b) { return 8 * a - a * (a - 1) / 2 + (b - a); }

// Integer weight (eighths) of a host corner at a point on the host's
// boundary: product over the axes of 2 - |delta| / 2^(hostDepth - 1).
int HangingWeight(const Vec3i& hostCorner, const Vec3i& point, int hostDepth);
// Rotation of F by 5 steps of R <- (R + R^-T) / 2; the identity when the
// result is not finite, inverted, or |det R - 1| >= 0.1.
Mat3d PolarRotation(const Mat3d& F);
// Displacement gradient of an element (row: displacement component, column:
// derivative direction) from corner weights q, corner displacements u and the
// element's edge lengths.
Mat3d CornerDisplacementGradient(const double q[8], const Vec3d u[8], const double length[3]);

class CutSim {
 public:
  static constexpr int kCoarseIterationLimit = 2500;
  // The coarse solve only has to be accurate relative to the correction the
  // smoothers leave: solving it to round-off costs time and no convergence.
  static constexpr double kCoarseRelativeTolerance = 1e-4;
  static constexpr int kPreSmoothingSweeps = 2;
  static constexpr int kPostSmoothingSweeps = 1;
  // Levels with fewer vertices compute their residual and correction on one
  // thread: a parallel loop costs more than it saves there.
  static constexpr int kParallelLevelMinimum = 512;

  explicit CutSim(Octree& octree, int solverKind = 0, int logLevel = 0);
  CutSim(const CutSim&) = delete;
  CutSim& operator=(const CutSim&) = delete;
  ~CutSim();

  // --- parameters, constraints, corner helpers (cut_sim.cpp)
  // False (nothing changed) for a level or vertex out of range.
  bool SetVertexFixed(int level, int vertex, bool on);
  // Rest position of a vertex in mesh units.
  Vec3d RestPosition(int level, int vertex) const;
  Vec3i CornerPosition(int level, int cell, int corner) const;
  void CornerRepresentation(int level, int cell, int corner, CornerStencil& out) const {
    out.overflow = false;
    if (!((hangingCorners[level][cell] >> corner) & 1)) {
      out.count = 1;
      out.vertex[0] = cellVertices[level][cell][corner];
      out.coefficient[0] = 1.0;
      return;
    }
    out.count = 0;
    AccumulateCorner(level, cell, corner, 1.0, 8, out);
  }
  void AccumulateCorner(int level, int cell, int corner, double coefficient, int depthGuard,
                        CornerStencil& out) const;
  // False with an "ERROR: " line when the material gives no finite stiffness.
  bool ValidateMaterial(std::wostream* log) const;
  // False with an "ERROR: " line unless 0 <= numEmbeddedLevels < numLevels.
  bool ValidateLevels(std::wostream* log) const;
  void ResizeLevels();
  bool Built() const { return built; }

  // --- element matrices and material (element_matrix.cpp)
  // Returns false (zero matrices, "ERROR: " line) for an invalid material.
  bool SetMaterial(const Vec3d& voxelSizeIgnored, double E, double nu, bool inertiaOn, double timeStep,
                   double dampingFactor, double density, bool rotationsOn, std::wostream* log = nullptr);
  void ComputeCompositeStiffness();
  void ComputeElementMatrices();
  void ComputeChildOctantMasks();
  void GroupChildrenByParent(int childLevel);
  void AccumulateChildMatrices(int level);
  // Levels 0 and 1 below the simulation level are not stored: every level-0
  // matrix is voxelStiffness and a level-1 matrix follows from its depth and
  // child mask (the table entry or voxelStiffness * 2^depth).
  bool StoresElementMatrices(int level) const;
  void Level1Matrix(int cell, ElementMatrix& out) const;
  const ElementMatrix& ElementMatrixOf(int level, int cell, ElementMatrix& scratch) const;
  void ComputeRestForces();
  void ComputeLumpedMasses();

  // --- finite element hierarchy (hierarchy.cpp)
  // Returns false (nothing built, "ERROR: " line) for invalid level counts.
  bool BuildHierarchy(bool incremental, std::wostream* log = nullptr);
  int AllocateCell(int level);
  void AddFaceNeighbour(int level, int cell, int face, int neighbour);
  // Flood fill over face neighbours around a position; fills floodResult.
  void CollectCornerGroup(int level, int startCell, const Vec3i& position);
  int RenderIndexOfVertex(int vertex);
  void ComputeElementCorners();
  void ComputeEmbeddedBounds();
  void ComputeOccupancy();
  void ResetLevelsForBuild();
  void BuildLevel0Cells();
  void BuildLevel0Adjacency();
  void GrowFaceSlots(int level);
  void ResetCellFaces(int level, int cell);
  void PrepareFloodFill(int level);
  void RecordGroupEntry(int level, int cell, const Vec3i& position);
  bool ClosedBoxContains(int level, int cell, const Vec3i& position) const;
  void ClearFloodVisited();
  int FindOctreeCell(int depth, const Vec3i& coordinates) const;
  void UnassignLevel1CornersBelow(int depth, int index);
  void UnassignLevel1Neighbourhood();
  void StartVertexNumbering(int level);
  int TakeVertexIndex(int level);
  void SetVertexSlot(int level, int vertex, const Vec3i& position, bool fixed, const Vec3d& force);
  void AssignCornerGroup(int level, const Vec3i& position);
  void BuildVertices(int level);
  void MarkOctreeLeavesBuilt();
  void BuildSurfaceVertices();
  void SizeSolverRecords();
  void BuildEmbeddingMap();
  int ElementOfLevel0Cell(int cell) const;
  void SetRestPositions();
  void RestorePositionsFromOctree();
  void SizeElementMatrices();
  void ClearContacts();

  // --- multigrid levels (multigrid_levels.cpp)
  void BuildCoarseCells(int level);
  void BuildCoarseAdjacency(int level);
  void BuildProlongationStencils();
  void ReleaseChangedNeighbourhood(int fineLevel);
  void SizeCoarseLevel(int level);
  int TakeCoarseCell(int level);
  void InitCoarseCell(int level, int cell, const Vec3i& position, int depth);
  // False when the stencil had to be rounded (no exact fit in eight entries).
  bool ComputeStencil(int level, int vertex, std::array<int32_t, 8>& vertices, std::array<int32_t, 8>& weights) const;
  static void RoundStencil(const CornerStencil& composed, std::array<int32_t, 8>& vertices,
                           std::array<int32_t, 8>& weights);

  // --- constraint propagation and corner transfer (constraint_transfer.cpp)
  void PropagateConstraints(int topLevel);
  void CopyVertexPositionsIntoOctree();
  void StoreCornerPositionsInOctree();
  // Also writes x and x^- of the fine vertices to packed when it is given.
  void InterpolatePositionsDown(int coarseLevel, std::array<Vec3d, 2>* packed = nullptr);
  void CopyLeafCorners(OctreeCell& leaf) const;
  void CopyLeafConstraints(OctreeCell& leaf) const;
  // True while every built leaf holds the level-0 fixations and forces.
  bool LeafConstraintsCurrent() const;
  int SimulationElementOf(int level0Cell) const;
  // The octree leaf of a level-0 cell of the built model, or null: every
  // built leaf is the cell of one level-0 cell, and leaves a cut created
  // belong to the model only after the next build.
  OctreeCell* BuiltLeafOf(int level0Cell) const;
  // Corner representations of every level-0 cell, listed once per build:
  // the corner transfer of every step and the masses read them instead of
  // following the hanging corners again.
  void BuildLevel0CornerStencils();
  // Corners of every simulation element (x and x^-), for the leaves it holds.
  void ComputeElementCornerStates(std::vector<std::array<Vec3d, 16>>& states) const;

  // --- row storage (row_storage.cpp)
  int AddBlock(int level, int row, int column, const Mat3d& block);
  int AddScaledBlock(int level, int row, int column, const Mat3d& block, double scale);
  void WireRow(int level, int vertex);
  void CompactRows();
  // Fixed-order scatter through the level's position cache: the slow path
  // searches (and records when asked and the structure is unchanged), the
  // fast path replays the recorded positions in the same order.
  void BeginScatter(int level, bool structureChangedNow, bool record);
  void ScatterBlock(int level, int row, int column, const Mat3d& block, double scale) {
    if (scatterFast_) {
      int p = NextScatterPosition();
      if (p >= 0) {
        LevelVertex& target = levelVertices[level][row];
        // a replay that left the recorded sequence must not write elsewhere
        if (p < target.count && target.columns[p] == column) {
          AddScaled(target.blocks[p], block, scale);
          return;
        }
        AbandonReplay();
      }
    }
    ScatterBlockSlow(level, row, column, block, scale, scatterFast_);
  }
  void ScatterBlockSlow(int level, int row, int column, const Mat3d& block, double scale, bool replayed);
  // The next recorded position; past the end of the record the replay is
  // abandoned and -1 (search) is returned.
  int NextScatterPosition() {
    const std::vector<int32_t>& cache = scatterPositions[scatterLevel_];
    if (scatterCursor_ < cache.size()) return cache[scatterCursor_++];
    AbandonReplay();
    return -1;
  }
  // The pass goes on searching; the record is dropped at EndScatter so that
  // the next pass records afresh.
  void AbandonReplay();
  // Ends a pass; a replay that did not use the whole record is abandoned too.
  void EndScatter();
  bool ScatterReplaying() const { return scatterFast_; }
  void RecordScatterPosition(int position);

  // --- multigrid solver (multigrid.cpp)
  bool HeldByFixation(int level, int vertex) const;
  void GaussSeidelSweep(int level, double omega);
  void ComputeResidual(int level);
  void Restrict(int level);
  void ProlongateAndCorrect(int level);
  void VCycle(int preSweeps, int postSweeps);
  void Solve(int cycles);
  void SolveExtended();
  void UpdateMultigridOperators(bool structureChangedNow, int simulationLevel);
  void SolveCoarsestLevel();
  void ZeroLevelSystem(int level);
  void BuildGalerkinRow(int fineLevel, int vertex);
  void BuildCoarsestMatrix();

  // --- time step (time_step.cpp)
  void PrepareTimeStep();
  void ComputeRotations(int level);
  void Assemble(int level, bool structureChangedNow, bool record);
  void ApplyFixations(int level);
  // The fixations of one wired row: E * I for a fixed vertex, fixed columns
  // of a free row moved to its right-hand side.
  void ApplyRowFixation(int level, int i);
  void AssembleRightHandSide(int level);
  Mat3d ElementRotation(int level, int element) const;
  void AssembleElement(int level, int element);
  // The 36 upper-triangle blocks of the element's rotated, scaled matrix.
  void RotateElementBlocks(int level, int element, Mat3d* upper) const;

  // --- element assembly as a parallel gather (assembly_gather.cpp)
  // Once the scatter positions of the simulation level are recorded, every
  // block of a row knows which element blocks it sums and in which order; the
  // rows then gather them in parallel, adding in the order of the sequential
  // scatter, so the sums are bit-identical to it for any thread count.
  bool BuildAssemblyGather(int level);
  bool AssemblyGatherFitsRows(int level) const;
  void GatherAssembly(int level);
  // The Galerkin product of a coarse level the same way: the products T of
  // the fine rows, then the coarse row blocks, each summed in the order of
  // the sequential pass, fine rows and coarse rows in parallel.
  bool BuildGalerkinGather(int coarseLevel);
  bool GalerkinGatherFitsRows(int coarseLevel) const;
  void GatherGalerkinProduct(int coarseLevel);

  // --- collision detection (collision.cpp)
  void FillElementHash();
  void DetectContacts();
  void DistributeContacts();
  int32_t HashKey(int i, int j, int k) const;
  // False for a position whose cell lies beyond +-2^30 (a blown-up body).
  bool HashCell(const Vec3d& p, Vec3i& cell) const;
  // Newton's method, exactly two steps, on the trilinear map over [-1, 1]^3;
  // false for a collapsed element (singular Jacobian).
  bool InverseTrilinear(const Vec3d corners[8], const Vec3d& x, Vec3d& local) const;
  // Inside flag, penetration d (<= 0 inside) and unit contact normal.
  bool LocateInElement(int element, const Vec3d& x, double& d, Vec3d& normal) const;
  int ElementOfVoxel(const Vec3i& voxel, int* leafLevel, int* leafIndex) const;
  bool SurfacePointInUse(int point) const;
  int ElementOfSurfacePoint(int point) const;
  bool AreFaceNeighbours(int element, int other) const;
  // Vertices of the level-u element's corners, hanging corners by the
  // vertices they follow; returns the count (at most kCapacity).
  int ElementVertexSet(int element, int32_t* vertices, int capacity) const;
  // True when a corner of the element is (or follows) one of the vertices.
  bool TouchesVertices(int element, const int32_t* vertices, int count) const;
  // One in 2^u surface points, spread over the body by the host cell's
  // position, is tested against the elements.
  bool SampledForSelfContact(int point) const;
  void FindSelfContact(int point);

  // ---------------------------------------------------------------- state
  Octree& octree;                               // not owned
  const std::wstring* sceneDescription = nullptr;  // not owned; set by the control panel
  int32_t solverKind = 0;                       // 0 = multigrid
  int32_t logLevel = 0;

  // Material and time parameters (fixed after SetMaterial).
  Vec3d voxelSize;             // hx, hy, hz (mesh units), from the octree
  double E = 0;                // Young's modulus (Pa); also the diagonal of fixed rows
  double nu = 0;               // Poisson ratio
  double timeStep = 0;         // s
  double dampingFactor = 0;    // 1/s, mass-proportional damping
  double density = 0;          // kg/m^3
  double voxelMass = 0;        // hx * hy * hz * density
  bool inertiaEnabled = true;  // inertia terms of assembly and right-hand side
  bool rotationsEnabled = true;  // corotation of the element matrices
  Vec3d gravity;               // acceleration, zero until scene set-up stores it
  int32_t numLevels = 1;
  int32_t numEmbeddedLevels = 0;  // u, the simulation level
  int32_t occupancyWordCount = 1; // 64-bit words per simulation element

  // Element matrices.
  ElementMatrix voxelStiffness;
  std::vector<ElementMatrix> compositeStiffness;        // [256 child-octant masks]
  // [level 0..u][cell]; level u divided by 2^depth (normalised), levels
  // 1..u-1 true matrices; empty where StoresElementMatrices is false
  std::vector<std::vector<ElementMatrix>> elementMatrices;
  std::vector<int32_t> childOctantMask;                 // [level-1 cell], low 8 bits
  std::vector<std::array<Vec3d, 8>> restForces;         // [element]: K_e * X_e per corner

  // Per-level cell arrays.
  std::vector<int32_t> cellCount;                            // [level]
  std::vector<std::vector<int32_t>> cellDepth;               // [level][cell] log2 edge (voxels)
  std::vector<std::vector<Vec3i>> cellPosition;              // [level][cell] minimum corner (voxels)
  std::vector<std::vector<int32_t>> cellParent;              // [level][cell] cell of level + 1, -1 none
  std::vector<std::vector<int32_t>> faceNeighbourCount;      // [level][6 * cell + face]
  std::vector<std::vector<int32_t>> faceNeighbours;          // [level][(6 * cell + face) * faceSlotCount + k], -1 unused
  // [level] slots per face: 4 at level 0 (the most a face can have there),
  // grown on demand above, so coarse levels do not reserve 4^(level+1)
  std::vector<int32_t> faceSlotCount;
  std::vector<std::vector<std::array<int32_t, 8>>> cellVertices;  // [level][cell][corner] vertex, or host cell if hanging
  std::vector<std::vector<uint8_t>> hangingCorners;          // [level][cell] bit per corner
  std::vector<std::vector<double>> cellStiffnessScale;       // [level][cell]
  std::vector<std::vector<Mat3d>> cellRotation;              // [level][cell] corotation, row-major
  std::vector<std::vector<uint8_t>> cellRebuilt;             // [level][cell] created/regrouped by this build

  // Per-level vertex arrays.
  std::vector<int32_t> vertexCount;                          // [level]
  std::vector<std::vector<Vec3i>> vertexPosition;            // [level][vertex] (voxels)
  std::vector<std::vector<int32_t>> vertexCoarseCell;        // [level][vertex] cell of level + 1, -1 none
  std::vector<std::vector<uint8_t>> vertexFixed;             // [level][vertex] Dirichlet flag
  std::vector<std::vector<Vec3d>> vertexForce;               // [level][vertex] applied force
  std::vector<std::vector<std::array<int32_t, 8>>> prolongationVertices;  // [level][vertex] coarse vertices
  std::vector<std::vector<std::array<int32_t, 8>>> prolongationWeights;   // [level][vertex] eighths, sum 8
  std::vector<std::vector<double>> vertexMass;               // [level 0..u][vertex] lumped mass (kg)
  std::vector<std::vector<LevelVertex>> levelVertices;       // [level][vertex] row and state
  std::vector<std::vector<VertexHistory>> vertexHistory;     // [level][vertex] builder and x^-

  // Level-0 extras.
  std::vector<std::array<int32_t, 2>> elementOctreeCell;     // [level-0 cell] octree depth, index
  std::map<std::array<int32_t, 3>, int32_t> vertexLookup;    // position -> level-0 vertex (first build)
  std::vector<int32_t> renderVertices;                       // level-0 surface vertices, first-use order
  std::vector<int32_t> renderVertexIndex;                    // [level-0 vertex] index in renderVertices, -1
  // [8 * cell + corner], one past the end at 8 * cellCount: the entries of
  // the corner's representation in level0StencilVertex/Coefficient
  std::vector<int32_t> level0StencilStart;
  std::vector<int32_t> level0StencilVertex;
  std::vector<double> level0StencilCoefficient;
  std::vector<std::array<Vec3d, 2>> level0States;  // [level-0 vertex] x and x^-, packed for the corner copy
  // the level-0 fixations and forces as the leaves last received them;
  // a build clears leafConstraintsCopied because its leaves are new
  bool leafConstraintsCopied = false;
  std::vector<uint8_t> copiedVertexFixed;
  std::vector<Vec3d> copiedVertexForce;

  // Simulation-level extras.
  std::vector<std::vector<int32_t>> embeddingMap;            // [level 0..u-1][cell] -> element
  std::vector<uint64_t> occupancyWords;                      // [element * occupancyWordCount + word]
  std::vector<std::array<Vec3d, 2>> embeddedBounds;          // [element] min, max in [0,1]^3
  std::vector<std::array<Vec3f, 8>> elementCorners;          // [element] current corner positions
  std::vector<Vec3d> vertexDisplacement;                     // [simulation vertex] x - X, per step

  // Flood-fill work areas.
  struct GroupEntry {
    int32_t cell;
    int8_t offset[3];  // 0 or 1: corner offset; -1: strictly between the faces
  };
  std::vector<uint8_t> floodVisited;     // [cell of the current level]
  std::vector<int32_t> floodStack;       // cells
  std::vector<int32_t> floodStackState;  // per stack entry: axis * 1024 + slot
  std::vector<GroupEntry> floodResult;
  std::vector<uint8_t> cellVisited;      // [cell], grouping marks
  bool firstBuild = true;
  bool built = false;                    // a BuildHierarchy has succeeded
  bool structureChanged = true;          // set by every build, cleared by PrepareTimeStep
  int inexactStencilCount = 0;           // stencils rounded for lack of room (unbalanced trees)

  // Build scratch.
  std::vector<int32_t> scratchIndices;
  std::vector<uint8_t> scratchFlags;
  std::vector<std::array<int32_t, 2>> scratchOctreeStack;
  std::vector<std::array<int32_t, 2>> scratchRepresentative;
  std::vector<std::array<Vec3d, 16>> scratchElementCorners;  // [element] x of 8 corners, then x^-
  std::vector<int32_t> vertexFreeList;   // vertex indices free for reuse, ascending
  size_t nextFreeVertex = 0;
  std::vector<int32_t> coarseFreeList;   // coarse cells free for reuse, ascending
  size_t nextFreeCoarseCell = 0;
  std::vector<int32_t> childStart;       // [coarse cell + 1] children grouped by parent
  std::vector<int32_t> childList;
  std::vector<int32_t> childFill;

  // Solver state.
  std::vector<int32_t> poolColumns;             // rows of levels u..L-1 after CompactRows
  std::vector<Mat3d> poolBlocks;
  std::vector<std::vector<int32_t>> scatterPositions;  // [level] cached block positions
  CoarseSolver coarseSolver{kCoarseIterationLimit, kCoarseRelativeTolerance};
  std::vector<double> coarseSolution;           // 3 * N(L-1), warm start
  std::vector<double> coarseRightHandSide;      // 3 * N(L-1)
  std::vector<int32_t> galerkinColumns;         // scratch list T of the Galerkin product
  std::vector<Mat3d> galerkinBlocks;
  int lastCoarseIterations = 0;
  CornerStencil assemblyStencils[8];            // corners of the element being assembled
  Mat3d assemblyBlocks[64];                     // its rotated, scaled blocks
  std::vector<Mat3d> rotatedElementBlocks;      // 36 per element, filled in parallel
  std::vector<Vec3d> rotatedRestForces;         // [8 element + corner], filled in parallel
  struct GatherTerm {
    int32_t source;      // upper element block 36 e + k, or 36 E + vertex for its inertia
    int32_t transposed;  // the lower block: the transpose of the upper one
    double weight;
  };
  struct ForceTerm {
    int32_t corner;      // 8 e + a
    double weight;
  };
  int gatherLevel = -1;                         // level the gather lists belong to, -1 none
  std::vector<int32_t> gatherRowSlot;           // [vertex + 1] first block slot of each row
  std::vector<const Mat3d*> gatherRowBlocks;    // row storage the lists were made for
  std::vector<int32_t> gatherSlotStart;         // [slot + 1] first term of each block
  std::vector<GatherTerm> gatherTerms;
  std::vector<int32_t> gatherForceStart;        // [vertex + 1] first rest-force term of each b
  std::vector<ForceTerm> gatherForceTerms;
  struct GalerkinGather {
    struct ProductTerm {
      int32_t block;   // position in the fine row
      int32_t column;  // its fine column j, whose fixation may zero the term
      int32_t weight;  // prolongation weight of j, in eighths
    };
    struct CoarseTerm {
      int32_t product;  // entry of T
      int32_t weight;   // prolongation weight of the fine row, in eighths
    };
    bool valid = false;
    std::vector<const Mat3d*> fineRowBlocks;  // row storage the lists were made for
    std::vector<int32_t> fineRowCount;
    std::vector<const Mat3d*> coarseRowBlocks;
    std::vector<int32_t> coarseRowSlot;       // [coarse vertex + 1] first block slot of each row
    std::vector<int32_t> productStart;        // [fine vertex + 1] first T entry of each fine row
    std::vector<int32_t> productTermStart;    // [T entry + 1]
    std::vector<ProductTerm> productTerms;
    std::vector<Mat3d> products;              // T of every fine row, per pass
    std::vector<int32_t> coarseTermStart;     // [coarse slot + 1]
    std::vector<CoarseTerm> coarseTerms;
  };
  std::vector<GalerkinGather> galerkinGathers;  // [coarse level]

  // Collision detection.
  bool collisionEnabled = false;
  double penaltyStiffness = 0;                  // set by SetMaterial
  Vec3d collisionCellSize;                      // hash cell (mesh units)
  ElementHash elementHash;                      // key -> elements, in insertion order
  std::vector<Mat3d> contactStiffness;          // [surface point]
  std::vector<Vec3d> contactForce;              // [surface point]
  std::vector<uint8_t> contactFlag;             // [surface point]
  std::vector<int32_t> pointHashKey;            // [surface point], -1 not sampled

  // Undoes time steps that blow up (finite_guard.cpp).
  FiniteGuard finiteGuard;

 private:
  // Scatter state of the current pass.
  int scatterLevel_ = -1;
  bool scatterFast_ = false;
  bool scatterRecord_ = false;
  bool scatterAbandoned_ = false;
  size_t scatterCursor_ = 0;

};
