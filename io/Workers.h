// The block workers: a small pool of threads, shared by the whole process, that the
// package code hands its block work to (compressing and enciphering, deciphering and
// decoding). Only that work moves: reading and writing files, digests in file order,
// the window, the sinks and the file systems stay on the thread that started the work.
// A single-core machine gets no threads, and every job then runs where it is handed in.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CWorkers {
 public:
  // The pool for this process, started at first use with one thread per core (at most
  // kMaxThreads), none on a single core. After fork() the child starts a fresh one.
  static CWorkers& Shared();
  // Limits the pool to `threads` (0: none, jobs run in place); for tests and benchmarks,
  // between packages only: a reader or writer at work keeps the pool it started with.
  static void SetThreads(size_t threads);

  size_t Threads() const { return m_threads.size(); }
  // How many jobs it pays to keep in flight for the pool to stay busy.
  size_t Depth() const { return m_threads.empty() ? 1 : 2 * m_threads.size() + 2; }

  // One job whose completion can be waited for. Reusable: Run again once done.
  class CJob {
   public:
    CJob() = default;
    CJob(const CJob&) = delete;
    CJob& operator=(const CJob&) = delete;
    ~CJob() { Wait(); }
    // Starts `work` on a worker (or runs it now when there are none).
    void Run(CWorkers& pool, std::function<void()> work);
    void Wait();

   private:
    friend class CWorkers;
    std::function<void()> m_work;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_busy = false;
    bool m_finished = false;
  };

  static constexpr size_t kMaxThreads = 8;

 private:
  explicit CWorkers(size_t threads);
  ~CWorkers();
  void Loop();

  std::vector<std::thread> m_threads;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<CJob*> m_queue;
  bool m_stop = false;
};
