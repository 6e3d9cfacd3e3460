#pragma once
// GPU buffers: creation with optional initial data, texture views for shader
// reads, and a dynamic buffer that is re-specified on every upload and
// recreated larger when the data outgrow it.
#include <epoxy/gl.h>

#include <cstddef>

namespace GLTools {

enum class BufferUsage { Static, Dynamic };

// Creates a buffer of `bytes` bytes for `target`, filled from initialData when
// given; false (and no buffer) when the device cannot create it.
bool CreateBuffer(GLenum target, size_t bytes, BufferUsage usage, const void* initialData, GLuint* buffer);

// A buffer texture over elementCount elements of `format` starting at
// firstElement (sampled with texelFetch on a samplerBuffer).
bool CreateBufferView(GLuint buffer, GLenum format, size_t elementBytes, size_t firstElement, size_t elementCount,
                      GLuint* texture);

class DynamicBuffer {
 public:
  explicit DynamicBuffer(GLenum target = GL_ARRAY_BUFFER) : target_(target) {}

  // Replaces the contents with `bytes` bytes of data; grows when needed.
  bool Upload(const void* data, size_t bytes);
  void Release();

  GLuint Id() const { return buffer_; }
  size_t Capacity() const { return capacity_; }

 private:
  GLenum target_;
  GLuint buffer_ = 0;
  size_t capacity_ = 0;
};

}  // namespace GLTools
