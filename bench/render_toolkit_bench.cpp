// Costs of the drawing toolkit that grow with the scene: the transposed
// inverse computed per arrow instance every frame, and lines drawn through the
// simple-draw batcher (sticks, normals and octree outlines) on the headless
// context at 800 x 600.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cstdio>
#include <string>

#include "framework/headless_context.h"
#include "geometry/matrix4.h"
#include "render/simple_draw_effect.h"

namespace {

void BM_TransposedInverse(benchmark::State& state) {
  Mat4f m = TranslationMatrix({0.3f, -1, 2}) * RotationYMatrix(0.4f) * ScalingMatrix({0.02f, 0.02f, 0.02f});
  for (auto _ : state) {
    m.m[3] += 1e-7f;  // a new matrix every call, as every instance has its own
    Mat4f t = TransposedInverse(m);
    benchmark::DoNotOptimize(t);
  }
}
BENCHMARK(BM_TransposedInverse);

// One frame's worth of line segments through a batcher of 1024 vertices.
void BM_SimpleDrawLines(benchmark::State& state) {
  HeadlessContext context;
  std::string error;
  if (!context.Create(&error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  GLuint framebuffer = 0, renderbuffers[2] = {0, 0};
  glGenFramebuffers(1, &framebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  glGenRenderbuffers(2, renderbuffers);
  const GLenum formats[2] = {GL_RGBA8, GL_DEPTH_COMPONENT32F};
  const GLenum attachments[2] = {GL_COLOR_ATTACHMENT0, GL_DEPTH_ATTACHMENT};
  for (int i = 0; i < 2; ++i) {
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers[i]);
    glRenderbufferStorage(GL_RENDERBUFFER, formats[i], 800, 600);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, attachments[i], GL_RENDERBUFFER, renderbuffers[i]);
  }
  glViewport(0, 0, 800, 600);
  GLTools::SimpleDrawEffect effect(1024);
  if (!effect.Create(false)) {
    state.SkipWithError("simpledraw.fxo does not load");
    return;
  }
  effect.SetProjectionMatrix(PerspectiveFovRH(0.785f, 800.0f / 600.0f, 0.001f, 100));
  effect.SetViewMatrix(TranslationMatrix({-0.5f, -0.5f, -2}));
  const int segments = static_cast<int>(state.range(0));
  for (auto _ : state) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    effect.Begin(GLTools::Topology::LineList);
    for (int i = 0; i < segments; ++i) {
      float x = (i % 100) * 0.01f, y = (i / 100 % 100) * 0.01f, z = (i / 10000) * 0.01f;
      effect.SetColor(i % 3 == 0, i % 3 == 1, i % 3 == 2, 1);
      effect.AddVertex({x, y, z});
      effect.AddVertex({x + 0.005f, y, z + 0.005f});
    }
    effect.End();
    glFinish();
  }
  state.SetItemsProcessed(state.iterations() * segments);
  effect.Release();
  glDeleteRenderbuffers(2, renderbuffers);
  glDeleteFramebuffers(1, &framebuffer);
}
BENCHMARK(BM_SimpleDrawLines)->Arg(1000)->Arg(30000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
