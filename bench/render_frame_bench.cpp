// Frame costs of the scene renderer on the liver scene: the host data of a
// frame (render vertices, arrow instances, surface positions and expanded
// corners, which must stay within 5 ms) and whole frames at 800 x 600 on the
// headless context, with and without shadows, finished before the clock stops.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "app/edit_tool.h"
#include "app/scene.h"
#include "framework/back_buffer.h"
#include "framework/headless_context.h"
#include "geometry/file_util.h"
#include "geometry/matrix4.h"
#include "geometry/octree.h"
#include "render/cut_scene_frame_data.h"
#include "render/cut_scene_renderer.h"

namespace {

constexpr int kWidth = 800, kHeight = 600;
constexpr float kPi = 3.14159265358979323846f;

Scene* Liver() {
  static Scene* scene = [] {
    auto* loaded = new Scene;
    std::wostringstream log;
    if (!loaded->Load(WidenPath(std::string(VARDEL_SOURCE_DIR) + "/scenes/LiverScene.txt"), 0, &log)) {
      std::fprintf(stderr, "%s", NarrowPath(log.str()).c_str());
      delete loaded;
      return static_cast<Scene*>(nullptr);
    }
    return loaded;
  }();
  return scene;
}

// The scene's default view: from its default position towards the body's centre.
Mat4f DefaultView(const Scene& scene) {
  Mat4f view = Mat4f::Identity();
  LightViewMatrix(scene.defaultViewPosition, scene.mesh.bboxCenter - scene.defaultViewPosition, Vec3f(0, 0, 1), view);
  return view;
}

// Steps 1-4 of a frame; the argument says whether forces are shown (arrow instances built).
void BM_FrameData(benchmark::State& state) {
  Scene* scene = Liver();
  if (!scene) {
    state.SkipWithError("the liver scene does not load");
    return;
  }
  const bool forces = state.range(0) != 0;
  const Mat4f view = DefaultView(*scene);
  CutSceneFrameData frame;
  for (auto _ : state) {
    frame.BuildRenderVertices(*scene->cutSim);
    if (forces) frame.BuildArrowInstances(*scene->cutSim, view, scene->vertexHandleRadius, scene->forceArrowScale);
    frame.BuildSurface(*scene->octree);
    benchmark::DoNotOptimize(frame.corners.data());
  }
  state.counters["corners"] = static_cast<double>(frame.corners.size());
  state.counters["render_vertices"] = static_cast<double>(frame.renderPositions.size());
}
BENCHMARK(BM_FrameData)->ArgName("forces")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A whole frame into the back buffer, as the frame loop draws it.
void BM_RenderFrame(benchmark::State& state) {
  static HeadlessContext context;
  std::string error;
  if (!context.IsCreated() && !context.Create(&error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  Scene* scene = Liver();
  if (!scene) {
    state.SkipWithError("the liver scene does not load");
    return;
  }
  EditTool tool;
  BackBuffer backBuffer;
  CutSceneRenderer renderer(*scene, tool);
  if (!backBuffer.Create(kWidth, kHeight) || !renderer.Create(nullptr) ||
      !renderer.OnResize(kWidth, kHeight, backBuffer.Framebuffer())) {
    state.SkipWithError("the renderer cannot be created");
    return;
  }
  renderer.SetProjection(PerspectiveFovRH(kPi / 4, static_cast<float>(kWidth) / kHeight, 0.001f, 100));
  renderer.SetToolPose(EditTool::StartPose());
  renderer.options.enableShadows = state.range(0) != 0;
  renderer.options.renderForces = state.range(1) != 0;
  const Mat4f view = DefaultView(*scene);
  for (auto _ : state) {
    backBuffer.Bind();
    glClearColor(0, 0, 0, 0);
    glDepthMask(GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    renderer.Render(view, {}, {});
    glFinish();
  }
  renderer.Release();
  backBuffer.Release();
}
BENCHMARK(BM_RenderFrame)
    ->ArgNames({"shadows", "forces"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
