#include "render/camera.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr float kDegrees = 3.14159265358979323846f / 180.0f;

InputMessage Key(InputType type, int32_t key) {
  InputMessage m;
  m.type = type;
  m.key = key;
  return m;
}

InputMessage Mouse(InputType type, int32_t button, int32_t x, int32_t y) {
  InputMessage m;
  m.type = type;
  m.button = button;
  m.x = x;
  m.y = y;
  return m;
}

InputMessage Wheel(int32_t delta) {
  InputMessage m;
  m.type = InputType::Wheel;
  m.wheelDelta = delta;
  return m;
}

void ExpectNear(const Vec3f& a, const Vec3f& b, float tolerance) {
  EXPECT_NEAR(a.x, b.x, tolerance);
  EXPECT_NEAR(a.y, b.y, tolerance);
  EXPECT_NEAR(a.z, b.z, tolerance);
}

// Drags with the left button by (dx, dy) pixels over one update.
void Drag(Camera& camera, int dx, int dy) {
  camera.HandleMessage(Mouse(InputType::ButtonDown, kButtonLeft, 100, 100));
  camera.HandleMessage(Mouse(InputType::MouseMove, kButtonLeft, 100 + dx, 100 + dy));
  camera.Update(0.01f);
  camera.HandleMessage(Mouse(InputType::ButtonUp, kButtonLeft, 100 + dx, 100 + dy));
}

}  // namespace

TEST(Camera, StartsInOrbitModeAndTheFirstUpdateRaisesTheRadius) {
  Camera camera;
  EXPECT_EQ(camera.mode, Camera::kOrbit);
  EXPECT_FLOAT_EQ(camera.speed, 0.21f);
  EXPECT_EQ(camera.wheelStep, 40);
  camera.Update(0.016f);
  EXPECT_FLOAT_EQ(camera.orbitRadius, 0.1f);
  // heading 0, pitch 0: the eye sits on -x of the centre looking along +x
  ExpectNear(camera.position, Vec3f(-0.1f, 0, 0), 1e-6f);
  ExpectNear(camera.forward, Vec3f(1, 0, 0), 1e-6f);
  ExpectNear(camera.right, Vec3f(0, -1, 0), 1e-6f);
}

TEST(Camera, OrbitEyeLiesBehindAndAboveForPositivePitch) {
  Camera camera;
  camera.orbitCentre = Vec3f(1, 2, 3);
  camera.orbitRadius = 2;
  camera.pitch = 30;
  camera.UpdateOrbitPosition();
  camera.UpdateView();
  ExpectNear(camera.position, Vec3f(1 - 2 * std::cos(30 * kDegrees), 2, 3 + 2 * std::sin(30 * kDegrees)), 1e-5f);
  // the view puts the centre straight ahead at the orbit distance
  ExpectNear(TransformPoint(camera.view, camera.orbitCentre), Vec3f(0, 0, -2), 1e-5f);
  ExpectNear(camera.forward, Normalize(camera.orbitCentre - camera.position), 1e-5f);
}

TEST(Camera, ViewMatrixMatchesTheDirectionVectorsForEveryAngle) {
  Camera camera;
  camera.mode = Camera::kFreeFlight;
  camera.position = Vec3f(0.5f, -1, 2);
  for (float heading : {0.0f, 37.0f, 90.0f, 200.0f}) {
    for (float pitch : {-60.0f, 0.0f, 45.0f}) {
      camera.heading = heading;
      camera.pitch = pitch;
      camera.UpdateView();
      // forward goes to -z and right to +x of the view space; the eye to the origin
      ExpectNear(TransformPoint(camera.view, camera.position), Vec3f(0, 0, 0), 1e-5f);
      ExpectNear(TransformDirection(camera.view, camera.forward), Vec3f(0, 0, -1), 1e-5f);
      ExpectNear(TransformDirection(camera.view, camera.right), Vec3f(1, 0, 0), 1e-5f);
      float h = heading * kDegrees, p = pitch * kDegrees;
      ExpectNear(camera.forward, Vec3f(std::cos(h) * std::cos(p), std::sin(h) * std::cos(p), -std::sin(p)), 1e-5f);
      ExpectNear(camera.groundRight, Vec3f(std::sin(h), -std::cos(h), 0), 1e-6f);
    }
  }
}

TEST(Camera, DragWrapsHeadingAndClampsPitch) {
  Camera camera;
  Drag(camera, 0, 0);  // a press without motion turns nothing
  EXPECT_FLOAT_EQ(camera.heading, 0);
  // a drag to the right turns the heading down: 0 - 10 wraps to 350
  camera.HandleMessage(Mouse(InputType::ButtonDown, kButtonLeft, 100, 100));
  camera.HandleMessage(Mouse(InputType::MouseMove, kButtonLeft, 100 + 167, 100 + 1583));
  camera.Update(0.01f);
  // smoothed delta is a third of the motion: 167 / 3 * 0.18 = 10.02 degrees, 1583 / 3 * 0.18 = 95 degrees
  EXPECT_NEAR(camera.heading, 360 - 10.02f, 1e-3f);
  EXPECT_FLOAT_EQ(camera.pitch, 90);
  EXPECT_GE(camera.heading, 0);
  EXPECT_LT(camera.heading, 360);
}

TEST(Camera, NewPressDoesNotReuseTheLastDragPosition) {
  Camera camera;
  camera.HandleMessage(Mouse(InputType::ButtonDown, kButtonLeft, 100, 100));
  camera.HandleMessage(Mouse(InputType::MouseMove, kButtonLeft, 400, 300));
  camera.HandleMessage(Mouse(InputType::ButtonUp, kButtonLeft, 400, 300));
  camera.heading = 45;
  camera.pitch = 10;
  // pressing elsewhere and holding still must leave the view where it is
  camera.HandleMessage(Mouse(InputType::ButtonDown, kButtonLeft, 20, 20));
  EXPECT_TRUE(camera.mouseCaptured);
  camera.Update(0.016f);
  camera.Update(0.016f);
  EXPECT_FLOAT_EQ(camera.heading, 45);
  EXPECT_FLOAT_EQ(camera.pitch, 10);
  camera.HandleMessage(Mouse(InputType::ButtonUp, kButtonLeft, 20, 20));
  EXPECT_FALSE(camera.mouseCaptured);
}

TEST(Camera, OrbitRadiusNeverDropsBelowItsMinimum) {
  Camera camera;
  camera.orbitRadius = 0.5f;
  camera.HandleMessage(Key(InputType::KeyDown, kKeyUp));
  for (int i = 0; i < 3; ++i) camera.Update(1.0f);
  EXPECT_FLOAT_EQ(camera.orbitRadius, 0.1f);
  camera.HandleMessage(Key(InputType::KeyUp, kKeyUp));

  // wheel zoom alone: 20 notches towards the centre from radius 0.15
  camera.orbitRadius = 0.15f;
  camera.HandleMessage(Wheel(20 * 120));
  camera.Update(0.016f);
  EXPECT_FLOAT_EQ(camera.orbitRadius, 0.1f);
  // the eye stays on the near side of the centre
  EXPECT_LT(camera.position.x, camera.orbitCentre.x);
  EXPECT_EQ(camera.wheelAccumulated, 0);

  // one notch out is three line steps of maxSpeed * 0.013333334
  camera.HandleMessage(Wheel(-120));
  camera.Update(0.016f);
  EXPECT_NEAR(camera.orbitRadius, 0.1f + 3 * 0.013333334f, 1e-6f);
}

TEST(Camera, FreeFlightSpeedFollowsTheWheelAndShiftUsesMaxSpeed) {
  Camera camera;
  camera.mode = Camera::kFreeFlight;
  camera.UpdateView();
  camera.HandleMessage(Wheel(-120 * 10));  // 30 steps of -0.01: clamped at minSpeed
  camera.Update(0);
  EXPECT_FLOAT_EQ(camera.speed, camera.minSpeed);

  camera.HandleMessage(Key(InputType::KeyDown, kKeyUp));
  camera.Update(1.0f);
  ExpectNear(camera.position, Vec3f(camera.minSpeed, 0, 0), 1e-6f);

  camera.HandleMessage(Key(InputType::KeyDown, kKeyShift));
  camera.Update(1.0f);
  ExpectNear(camera.position, Vec3f(camera.minSpeed + camera.maxSpeed, 0, 0), 1e-5f);

  // page up climbs straight up whatever the view
  camera.HandleMessage(Key(InputType::KeyUp, kKeyUp));
  camera.HandleMessage(Key(InputType::KeyDown, kKeyPageUp));
  camera.Update(0.5f);
  EXPECT_NEAR(camera.position.z, 0.5f * camera.maxSpeed, 1e-6f);
}

TEST(Camera, KeysAreCountedOnceAndReleasedOnFocusLoss) {
  Camera camera;
  camera.HandleMessage(Key(InputType::KeyDown, kKeyLeft));
  camera.HandleMessage(Key(InputType::KeyDown, kKeyLeft));  // auto-repeat
  camera.HandleMessage(Key(InputType::KeyDown, NumpadKey(9)));
  camera.HandleMessage(Key(InputType::KeyDown, 'W'));  // not a movement key
  EXPECT_EQ(camera.keysDown, 2);
  camera.HandleMessage(Key(InputType::KeyUp, kKeyRight));  // never pressed
  EXPECT_EQ(camera.keysDown, 2);
  InputMessage focus;
  focus.type = InputType::FocusLost;
  camera.HandleMessage(focus);
  EXPECT_EQ(camera.keysDown, 0);
  EXPECT_FALSE(camera.keys[Camera::kMoveLeft]);
  float heading = camera.heading;
  camera.Update(1.0f);
  EXPECT_FLOAT_EQ(camera.heading, heading);
}

TEST(Camera, WheelSettingOfZeroLinesIgnoresTheWheel) {
  Camera camera;
  camera.readWheelLines = [] { return 0; };
  InputMessage settings;
  settings.type = InputType::SettingsChanged;
  camera.HandleMessage(settings);
  EXPECT_EQ(camera.wheelStep, 0);
  camera.orbitRadius = 1;
  camera.HandleMessage(Wheel(360));
  EXPECT_EQ(camera.wheelAccumulated, 0);
  camera.Update(0.016f);
  EXPECT_FLOAT_EQ(camera.orbitRadius, 1);
}

TEST(Camera, SettingPositionInOrbitModeTakesItsDistanceAsRadius) {
  Camera camera;
  camera.orbitCentre = Vec3f(1, 0, 0);
  camera.SetPosition(Vec3f(-2, 0, 4));
  EXPECT_FLOAT_EQ(camera.orbitRadius, 5);
  // the eye moves onto the orbit at the current angles
  ExpectNear(camera.position, Vec3f(-4, 0, 0), 1e-5f);
  camera.SetMode(Camera::kFreeFlight);
  camera.SetPosition(Vec3f(3, 3, 3));
  ExpectNear(camera.position, Vec3f(3, 3, 3), 0);
}

TEST(Camera, PickRayThroughEveryPixelProjectsBackOntoIt) {
  Camera camera;
  camera.mode = Camera::kFreeFlight;
  camera.position = Vec3f(0.3f, -0.2f, 0.5f);
  camera.heading = 30;
  camera.pitch = 20;
  camera.turn = 10;  // turn is in the view only, the pick frame is read from it
  camera.UpdateView();
  CameraFrame frame = CameraFrameFromView(camera.view);
  const int width = 800, height = 600;
  Mat4f projection = PerspectiveFovRH(45 * kDegrees, float(width) / height, 0.001f, 100);
  Vec3f origin, direction;
  // the centre pixel looks straight ahead
  ASSERT_TRUE(Camera::PickRay(width / 2 - 1, height / 2 - 1, width, height, frame, &origin, &direction));
  ExpectNear(origin, camera.position, 1e-6f);
  ExpectNear(direction, frame.forward, 2e-3f);
  for (auto [x, y] : {std::pair{0, 0}, std::pair{799, 0}, std::pair{123, 456}, std::pair{799, 599}}) {
    ASSERT_TRUE(Camera::PickRay(x, y, width, height, frame, &origin, &direction));
    EXPECT_NEAR(Length(direction), 1, 1e-6f);
    Vec3f p = origin + direction * 3.0f;
    float in[4] = {p.x, p.y, p.z, 1}, clip[4];
    TransformVector4(projection * camera.view, in, clip);
    float px = (clip[0] / clip[3] * 0.5f + 0.5f) * width, py = (0.5f - clip[1] / clip[3] * 0.5f) * height;
    EXPECT_NEAR(px, x + 0.5f, 1e-2f);
    EXPECT_NEAR(py, y + 0.5f, 1e-2f);
  }
  EXPECT_FALSE(Camera::PickRay(0, 0, 0, 0, frame, &origin, &direction));
}
