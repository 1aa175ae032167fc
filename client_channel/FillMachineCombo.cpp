#include "client_channel/FillMachineCombo.h"

#include <QComboBox>

#include "console/Desk.h"

void FillMachineCombo(Desk& desk, QComboBox* combo, int mode) {
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(mode == 1 ? QStringLiteral("select * from Tcount where Cstate<>'无'")
                        : QStringLiteral("select * from Tcount where Cstate='无'"));
    if (!q->Open()) {
        desk.prompts.message(QStringLiteral("数据库出错，请重新启动本软件!"));
        return;
    }
    combo->clear();
    QStringList names;
    for (q->First(); !q->Eof(); q->Next()) names << q->FieldText(QStringLiteral("username"));
    combo->addItems(names);
}
