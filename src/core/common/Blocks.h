// Plain byte blocks with an injectable failure hook, so that every "out of memory" path of the
// program can be exercised by tests. Blocks are released explicitly by their owner.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

namespace blocks {

// When set and returning true for a request, the allocation fails as if memory ran out.
// Tests set it; the program never does.
extern std::function<bool(size_t bytes)> FailHook;

// A zero-filled block of n bytes (n may be 0, giving a valid 1-byte block), or nullptr.
uint8_t* Allocate(size_t n);
// Cuts p's block (from Allocate) to its first n bytes and returns where it now is; p itself
// when the block cannot move. A decoded sound shorter than its block gives the rest back.
uint8_t* Shrink(uint8_t* p, size_t n);
// Releases p (nullptr is fine) and sets it to nullptr.
void Release(uint8_t*& p);

// Typed helper for arrays of trivially copyable values.
template <typename T>
T* AllocateArray(size_t count) {
    return reinterpret_cast<T*>(Allocate(count * sizeof(T)));
}
template <typename T>
void ReleaseArray(T*& p) {
    uint8_t* raw = reinterpret_cast<uint8_t*>(p);
    Release(raw);
    p = nullptr;
}

}  // namespace blocks
