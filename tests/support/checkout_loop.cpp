// Runs session after session on one machine until it is killed, for the crash test:
//   checkout_loop DATABASE
// Each cycle: start, an extra charge of 1 (journalled), checkout (journalled).
#include <QCoreApplication>
#include <cstdio>

#include "billing/Checkout.h"
#include "billing/ExtraCharge.h"
#include "billing/SessionStart.h"
#include "support/Fixtures.h"

namespace {
class SilentPrompts : public Prompts {
  public:
    void message(const QString&) override {}
    void error(const QString&) override {}
    bool confirm(const QString&) override { return false; }
    void reportUnhandled(const QString&) override {}
};
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) return 2;
    TDataModule1 module;
    module.SetConnectionString(QString::fromLocal8Bit(argv[1]));
    if (!module.Connect()) return 3;
    SilentPrompts prompts;
    SystemClock clock;
    FakeChooser chooser;
    FakeResolver resolver;
    auto settings =
        QSettingsStore::forFile(QString::fromLocal8Bit(argv[1]) + QStringLiteral(".ini"));
    Desk desk(module, DeskSeams{.prompts = &prompts,
                                .clock = &clock,
                                .settings = settings.get(),
                                .chooser = &chooser,
                                .resolver = &resolver,
                                .remotePort = FreeUdpPort(),
                                .localPort = FreeUdpPort(),
                                .deskName = QStringLiteral("crash")});
    const QString machine = QStringLiteral("127.0.0.1");
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        desk.RefreshSessionGrid();
        StartCommand(desk);
        AddExtraCharge(desk, machine, QStringLiteral("1"));
        desk.RefreshSessionGrid();
        CheckOut(desk, machine);
    }
}
