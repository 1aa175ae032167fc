#include "record_store/StatementWatch.h"

StatementWatch::StatementWatch(std::chrono::milliseconds limit) : m_limit(limit) {}

StatementWatch::~StatementWatch() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

int StatementWatch::Broken() const {
    std::lock_guard lock(m_mutex);
    return m_broken;
}

void StatementWatch::Arm(std::function<void()> breaker) {
    {
        std::lock_guard lock(m_mutex);
        if (m_depth++ > 0) return;  // a statement inside a watched one: the outer one counts
        m_breaker = std::move(breaker);
        m_deadline = std::chrono::steady_clock::now() + m_limit;
        if (!m_thread.joinable()) m_thread = std::thread([this] { Run(); });
    }
    m_changed.notify_all();
}

void StatementWatch::Progress() {
    std::lock_guard lock(m_mutex);
    m_deadline = std::chrono::steady_clock::now() + m_limit;
}

void StatementWatch::Disarm() {
    // Under the lock: once this returns, the breaker cannot run for the statement that ended.
    std::lock_guard lock(m_mutex);
    if (--m_depth == 0) m_breaker = nullptr;
}

void StatementWatch::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        if (!m_breaker) {
            m_changed.wait(lock);
            continue;
        }
        if (m_changed.wait_until(lock, m_deadline) == std::cv_status::timeout && m_breaker &&
            std::chrono::steady_clock::now() >= m_deadline) {
            m_breaker();
            m_breaker = nullptr;
            ++m_broken;
        }
    }
}

StatementWatch::Scope::Scope(StatementWatch* watch, std::function<void()> breaker) {
    if (!watch || !breaker) return;
    m_watch = watch;
    m_watch->Arm(std::move(breaker));
}

StatementWatch::Scope::Scope(Scope&& other) noexcept : m_watch(other.m_watch) {
    other.m_watch = nullptr;
}

StatementWatch::Scope::~Scope() {
    if (m_watch) m_watch->Disarm();
}

void StatementWatch::Scope::Progress() {
    if (m_watch) m_watch->Progress();
}
