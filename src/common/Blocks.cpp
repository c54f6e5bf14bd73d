#include "common/Blocks.h"

#include <cstdlib>
#include <new>

namespace blocks {

std::function<bool(size_t)> FailHook;

uint8_t* Allocate(size_t n) {
    if (FailHook && FailHook(n)) return nullptr;
    return static_cast<uint8_t*>(std::calloc(n == 0 ? 1 : n, 1));
}

void Release(uint8_t*& p) {
    std::free(p);
    p = nullptr;
}

}  // namespace blocks
