#include "render/camera.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kDegrees = 3.14159265358979323846f / 180.0f;
constexpr float kMouseTurnDegreesPerPixel = 0.18f;
constexpr float kWheelRadiusFactor = 0.013333334f;
constexpr float kWheelSpeedFactor = 0.01f;
constexpr float kPickFieldOfViewDegrees = 45.0f;

// Rotation rows (c, s, 0), (-s, c, 0), (0, 0, 1): world to camera about z.
Mat4f AboutZ(float radians) {
  float c = std::cos(radians), s = std::sin(radians);
  Mat4f m = Mat4f::Identity();
  m(0, 0) = c;
  m(0, 1) = s;
  m(1, 0) = -s;
  m(1, 1) = c;
  return m;
}

Mat4f PitchMatrix(float radians) {
  float c = std::cos(radians), s = std::sin(radians);
  Mat4f m = Mat4f::Identity();
  m(0, 0) = c;
  m(0, 2) = -s;
  m(2, 0) = s;
  m(2, 2) = c;
  return m;
}

Mat4f RollMatrix(float radians) {
  float c = std::cos(radians), s = std::sin(radians);
  Mat4f m = Mat4f::Identity();
  m(1, 1) = c;
  m(1, 2) = s;
  m(2, 1) = -s;
  m(2, 2) = c;
  return m;
}

int32_t ButtonBitOf(int32_t button) {
  switch (button) {
    case kButtonLeft: return Camera::kLeftBit;
    case kButtonMiddle: return Camera::kMiddleBit;
    case kButtonRight: return Camera::kRightBit;
    default: return 0;
  }
}

}  // namespace

Camera::Camera() {
  const float base[16] = {0, -1, 0, 0, 0, 0, 1, 0, -1, 0, 0, 0, 0, 0, 0, 1};
  std::copy(base, base + 16, baseRotation.m);
  wheelStep = WheelStepForLines(readWheelLines());
  UpdateView();
}

int32_t Camera::WheelStepForLines(int lines) { return lines > 0 ? 120 / lines : 0; }

int Camera::MovementKeyIndex(int32_t keyCode) {
  switch (keyCode) {
    case kKeyLeft: return kMoveLeft;
    case kKeyRight: return kMoveRight;
    case kKeyUp: return kMoveUp;
    case kKeyDown: return kMoveDown;
    case kKeyPageUp: return kMovePageUp;
    case kKeyPageDown: return kMovePageDown;
    case kKeyShift: return kMoveShift;
    case NumpadKey(4): return kMovePad4;
    case NumpadKey(6): return kMovePad6;
    case NumpadKey(8): return kMovePad8;
    case NumpadKey(2): return kMovePad2;
    case NumpadKey(9): return kMovePad9;
    case NumpadKey(3): return kMovePad3;
    default: return -1;
  }
}

void Camera::SetKey(int index, bool down) {
  if (index < 0 || keys[index] == down) return;
  keys[index] = down;
  keysDown += down ? 1 : -1;
}

void Camera::HandleMessage(const InputMessage& message) {
  switch (message.type) {
    case InputType::KeyDown: SetKey(MovementKeyIndex(message.key), true); break;
    case InputType::KeyUp: SetKey(MovementKeyIndex(message.key), false); break;
    case InputType::ButtonDown:
    case InputType::ButtonDoubleClick:
      SetButtons(buttons | ButtonBitOf(message.button), message.x, message.y);
      break;
    case InputType::ButtonUp: SetButtons(buttons & ~ButtonBitOf(message.button), message.x, message.y); break;
    case InputType::MouseMove:
      if (buttons != 0) {
        mouseX = message.x;
        mouseY = message.y;
      }
      break;
    case InputType::Wheel:
      if (wheelStep != 0) wheelAccumulated += message.wheelDelta;
      break;
    case InputType::FocusLost:
      for (int i = 0; i < kMovementKeyCount; ++i) keys[i] = false;
      keysDown = 0;
      break;
    case InputType::CaptureLost: SetButtons(0, message.x, message.y); break;
    case InputType::SettingsChanged: wheelStep = WheelStepForLines(readWheelLines()); break;
  }
}

void Camera::SetButtons(int32_t newButtons, int32_t x, int32_t y) {
  if (newButtons == buttons) return;
  buttons = newButtons;
  if (buttons == 0) {
    mouseCaptured = false;
    return;
  }
  // a new drag starts from the press point: the current mouse position is set
  // too, or a stale one from an earlier drag would turn the view at once
  mouseDeltaX = mouseDeltaY = 0;
  previousMouseX = mouseX = x;
  previousMouseY = mouseY = y;
  mouseCaptured = true;
}

void Camera::Update(float dt) {
  if (buttons != 0) {
    mouseDeltaX = (mouseX - previousMouseX) / 3.0f + mouseDeltaX * (2.0f / 3.0f);
    mouseDeltaY = (mouseY - previousMouseY) / 3.0f + mouseDeltaY * (2.0f / 3.0f);
    previousMouseX = mouseX;
    previousMouseY = mouseY;
  }
  if (wheelAccumulated != 0) ApplyWheel();
  if (keysDown > 0 || buttons != 0) {
    float v = keys[kMoveShift] ? maxSpeed : speed;
    if (mode == kOrbit)
      MoveOrbit(v, dt);
    else
      MoveFreeFlight(v, dt);
    if (buttons == kLeftBit) TurnByMouse();
    ClampOrientation();
  }
  if (mode == kOrbit) {
    // also after a wheel zoom alone: a radius through the centre would flip the view
    orbitRadius = std::max(orbitRadius, kMinOrbitRadius);
    UpdateOrbitPosition();
  }
  UpdateView();
}

void Camera::ApplyWheel() {
  // whole line steps only: the remainder of the integer division is dropped
  int32_t steps = wheelStep != 0 ? wheelAccumulated / wheelStep : 0;
  if (mode == kOrbit) {
    orbitRadius -= steps * maxSpeed * kWheelRadiusFactor;
  } else {
    speed = std::clamp(speed + steps * maxSpeed * kWheelSpeedFactor, minSpeed, maxSpeed);
  }
  wheelAccumulated = 0;
}

void Camera::MoveFreeFlight(float v, float dt) {
  float d = v * dt;
  if (keys[kMoveUp]) position += forward * d;
  if (keys[kMoveDown]) position -= forward * d;
  if (keys[kMoveRight]) position += right * d;
  if (keys[kMoveLeft]) position -= right * d;
  if (keys[kMovePad6]) position += groundRight * d;
  if (keys[kMovePad4]) position -= groundRight * d;
  if (keys[kMovePad8]) position += groundForward * d;
  if (keys[kMovePad2]) position -= groundForward * d;
  if (keys[kMovePageUp] || keys[kMovePad9]) position.z += d;
  if (keys[kMovePageDown] || keys[kMovePad3]) position.z -= d;
}

void Camera::MoveOrbit(float v, float dt) {
  float d = v * dt;
  float share = v / maxSpeed * dt;
  if (keys[kMoveUp]) orbitRadius -= d;
  if (keys[kMoveDown]) orbitRadius += d;
  if (keys[kMoveRight]) heading += share * 180.0f;
  if (keys[kMoveLeft]) heading -= share * 180.0f;
  if (keys[kMovePageUp] || keys[kMovePad9]) pitch += share * 90.0f;
  if (keys[kMovePageDown] || keys[kMovePad3]) pitch -= share * 90.0f;
}

void Camera::TurnByMouse() {
  heading -= mouseDeltaX * kMouseTurnDegreesPerPixel;
  pitch += mouseDeltaY * kMouseTurnDegreesPerPixel;
}

void Camera::ClampOrientation() {
  heading = std::fmod(heading, 360.0f);
  if (heading < 0) heading += 360.0f;
  // a tiny negative remainder plus 360 rounds to 360 in float
  if (heading >= 360.0f) heading = 0;
  pitch = std::clamp(pitch, -90.0f, 90.0f);
  orbitRadius = std::max(orbitRadius, kMinOrbitRadius);
}

void Camera::SetMode(int32_t newMode) {
  mode = newMode;
  RefreshOrbitAndView();
}

void Camera::SetPosition(const Vec3f& newPosition) {
  position = newPosition;
  RefreshOrbitAndView();
}

void Camera::SetAngles(float newHeading, float newPitch, float newRoll, float newTurn) {
  heading = newHeading;
  pitch = newPitch;
  roll = newRoll;
  turn = newTurn;
  RefreshOrbitAndView();
}

void Camera::RefreshOrbitAndView() {
  if (mode == kOrbit) {
    orbitRadius = std::max(Length(position - orbitCentre), kMinOrbitRadius);
    UpdateOrbitPosition();
  }
  UpdateView();
}

void Camera::UpdateOrbitPosition() {
  float h = heading * kDegrees, p = pitch * kDegrees;
  Vec3f lookDirection(std::cos(h) * std::cos(p), std::sin(h) * std::cos(p), -std::sin(p));
  position = orbitCentre - lookDirection * orbitRadius;
}

void Camera::UpdateView() {
  float h = heading * kDegrees, p = pitch * kDegrees;
  Mat4f orientation = RollMatrix(roll * kDegrees) * PitchMatrix(p) * AboutZ(h);
  view = baseRotation * orientation * AboutZ(turn * kDegrees) * TranslationMatrix(-position);
  forward = Vec3f(orientation(0, 0), orientation(0, 1), orientation(0, 2));
  right = Vec3f(-orientation(1, 0), -orientation(1, 1), -orientation(1, 2));
  groundForward = Vec3f(std::cos(h), std::sin(h), 0);
  groundRight = Vec3f(std::sin(h), -std::cos(h), 0);
}

bool Camera::PickRay(int x, int y, int width, int height, const CameraFrame& frame, Vec3f* origin,
                     Vec3f* direction) {
  if (width <= 0 || height <= 0) return false;
  float fy = 2.0f * std::tan(kPickFieldOfViewDegrees * 0.5f * kDegrees);
  float fx = fy * static_cast<float>(width) / static_cast<float>(height);
  float u = ((x + 0.5f) / width - 0.5f) * fx;
  float v = ((y + 0.5f) / height - 0.5f) * fy;
  *origin = frame.position;
  *direction = Normalize(frame.right * u + frame.forward - frame.up * v);
  return true;
}
