// Bounded parallel work for the board load: a few slow requests at a time instead of one after
// another, without ever opening more than a fixed number of connections at once.
#pragma once

#include <cstddef>
#include <functional>

namespace arcade {

// Runs work(i) once for every i below `count` on at most `width` threads, the calling thread
// among them, and returns when all are done. Indices are handed out in increasing order. A width
// of 1 (or less) runs everything in order on the calling thread. When no further thread can be
// started the ones that run share the work, so all of it is still done. `work` must not throw.
void run_bounded_parallel(std::size_t count, int width,
                          const std::function<void(std::size_t)>& work);

}  // namespace arcade
