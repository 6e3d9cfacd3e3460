#pragma once
// The conventions every drawing relies on: projections give depth in [0, 1]
// and front faces are clockwise on screen.
namespace GLTools {

// True when the context can take [0, 1] clip depth directly (glClipControl).
bool HasClipControl();
// Selects [0, 1] clip depth where the context allows it and clockwise front faces.
void ApplyDeviceConventions();

}  // namespace GLTools
