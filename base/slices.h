#pragma once
// Work cut into slices that run side by side, for the loops over millions of
// vertices and polygons that the writers and the 3D view go through.

#include <algorithm>
#include <cstddef>
#include <functional>
#include <future>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace vesk {

// How many slices are worth cutting work into here: one per core, 1 to 4.
inline std::size_t SliceCount() {
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
}

// Starts task on a thread of its own, or, when no thread can be had, leaves it
// to run on the thread that asks the future for its result.
template <typename Task> auto StartAsync(Task&& task) {
    try {
        return std::async(std::launch::async, task);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, std::forward<Task>(task));
    }
}

// Starts task on a thread of its own; a thread that is not joinable when no
// thread can be had (the caller then does the work itself). The one other
// place besides StartAsync that meets the library's std::system_error.
template <typename Task> std::thread StartThreadOrNone(Task&& task) {
    try {
        return std::thread(std::forward<Task>(task));
    } catch (const std::system_error&) {
        return {};
    }
}

// Runs work(slice, first, last) over 0 .. count-1 cut into `slices` slices
// whose sizes differ by one at most (fewer slices when count is smaller): the
// first on this thread, always, the others on threads of their own, or on
// this one when no thread can be had. Returns when all are done; a slice's
// exception reaches the caller once every slice has ended.
inline void
ForSlices(std::size_t count, std::size_t slices,
          const std::function<void(std::size_t slice, std::size_t first, std::size_t last)>& work) {
    slices = std::clamp<std::size_t>(slices, 1, std::max<std::size_t>(count, 1));
    std::vector<std::future<void>> others;
    for (std::size_t s = 1; s < slices; ++s) {
        const std::size_t first = count * s / slices, last = count * (s + 1) / slices;
        others.push_back(StartAsync([&work, s, first, last] { work(s, first, last); }));
    }
    std::exception_ptr failure;
    try {
        work(0, 0, count / slices);
    } catch (...) {
        failure = std::current_exception();
    }
    for (auto& other : others) {
        try {
            other.get();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace vesk
