#include "framework/headless_context.h"

#include <epoxy/egl.h>

HeadlessContext::~HeadlessContext() { Release(); }

bool HeadlessContext::Create(std::string* error) {
  auto fail = [&](const char* what) {
    if (error) *error = what;
    Release();
    return false;
  };
  if (!epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_MESA_platform_surfaceless"))
    return fail("EGL surfaceless platform not available");
  EGLDisplay display = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (display == EGL_NO_DISPLAY) return fail("no EGL display");
  display_ = display;
  EGLint major = 0, minor = 0;
  if (!eglInitialize(display, &major, &minor)) return fail("eglInitialize failed");
  if (!eglBindAPI(EGL_OPENGL_API)) return fail("OpenGL API not available through EGL");
  const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                               EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                               EGL_CONTEXT_OPENGL_FORWARD_COMPATIBLE, EGL_TRUE, EGL_NONE};
  EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
  if (context == EGL_NO_CONTEXT) return fail("cannot create an OpenGL 3.3 core context");
  context_ = context;
  if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) return fail("eglMakeCurrent failed");
  return true;
}

void HeadlessContext::Release() {
  if (display_) {
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context_) eglDestroyContext(display_, context_);
    eglTerminate(display_);
  }
  context_ = nullptr;
  display_ = nullptr;
}
