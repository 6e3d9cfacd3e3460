// Long run of the simulator core on one scene, for leaks, blow-ups and broken
// structures that only show after many steps and cuts. A seeded random
// sequence drives the real editor (cut strokes, force drags, fixation
// toggles, through the mouse messages the window would send) and the guarded
// time step; collision detection is on for the middle half of the run. At the
// end the octree and the element hierarchy are validated, every position of
// the model, the octree and the surface must be finite, the equation system
// and the deformed mesh are written and read back, and the resident memory
// grown after the first tenth of the run, less what the cuts added, must stay
// within a tenth of the memory held then.
//
//   soak [--scene FILE] [--steps N] [--seed S] [--cut-every K] [--cutting-depth D] [--no-collision]
//        [--no-memory-check] [--quiet] [--verbose]
//
// Prints the figures and "SOAK PASSED"; exit code 0, or 1 with "ERROR: " lines.
#include <omp.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/editor.h"
#include "app/output_files.h"
#include "app/recorder.h"
#include "app/scene.h"
#include "cutsim/finite_guard.h"
#include "cutsim/hierarchy_validation.h"
#include "geometry/file_util.h"
#include "geometry/matrix4.h"
#include "geometry/octree_validation.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

namespace {

constexpr int kScreenWidth = 800;
constexpr int kScreenHeight = 600;
constexpr float kFieldOfViewDegrees = 45.0f;

struct Options {
  std::string scene = "scenes/LiverScene.txt";
  int steps = 10000;
  uint64_t seed = 1;
  int cutEvery = 50;
  float cuttingDepth = 0.03f;  // mesh units: strokes notch the body rather than split it
  bool memoryCheck = !kSanitized;  // sanitizer runtimes hold memory of their own
  bool quiet = false;
  bool verbose = false;  // one line per editing event and undone step
  bool collision = true;  // collision detection for the middle half of the run
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--scene" && hasValue) {
      options.scene = argv[++i];
    } else if (arg == "--steps" && hasValue) {
      options.steps = std::atoi(argv[++i]);
    } else if (arg == "--seed" && hasValue) {
      options.seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--cut-every" && hasValue) {
      options.cutEvery = std::atoi(argv[++i]);
    } else if (arg == "--cutting-depth" && hasValue) {
      options.cuttingDepth = static_cast<float>(std::atof(argv[++i]));
    } else if (arg == "--no-memory-check") {
      options.memoryCheck = false;
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--no-collision") {
      options.collision = false;
    } else {
      std::cerr << "ERROR: unknown or incomplete argument \"" << arg << "\"\n";
      return false;
    }
  }
  if (options.steps < 10 || options.cutEvery < 1 || !(options.cuttingDepth > 0)) {
    std::cerr << "ERROR: --steps must be at least 10, --cut-every and --cutting-depth positive\n";
    return false;
  }
  return true;
}

// Resident set size of this process (kB), from /proc.
long ResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// The object-ID image the editor would read: whatever the script points at.
class ScriptedPicker : public ObjectPicker {
 public:
  uint32_t ReadObjectId(int, int) override { return id; }
  void ReadObjectIds(int, int, int, int, std::set<uint32_t>& ids) override {
    if (id != 0) ids.insert(id);
  }
  uint32_t id = 0;
};

InputMessage Mouse(InputType type, int x, int y) {
  InputMessage message;
  message.type = type;
  message.button = kButtonRight;
  message.x = x;
  message.y = y;
  return message;
}

// A camera on a sphere around the body looking at its centre.
Mat4f RandomView(const Scene& scene, std::mt19937_64& random) {
  std::uniform_real_distribution<float> heading(0.0f, 6.2831853f), pitch(-1.0f, 1.0f);
  float h = heading(random), p = pitch(random);
  Vec3f forward(std::cos(h) * std::cos(p), std::sin(h) * std::cos(p), -std::sin(p));
  Vec3f right = Normalize(Cross(forward, Vec3f(0, 0, 1)));
  Vec3f up = Cross(right, forward);
  const Vec3f& half = scene.mesh.bboxHalfExtent;
  float radius = 3.0f * std::fmax(half.x, std::fmax(half.y, half.z));
  Vec3f eye = scene.mesh.bboxCenter - forward * radius;
  Mat4f inverseView = Mat4f::Identity();
  for (int r = 0; r < 3; ++r) {
    inverseView(r, 0) = right[r];
    inverseView(r, 1) = up[r];
    inverseView(r, 2) = -forward[r];
    inverseView(r, 3) = eye[r];
  }
  return Inverse(inverseView);
}

struct Figures {
  int cuts = 0, drags = 0, toggles = 0, rollbacks = 0;
  int firstRollbackStep = -1;
  long rssStart = 0, rssAtMark = 0, rssEnd = 0;  // kB
  long cutGrowthAfterMark = 0;                   // kB added across cuts and their first step after the mark
  double stepSeconds = 0, cutSeconds = 0;
};

class Soak {
 public:
  Soak(const Options& options, Scene& scene, std::wostream& log)
      : options_(options), scene_(scene), log_(log), random_(options.seed),
        recorder_(&scene, [] { return CameraPose(); }),
        editor_(picker_, scene, recorder_, Services(), &log, 0) {
    editor_.SetScreenSize(kScreenWidth, kScreenHeight);
    editor_.SetProjection(static_cast<float>(kScreenWidth) / kScreenHeight, kFieldOfViewDegrees);
    editor_.SetCuttingDepth(options.cuttingDepth);
    editor_.SetViewMatrix(RandomView(scene, random_));
  }

  bool Run(Figures& figures);

 private:
  static EditorServices Services() {
    EditorServices services;
    services.chooseFile = [](const std::wstring&, const std::wstring&, const std::wstring&, bool, std::wstring&) {
      return false;
    };
    services.forceLogPath = "/dev/null";
    services.cuttingSurfacePath = "/dev/null";
    return services;
  }

  int RandomInt(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  uint32_t RandomHandle() {
    const CutSim& sim = *scene_.cutSim;
    if (sim.renderVertices.empty()) return 0;
    return (kKindHandle << 28) | static_cast<uint32_t>(RandomInt(0, static_cast<int>(sim.renderVertices.size()) - 1));
  }

  void CutStroke();
  void StartOrContinueDrag(int step);
  void EndDrag();
  void ToggleFixations(int step);
  void Step(Figures& figures);

  const Options& options_;
  Scene& scene_;
  std::wostream& log_;
  std::mt19937_64 random_;
  ScriptedPicker picker_;
  Recorder recorder_;
  Editor editor_;
  // force drag under way: the step it ends at and the pixel it has reached
  int dragEnd_ = -1, dragX_ = 0, dragY_ = 0, dragDx_ = 0, dragDy_ = 0;
  // vertices this run fixed, released again at the step stored with them
  std::vector<std::pair<int, uint32_t>> pendingReleases_;
  int step_ = 0;
};

// A right-button stroke in cut mode from a random view: the blade sweeps
// along the rays through the stroke's pixels.
void Soak::CutStroke() {
  editor_.SetViewMatrix(RandomView(scene_, random_));
  editor_.SetMode(Editor::kModeCut);
  int x = kScreenWidth / 2 + RandomInt(-60, 60), y = kScreenHeight / 2 + RandomInt(-60, 60);
  int dx = RandomInt(-12, 12), dy = RandomInt(-12, 12);
  editor_.HandleMouse(Mouse(InputType::ButtonDown, x, y));
  int moves = RandomInt(3, 8);
  for (int k = 0; k < moves; ++k) {
    x += dx + RandomInt(-3, 3);
    y += dy + RandomInt(-3, 3);
    editor_.HandleMouse(Mouse(InputType::MouseMove, x, y));
  }
  editor_.HandleMouse(Mouse(InputType::ButtonUp, x, y));
  if (options_.verbose) std::cout << "step " << step_ << ": cut stroke of " << moves + 2 << " points\n";
}

// Force drags last 10 to 40 steps; the mouse moves a little every step.
void Soak::StartOrContinueDrag(int step) {
  if (dragEnd_ >= 0) {
    dragX_ += dragDx_;
    dragY_ += dragDy_;
    if (step < dragEnd_) {
      editor_.HandleMouse(Mouse(InputType::MouseMove, dragX_, dragY_));
      return;
    }
    EndDrag();
    return;
  }
  if (RandomInt(0, 19) != 0) return;
  editor_.SetMode(Editor::kModeForce);
  picker_.id = RandomHandle();
  dragX_ = kScreenWidth / 2;
  dragY_ = kScreenHeight / 2;
  dragDx_ = RandomInt(-3, 3);
  dragDy_ = RandomInt(-3, 3);
  if (editor_.HandleMouse(Mouse(InputType::ButtonDown, dragX_, dragY_))) {
    dragEnd_ = step + RandomInt(10, 40);
    if (options_.verbose) {
      std::cout << "step " << step << ": force drag until step " << dragEnd_ << ", " << dragDx_ << " " << dragDy_
                << " pixels a step\n";
    }
  }
}

void Soak::EndDrag() {
  if (dragEnd_ < 0) return;
  editor_.HandleMouse(Mouse(InputType::ButtonUp, dragX_, dragY_));
  dragEnd_ = -1;
}

// A click in fixation mode fixes a random surface vertex; the same vertex is
// released by a second click some steps later, so the body keeps its own
// fixations and does not fall away.
void Soak::ToggleFixations(int step) {
  if (dragEnd_ >= 0) return;
  for (size_t k = 0; k < pendingReleases_.size(); ++k) {
    if (pendingReleases_[k].first > step) continue;
    editor_.SetMode(Editor::kModeFixations);
    picker_.id = pendingReleases_[k].second;
    editor_.HandleMouse(Mouse(InputType::ButtonDown, 10, 10));
    editor_.HandleMouse(Mouse(InputType::ButtonUp, 10, 10));
    pendingReleases_.erase(pendingReleases_.begin() + static_cast<long>(k));
    return;
  }
  if (RandomInt(0, 29) != 0) return;
  uint32_t handle = RandomHandle();
  int vertex = handle == 0 ? -1 : scene_.cutSim->renderVertices[ObjectIndexOf(handle)];
  if (vertex < 0 || scene_.cutSim->vertexFixed[0][vertex]) return;
  editor_.SetMode(Editor::kModeFixations);
  picker_.id = handle;
  editor_.HandleMouse(Mouse(InputType::ButtonDown, 10, 10));
  editor_.HandleMouse(Mouse(InputType::ButtonUp, 10, 10));
  pendingReleases_.emplace_back(step + RandomInt(20, 200), handle);
  if (options_.verbose) std::cout << "step " << step << ": fixed vertex " << vertex << "\n";
}

void Soak::Step(Figures& figures) {
  auto start = std::chrono::steady_clock::now();
  if (!GuardedTimeStep(*scene_.cutSim, &log_)) {
    if (figures.rollbacks++ == 0) figures.firstRollbackStep = step_;
    if (options_.verbose) std::cout << "step " << step_ << ": undone\n";
  }
  figures.stepSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool Soak::Run(Figures& figures) {
  const int steps = options_.steps;
  const int mark = std::max(1, steps / 10);
  figures.rssStart = ResidentKilobytes();
  for (int step = 1; step <= steps; ++step) {
    step_ = step;
    bool collision = options_.collision && step > steps / 4 && step <= 3 * steps / 4;
    if (collision != scene_.cutSim->collisionEnabled) scene_.SetCollisionDetection(collision);
    long rssBeforeCut = 0;
    bool cutNow = step % options_.cutEvery == 0;
    if (cutNow) {
      EndDrag();
      rssBeforeCut = ResidentKilobytes();
      auto start = std::chrono::steady_clock::now();
      CutStroke();
      figures.cutSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      ++figures.cuts;
    } else {
      bool dragging = dragEnd_ >= 0;
      StartOrContinueDrag(step);
      if (!dragging && dragEnd_ >= 0) ++figures.drags;
      size_t pending = pendingReleases_.size();
      ToggleFixations(step);
      if (pendingReleases_.size() != pending) ++figures.toggles;
    }
    Step(figures);
    // the first step after a cut sizes the rebuilt solver records: the cut's memory
    if (cutNow && step > mark) figures.cutGrowthAfterMark += ResidentKilobytes() - rssBeforeCut;
    if (step == mark) figures.rssAtMark = ResidentKilobytes();
    if (!options_.quiet && step % 1000 == 0) {
      std::cout << "step " << step << ": rss " << ResidentKilobytes() << " kB, cuts " << figures.cuts << ", "
                << figures.stepSeconds / step * 1e3 << " ms/step" << std::endl;
    }
  }
  EndDrag();
  figures.rssEnd = ResidentKilobytes();
  return true;
}

// ---------------------------------------------------------------- end checks

bool AllFinite(const std::vector<LevelVertex>& vertices) {
  for (const LevelVertex& v : vertices) {
    if (!IsFinite(v.x) || !IsFinite(v.b)) return false;
  }
  return true;
}

int CheckModelIsFinite(const Scene& scene) {
  int failures = 0;
  const CutSim& sim = *scene.cutSim;
  for (int level = 0; level < sim.numLevels; ++level) {
    if (!AllFinite(sim.levelVertices[level])) {
      std::cout << "ERROR: level " << level << " holds non-finite positions or right-hand sides\n";
      ++failures;
    }
  }
  for (const auto& depth : scene.octree->cells) {
    for (const OctreeCell& cell : depth) {
      if (!cell.leaf) continue;
      for (const Vec3d& c : cell.corners) {
        if (!IsFinite(c)) {
          std::cout << "ERROR: an octree leaf holds a non-finite corner\n";
          return failures + 1;
        }
      }
    }
  }
  return failures;
}

int CheckStructures(const Scene& scene) {
  int failures = 0;
  std::string octree = ValidateOctree(*scene.octree);
  if (!octree.empty()) {
    std::cout << "ERROR: octree invariant broken: " << octree << "\n";
    ++failures;
  }
  std::string hierarchy = ValidateHierarchy(*scene.cutSim, true);
  if (!hierarchy.empty()) {
    std::cout << "ERROR: hierarchy invariant broken: " << hierarchy << "\n";
    ++failures;
  }
  return failures;
}

// The equation system dump holds doubles after its header; the OBJ file text numbers.
int CheckWrittenFiles(Scene& scene, const std::filesystem::path& folder, std::wostream& log) {
  int failures = 0;
  std::wstring dump = WidenPath((folder / "system.bin").string());
  std::wstring obj = WidenPath((folder / "deformed.obj").string());
  if (!WriteEquationSystem(scene, dump, &log) || !SaveDeformedMesh(scene, obj, &log)) {
    std::cout << "ERROR: the equation system or the deformed mesh could not be written\n";
    return 1;
  }
  std::ifstream in(folder / "deformed.obj");
  std::string line;
  int vertices = 0;
  while (std::getline(in, line)) {
    if (line.rfind("v ", 0) != 0) continue;
    std::istringstream fields(line.substr(2));
    fields.imbue(std::locale::classic());
    double x, y, z;
    if (!(fields >> x >> y >> z) || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) {
      std::cout << "ERROR: the deformed mesh holds a non-finite or unreadable vertex: " << line << "\n";
      return failures + 1;
    }
    ++vertices;
  }
  if (vertices == 0) {
    std::cout << "ERROR: the deformed mesh has no vertices\n";
    ++failures;
  }
  return failures;
}

void PrintFigures(const Options& options, const Figures& f, long growthOutsideCuts) {
  std::cout << "scene " << options.scene << ", seed " << options.seed << ", " << options.steps << " steps, "
            << omp_get_max_threads() << " threads\n"
            << "cuts " << f.cuts << ", force drags " << f.drags << ", fixation clicks " << f.toggles
            << ", undone steps " << f.rollbacks << "\n"
            << "time: steps " << f.stepSeconds << " s (" << f.stepSeconds / options.steps * 1e3 << " ms/step), cuts "
            << f.cutSeconds << " s\n"
            << "rss kB: start " << f.rssStart << ", at step " << std::max(1, options.steps / 10) << " "
            << f.rssAtMark << ", end " << f.rssEnd << "; growth after that " << f.rssEnd - f.rssAtMark
            << ", of it across cuts " << f.cutGrowthAfterMark << ", outside cuts " << growthOutsideCuts << " ("
            << 100.0 * growthOutsideCuts / std::max(1L, f.rssAtMark) << "% of the rss then)\n";
}

// The program's log lines that need attention, as narrow text; ERROR lines count as failures.
int ReportLog(const std::wostringstream& log) {
  int errors = 0;
  std::wistringstream lines(log.str());
  for (std::wstring line; std::getline(lines, line);) {
    bool error = line.find(L"ERROR") != std::wstring::npos;
    if (!error && line.find(L"WARNING") == std::wstring::npos) continue;
    errors += error ? 1 : 0;
    std::cout << "log: " << std::string(line.begin(), line.end()) << "\n";
  }
  return errors;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return 1;
  // everything goes to narrow standard output; the model's wide log is collected
  std::wostringstream log;
  Scene scene;
  if (!scene.Load(WidenPath(options.scene), 0, &log)) {
    ReportLog(log);
    std::cout << "ERROR: cannot load scene \"" << options.scene << "\"\n";
    return 1;
  }
  Figures figures;
  Soak soak(options, scene, log);
  soak.Run(figures);

  int failures = 0;
  if (figures.rollbacks > 0) {
    std::cout << "ERROR: " << figures.rollbacks << " steps blew up and were undone, the first at step "
              << figures.firstRollbackStep << "\n";
    ++failures;
  }
  failures += CheckModelIsFinite(scene);
  failures += CheckStructures(scene);
  std::error_code error;
  std::filesystem::path folder = std::filesystem::temp_directory_path() / ("vardel_soak_" + std::to_string(getpid()));
  std::filesystem::create_directories(folder, error);
  failures += CheckWrittenFiles(scene, folder, log);
  std::filesystem::remove_all(folder, error);
  failures += ReportLog(log);

  long growthOutsideCuts = figures.rssEnd - figures.rssAtMark - figures.cutGrowthAfterMark;
  PrintFigures(options, figures, growthOutsideCuts);
  if (options.memoryCheck && growthOutsideCuts > figures.rssAtMark / 10) {
    std::cout << "ERROR: resident memory grew by " << growthOutsideCuts << " kB outside cuts, more than 10%\n";
    ++failures;
  }
  if (failures > 0) return 1;
  std::cout << "SOAK PASSED\n";
  return 0;
}
