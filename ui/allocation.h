// Allocation failures that know their size: the program's operator new (allocation.cpp) throws
// AllocationFailure, a std::bad_alloc that carries the byte count asked for, so that the
// run-time error report can name it however far the failure travelled.
#pragma once

#include <cstddef>
#include <new>

namespace tw {

class AllocationFailure : public std::bad_alloc {
 public:
  explicit AllocationFailure(std::size_t bytes) noexcept : bytes_(bytes) {}
  std::size_t bytes() const noexcept { return bytes_; }

 private:
  std::size_t bytes_;
};

// The byte count of a failed allocation; 0 when the failure does not say (a bad_alloc thrown
// by hand, or by an operator new that a test put in place of the program's).
// Inline on purpose: the frame must not pull allocation.cpp into a program that brings its own
// operator new.
inline std::size_t RequestedBytes(const std::bad_alloc& failure) noexcept {
  const auto* sized = dynamic_cast<const AllocationFailure*>(&failure);
  return sized == nullptr ? 0 : sized->bytes();
}

}  // namespace tw
