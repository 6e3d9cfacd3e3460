#pragma once
// The frame's render target: an offscreen framebuffer of the client size with
// colour and depth, used in window and headless runs alike. It keeps the last
// frame for screenshots and as the backdrop of modal dialogs.
#include <cstdint>
#include <vector>

class BackBuffer {
 public:
  BackBuffer() = default;
  ~BackBuffer() = default;  // GL objects go with Release, while a context is current
  BackBuffer(const BackBuffer&) = delete;
  BackBuffer& operator=(const BackBuffer&) = delete;

  bool Create(int width, int height);
  void Release();
  bool IsCreated() const { return framebuffer_ != 0; }

  void Bind() const;  // framebuffer and viewport (0, 0, width, height)
  unsigned Framebuffer() const { return framebuffer_; }
  int Width() const { return width_; }
  int Height() const { return height_; }

  // Copies the image to the window's framebuffer (0) of the given size.
  void PresentTo(int windowWidth, int windowHeight) const;
  // RGB rows top-down.
  std::vector<uint8_t> ReadRgb() const;

 private:
  unsigned framebuffer_ = 0;
  unsigned colour_ = 0;
  unsigned depth_ = 0;
  int width_ = 0, height_ = 0;
};
