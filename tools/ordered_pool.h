// Work on many items spread over worker threads, with the results handed on in the items'
// order: what the analyser needs to analyse many files at once and still print each file's
// lines together and in the order the files were given.
#pragma once
#include <cstddef>
#include <functional>
#include <string>

namespace cli {

// Runs produce(i) for i = 0 .. count - 1 on `threads` worker threads (at least 1) and calls
// consume(i, result) on the calling thread for every i in increasing order, as soon as result i
// and all before it are there. At most `ahead` (at least 1) results wait to be consumed or are
// being produced at any time, so memory stays bounded however many items there are. produce
// must not throw; consume runs while the workers go on.
void RunInOrder(size_t count, unsigned threads, size_t ahead,
                const std::function<std::string(size_t)>& produce,
                const std::function<void(size_t, std::string&&)>& consume);

}  // namespace cli
