#include "inspectionpool.h"

#include <QThread>

#include <algorithm>

int InspectionPool::defaultWorkers(int cameras)
{
    return std::max(1, std::min(QThread::idealThreadCount(), cameras));
}

InspectionPool::InspectionPool(int workers)
    : m_workers(std::max(1, workers))
{
    if (m_workers > 1) {
        m_threads.reserve(size_t(m_workers));
        for (int i = 0; i < m_workers; ++i) {
            m_threads.emplace_back([this] { work(); });
        }
    }
}

InspectionPool::~InspectionPool()
{
    stop();
}

void InspectionPool::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads) {
        if (t.joinable()) {
            t.join();
        }
    }
    m_threads.clear();
}

void InspectionPool::run(const std::vector<std::function<void()>>& jobs, std::vector<std::exception_ptr>& errors)
{
    errors.assign(jobs.size(), nullptr);
    if (jobs.empty()) {
        return;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_threads.empty() || m_stopping || jobs.size() == 1) {
        // Inline, in order: what the cycle did before there were workers.
        lock.unlock();
        for (size_t i = 0; i < jobs.size(); ++i) {
            try {
                jobs[i]();
            } catch (...) {
                errors[i] = std::current_exception();
            }
        }
        return;
    }
    m_jobs = &jobs;
    m_errors = &errors;
    m_next = 0;
    m_finished = 0;
    m_wake.notify_all();
    // The workers never give up a batch, not even when stopped meanwhile: a
    // half-judged detect must not be handed back as judged.
    m_done.wait(lock, [&] { return m_finished == jobs.size(); });
    m_jobs = nullptr;
    m_errors = nullptr;
}

void InspectionPool::work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return (m_jobs && m_next < m_jobs->size()) || m_stopping; });
        if (!(m_jobs && m_next < m_jobs->size())) {
            return; // stopping, and nothing left of a batch
        }
        const size_t i = m_next++;
        const std::function<void()>& job = (*m_jobs)[i];
        std::exception_ptr error;
        lock.unlock();
        try {
            job();
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        (*m_errors)[i] = error;
        if (++m_finished == m_jobs->size()) {
            m_done.notify_one();
        }
    }
}
