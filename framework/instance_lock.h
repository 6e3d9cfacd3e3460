#pragma once
// Detects a second running instance: an exclusive advisory lock on a file that
// lives as long as the process keeps it open.
#include <string>

class InstanceLock {
 public:
  enum class Result { Acquired, HeldElsewhere, Unavailable };

  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Opens (creating) folder/vardel.lock and tries to lock it without waiting.
  Result Acquire(const std::string& folder);
  void Release();

 private:
  int fd_ = -1;
};
