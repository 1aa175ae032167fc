#pragma once

#include <QString>
#include <stdexcept>

// The one base of the console's own errors (a text that does not convert, a failure no
// operation handles, the UDP endpoint's errors): every entry point's guard catches it once
// and shows its text. Header-only, so the channel can share it without the store's engine.
class CafeError : public std::runtime_error {
  public:
    explicit CafeError(const QString& text)
        : std::runtime_error(text.toStdString()), m_text(text) {}
    QString text() const { return m_text; }

  private:
    QString m_text;
};
