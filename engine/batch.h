#pragma once

// Many files at once. The planner (batch_plan.h) turns the paths named and the settings
// into files, each with its source and its output; the walk (batch_walk.h) finds them;
// each is converted on its own (batch_file.h); and the scheduler here works them off on
// a few threads, a group at a time, telling each result in the walk's order.

#include <cstddef>
#include <functional>
#include <stop_token>
#include <vector>

#include "batch_file.h"
#include "batch_plan.h"
#include "batch_walk.h"
#include "platform/file_system.h"

namespace tarnwhistle {

// Told of each file the plan hands out with its result, in the plan's order, one call at
// a time and outside every lock of the batch.
using BatchObserver = std::function<void(const BatchFile& file, const Result& result)>;

// How many threads a batch of `settings` runs on, from the number of cores. One a core,
// which on two cores halves the time of many small files, where a third thread measured
// no faster, the work being mostly the kernel's. Twice that in place: there each thread
// spends much of its time waiting for the disk, to flush its group and to give back each
// old file's blocks, and while two wait, two convert (10,000 files in place on two cores:
// 0.90 s on four threads, 1.22 s on two; a converted copy of them no faster on four).
unsigned BatchWorkers(const BatchSettings& settings);

// Converts the files of `plan`, asked for kBatchChunk at a time, on `workers` threads:
// at most about twice that many files are held at once, and a failure in one file never stops
// the others. The plan is walked by one thread at a time, outside the lock the threads
// share. Once `stop` is requested, the file in progress is left as it was and no other is
// begun; the files already handed out and the one after them are told NotDone, and no
// more are looked for, so that `not_done` is not a full count then, but is 0 exactly
// when no file was left undone.
constexpr std::size_t kBatchChunk = 256;
BatchTotals RunBatch(platform::FileSystem& fs, BatchPlan& plan, const BatchObserver& observer,
                     const std::stop_token& stop = {}, unsigned workers = 2, const BatchProgress& progress = {});

// The same for files already collected and planned (the batch window's rows), told by
// their index.
BatchTotals RunBatch(platform::FileSystem& fs, const std::vector<BatchFile>& files, const BatchSettings& settings,
                     const std::function<void(std::size_t index, const Result& result)>& observer,
                     const std::stop_token& stop = {}, unsigned workers = 2, const BatchProgress& progress = {});

}  // namespace tarnwhistle
