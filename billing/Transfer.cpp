#include "billing/Transfer.h"

#include <QCollator>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>

#include "client_channel/Commands.h"
#include "client_channel/FillMachineCombo.h"
#include "console/Desk.h"
#include "widgets/Themed.h"

namespace {

const QString kRerun = QStringLiteral("数据库出错，请重新运行本软件!");
const char* const kColumns[] = {"Tstart", "Tnow", "Stime",  "Tmoney",
                                "Tother", "Tsum", "gotime", "Cstate"};

// The lists keep themselves sorted, without regard to case.
void SortCombo(QComboBox* combo) {
    QStringList names;
    for (int i = 0; i < combo->count(); ++i) names << combo->itemText(i);
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(names.begin(), names.end(), collator);
    combo->clear();
    combo->addItems(names);
}

}  // namespace

TtrunMoneys::TtrunMoneys(Desk& deskRef, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::Dialog), desk(deskRef) {
    setObjectName(QStringLiteral("trunMoneys"));
    setWindowTitle(QStringLiteral("转账"));
    setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 12));
    setFixedSize(392, 88);

    auto* group = new QGroupBox(QStringLiteral("转账"), this);
    group->setGeometry(8, 8, 376, 72);
    (new QLabel(QStringLiteral("从"), group))->move(12, 32);
    FlatComboBox1 = new QComboBox(group);
    FlatComboBox1->setObjectName(QStringLiteral("FlatComboBox1"));
    FlatComboBox1->setGeometry(32, 28, 105, 22);
    (new QLabel(QStringLiteral("转到"), group))->move(146, 32);
    FlatComboBox2 = new QComboBox(group);
    FlatComboBox2->setObjectName(QStringLiteral("FlatComboBox2"));
    FlatComboBox2->setGeometry(178, 28, 105, 22);
    XP_Button1 =
        new FlatButton(QStringLiteral("转  账"), "XP_Button1", QRect(296, 26, 68, 26), group);
    connect(XP_Button1, &QPushButton::clicked, this, desk.Guarded([this] { XP_Button1Click(); }));

    // FormCreate
    desk.Guard([this] {
        FillMachineCombo(desk, FlatComboBox1, 1);
        FillMachineCombo(desk, FlatComboBox2, 2);
        SortCombo(FlatComboBox1);
        SortCombo(FlatComboBox2);
    });
}

void TtrunMoneys::XP_Button1Click() {
    const QString source = FlatComboBox1->currentText();
    const QString target = FlatComboBox2->currentText();
    if (!TransferSession(desk, source, target, this))
        desk.prompts.message(QStringLiteral("转账不成功!"));
}

bool TransferSession(Desk& desk, const QString& source, const QString& target, QWidget* dialog) {
    if (source.isEmpty() || target.isEmpty()) {
        desk.prompts.message(QStringLiteral("请选好您要转账的机器!"));
        return false;
    }
    TDataModule1& dm = desk.DataModule1;
    Query* q = dm.ADOQuery2;
    // Look-ups, copy and reset in one transaction: the session is on exactly one machine.
    Transaction transaction(dm);
    auto fail = [&](const QString& text) {
        transaction.Rollback();  // before the box: never held open while the operator reads
        desk.prompts.message(text);
        return false;
    };
    if (!transaction.Begin()) return fail(QStringLiteral("数据库出错，请重新启动本软件!"));

    q->Close();
    q->SetSql(QStringLiteral("select * from Tcount where username=:a1"));
    q->SetParam(QStringLiteral("a1"), source);
    if (!q->Open()) return fail(QStringLiteral("数据库出错，请重新启动本软件!"));
    if (q->RecordCount() == 0) return fail(QStringLiteral("转账不成功！请重新运行本软件!"));
    q->First();
    QStringList values;
    for (const char* column : kColumns) values << q->FieldText(QString::fromLatin1(column));
    const QString sourceState = values.last();
    if (sourceState.isEmpty() || sourceState == QStringLiteral("无"))
        return fail(QStringLiteral("机器“%1”已经下机，不能再从它转账。").arg(source));

    q->Close();
    q->SetSql(QStringLiteral("select Cstate from Tcount where username=:a1"));
    q->SetParam(QStringLiteral("a1"), target);
    if (!q->Open()) return fail(QStringLiteral("数据库出错，请重新启动本软件!"));
    if (q->RecordCount() == 0)
        return fail(QStringLiteral("机器“%1”已不在机器列表中，不能转账到它。").arg(target));
    q->First();
    if (q->FieldText(QStringLiteral("Cstate")) != QStringLiteral("无"))
        return fail(QStringLiteral("机器“%1”已经上机，不能转账到它。").arg(target));

    q->Close();
    q->SetSql(QStringLiteral(
        "update Tcount set Tstart=:s1,Tnow=:s2,Stime=:s3,Tmoney=:s4,Tother=:s5,Tsum=:s6,"
        "gotime=:s7,Cstate=:s8 where username=:text2"));
    for (int i = 0; i < values.size(); ++i)
        q->SetParam(QStringLiteral("s%1").arg(i + 1), values[i]);
    q->SetParam(QStringLiteral("text2"), target);
    if (!q->ExecSQL()) return fail(kRerun);

    q->Close();
    q->SetSql(QStringLiteral(
        "update Tcount set Tstart='',Tnow='',Stime='',Tmoney='',Tother='',Tsum='',gotime='',"
        "Cstate='无' where username=:t1"));
    q->SetParam(QStringLiteral("t1"), source);
    if (!q->ExecSQL()) return fail(kRerun);
    if (!transaction.Commit()) return fail(kRerun);

    desk.RefreshSessionGrid();
    if (dialog) dialog->hide();
    desk.SelectedMachine = source;
    SendCommand(desk, QStringLiteral("xiaji"));
    desk.SelectedMachine = target;
    SendCommand(desk, QStringLiteral("sj"));
    return true;
}
