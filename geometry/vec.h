#pragma once
// Small fixed-size value types shared by every module: 3-vectors of int, float
// and double, a row-major 3x3 double matrix and a row-major 4x4 float matrix
// that acts on column vectors (p' = M * (p, 1)).
#include <cmath>
#include <cstdint>

template <typename T>
struct Vec3 {
  T x = 0, y = 0, z = 0;

  constexpr Vec3() = default;
  constexpr Vec3(T x_, T y_, T z_) : x(x_), y(y_), z(z_) {}
  template <typename U>
  constexpr explicit Vec3(const Vec3<U>& o) : x(T(o.x)), y(T(o.y)), z(T(o.z)) {}

  constexpr T& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
  constexpr const T& operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }

  constexpr Vec3 operator+(const Vec3& o) const { return {x + o.x, y + o.y, z + o.z}; }
  constexpr Vec3 operator-(const Vec3& o) const { return {x - o.x, y - o.y, z - o.z}; }
  constexpr Vec3 operator-() const { return {-x, -y, -z}; }
  constexpr Vec3 operator*(T s) const { return {x * s, y * s, z * s}; }
  constexpr Vec3 operator/(T s) const { return {x / s, y / s, z / s}; }
  constexpr Vec3& operator+=(const Vec3& o) { x += o.x; y += o.y; z += o.z; return *this; }
  constexpr Vec3& operator-=(const Vec3& o) { x -= o.x; y -= o.y; z -= o.z; return *this; }
  constexpr Vec3& operator*=(T s) { x *= s; y *= s; z *= s; return *this; }
  constexpr bool operator==(const Vec3& o) const { return x == o.x && y == o.y && z == o.z; }
  constexpr bool operator!=(const Vec3& o) const { return !(*this == o); }
};

using Vec3i = Vec3<int32_t>;
using Vec3f = Vec3<float>;
using Vec3d = Vec3<double>;

template <typename T> constexpr Vec3<T> operator*(T s, const Vec3<T>& v) { return v * s; }
template <typename T> constexpr T Dot(const Vec3<T>& a, const Vec3<T>& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
template <typename T> constexpr Vec3<T> Cross(const Vec3<T>& a, const Vec3<T>& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
template <typename T> inline T Length(const Vec3<T>& v) { return std::sqrt(Dot(v, v)); }
template <typename T> constexpr T LengthSquared(const Vec3<T>& v) { return Dot(v, v); }
// Unit vector along v; the zero vector stays zero.
template <typename T> inline Vec3<T> Normalize(const Vec3<T>& v) {
  T len = Length(v);
  return len != T(0) ? v / len : v;
}
// Componentwise product and quotient.
template <typename T> constexpr Vec3<T> Mul(const Vec3<T>& a, const Vec3<T>& b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }
template <typename T> constexpr Vec3<T> Div(const Vec3<T>& a, const Vec3<T>& b) { return {a.x / b.x, a.y / b.y, a.z / b.z}; }
template <typename T> inline bool IsFinite(const Vec3<T>& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// Row-major 3x3 matrix of doubles: m[3 * row + column].
struct Mat3d {
  double m[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};

  static constexpr Mat3d Identity() { return Mat3d{{1, 0, 0, 0, 1, 0, 0, 0, 1}}; }
  constexpr double& operator()(int r, int c) { return m[3 * r + c]; }
  constexpr double operator()(int r, int c) const { return m[3 * r + c]; }
};

// Row-major 4x4 matrix of floats: m[4 * row + column]; a point p maps to M * (p, 1).
struct Mat4f {
  float m[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

  static constexpr Mat4f Identity() { return Mat4f{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}; }
  constexpr float& operator()(int r, int c) { return m[4 * r + c]; }
  constexpr float operator()(int r, int c) const { return m[4 * r + c]; }
};
