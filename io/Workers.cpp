#include "io/Workers.h"

#include <atomic>

#include "platform/Platform.h"

namespace {

std::atomic<size_t> g_wanted{SIZE_MAX};  // SIZE_MAX: one per core
CWorkers* g_pool = nullptr;
std::mutex g_poolMutex;

size_t DefaultThreads() {
  const size_t cores = std::thread::hardware_concurrency();
  return cores <= 1 ? 0 : std::min(cores, CWorkers::kMaxThreads);
}

// The child of a fork() has none of the pool's threads: it forgets the pool (never
// touching its mutexes, which a thread of the parent may have held) and starts its own.
void ForgetPoolAfterFork() { g_pool = nullptr; }

}  // namespace

CWorkers& CWorkers::Shared() {
  static const bool registered = (plat::AfterForkInChild(ForgetPoolAfterFork), true);
  (void)registered;
  std::lock_guard<std::mutex> lock(g_poolMutex);
  if (!g_pool) {
    const size_t wanted = g_wanted;
    g_pool = new CWorkers(wanted == SIZE_MAX ? DefaultThreads() : std::min(wanted, kMaxThreads));
  }
  return *g_pool;
}

void CWorkers::SetThreads(size_t threads) {
  std::lock_guard<std::mutex> lock(g_poolMutex);
  g_wanted = threads;
  // The old pool is shut down once no job is queued on it any more.
  delete g_pool;
  g_pool = nullptr;
}

CWorkers::CWorkers(size_t threads) {
  for (size_t i = 0; i < threads; ++i) m_threads.emplace_back([this] { Loop(); });
}

CWorkers::~CWorkers() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  for (std::thread& t : m_threads) t.join();
}

void CWorkers::Loop() {
  for (;;) {
    CJob* job;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
      if (m_queue.empty()) return;  // stopping, and nothing left to do
      job = m_queue.front();
      m_queue.pop_front();
    }
    job->m_work();
    // Notified under the lock: the waiter may destroy the job as soon as it sees it done.
    std::lock_guard<std::mutex> lock(job->m_mutex);
    job->m_finished = true;
    job->m_done.notify_all();
  }
}

void CWorkers::CJob::Run(CWorkers& pool, std::function<void()> work) {
  Wait();
  m_busy = true;
  if (pool.m_threads.empty()) {
    work();
    m_finished = true;
    return;
  }
  m_work = std::move(work);
  m_finished = false;
  {
    std::lock_guard<std::mutex> lock(pool.m_mutex);
    pool.m_queue.push_back(this);
  }
  pool.m_wake.notify_one();
}

void CWorkers::CJob::Wait() {
  if (!m_busy) return;
  std::unique_lock<std::mutex> lock(m_mutex);
  m_done.wait(lock, [this] { return m_finished; });
  m_busy = false;
}
