#pragma once

#include <QDateTime>
#include <QString>
#include <QTime>
#include <memory>
#include <optional>

class QSettings;

// The operator's side of every message box. The real one runs QMessageBox::exec(), whose
// nested event loop keeps the timers ticking; tests record the boxes and answer from a script.
class Prompts {
  public:
    virtual ~Prompts() = default;
    virtual void message(const QString& text) = 0;          // one OK button, the program's title
    virtual void error(const QString& text) = 0;            // title "Error", one "Yes" button
    virtual bool confirm(const QString& text) = 0;          // "Confirm", Yes/No, Yes default
    virtual void reportUnhandled(const QString& text) = 0;  // an error no operation handles
    // The owner's password asked for on the spot: title "店主授权", the text, a field that never
    // echoes; nullopt when cancelled. One that cannot ask refuses.
    virtual std::optional<QString> secret(const QString& text) {
        (void)text;
        return std::nullopt;
    }
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual QTime now() const = 0;
    // The date and time of day read at once, so a read at midnight cannot mix two days.
    virtual QDateTime nowDateTime() const = 0;
};

class SystemClock : public Clock {
  public:
    QTime now() const override { return QTime::currentTime(); }
    QDateTime nowDateTime() const override { return QDateTime::currentDateTime(); }
};

// The open-file dialog for the database file, and the save dialog of exports; nullopt when
// the operator cancels.
class FileChooser {
  public:
    virtual ~FileChooser() = default;
    virtual std::optional<QString> chooseDatabaseFile() = 0;
    // The first run's question: an existing database, or the name of a new one to be made.
    virtual std::optional<QString> chooseDatabaseLocation() { return chooseDatabaseFile(); }
    // filter as Qt writes it, e.g. "CSV 文件 (*.csv)"
    virtual std::optional<QString> chooseSaveFile(const QString& suggestedName,
                                                  const QString& filter) {
        (void)suggestedName;
        (void)filter;
        return std::nullopt;
    }
};

// For a program without an operator (a tool, a benchmark): every dialog is cancelled.
class NoFileChooser : public FileChooser {
  public:
    std::optional<QString> chooseDatabaseFile() override { return std::nullopt; }
};

// The one persistent setting: value `datapath` under the key "\software\microsoft\windows\data".
class SettingStore {
  public:
    virtual ~SettingStore() = default;
    virtual bool keyExists() = 0;
    virtual QString readDatapath() = 0;  // a missing value reads as empty text
    // Creates the key; false when the store refused the write (no administrator rights).
    virtual bool writeDatapath(const QString& path) = 0;
    virtual QString LastWriteError() const { return {}; }
    // The console's own values (kept apart from the key above, whose mere presence means the
    // first run is over).
    virtual QString value(const QString& key) = 0;
    virtual void setValue(const QString& key, const QString& value) = 0;
};

// QSettings-backed store: on Windows the HKEY_LOCAL_MACHINE key itself; elsewhere the same key
// path as a group of the given settings file.
class QSettingsStore : public SettingStore {
  public:
    explicit QSettingsStore(std::unique_ptr<QSettings> settings);
    ~QSettingsStore() override;
    static std::unique_ptr<QSettingsStore> forThisMachine();
    static std::unique_ptr<QSettingsStore> forFile(const QString& iniPath);
    // The same with a second file that takes the datapath when the first refuses it (on
    // Windows: the user's registry when HKEY_LOCAL_MACHINE needs an administrator).
    static std::unique_ptr<QSettingsStore> forFiles(const QString& iniPath,
                                                    const QString& fallbackIniPath);

    bool keyExists() override;
    QString readDatapath() override;
    bool writeDatapath(const QString& path) override;
    QString LastWriteError() const override { return m_writeError; }
    QString value(const QString& key) override;
    void setValue(const QString& key, const QString& value) override;

  private:
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<QSettings> m_own;       // the console's values; null: a group of m_settings
    std::unique_ptr<QSettings> m_fallback;  // takes the datapath when m_settings refuses it
    bool HasKey(QSettings& settings);
    QSettings& Holding();  // the store that holds the datapath
    QString m_group;
    QString m_writeError;
};
