#pragma once

#include "record_store/Seams.h"

class QFileDialog;
class QMessageBox;
class QWidget;

// The width a window needs for its title not to be cut in the title bar.
int TitleRoom(const QString& title);
// Makes a message box at least that wide.
void FitTitle(QMessageBox& box);

// Real message boxes: exec() runs a nested event loop, so the timers keep ticking.
class MessageBoxPrompts : public Prompts {
  public:
    void message(const QString& text) override;
    void error(const QString& text) override;
    bool confirm(const QString& text) override;
    void reportUnhandled(const QString& text) override;
    std::optional<QString> secret(const QString& text) override;
};

// Qt's own file dialog, not the desktop's, so it speaks Chinese on every computer; its list
// shows dates and folders the Chinese way too.
QFileDialog* MakeFileDialog(QWidget* parent, const QString& title, const QString& filter);

// OpenDialog1: picks an existing database file, or on the first run the place of a new one.
class FileDialogChooser : public FileChooser {
  public:
    std::optional<QString> chooseDatabaseFile() override;
    std::optional<QString> chooseDatabaseLocation() override;
    std::optional<QString> chooseSaveFile(const QString& suggestedName,
                                          const QString& filter) override;
};
