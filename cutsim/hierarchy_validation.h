#pragma once
// Walks the finite element hierarchy and reports the first broken link:
// leaves and level-0 cells, parents, face adjacency, corners and hanging
// corners, vertices, stencils and masses. Tests call it after every build.
#include <string>

class CutSim;

// Empty when the hierarchy is consistent, else a description of the first
// problem found. With allowUnusedVertices, vertices that no corner refers to
// (left over by incremental builds) are accepted.
std::string ValidateHierarchy(const CutSim& sim, bool allowUnusedVertices = false);
