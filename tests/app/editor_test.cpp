#include "app/editor.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "app/recorder.h"
#include "app/scene.h"
#include "support/temp_folder.h"

namespace {

// Object IDs placed at pixels by the test instead of a rendered image.
class FakePicker : public ObjectPicker {
 public:
  uint32_t ReadObjectId(int x, int y) override {
    auto found = ids.find({x, y});
    return found == ids.end() ? 0 : found->second;
  }
  void ReadObjectIds(int x0, int y0, int x1, int y1, std::set<uint32_t>& out) override {
    for (const auto& [pixel, id] : ids) {
      if (pixel.first >= std::min(x0, x1) && pixel.first <= std::max(x0, x1) && pixel.second >= std::min(y0, y1) &&
          pixel.second <= std::max(y0, y1)) {
        out.insert(id);
      }
    }
  }
  std::map<std::pair<int, int>, uint32_t> ids;
};

InputMessage Mouse(InputType type, int x, int y, int button = kButtonRight) {
  InputMessage m;
  m.type = type;
  m.button = button;
  m.x = x;
  m.y = y;
  return m;
}

// A camera at (-2, 0.2, 0.2) looking along +x with z up: right is -y.
Mat4f ViewAlongX(const Vec3f& eye) {
  Mat4f v = Mat4f::Identity();
  const float rows[3][3] = {{0, -1, 0}, {0, 0, 1}, {-1, 0, 0}};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) v(r, c) = rows[r][c];
    v(r, 3) = -(rows[r][0] * eye.x + rows[r][1] * eye.y + rows[r][2] * eye.z);
  }
  return v;
}

struct EditorFixture : ::testing::Test {
  void SetUp() override { LoadBox("NUM_LEVELS: 2\nNUM_EMBEDDED_LEVELS: 1\n"); }

  void LoadBox(const std::string& levels) {
    folder.Write("box.obj",
                 "v 0 0 0\nv 0.8 0 0\nv 0 0.4 0\nv 0.8 0.4 0\nv 0 0 0.4\nv 0.8 0 0.4\nv 0 0.4 0.4\nv 0.8 0.4 0.4\n"
                 "f 1 5 7\nf 1 7 3\nf 2 4 8\nf 2 8 6\nf 1 2 6\nf 1 6 5\nf 3 7 8\nf 3 8 4\nf 1 3 4\nf 1 4 2\n"
                 "f 5 6 8\nf 5 8 7\n");
    folder.Write("scene.txt",
                 "VOXEL_SIZE: 0.1 0.1 0.1\nELASTIC_MODULUS: 10000\nPOISSON_RATIO: 0.3\nDENSITY: 1000\n"
                 "DAMPING_FACTOR: 1\nTIME_STEP: 0.02\nMESH: box.obj\nEDITOR_FORCE_SPHERE_RADIUS: 0.25\n" + levels);
    scene = std::make_unique<Scene>();
    ASSERT_TRUE(scene->Load(folder.WideFile("scene.txt"), 0, nullptr));
    recorder = std::make_unique<Recorder>(scene.get(), [] { return CameraPose(); });
    EditorServices services;
    services.forceLogPath = folder.File("forces.txt");
    services.cuttingSurfacePath = folder.File("cuttingsurface.txt");
    services.chooseFile = [this](const std::wstring& title, const std::wstring&, const std::wstring&, bool,
                                 std::wstring& result) {
      dialogTitles.push_back(title);
      if (dialogAnswer.empty()) return false;
      result = dialogAnswer;
      return true;
    };
    editor = std::make_unique<Editor>(picker, *scene, *recorder, services, &log);
    editor->SetScreenSize(800, 600);
    editor->SetProjection(800.0f / 600.0f, 45.0f);
    editor->SetViewMatrix(ViewAlongX(Vec3f(-2, 0.2f, 0.2f)));
    editor->SetCuttingDepth(0.12f);
  }

  // ID of the handle of the finest vertex at a grid position.
  uint32_t HandleId(int x, int y, int z) {
    int vertex = scene->cutSim->vertexLookup.at({x, y, z});
    int index = scene->cutSim->renderVertexIndex[vertex];
    EXPECT_GE(index, 0);
    return (kKindHandle << 28) | static_cast<uint32_t>(index);
  }
  int Vertex(int x, int y, int z) { return scene->cutSim->vertexLookup.at({x, y, z}); }

  TempFolder folder;
  std::unique_ptr<Scene> scene;
  std::unique_ptr<Recorder> recorder;
  std::unique_ptr<Editor> editor;
  FakePicker picker;
  std::wostringstream log;
  std::vector<std::wstring> dialogTitles;
  std::wstring dialogAnswer;
};

}  // namespace

TEST_F(EditorFixture, ClickTogglesOneFixationAndRectanglesFollowTheMajority) {
  CutSim& sim = *scene->cutSim;
  editor->SetMode(Editor::kModeFixations);
  picker.ids[{10, 10}] = HandleId(0, 0, 0);
  EXPECT_TRUE(editor->HandleMouse(Mouse(InputType::ButtonDown, 10, 10)));
  EXPECT_TRUE(editor->HandleMouse(Mouse(InputType::ButtonUp, 10, 10)));
  EXPECT_TRUE(sim.vertexFixed[0][Vertex(0, 0, 0)]);
  EXPECT_EQ(log.str(), L"Toggled fixation of vertex " + std::to_wstring(Vertex(0, 0, 0)) + L"\n");

  // five handles, two fixed: fixing wins
  picker.ids.clear();
  const int xs[] = {0, 1, 2, 3, 4};
  for (int i = 0; i < 5; ++i) picker.ids[{100 + i, 100}] = HandleId(xs[i], 0, 0);
  sim.SetVertexFixed(0, Vertex(1, 0, 0), true);
  editor->HandleMouse(Mouse(InputType::ButtonDown, 99, 99));
  editor->HandleMouse(Mouse(InputType::ButtonUp, 110, 101));
  for (int x : xs) EXPECT_TRUE(sim.vertexFixed[0][Vertex(x, 0, 0)]);
  // two free and two fixed: releasing wins
  picker.ids.erase({104, 100});
  sim.SetVertexFixed(0, Vertex(2, 0, 0), false);
  sim.SetVertexFixed(0, Vertex(3, 0, 0), false);
  editor->HandleMouse(Mouse(InputType::ButtonDown, 99, 99));
  editor->HandleMouse(Mouse(InputType::ButtonUp, 110, 101));
  for (int x : {0, 1, 2, 3}) EXPECT_FALSE(sim.vertexFixed[0][Vertex(x, 0, 0)]);
  EXPECT_TRUE(sim.vertexFixed[0][Vertex(4, 0, 0)]);
  // fixations reach the simulation level
  int coarseFixed = 0;
  for (int v = 0; v < sim.vertexCount[1]; ++v) coarseFixed += sim.vertexFixed[1][v];
  EXPECT_GT(coarseFixed, 0);
}

TEST_F(EditorFixture, ForceDragTenPixelsRightPullsAlongTheCameraRight) {
  CutSim& sim = *scene->cutSim;
  editor->SetMode(Editor::kModeForce);
  picker.ids[{400, 300}] = HandleId(4, 2, 4);
  ASSERT_TRUE(editor->HandleMouse(Mouse(InputType::ButtonDown, 400, 300)));
  ASSERT_TRUE(editor->HandleMouse(Mouse(InputType::MouseMove, 410, 300)));
  // right is -y for this camera; F = right * 10 px * 0.1 per pixel * 0.1
  EXPECT_NEAR(editor->currentForce().y, -0.1f, 1e-6f);
  EXPECT_NEAR(editor->currentForce().x, 0.0f, 1e-6f);
  Vec3d total;
  double largest = 0;
  int largestVertex = -1;
  for (const auto& [v, w] : editor->affectedVertices()) {
    total += sim.vertexForce[0][v];
    if (w > largest) largest = w, largestVertex = v;
  }
  EXPECT_EQ(largestVertex, Vertex(4, 2, 4));
  EXPECT_GT(editor->affectedVertices().size(), 5u);
  EXPECT_NEAR(total.y, -0.1, 1e-6);
  // while the drag goes on the force reaches the simulation level
  Vec3d coarse;
  for (int v = 0; v < sim.vertexCount[1]; ++v) coarse += sim.vertexForce[1][v];
  EXPECT_NEAR(coarse.y, -0.1, 1e-6);
  EXPECT_TRUE(editor->HandleMouse(Mouse(InputType::ButtonUp, 410, 300)));
  EXPECT_EQ(TempFolder::Read(folder.File("forces.txt")), "0.4 0.2 0.4   0 -0.1 0\n");
}

TEST_F(EditorFixture, PressMissingEverythingIsNotConsumedAndStaleDragsDoNothing) {
  editor->SetMode(Editor::kModeForce);
  EXPECT_FALSE(editor->HandleMouse(Mouse(InputType::ButtonDown, 5, 5)));
  EXPECT_FALSE(editor->HandleMouse(Mouse(InputType::MouseMove, 6, 5)));
  // a fixation drag released in force mode logs no force
  editor->SetMode(Editor::kModeFixations);
  EXPECT_TRUE(editor->HandleMouse(Mouse(InputType::ButtonDown, 5, 5)));
  editor->SetMode(Editor::kModeForce);
  EXPECT_TRUE(editor->HandleMouse(Mouse(InputType::ButtonUp, 50, 5)));
  EXPECT_TRUE(TempFolder::Read(folder.File("forces.txt")).empty());
  // an ID from before a rebuild that no longer names a render vertex is ignored
  picker.ids[{7, 7}] = (kKindHandle << 28) | 0x0FFFFFF;
  EXPECT_FALSE(editor->HandleMouse(Mouse(InputType::ButtonDown, 7, 7)));
}

TEST_F(EditorFixture, VertexDragMovesTheBodyThroughTheSimulationLevel) {
  CutSim& sim = *scene->cutSim;
  editor->SetMode(Editor::kModeVertexDrag);
  int v = Vertex(8, 4, 4);
  Vec3d before = sim.levelVertices[0][v].x;
  picker.ids[{400, 300}] = HandleId(8, 4, 4);
  ASSERT_TRUE(editor->HandleMouse(Mouse(InputType::ButtonDown, 400, 300)));
  ASSERT_TRUE(editor->HandleMouse(Mouse(InputType::MouseMove, 400, 290)));  // 10 px up
  editor->HandleMouse(Mouse(InputType::ButtonUp, 400, 290));
  // the finest vertex follows the simulation level again and has moved up by 10 * 0.001 * 0.1
  sim.CopyVertexPositionsIntoOctree();
  Vec3d after = sim.levelVertices[0][v].x;
  EXPECT_NEAR(after.z - before.z, 0.001, 1e-9);
  EXPECT_NEAR(after.y - before.y, 0.0, 1e-9);
}

TEST_F(EditorFixture, CutStrokeAcrossTheBoxSeversIt) {
  CutSim& sim = *scene->cutSim;
  const int verticesBefore = sim.vertexCount[0];
  editor->SetMode(Editor::kModeCut);
  editor->SetCuttingDepth(1.0f);  // the blade reaches through the whole box
  // a vertical stroke through the middle of the box, starting above it
  ASSERT_TRUE(editor->HandleMouse(Mouse(InputType::ButtonDown, 400, 100)));
  EXPECT_TRUE(editor->pathPoints().empty());
  for (int y = 120; y <= 500; y += 20) editor->HandleMouse(Mouse(InputType::MouseMove, 400, y));
  ASSERT_TRUE(editor->HandleMouse(Mouse(InputType::ButtonUp, 400, 500)));
  const auto& path = editor->pathPoints();
  ASSERT_EQ(path.size(), 21u);
  // the first, waiting point got a path point at the first hit's distance along its own ray
  const Vec3f eye(-2, 0.2f, 0.2f);
  size_t firstHit = 0;
  while (firstHit < path.size() && std::fabs(path[firstHit].x) > 1e-4f) ++firstHit;
  ASSERT_GT(firstHit, 0u);
  ASSERT_LT(firstHit, path.size());
  EXPECT_NEAR(Length(path[0] - eye), Length(path[firstHit] - eye), 1e-5f);
  std::string lines = TempFolder::Read(folder.File("cuttingsurface.txt"));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2 * 20);
  EXPECT_GT(sim.vertexCount[0], verticesBefore);
  // the plane y = 0.2 now separates the body: no level-0 face crosses it
  bool crossing = false;
  for (int c = 0; c < sim.cellCount[0]; ++c) {
    for (int k = 0; k < sim.faceNeighbourCount[0][6 * c + 2]; ++k) {
      int n = sim.faceNeighbours[0][(6 * c + 2) * sim.faceSlotCount[0] + k];
      if (sim.cellPosition[0][c].y == 2 && sim.cellPosition[0][n].y < 2) crossing = true;
    }
  }
  EXPECT_FALSE(crossing);
  // a second release without new points cuts nothing more
  std::string before = TempFolder::Read(folder.File("cuttingsurface.txt"));
  editor->CutAlongToolPath();
  EXPECT_EQ(TempFolder::Read(folder.File("cuttingsurface.txt")), before);
}

TEST_F(EditorFixture, CutFromFileRecordsTheImport) {
  std::string file = folder.Write("cut.txt",
                                  "0.4 -1 -1   0.4 2 -1   0.4 -1 2   1\n0.4 2 -1   0.4 2 2   0.4 -1 2   1\n"
                                  "0.5 -1 -1   0.5 2 -1   0.5 -1 2   1\n0.6 -1 -1   0.6 2 -1   0.6 -1 2   2\n"
                                  "0.6 2 -1   0.6 2 2   0.6 -1 2   2\n");
  const int verticesBefore = scene->cutSim->vertexCount[0];
  dialogAnswer = folder.WideFile("import.rec");
  ASSERT_TRUE(editor->CutFromFile(folder.WideFile("cut.txt")));
  EXPECT_EQ(dialogTitles, std::vector<std::wstring>{L"Save recording"});
  EXPECT_EQ(TempFolder::Read(folder.File("import.rec")).size(), 288u);
  ASSERT_EQ(recorder->cutRecords().size(), 5u);
  EXPECT_NEAR(recorder->cutRecords()[0].time, 0.6, 1e-12);
  EXPECT_NEAR(recorder->cutRecords()[3].time, 1.3, 1e-12);
  EXPECT_FALSE(recorder->IsRecording());
  EXPECT_GT(scene->cutSim->vertexCount[0], verticesBefore);
  (void)file;
}

TEST_F(EditorFixture, MalformedCuttingSurfaceCutsNothing) {
  folder.Write("bad.txt", "0.4 -1 -1   0.4 2 -1   0.4 -1 2   1\n0.4 2 -1   0.4 nan -1   0.4 -1 2   1\n");
  const int verticesBefore = scene->cutSim->vertexCount[0];
  const size_t cutVertices = scene->octree->cutTriangleVertices.size();
  EXPECT_FALSE(editor->CutFromFile(folder.WideFile("bad.txt")));
  EXPECT_EQ(log.str(),
            L"ERROR: Error parsing line 2 of cutting surface file \"" + folder.WideFile("bad.txt") + L"\"\n");
  EXPECT_FALSE(recorder->IsRecording());
  EXPECT_EQ(scene->octree->cutTriangleVertices.size(), cutVertices);
  EXPECT_EQ(scene->cutSim->vertexCount[0], verticesBefore);
  EXPECT_TRUE(dialogTitles.empty());
  log.str(L"");
  EXPECT_FALSE(editor->CutFromFile(folder.WideFile("none.txt")));
  EXPECT_EQ(log.str(), L"ERROR: Cannot open cutting surface file \"" + folder.WideFile("none.txt") + L"\"\n");
}
