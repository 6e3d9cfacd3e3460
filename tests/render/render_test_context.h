#pragma once
// GL test fixture: one headless context for the whole test suite and a small
// offscreen target (colour, optional object-ID image, depth) read back with
// window coordinates (origin top-left).
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "framework/headless_context.h"
#include "render/device_conventions.h"

class GLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Context()) << "headless context: " << createError_;
    GLTools::ApplyDeviceConventions();
  }

  // One context for the whole test program, never released: terminating EGL
  // unloads the driver, and the leak checker could then no longer tell the
  // driver's own allocations (suppressed by name) from ours.
  static HeadlessContext* Context() {
    static HeadlessContext* context = [] {
      // tests compile every shader afresh instead of reading or writing the
      // user's shader cache, whose writer thread trips the leak checker
      setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
      auto* created = new HeadlessContext;
      if (!created->Create(&createError_)) {
        delete created;
        return static_cast<HeadlessContext*>(nullptr);
      }
      return created;
    }();
    return context;
  }

  static inline std::string createError_;
};

class OffscreenTarget {
 public:
  bool Create(int width, int height, bool withObjectIds) {
    width_ = width;
    height_ = height;
    glGenFramebuffers(1, &framebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    color_ = AttachRenderbuffer(GL_RGBA8, GL_COLOR_ATTACHMENT0);
    if (withObjectIds) ids_ = AttachRenderbuffer(GL_R32UI, GL_COLOR_ATTACHMENT1);
    depth_ = AttachRenderbuffer(GL_DEPTH_COMPONENT32F, GL_DEPTH_ATTACHMENT);
    glViewport(0, 0, width, height);
    return glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
  }

  void Release() {
    for (GLuint* rb : {&color_, &ids_, &depth_})
      if (*rb) glDeleteRenderbuffers(1, rb);
    if (framebuffer_) glDeleteFramebuffers(1, &framebuffer_);
    color_ = ids_ = depth_ = framebuffer_ = 0;
  }

  // Colour and depth cleared; the ID image (if any) cleared to 0 and drawn into too.
  void Clear(float r, float g, float b) {
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glViewport(0, 0, width_, height_);
    const GLenum both[] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1};
    glDrawBuffers(ids_ ? 2 : 1, both);
    glDepthMask(GL_TRUE);
    const float color[4] = {r, g, b, 1};
    glClearBufferfv(GL_COLOR, 0, color);
    if (ids_) {
      const GLuint zero[4] = {0, 0, 0, 0};
      glClearBufferuiv(GL_COLOR, 1, zero);
    }
    glClearDepth(1.0);
    glClear(GL_DEPTH_BUFFER_BIT);
  }

  std::array<uint8_t, 4> Color(int x, int y) const {
    std::array<uint8_t, 4> rgba{};
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glReadPixels(x, height_ - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
  }

  uint32_t ObjectId(int x, int y) const {
    uint32_t id = 0;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glReadBuffer(GL_COLOR_ATTACHMENT1);
    glReadPixels(x, height_ - 1 - y, 1, 1, GL_RED_INTEGER, GL_UNSIGNED_INT, &id);
    return id;
  }

  int Width() const { return width_; }
  int Height() const { return height_; }

 private:
  GLuint AttachRenderbuffer(GLenum format, GLenum attachment) {
    GLuint rb = 0;
    glGenRenderbuffers(1, &rb);
    glBindRenderbuffer(GL_RENDERBUFFER, rb);
    glRenderbufferStorage(GL_RENDERBUFFER, format, width_, height_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, attachment, GL_RENDERBUFFER, rb);
    return rb;
  }

  int width_ = 0, height_ = 0;
  GLuint framebuffer_ = 0, color_ = 0, ids_ = 0, depth_ = 0;
};
