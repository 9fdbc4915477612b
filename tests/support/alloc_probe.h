// Watches the allocations that go through operator new while a probe is alive, so a test
// can show that a file announcing an absurd count or length is refused without a large
// allocation. The test executable replaces the global operator new and delete (with
// plain malloc and free underneath) to count them.
#pragma once

#include <cstddef>

namespace testutil {

class AllocationProbe {
 public:
  AllocationProbe();   // starts counting from zero
  ~AllocationProbe();  // stops counting
  AllocationProbe(const AllocationProbe&) = delete;
  AllocationProbe& operator=(const AllocationProbe&) = delete;

  // The largest single request, and the sum of all requests, since the probe started.
  std::size_t largest() const;
  std::size_t total() const;
};

}  // namespace testutil
