#include "render/input_layout.h"

#include <algorithm>

namespace GLTools {

int ElementBytes(ElementFormat format) {
  switch (format) {
    case ElementFormat::Float1: return 4;
    case ElementFormat::Float2: return 8;
    case ElementFormat::Float3: return 12;
    case ElementFormat::Float4: return 16;
    case ElementFormat::Int32: return 4;
    case ElementFormat::UInt32: return 4;
    case ElementFormat::Int8: return 1;
    case ElementFormat::UInt8: return 1;
  }
  return 0;
}

bool IsIntegerFormat(ElementFormat format) {
  return format == ElementFormat::Int32 || format == ElementFormat::UInt32 || format == ElementFormat::Int8 ||
         format == ElementFormat::UInt8;
}

bool InputLayout::Create(const std::vector<Attribute>& attributes) {
  Release();
  attributes_ = attributes;
  slotStrides_.clear();
  for (const Attribute& a : attributes_) {
    if (a.slot >= static_cast<int>(slotStrides_.size())) slotStrides_.resize(a.slot + 1, 0);
    int bytes = a.components * (a.type == GL_BYTE || a.type == GL_UNSIGNED_BYTE ? 1 : 4);
    slotStrides_[a.slot] = std::max(slotStrides_[a.slot], a.offset + bytes);
  }
  glGenVertexArrays(1, &vertexArray_);
  return vertexArray_ != 0 && glGetError() == GL_NO_ERROR;
}

void InputLayout::Release() {
  if (vertexArray_ != 0) glDeleteVertexArrays(1, &vertexArray_);
  vertexArray_ = 0;
}

int InputLayout::SlotStride(int slot) const {
  return slot >= 0 && slot < static_cast<int>(slotStrides_.size()) ? slotStrides_[slot] : 0;
}

void InputLayout::Bind(const VertexStream* streams, int streamCount, GLuint indexBuffer) const {
  glBindVertexArray(vertexArray_);
  for (const Attribute& a : attributes_) {
    if (a.slot >= streamCount || streams[a.slot].buffer == 0) {
      // a slot without a buffer reads nothing rather than a stale buffer
      glDisableVertexAttribArray(a.location);
      continue;
    }
    const VertexStream& stream = streams[a.slot];
    GLsizei stride = stream.stride != 0 ? stream.stride : SlotStride(a.slot);
    const void* pointer = reinterpret_cast<const void*>(stream.offset + a.offset);
    glBindBuffer(GL_ARRAY_BUFFER, stream.buffer);
    if (a.integer)
      glVertexAttribIPointer(a.location, a.components, a.type, stride, pointer);
    else
      glVertexAttribPointer(a.location, a.components, a.type, GL_FALSE, stride, pointer);
    glVertexAttribDivisor(a.location, a.divisor);
    glEnableVertexAttribArray(a.location);
  }
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer);
}

}  // namespace GLTools
