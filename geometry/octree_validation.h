#pragma once
// Invariant checker of the octree, for tests after builds, cuts and refinements.
#include <string>

class Octree;

// Walks the tree and describes the first broken invariant; "" when all hold:
// parent and child links agree; every neighbour entry names the cell at its
// offset, mutually, -1 only where a leaf one level coarser covers the place
// and -2 only where nothing is; neighbouring leaves differ by at most one
// level; cells present at the build are numbered depth first; every leaf
// above the finest level covers only uncrossed inside voxels; finest cells
// have a finite offset exactly on their severed sides.
std::string ValidateOctree(const Octree& octree);
