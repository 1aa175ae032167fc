#pragma once

#include "record_store/Seams.h"

class QWidget;

// Real message boxes: exec() runs a nested event loop, so the timers keep ticking.
class MessageBoxPrompts : public Prompts {
  public:
    void message(const QString& text) override;
    void error(const QString& text) override;
    bool confirm(const QString& text) override;
    void reportUnhandled(const QString& text) override;
    std::optional<QString> secret(const QString& text) override;
};

// OpenDialog1: picks an existing database file.
class FileDialogChooser : public FileChooser {
  public:
    std::optional<QString> chooseDatabaseFile() override;
    std::optional<QString> chooseSaveFile(const QString& suggestedName,
                                          const QString& filter) override;
};
