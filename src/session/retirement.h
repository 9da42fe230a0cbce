#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

// Frees large things (a profile of many rules and its compiled matcher) on a thread of its
// own, so taking another profile never holds up the line for the time the old one takes to
// free. Everything handed over is gone when this is.
class Retirement
{
public:
    Retirement() = default;
    Retirement(const Retirement &) = delete;
    Retirement &operator=(const Retirement &) = delete;
    ~Retirement();

    template <class T>
    void retire(std::unique_ptr<T> thing)
    {
        if (thing)
            retire(std::function<void()>([held = std::shared_ptr<T>(std::move(thing))]() mutable {
                held.reset();
            }));
    }

private:
    void retire(std::function<void()> destroy);

    struct Worker
    {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Worker> m_workers;
};
