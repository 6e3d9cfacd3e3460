#pragma once
// Files written on the user's request: the finest level's equation system,
// the distance field dump and the deformed surface in the mesh file's frame.
#include <iosfwd>
#include <string>
#include <vector>

#include "cutsim/row_storage.h"

class Scene;

// Binary dump of a level's rows, right-hand side and positions; false when
// the file cannot be written.
bool WriteEquationSystem(const std::vector<LevelVertex>& vertices, const std::vector<VertexHistory>& history,
                         const std::wstring& fileName);
// The finest level of the scene's model; an "ERROR: " line on the log when
// there is no model or the file cannot be written.
bool WriteEquationSystem(const Scene& scene, const std::wstring& fileName, std::wostream* log = nullptr);

// Text dump of the voxel grid's distance field; an "ERROR: " line on failure.
bool WriteDistanceField(const Scene& scene, const std::wstring& fileName, std::wostream* log);

// The octree's current surface, carried back into the coordinate frame and
// scale of the scene's MESH file, as OBJ.
bool SaveDeformedMesh(Scene& scene, const std::wstring& fileName, std::wostream* log);
