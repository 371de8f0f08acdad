#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A few threads that judge the cameras of one detect side by side. The caller
// hands over one batch of jobs and waits until all of them have ended; the
// jobs touch nothing but their own station, so the cycle stays as it was:
// whatever a job wants of the screens, the records or the board is collected
// and applied afterwards on the GUI thread, in camera order.
//
// With one worker nothing is started and a batch runs inline, in order, on the
// calling thread. stop() (the destructor too) ends and joins the threads; a
// batch after it also runs inline.
class InspectionPool {
public:
    // The workers of a machine with that many cameras: one per core, never
    // more than cameras, at least one.
    static int defaultWorkers(int cameras);

    explicit InspectionPool(int workers);
    ~InspectionPool();
    InspectionPool(const InspectionPool&) = delete;
    InspectionPool& operator=(const InspectionPool&) = delete;

    int workers() const { return m_workers; }

    // Runs every job and returns when the last has ended. A job that throws
    // does not stop the others; its exception is kept in errors[i] (errors has
    // one entry per job, empty when it ended normally). Not reentrant: one
    // caller, one batch at a time.
    void run(const std::vector<std::function<void()>>& jobs, std::vector<std::exception_ptr>& errors);

    // Ends and joins the threads (waits for a batch under way). Idempotent.
    void stop();

private:
    void work();

    int m_workers;
    std::vector<std::thread> m_threads;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    // The batch under way: jobs are taken by index; the batch ends when
    // m_finished reaches its size. All guarded by m_mutex.
    const std::vector<std::function<void()>>* m_jobs = nullptr;
    std::vector<std::exception_ptr>* m_errors = nullptr;
    std::size_t m_next = 0;
    std::size_t m_finished = 0;
    bool m_stopping = false;
};
