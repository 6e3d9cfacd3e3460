#pragma once
// Vertex input layouts: which attribute locations read which formats from which
// buffer slot, per vertex or per instance. Built by Effect::CreateInputLayout
// from a list of elements checked against a pass's inputs; bound before a draw
// together with the buffers of its slots.
#include <epoxy/gl.h>

#include <cstdint>
#include <string>
#include <vector>

namespace GLTools {

enum class ElementFormat { Float1, Float2, Float3, Float4, Int32, UInt32, Int8, UInt8 };

// offset of an element that follows the previous element of its slot
constexpr int kAppendAligned = -1;

struct InputElement {
  std::string semantic;  // attribute name declared by the effect
  int index = 0;         // element of a multi-location attribute (WORLD_VIEW 0..3)
  ElementFormat format = ElementFormat::Float3;
  int slot = 0;
  int offset = kAppendAligned;  // bytes from the start of the slot's record
  bool perInstance = false;
  int stepRate = 0;  // instances per element for per-instance data (0 reads as 1)
};

// A vertex buffer bound to one slot; stride 0 takes the layout's packed size.
struct VertexStream {
  GLuint buffer = 0;
  int stride = 0;
  intptr_t offset = 0;
};

int ElementBytes(ElementFormat format);
bool IsIntegerFormat(ElementFormat format);

class InputLayout {
 public:
  struct Attribute {
    GLuint location = 0;
    GLint components = 0;
    GLenum type = GL_FLOAT;
    bool integer = false;
    int slot = 0;
    int offset = 0;
    GLuint divisor = 0;
  };

  // Creates the vertex array; the locations come from the effect's declarations.
  bool Create(const std::vector<Attribute>& attributes);
  // Frees the vertex array; needs the context that created it.
  void Release();

  // Binds the vertex array with streams[slot] for every slot the layout reads
  // and the index buffer (0 for none).
  void Bind(const VertexStream* streams, int streamCount, GLuint indexBuffer) const;

  // packed record size of a slot
  int SlotStride(int slot) const;
  const std::vector<Attribute>& Attributes() const { return attributes_; }

 private:
  GLuint vertexArray_ = 0;
  std::vector<Attribute> attributes_;
  std::vector<int> slotStrides_;
};

}  // namespace GLTools
