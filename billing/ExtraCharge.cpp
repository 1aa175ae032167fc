#include "billing/ExtraCharge.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <cmath>

#include "console/Desk.h"
#include "widgets/Themed.h"

namespace {
const QString kNotInSession =
    QStringLiteral("您所选择你机器不处于上机状态，不能添加附加费，请重新选择!");
const QString kRestart = QStringLiteral("数据库出错，请重新启动本软件!");
const QString kSumTooLarge =
    QStringLiteral("金额太大，附加费或共需费用已超出可以计算的范围，未添加。");

}  // namespace

TAddother::TAddother(Desk& deskRef, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::Dialog), desk(deskRef) {
    setObjectName(QStringLiteral("Addother"));
    setWindowTitle(QStringLiteral("添加附加费"));
    setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 12));
    setFixedSize(260, 200);

    auto* group = new QGroupBox(QStringLiteral("附加费"), this);
    group->setGeometry(8, 8, 244, 144);
    auto label = [&](const char* text, int x, int y) {
        (new QLabel(QString::fromUtf8(text), group))->move(x, y);
    };
    label("机器号：", 16, 28);
    FlatComboBox1 = new QComboBox(group);
    FlatComboBox1->setObjectName(QStringLiteral("FlatComboBox1"));
    FlatComboBox1->setEditable(true);
    FlatComboBox1->setInsertPolicy(QComboBox::NoInsert);
    FlatComboBox1->setGeometry(96, 24, 121, 22);
    label("原附加费：", 16, 64);
    FlatEdit1 = new QLineEdit(group);
    FlatEdit1->setObjectName(QStringLiteral("FlatEdit1"));
    FlatEdit1->setReadOnly(true);
    FlatEdit1->setEnabled(false);
    FlatEdit1->setGeometry(96, 60, 97, 21);
    label("元.", 198, 64);
    label("增加附加费：", 16, 100);
    FlatEdit2 = new QLineEdit(group);
    FlatEdit2->setObjectName(QStringLiteral("FlatEdit2"));
    FlatEdit2->setGeometry(96, 96, 97, 21);
    label("元.", 198, 100);
    XP_Button1 =
        new FlatButton(QStringLiteral("添   加"), "XP_Button1", QRect(40, 162, 75, 26), this);
    XP_Button2 =
        new FlatButton(QStringLiteral("返   回"), "XP_Button2", QRect(144, 162, 75, 26), this);

    // Checked when an entry is chosen or the typed name is finished, not at every key; Return
    // reports both, and the same text is checked once.
    auto check = [this] {
        if (m_checked || FlatComboBox1->view()->isVisible()) return;
        desk.Guard([this] { FlatComboBox1Change(); });
        m_checked = true;
    };
    connect(FlatComboBox1, &QComboBox::activated, this, [this, check] {
        m_checked = false;  // a choice from the list is always checked
        check();
    });
    connect(FlatComboBox1->lineEdit(), &QLineEdit::editingFinished, this, check);
    connect(FlatComboBox1->lineEdit(), &QLineEdit::textEdited, this, [this] { m_checked = false; });
    connect(XP_Button1, &QPushButton::clicked, this, desk.Guarded([this] { XP_Button1Click(); }));
    connect(XP_Button2, &QPushButton::clicked, this, [this] { XP_Button2Click(); });

    desk.Guard([this] { LoadChargeMachines(); });
}

void TAddother::LoadChargeMachines() {
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select username from Tcount order by username"));
    if (!q->Open()) {
        desk.prompts.message(QStringLiteral("数据库运行有误，请关闭本软件重新运行!"));
        return;
    }
    FlatComboBox1->clear();
    QStringList names;
    for (q->First(); !q->Eof(); q->Next()) names << q->FieldText(QStringLiteral("userName"));
    FlatComboBox1->addItems(names);
    FlatComboBox1->setCurrentIndex(-1);
    FlatComboBox1->setEditText(QString());
}

void TAddother::FlatComboBox1Change() {
    const QString machine = FlatComboBox1->currentText();
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select * from Tcount where username=:a1 and cstate<>'无'"));
    q->SetParam(QStringLiteral("a1"), machine);
    if (!q->Open()) {
        desk.prompts.message(QStringLiteral("数据库出错！"));
        return;
    }
    if (q->RecordCount() == 0) {
        desk.prompts.message(kNotInSession);
        FlatComboBox1->setFocus();
        const int entry = FlatComboBox1->findText(machine, Qt::MatchFixedString);
        if (entry >= 0 && !machine.isEmpty()) {
            FlatComboBox1->removeItem(entry);
            FlatComboBox1->setEditText(machine);  // what was typed stays in the box
        }
        return;
    }
    q->First();
    OldTotalText = TextOrZero(q->FieldText(QStringLiteral("Tsum")));
    FlatEdit1->setText(TextOrZero(q->FieldText(QStringLiteral("Tother"))));
}

void TAddother::XP_Button1Click() {
    const QString machine = FlatComboBox1->currentText();
    if (machine.isEmpty()) {
        desk.prompts.message(QStringLiteral("请先选择您要添加附加费的机器号!"));
        FlatComboBox1->setFocus();
        return;
    }
    if (FlatEdit2->text().isEmpty()) {
        desk.prompts.message(QStringLiteral("请填入您要添加的附加费!"));
        FlatEdit2->setFocus();
        return;
    }
    Query* q = desk.DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select * from Tcount where username=:a1 and Cstate<>'无'"));
    q->SetParam(QStringLiteral("a1"), machine);
    if (!q->Open()) {
        desk.prompts.message(QStringLiteral("添加错误，请重新运行本软件再添加！"));
        return;
    }
    if (q->RecordCount() == 0) {
        desk.prompts.message(kNotInSession);
        return;
    }
    q->Close();
    if (ApplyExtraCharge(desk, *this)) {
        desk.prompts.message(QStringLiteral("添加成功!"));
        hide();
    }
}

void TAddother::XP_Button2Click() { hide(); }

bool ApplyExtraCharge(Desk& desk, TAddother& dialog) {
    const QString machine = dialog.FlatComboBox1->currentText();
    const double amount = ParseDecimal(dialog.FlatEdit2->text());  // before anything is written

    TDataModule1& dm = desk.DataModule1;
    Transaction transaction(dm);
    Query* q = dm.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral(
        "select Tother,Tsum from Tcount where username=:SelectRow and Cstate<>'无'"));
    q->SetParam(QStringLiteral("SelectRow"), machine);
    if (!transaction.Begin() || !q->Open()) {
        transaction.Rollback();  // never held open across a box
        desk.prompts.message(kRestart);
        return false;
    }
    if (q->RecordCount() == 0) {  // the session ended since the check
        transaction.Rollback();
        desk.prompts.message(kNotInSession);
        return false;
    }
    q->First();
    const double other = ParseDecimal(TextOrZero(q->FieldText(QStringLiteral("Tother"))));
    const double total = ParseDecimal(TextOrZero(q->FieldText(QStringLiteral("Tsum"))));
    q->Close();
    if (!std::isfinite(other + amount) || !std::isfinite(total + amount)) {
        transaction.Rollback();
        desk.prompts.message(kSumTooLarge);
        return false;
    }
    q->SetSql(QStringLiteral("Update Tcount set Tother=:a1,Tsum=:a2 where username=:SelectRow"));
    q->SetParam(QStringLiteral("a1"), DecimalText(other + amount));
    q->SetParam(QStringLiteral("a2"), DecimalText(total + amount));
    q->SetParam(QStringLiteral("SelectRow"), machine);
    if (!q->ExecSQL() || !transaction.Commit()) {
        transaction.Rollback();
        desk.prompts.message(kRestart);
        return false;
    }
    desk.RefreshSessionGrid();
    return true;
}
