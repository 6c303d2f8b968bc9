#pragma once
// Work spread over threads: the items of a job are numbered, and the
// threads take the next number until none is left, so the work done for
// each item, and so the result, does not depend on how many threads there
// are. The calling thread works too, and it alone reports progress.
#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The number of threads `requested` stands for: 0 for every core.
unsigned ThreadCount(unsigned requested);

// Runs work(i) for every i in [0, count) on up to `threads` threads (0:
// every core). After each item the calling thread finishes, it calls
// report(items finished so far) when report is set. The first exception an
// item raises is raised again here, once every thread has stopped; items not
// yet started are then skipped.
void ParallelFor(size_t count, unsigned threads, const std::function<void(size_t)>& work,
                 const std::function<void(size_t)>& report = {});
