#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Ends a statement that waits on a silent network. The server ends a slow statement itself
// (its statement timeout) and says so; when not even that answer comes, the network is gone,
// and the window must not wait for it: after the limit without progress, the watch breaks
// the connection from its own thread, so the waiting call returns at once with an error.
class StatementWatch {
  public:
    explicit StatementWatch(std::chrono::milliseconds limit);
    ~StatementWatch();
    StatementWatch(const StatementWatch&) = delete;
    StatementWatch& operator=(const StatementWatch&) = delete;

    // Watches from now until the scope ends; breaker runs on the watch's thread when the limit
    // passes first. An empty breaker (nothing to break: a file) watches nothing.
    class Scope {
      public:
        Scope() = default;
        Scope(StatementWatch* watch, std::function<void()> breaker);
        ~Scope();
        Scope(Scope&& other) noexcept;
        Scope& operator=(Scope&&) = delete;
        Scope(const Scope&) = delete;
        void Progress();  // rows are coming: the limit counts from here

      private:
        StatementWatch* m_watch = nullptr;
    };

    // How many connections the watch has broken.
    int Broken() const;

  private:
    void Arm(std::function<void()> breaker);
    void Progress();
    void Disarm();
    void Run();

    const std::chrono::milliseconds m_limit;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::function<void()> m_breaker;  // set while armed
    std::chrono::steady_clock::time_point m_deadline;
    int m_depth = 0;
    int m_broken = 0;
    bool m_stop = false;
    std::thread m_thread;  // started at the first watched statement
};
