#include "render/geometry.h"

#include <cmath>

#include "render/buffer.h"

namespace GLTools {

namespace {

constexpr float kTwoPi = 6.28318530717958647692f;

float Angle(float i, int segments) { return i * kTwoPi / static_cast<float>(segments); }

// Two triangles of the quad between the rims a (lower) and b (upper) at
// segments i and j, wound outward for rims whose angle grows with the index.
void AppendSideQuad(std::vector<uint32_t>& out, uint32_t ai, uint32_t aj, uint32_t bi, uint32_t bj) {
  out.insert(out.end(), {ai, aj, bi, bi, aj, bj});
}

}  // namespace

GLenum GlTopology(Topology topology) {
  switch (topology) {
    case Topology::PointList: return GL_POINTS;
    case Topology::LineList: return GL_LINES;
    case Topology::LineStrip: return GL_LINE_STRIP;
    case Topology::TriangleList: return GL_TRIANGLES;
    case Topology::TriangleStrip: return GL_TRIANGLE_STRIP;
  }
  return GL_TRIANGLES;
}

template <typename V>
void Geometry<V>::Generate() {
  vertices.clear();
  indices.clear();
  FillVertices(vertices);
  FillIndices(indices);
}

template <typename V>
bool Geometry<V>::Create() {
  Release();
  Generate();
  if (!CreateBuffer(GL_ARRAY_BUFFER, vertices.size() * sizeof(V), BufferUsage::Static, vertices.data(),
                    &vertexBuffer))
    return false;
  if (!indices.empty() && !CreateBuffer(GL_ELEMENT_ARRAY_BUFFER, indices.size() * sizeof(uint32_t),
                                        BufferUsage::Static, indices.data(), &indexBuffer)) {
    Release();
    return false;
  }
  return true;
}

template <typename V>
void Geometry<V>::Release() {
  if (vertexBuffer != 0) glDeleteBuffers(1, &vertexBuffer);
  if (indexBuffer != 0) glDeleteBuffers(1, &indexBuffer);
  vertexBuffer = indexBuffer = 0;
}

template <typename V>
void Geometry<V>::DrawBound(int instanceCount) const {
  GLenum mode = GlTopology(PrimitiveTopology());
  if (indexBuffer != 0)
    glDrawElementsInstanced(mode, static_cast<GLsizei>(indices.size()), GL_UNSIGNED_INT, nullptr, instanceCount);
  else
    glDrawArraysInstanced(mode, 0, static_cast<GLsizei>(vertices.size()), instanceCount);
}

template <typename V>
void Geometry<V>::Draw(const Pass& pass, const InputLayout& layout) const {
  pass.Apply();
  VertexStream stream{vertexBuffer, static_cast<int>(sizeof(V)), 0};
  layout.Bind(&stream, 1, indexBuffer);
  DrawBound(1);
}

template <typename V>
void Geometry<V>::DrawInstanced(const Pass& pass, const InputLayout& layout, const VertexStream* instanceStreams,
                                int instanceStreamCount, int instanceCount) const {
  constexpr int kMaxStreams = 8;
  if (instanceCount <= 0 || instanceStreamCount < 0 || instanceStreamCount >= kMaxStreams) return;
  pass.Apply();
  VertexStream streams[kMaxStreams];
  streams[0] = VertexStream{vertexBuffer, static_cast<int>(sizeof(V)), 0};
  for (int i = 0; i < instanceStreamCount; ++i) streams[1 + i] = instanceStreams[i];
  layout.Bind(streams, 1 + instanceStreamCount, indexBuffer);
  DrawBound(instanceCount);
}

template <typename V>
void UnitBox<V>::FillVertices(std::vector<V>& out) const {
  const float corners[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  for (const auto& c : corners) {
    Vec3f p(c[0], c[1], c[2]);
    // a corner has no single face normal; the direction from the centre stands in
    out.push_back(MakeVertex<V>(p, Normalize(p - Vec3f(0.5f, 0.5f, 0.5f))));
  }
}

template <typename V>
void UnitBox<V>::FillIndices(std::vector<uint32_t>& out) const {
  out = {7, 4, 6, 6, 4, 5, 4, 0, 5, 5, 0, 1, 5, 1, 6, 6, 1, 2, 6, 2, 7, 7, 2, 3, 7, 3, 4, 4, 3, 0, 0, 3, 2, 0, 2, 1};
}

template <typename V>
void UnitPlane<V>::FillVertices(std::vector<V>& out) const {
  const Vec3f up(0, 0, 1), down(0, 0, -1);
  for (Vec3f p : {Vec3f(0, 1, 0), Vec3f(0, 0, 0), Vec3f(1, 1, 0), Vec3f(1, 1, 0), Vec3f(0, 0, 0), Vec3f(1, 0, 0)})
    out.push_back(MakeVertex<V>(p, up));
  if (!twoSided_) return;
  for (Vec3f p : {Vec3f(1, 0, 0), Vec3f(0, 0, 0), Vec3f(1, 1, 0), Vec3f(1, 1, 0), Vec3f(0, 0, 0), Vec3f(0, 1, 0)})
    out.push_back(MakeVertex<V>(p, down));
}

template <typename V>
void Arrow<V>::FillVertices(std::vector<V>& out) const {
  const int n = segments_;
  const Vec3f down(0, 0, -1);
  auto rim = [&](float radius, float z, int i) {
    float a = Angle(static_cast<float>(i), n);
    return Vec3f(radius * std::cos(a), radius * std::sin(a), z);
  };
  out.push_back(MakeVertex<V>(Vec3f(0, 0, 0), down));
  for (int i = 0; i < n; ++i) out.push_back(MakeVertex<V>(rim(shaftRadius_, 0, i), down));
  for (int i = 0; i < n; ++i) {
    Vec3f radial = rim(shaftRadius_, 0, i);
    out.push_back(MakeVertex<V>(radial, radial));
    out.push_back(MakeVertex<V>(rim(shaftRadius_, shaftLength_, i), radial));
  }
  for (int i = 0; i < n; ++i) {
    out.push_back(MakeVertex<V>(rim(shaftRadius_, shaftLength_, i), down));
    out.push_back(MakeVertex<V>(rim(headRadius_, shaftLength_, i), down));
  }
  float s = std::sqrt(headRadius_ * headRadius_ + headLength_ * headLength_);
  auto coneNormal = [&](float angle) {
    return Vec3f(std::cos(angle) * headLength_ / s, std::sin(angle) * headLength_ / s, headRadius_ / s);
  };
  Vec3f tip(0, 0, shaftLength_ + headLength_);
  for (int i = 0; i < n; ++i) {
    out.push_back(MakeVertex<V>(rim(headRadius_, shaftLength_, i), coneNormal(Angle(static_cast<float>(i), n))));
    out.push_back(MakeVertex<V>(tip, coneNormal(Angle(i + 0.5f, n))));
  }
}

template <typename V>
void Arrow<V>::FillIndices(std::vector<uint32_t>& out) const {
  const uint32_t n = static_cast<uint32_t>(segments_);
  const uint32_t bottomRing = 1, shaft = 1 + n, underside = 1 + 3 * n, cone = 1 + 5 * n;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t j = (i + 1) % n;
    // bottom disc, facing -z
    out.insert(out.end(), {0, bottomRing + j, bottomRing + i});
  }
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t j = (i + 1) % n;
    AppendSideQuad(out, shaft + 2 * i, shaft + 2 * j, shaft + 2 * i + 1, shaft + 2 * j + 1);
  }
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t j = (i + 1) % n;
    // ring between shaft and head rim, facing -z
    uint32_t inner_i = underside + 2 * i, outer_i = inner_i + 1, inner_j = underside + 2 * j, outer_j = inner_j + 1;
    out.insert(out.end(), {inner_i, inner_j, outer_i, outer_i, inner_j, outer_j});
  }
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t j = (i + 1) % n;
    out.insert(out.end(), {cone + 2 * i, cone + 2 * j, cone + 2 * i + 1});
  }
}

template <typename V>
void Cylinder<V>::FillVertices(std::vector<V>& out) const {
  for (int i = 0; i < segments_; ++i) {
    float a = Angle(static_cast<float>(i), segments_);
    Vec3f radial(radius_ * std::cos(a), radius_ * std::sin(a), 0);
    out.push_back(MakeVertex<V>(radial, radial));
    out.push_back(MakeVertex<V>(Vec3f(radial.x, radial.y, height_), radial));
  }
}

template <typename V>
void Cylinder<V>::FillIndices(std::vector<uint32_t>& out) const {
  const uint32_t n = static_cast<uint32_t>(segments_);
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t j = (i + 1) % n;
    AppendSideQuad(out, 2 * i, 2 * j, 2 * i + 1, 2 * j + 1);
  }
}

template <typename V>
void Mesh<V>::FillVertices(std::vector<V>& out) const {
  out.reserve(mesh_.vertices.size());
  for (const SurfaceMesh::Vertex& v : mesh_.vertices) out.push_back(MakeVertex<V>(v.position, v.normal));
}

template <typename V>
void Mesh<V>::FillIndices(std::vector<uint32_t>& out) const {
  out.reserve(3 * mesh_.triangles.size());
  for (const SurfaceMesh::Triangle& t : mesh_.triangles)
    out.insert(out.end(), {static_cast<uint32_t>(t.i0), static_cast<uint32_t>(t.i1), static_cast<uint32_t>(t.i2)});
}

template class Geometry<VP>;
template class Geometry<VPN>;
template class UnitBox<VP>;
template class UnitBox<VPN>;
template class UnitPlane<VP>;
template class UnitPlane<VPN>;
template class Arrow<VP>;
template class Arrow<VPN>;
template class Cylinder<VP>;
template class Cylinder<VPN>;
template class Mesh<VP>;
template class Mesh<VPN>;

}  // namespace GLTools
