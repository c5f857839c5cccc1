#pragma once
// Runs jobs on the worker pool and hands their results back in submission order on the calling
// thread, with a bound on the jobs and bytes in flight. Callbacks therefore stay on the caller's thread.
#include "engines/zipcore.h"

#include <deque>
#include <functional>
#include <future>
#include <memory>

namespace zipcore {

template <class R>
class OrderedPipeline {
 public:
  OrderedPipeline(WorkerPool &pool, size_t maxJobs, uint64_t maxBytes)
      : pool_(pool), maxJobs_(maxJobs), maxBytes_(maxBytes) {}
  ~OrderedPipeline() { drainQuietly(); }

  // Queues a job; first delivers finished results while the bounds are exceeded.
  void push(std::function<R()> job, uint64_t cost, std::function<void(R &)> done) {
    while (!queue_.empty() && (queue_.size() >= maxJobs_ || bytes_ + cost > maxBytes_)) popFront();
    auto task = std::make_shared<std::packaged_task<R()>>(std::move(job));
    queue_.push_back(Item{task->get_future(), cost, std::move(done)});
    bytes_ += cost;
    pool_.post([task] { (*task)(); });
  }
  void drain() {
    while (!queue_.empty()) popFront();
  }
  // Waits for the jobs in flight without delivering their results (after a cancel or a failure).
  void drainQuietly() {
    for (auto &item : queue_) item.result.wait();
    queue_.clear();
    bytes_ = 0;
  }
  bool empty() const { return queue_.empty(); }

 private:
  struct Item {
    std::future<R> result;
    uint64_t cost;
    std::function<void(R &)> done;
  };
  void popFront() {
    Item item = std::move(queue_.front());
    queue_.pop_front();
    bytes_ -= item.cost;
    R r = item.result.get();
    item.done(r);
  }
  WorkerPool &pool_;
  size_t maxJobs_;
  uint64_t maxBytes_;
  uint64_t bytes_ = 0;
  std::deque<Item> queue_;
};

}  // namespace zipcore
