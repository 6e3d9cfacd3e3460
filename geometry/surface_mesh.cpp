#include "geometry/surface_mesh.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cmath>
#include <cfloat>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>

#include "geometry/file_util.h"

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Reads whitespace-separated tokens from a line the way a text stream does.
class Tokens {
 public:
  explicit Tokens(const std::string& line) : line_(line) {}

  bool Next(std::string& token) {
    while (pos_ < line_.size() && IsSpace(line_[pos_])) ++pos_;
    if (pos_ >= line_.size()) return false;
    size_t start = pos_;
    while (pos_ < line_.size() && !IsSpace(line_[pos_])) ++pos_;
    token.assign(line_, start, pos_ - start);
    return true;
  }

  // A finite float read like a text stream reads one: after white space, from
  // the current position, leaving the position just behind the number.
  bool NextFloat(float& value) {
    while (pos_ < line_.size() && IsSpace(line_[pos_])) ++pos_;
    if (pos_ >= line_.size() || !StartsDecimal(pos_)) return false;
    const char* begin = line_.c_str() + pos_;
    char* end = nullptr;
    value = std::strtof(begin, &end);
    if (end == begin) return false;
    pos_ += static_cast<size_t>(end - begin);
    return std::isfinite(value);
  }

 private:
  // strtof also accepts "inf", "nan" and hexadecimal numbers; a text stream does not.
  bool StartsDecimal(size_t i) const {
    if (line_[i] == '+' || line_[i] == '-') ++i;
    if (i >= line_.size()) return false;
    char c = line_[i];
    if (c == '0' && i + 1 < line_.size() && (line_[i + 1] == 'x' || line_[i + 1] == 'X')) return false;
    return c == '.' || (c >= '0' && c <= '9');
  }

  const std::string& line_;
  size_t pos_ = 0;
};

// The vertex index of a face token: the integer before the first '/'.
bool ParseFaceIndex(const std::string& token, long& index) {
  std::string head = token.substr(0, token.find('/'));
  if (head.empty()) return false;
  const char* begin = head.c_str();
  char* end = nullptr;
  errno = 0;
  index = std::strtol(begin, &end, 10);
  if (end == begin || errno == ERANGE || index < INT_MIN || index > INT_MAX) return false;
  return true;
}

void ParseError(std::wostream* log, int line, const std::wstring& fileName) {
  if (log) *log << L"ERROR: Error parsing line " << line << L" of file \"" << fileName << L"\"" << std::endl;
}

}  // namespace

bool SurfaceMesh::ReadObj(const std::wstring& fileName, std::wostream* log, bool reverseWinding) {
  valid = false;
  vertices.clear();
  triangles.clear();

  std::ifstream in(NarrowPath(fileName), std::ios::in | std::ios::binary);
  if (!in) {
    if (log) *log << L"ERROR: Cannot open input file \"" << fileName << L"\"" << std::endl;
    return false;
  }

  // Face corners are checked against the final vertex count, so faces may
  // precede their vertices; each face remembers its line for the message.
  std::vector<int> faceLines;
  std::string line, keyword, token;
  int lineNumber = 0;
  LineReader reader(in);
  while (reader.Next(line)) {
    ++lineNumber;
    Tokens tokens(line);
    if (!tokens.Next(keyword)) continue;
    if (keyword == "v") {
      Vertex v;
      if (!tokens.NextFloat(v.position.x) || !tokens.NextFloat(v.position.y) || !tokens.NextFloat(v.position.z)) {
        ParseError(log, lineNumber, fileName);
        return false;
      }
      vertices.push_back(v);
    } else if (keyword == "f") {
      std::vector<long> corners;
      long index;
      while (tokens.Next(token)) {
        if (!ParseFaceIndex(token, index)) break;
        corners.push_back(index);
      }
      if (corners.size() < 3) {
        ParseError(log, lineNumber, fileName);
        return false;
      }
      // a polygon becomes a fan around its first corner
      for (size_t k = 1; k + 1 < corners.size(); ++k) {
        Triangle t;
        t.i0 = static_cast<int32_t>(corners[0] - 1);
        t.i1 = static_cast<int32_t>(corners[k] - 1);
        t.i2 = static_cast<int32_t>(corners[k + 1] - 1);
        if (reverseWinding) std::swap(t.i1, t.i2);
        triangles.push_back(t);
        faceLines.push_back(lineNumber);
      }
    }
  }
  if (in.bad()) {
    if (log) *log << L"ERROR: Cannot read line " << lineNumber + 1 << L" of file \"" << fileName << L"\"" << std::endl;
    return false;
  }
  const int32_t count = static_cast<int32_t>(vertices.size());
  for (size_t t = 0; t < triangles.size(); ++t) {
    const Triangle& tri = triangles[t];
    if (tri.i0 < 0 || tri.i0 >= count || tri.i1 < 0 || tri.i1 >= count || tri.i2 < 0 || tri.i2 >= count) {
      ParseError(log, faceLines[t], fileName);
      return false;
    }
  }
  ComputeNormals();
  ComputeBoundingBox();
  valid = true;
  return true;
}

bool SurfaceMesh::WriteObj(const std::wstring& fileName, std::wostream* log) const {
  bool openFailed = false;
  bool ok = WriteFileAtomically(
      NarrowPath(fileName), false,
      [this](std::ostream& out) {
        char buffer[128];
        for (const Vertex& v : vertices) {
          std::snprintf(buffer, sizeof(buffer), "v %.8e %.8e %.8e\n", v.position.x, v.position.y, v.position.z);
          out << buffer;
        }
        out << "\n";
        for (const Triangle& t : triangles) {
          out << "f " << static_cast<uint32_t>(t.i0 + 1) << " " << static_cast<uint32_t>(t.i1 + 1) << " "
              << static_cast<uint32_t>(t.i2 + 1) << "\n";
        }
        return bool(out);
      },
      &openFailed);
  if (!ok && log) {
    *log << (openFailed ? L"ERROR: Cannot create output file \"" : L"ERROR: Error writing output file \"")
         << fileName << L"\"" << std::endl;
  }
  return ok;
}

void SurfaceMesh::ComputeNormals() {
  for (Vertex& v : vertices) v.normal = Vec3f();
  for (Triangle& t : triangles) {
    const Vec3f& p0 = vertices[t.i0].position;
    Vec3f e1 = vertices[t.i1].position - p0;
    Vec3f e2 = vertices[t.i2].position - p0;
    t.normal = Cross(e1, e2);
    vertices[t.i0].normal += t.normal;
    vertices[t.i1].normal += t.normal;
    vertices[t.i2].normal += t.normal;
  }
  for (Vertex& v : vertices) {
    float len = Length(v.normal);
    if (len != 0.0f) v.normal = v.normal / len;
  }
}

void SurfaceMesh::ComputeBoundingBox() {
  Vec3f lo(FLT_MAX, FLT_MAX, FLT_MAX), hi(-FLT_MAX, -FLT_MAX, -FLT_MAX);
  for (const Vertex& v : vertices) {
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], v.position[a]);
      hi[a] = std::max(hi[a], v.position[a]);
    }
  }
  bboxCenter = (hi + lo) / 2.0f;
  // halving first keeps the empty box at -FLT_MAX instead of overflowing
  bboxHalfExtent = vertices.empty() ? hi / 2.0f - lo / 2.0f : (hi - lo) / 2.0f;
}

void SurfaceMesh::Scale(float factor) {
  for (Vertex& v : vertices) v.position = v.position * factor;
  ComputeNormals();
  ComputeBoundingBox();
}

void SurfaceMesh::Transform(const Mat4f& m) {
  for (Vertex& v : vertices) {
    const Vec3f p = v.position;
    v.position = Vec3f(m(0, 0) * p.x + m(0, 1) * p.y + m(0, 2) * p.z + m(0, 3),
                       m(1, 0) * p.x + m(1, 1) * p.y + m(1, 2) * p.z + m(1, 3),
                       m(2, 0) * p.x + m(2, 1) * p.y + m(2, 2) * p.z + m(2, 3));
  }
  ComputeNormals();
  ComputeBoundingBox();
}

void SurfaceMesh::SetFromArrays(const std::vector<Vec3f>& positions, const std::vector<int32_t>& indices) {
  valid = false;
  vertices.assign(positions.size(), Vertex());
  for (size_t i = 0; i < positions.size(); ++i) vertices[i].position = positions[i];
  triangles.clear();
  triangles.reserve(indices.size() / 3);
  // the producers are the program's own (surface export, tool meshes): a bad
  // index is a bug there, and would make ComputeNormals read outside the vertices
  assert(std::all_of(indices.begin(), indices.begin() + static_cast<std::ptrdiff_t>(indices.size() / 3 * 3),
                     [&](int32_t i) { return i >= 0 && static_cast<size_t>(i) < positions.size(); }));
  for (size_t i = 0; i + 2 < indices.size(); i += 3) {
    Triangle t;
    t.i0 = indices[i];
    t.i1 = indices[i + 1];
    t.i2 = indices[i + 2];
    triangles.push_back(t);
  }
  ComputeNormals();
  ComputeBoundingBox();
  valid = true;
}

bool SurfaceMesh::IntersectRay(const Vec3f& origin, const Vec3f& d, Vec3f& hit) const {
  bool any = false;
  float nearest = FLT_MAX;
  for (const Triangle& tri : triangles) {
    const Vec3f& p0 = vertices[tri.i0].position;
    Vec3f e1 = vertices[tri.i1].position - p0;
    Vec3f e2 = vertices[tri.i2].position - p0;
    Vec3f T = origin - p0;
    Vec3f dxe1 = Cross(d, e1);
    float det = Dot(dxe1, e2);
    if (!(det < 0.0f)) continue;  // back faces and faces parallel to the ray
    float a = Dot(T, dxe1);
    if (!(det <= a && a <= 0.0f)) continue;
    float b = Dot(d, Cross(T, e2));
    if (!(b <= 0.0f && a + b >= det)) continue;
    float c = Dot(e1, Cross(T, e2));
    if (!(c <= 0.0f)) continue;
    any = true;
    float t = c / det;
    if (t < nearest) {
      nearest = t;
      hit = origin + d * t;
    }
  }
  return any;
}
