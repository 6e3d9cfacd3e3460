#include "render/device_conventions.h"

#include <epoxy/gl.h>

namespace GLTools {

bool HasClipControl() { return epoxy_gl_version() >= 45 || epoxy_has_gl_extension("GL_ARB_clip_control"); }

void ApplyDeviceConventions() {
  // without clip control the shaders remap depth themselves (ToDevice)
  if (HasClipControl()) glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
  glFrontFace(GL_CW);
}

}  // namespace GLTools
