#pragma once

#include <QThread>
#include <memory>

class Relay;

// A TCP proxy on 127.0.0.1 in front of a server, on a thread of its own (the window's thread
// may be the one waiting on it). Paused, it forwards nothing either way, as a stalled network:
// what is sent waits, and a side that hangs up is passed on only after the pause.
class PausableProxy {
  public:
    explicit PausableProxy(quint16 targetPort);
    ~PausableProxy();
    quint16 port() const { return m_port; }
    // Resumes by itself after limitMs, so that a test whose window did wait ends in a failure
    // instead of waiting for ever.
    void pause(int limitMs = 30000);
    void resume();
    bool paused() const;

  private:
    QThread m_thread;
    Relay* m_relay = nullptr;  // lives on m_thread
    quint16 m_port = 0;
};
