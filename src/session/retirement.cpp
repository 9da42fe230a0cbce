#include "session/retirement.h"

#include <algorithm>

Retirement::~Retirement()
{
    for (Worker &worker : m_workers)
        worker.thread.join();
}

void Retirement::retire(std::function<void()> destroy)
{
    // Threads that have ended are joined here, so the list stays short; one still freeing
    // is left to go on.
    auto ended = std::stable_partition(m_workers.begin(), m_workers.end(),
                                       [](const Worker &worker) { return !worker.done->load(); });
    for (auto it = ended; it != m_workers.end(); ++it)
        it->thread.join();
    m_workers.erase(ended, m_workers.end());
    auto done = std::make_shared<std::atomic<bool>>(false);
    m_workers.push_back(Worker { std::thread([destroy = std::move(destroy), done]() mutable {
                                     destroy();
                                     destroy = nullptr;
                                     done->store(true);
                                 }),
                                 done });
}
