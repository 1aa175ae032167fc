#include <QApplication>
#include <QMessageBox>

#include "console/Desk.h"
#include "console/QtSeams.h"
#include "console/TForm1.h"
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

    Desk desk(DataModule1, DeskSeams{&prompts, &clock, settings.get(), &chooser});
    TForm1 Form1(desk);
    Form1.show();
    return app.exec();
}
