#pragma once
// What a benchmark's desk runs on: no operator (boxes are counted, questions answered No), no
// files, no names, and a clock the program moves itself.
#include <QDateTime>
#include <memory>
#include <optional>

#include "client_channel/NMUDP.h"
#include "desk/Desk.h"

class SilentPrompts : public Prompts {
  public:
    int boxes = 0;
    QString last;  // the text of the latest box, for the report of an unexpected one
    void message(const QString& text) override { seen(text); }
    void error(const QString& text) override { seen(text); }
    bool confirm(const QString& text) override { return seen(text), false; }
    void reportUnhandled(const QString& text) override { seen(text); }

  private:
    void seen(const QString& text) {
        ++boxes;
        last = text;
    }
};

class SteppingClock : public Clock {
  public:
    explicit SteppingClock(const QDateTime& start) : at(start) {}
    QDateTime at;
    QTime now() const override { return at.time(); }
    QDateTime nowDateTime() const override { return at; }
};

// A desk on dm (the default file in folder) with the seams above, its settings in folder
// naming that file, no fixed local port.
struct BenchDesk {
    BenchDesk(TDataModule1& dm, const QString& folder, const QDateTime& start)
        : clock(start), settings(QSettingsStore::forFile(folder + QStringLiteral("/s.ini"))) {
        (void)settings->writeDatapath(folder + QStringLiteral("/count.db"));
        desk = std::make_unique<Desk>(dm, DeskSeams{.prompts = &prompts,
                                                    .clock = &clock,
                                                    .settings = settings.get(),
                                                    .chooser = &files,
                                                    .resolver = &names,
                                                    .remotePort = 1999,
                                                    .localPort = 0});
    }
    SilentPrompts prompts;
    SteppingClock clock;
    NoFileChooser files;
    NoHostResolver names;
    std::unique_ptr<QSettingsStore> settings;
    std::unique_ptr<Desk> desk;
};
