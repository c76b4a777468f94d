#pragma once
// A stand-in administrator that keeps every question waiting until the test
// lets it answer, so a request stays in flight meanwhile; then it answers as
// TestAdministrator does. Counts the questions as they arrive.
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "TestAdministrator.h"

class HeldAdministrator : public TestAdministrator {
public:
    using TestAdministrator::TestAdministrator;
    ~HeldAdministrator() override { release(); }

    OSStatus authorize(const AuthorizationRights& rights, const AuthorizationEnvironment& environment,
                       AuthorizationFlags flags) override
    {
        ++asked;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_released.wait(lock, [this] { return m_open; });
        return TestAdministrator::authorize(rights, environment, flags);
    }
    void release()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_open = true;
        }
        m_released.notify_all();
    }

    std::atomic<int> asked{0};

private:
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_open = false;
};
