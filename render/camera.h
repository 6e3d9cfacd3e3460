#pragma once
// The viewer: turns keyboard, mouse and wheel input into the view matrix, in
// free flight (arrow keys and keypad move, a left drag turns) or in orbit
// around a centre. The world is z-up; heading turns about z, pitch tilts the
// view (positive pitch looks down). Needs no window: the framework hands it
// InputMessage records and the elapsed time.
#include <cstdint>
#include <functional>

#include "app/input.h"
#include "geometry/matrix4.h"
#include "geometry/vec.h"

class Camera {
 public:
  enum Mode : int32_t { kFreeFlight = 0, kOrbit = 1 };
  // movement keys, in the order of the keys array
  enum MovementKey : int {
    kMoveLeft, kMoveRight, kMoveUp, kMoveDown, kMovePageUp, kMovePageDown, kMoveShift,
    kMovePad4, kMovePad6, kMovePad8, kMovePad2, kMovePad9, kMovePad3, kMovementKeyCount
  };
  // mouse button bits
  enum ButtonBit : int { kLeftBit = 1, kMiddleBit = 2, kRightBit = 4 };

  Camera();

  void HandleMessage(const InputMessage& message);
  // Movement and clamping for one frame of dt seconds, then the orbit position
  // (orbit mode) and the view.
  void Update(float dt);
  // Eye position on the sphere of orbitRadius around orbitCentre, looking at it.
  void UpdateOrbitPosition();
  // Direction vectors and view matrix from the position and the angles.
  void UpdateView();

  // Direct settings of the keyboard handler and the start-up. In orbit mode each
  // makes the radius the distance from the position to the centre and moves
  // the eye onto the orbit; every one ends with UpdateView.
  void SetMode(int32_t newMode);
  void SetPosition(const Vec3f& newPosition);
  void SetAngles(float newHeading, float newPitch, float newRoll, float newTurn);

  // Ray through the centre of pixel (x, y) of a width x height window for the
  // eye frame of the view (45 degree vertical field of view). False for an
  // empty window.
  static bool PickRay(int x, int y, int width, int height, const CameraFrame& frame, Vec3f* origin,
                      Vec3f* direction);
  // wheel units per line step for a platform setting of `lines` per notch
  static int32_t WheelStepForLines(int lines);

  int32_t mode = kOrbit;
  Vec3f position;
  float heading = 0, pitch = 0, roll = 0, turn = 0;  // degrees; heading in [0, 360), pitch in [-90, 90]
  float minSpeed = 0.05f, maxSpeed = 1.0f;           // world units per second
  float speed = (0.05f + 1.0f) * 0.2f;                // free-flight speed
  Vec3f orbitCentre;
  float orbitRadius = 0;  // raised to kMinOrbitRadius by the first update
  Mat4f baseRotation;     // camera axes (x forward, y left, z up) to viewing axes (-z forward, x right, y up)
  Vec3f forward, right, groundForward, groundRight;  // derived by UpdateView
  Mat4f view;                                        // derived by UpdateView

  bool keys[kMovementKeyCount] = {};
  int keysDown = 0;
  int32_t buttons = 0;   // ButtonBit set
  bool mouseCaptured = false;  // the framework keeps reporting motion while set
  int32_t mouseX = 0, mouseY = 0;
  int32_t previousMouseX = 0, previousMouseY = 0;
  float mouseDeltaX = 0, mouseDeltaY = 0;  // smoothed mouse motion in pixels per update
  int32_t wheelAccumulated = 0;            // wheel delta since the last update
  int32_t wheelStep = 0;                   // 120 / lines per notch, 0 when the setting is 0

  // Returns the platform's wheel lines per notch; read at construction and on
  // a settings change.
  std::function<int()> readWheelLines = [] { return 3; };

  static constexpr float kMinOrbitRadius = 0.1f;

 private:
  static int MovementKeyIndex(int32_t keyCode);
  void SetKey(int index, bool down);
  void SetButtons(int32_t newButtons, int32_t x, int32_t y);
  void ApplyWheel();
  void MoveFreeFlight(float v, float dt);
  void MoveOrbit(float v, float dt);
  void TurnByMouse();
  void ClampOrientation();
  void RefreshOrbitAndView();
};
