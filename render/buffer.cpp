#include "render/buffer.h"

#include <algorithm>

namespace GLTools {

namespace {

void ClearErrors() {
  while (glGetError() != GL_NO_ERROR) {
  }
}

}  // namespace

bool CreateBuffer(GLenum target, size_t bytes, BufferUsage usage, const void* initialData, GLuint* buffer) {
  *buffer = 0;
  ClearErrors();
  GLuint id = 0;
  glGenBuffers(1, &id);
  glBindBuffer(target, id);
  glBufferData(target, static_cast<GLsizeiptr>(bytes), initialData,
               usage == BufferUsage::Static ? GL_STATIC_DRAW : GL_DYNAMIC_DRAW);
  glBindBuffer(target, 0);
  if (id == 0 || glGetError() != GL_NO_ERROR) {
    if (id != 0) glDeleteBuffers(1, &id);
    return false;
  }
  *buffer = id;
  return true;
}

bool CreateBufferView(GLuint buffer, GLenum format, size_t elementBytes, size_t firstElement, size_t elementCount,
                      GLuint* texture) {
  *texture = 0;
  bool ranged = epoxy_gl_version() >= 43 || epoxy_has_gl_extension("GL_ARB_texture_buffer_range");
  // a view that does not start at the first element needs ranged views
  if (!ranged && firstElement != 0) return false;
  ClearErrors();
  GLuint id = 0;
  glGenTextures(1, &id);
  glBindTexture(GL_TEXTURE_BUFFER, id);
  if (ranged)
    glTexBufferRange(GL_TEXTURE_BUFFER, format, buffer, static_cast<GLintptr>(firstElement * elementBytes),
                     static_cast<GLsizeiptr>(elementCount * elementBytes));
  else
    glTexBuffer(GL_TEXTURE_BUFFER, format, buffer);
  glBindTexture(GL_TEXTURE_BUFFER, 0);
  if (glGetError() != GL_NO_ERROR) {
    glDeleteTextures(1, &id);
    return false;
  }
  *texture = id;
  return true;
}

bool DynamicBuffer::Upload(const void* data, size_t bytes) {
  if (bytes == 0) return true;
  if (buffer_ == 0 || bytes > capacity_) {
    // grow by half again so that a slowly growing stream is not recreated every frame
    size_t capacity = std::max(bytes, capacity_ + capacity_ / 2);
    Release();
    if (!CreateBuffer(target_, capacity, BufferUsage::Dynamic, nullptr, &buffer_)) return false;
    capacity_ = capacity;
  }
  ClearErrors();
  glBindBuffer(target_, buffer_);
  // orphan the old storage so that the upload does not wait for draws still reading it
  glBufferData(target_, static_cast<GLsizeiptr>(capacity_), nullptr, GL_DYNAMIC_DRAW);
  glBufferSubData(target_, 0, static_cast<GLsizeiptr>(bytes), data);
  glBindBuffer(target_, 0);
  return glGetError() == GL_NO_ERROR;
}

void DynamicBuffer::Release() {
  if (buffer_ != 0) glDeleteBuffers(1, &buffer_);
  buffer_ = 0;
  capacity_ = 0;
}

}  // namespace GLTools
