#include "support/alloc_probe.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<int> probes{0};
std::atomic<std::size_t> largestRequest{0};
std::atomic<std::size_t> totalRequested{0};

void* Allocate(std::size_t n) {
  if (probes.load(std::memory_order_relaxed) > 0) {
    totalRequested.fetch_add(n, std::memory_order_relaxed);
    std::size_t seen = largestRequest.load(std::memory_order_relaxed);
    while (n > seen && !largestRequest.compare_exchange_weak(seen, n)) {
    }
  }
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}

}  // namespace

namespace testutil {

AllocationProbe::AllocationProbe() {
  largestRequest = 0;
  totalRequested = 0;
  ++probes;
}
AllocationProbe::~AllocationProbe() { --probes; }
std::size_t AllocationProbe::largest() const { return largestRequest; }
std::size_t AllocationProbe::total() const { return totalRequested; }

}  // namespace testutil

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
// The nothrow forms too (std::stable_sort's buffer comes from one): every allocation then
// comes from malloc and every release goes to free, whichever form made it.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept { return operator new(n, tag); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
