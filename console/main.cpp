#include <QApplication>
#include <QMessageBox>
#include <QSysInfo>

#include "client_channel/NMUDP.h"
#include "console/QtSeams.h"
#include "console/TForm1.h"
#include "desk/Desk.h"
#include "record_store/DataModule.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);

    MessageBoxPrompts prompts;
    SystemClock clock;
    FileDialogChooser chooser;
    auto settings = QSettingsStore::forThisMachine();

    TDataModule1 DataModule1;
    if (!DataModule1.Connected()) {
        // The default file must open before any window exists.
        QMessageBox::critical(nullptr, QString::fromUtf8(TForm1::Caption), DataModule1.LastError());
        return 1;
    }

    QtHostResolver resolver;
    std::unique_ptr<Desk> desk;
    try {
        desk = std::make_unique<Desk>(
            DataModule1, DeskSeams{&prompts, &clock, settings.get(), &chooser, &resolver, 1999,
                                   1998, QSysInfo::machineHostName()});
    } catch (const UDPSockError& e) {
        // Without a socket the main window cannot be created.
        QMessageBox::critical(nullptr, QString::fromUtf8(TForm1::Caption), e.text());
        return 1;
    }
    TForm1 Form1(*desk);
    Form1.show();
    return app.exec();
}
