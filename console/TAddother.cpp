#include "console/TAddother.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include "accounts/Accounts.h"
#include "billing/ExtraCharge.h"
#include "desk/Desk.h"
#include "machines/Machines.h"
#include "widgets/Themed.h"

TAddother::TAddother(Desk& deskRef, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::Dialog), desk(deskRef) {
    setObjectName(QStringLiteral("Addother"));
    setWindowTitle(QStringLiteral("添加附加费"));
    setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 12));
    setFixedSize(260, 200);

    auto* group = new QGroupBox(QStringLiteral("附加费"), this);
    group->setGeometry(8, 8, 244, 144);
    auto label = [&](const char* text, int x, int y) {
        auto* l = new QLabel(QString::fromUtf8(text), group);
        l->move(x, y);
        return l;
    };
    QLabel* machineLabel = label("机器号：", 16, 28);
    FlatComboBox1 = new QComboBox(group);
    FlatComboBox1->setObjectName(QStringLiteral("FlatComboBox1"));
    FlatComboBox1->setEditable(true);
    FlatComboBox1->setInsertPolicy(QComboBox::NoInsert);
    FlatComboBox1->setGeometry(96, 24, 121, 22);
    QLabel* oldLabel = label("原附加费：", 16, 64);
    FlatEdit1 = new QLineEdit(group);
    FlatEdit1->setObjectName(QStringLiteral("FlatEdit1"));
    FlatEdit1->setReadOnly(true);
    FlatEdit1->setEnabled(false);
    FlatEdit1->setGeometry(96, 60, 97, 21);
    label("元.", 198, 64);
    QLabel* addLabel = label("增加附加费：", 16, 100);
    FlatEdit2 = new QLineEdit(group);
    FlatEdit2->setObjectName(QStringLiteral("FlatEdit2"));
    FlatEdit2->setGeometry(96, 96, 97, 21);
    label("元.", 198, 100);
    XP_Button1 =
        new FlatButton(QStringLiteral("添   加"), "XP_Button1", QRect(40, 162, 75, 26), this);
    XP_Button2 =
        new FlatButton(QStringLiteral("返   回"), "XP_Button2", QRect(144, 162, 75, 26), this);
    NameField(machineLabel, FlatComboBox1);
    NameField(oldLabel, FlatEdit1);
    NameField(addLabel, FlatEdit2);
    DialogKeys(this);
    // Return in the amount adds it; in the machine's name it checks the machine.
    connect(FlatEdit2, &QLineEdit::returnPressed, XP_Button1, &QPushButton::click);

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
    const std::optional<QStringList> names = AllMachineNames(desk);
    if (!names) return;
    FlatComboBox1->clear();
    FlatComboBox1->addItems(*names);
    FlatComboBox1->setCurrentIndex(-1);
    FlatComboBox1->setEditText(QString());
}

void TAddother::FlatComboBox1Change() {
    const QString machine = FlatComboBox1->currentText();
    const ChargeSelection found = CheckChargeMachine(desk, machine);
    if (found.kind == ChargeSelection::NotInSession) {
        FlatComboBox1->setFocus();
        const int entry = FlatComboBox1->findText(machine, Qt::MatchFixedString);
        if (entry >= 0 && !machine.isEmpty()) {
            FlatComboBox1->removeItem(entry);
            FlatComboBox1->setEditText(machine);  // what was typed stays in the box
        }
    } else if (found.kind == ChargeSelection::InSession) {
        OldTotalText = found.total;
        FlatEdit1->setText(found.other);
    }
}

void TAddother::XP_Button1Click() {
    // Taking money off a bill is the owner's decision.
    const bool negative = ParseCents(FlatEdit2->text().trimmed()).value_or(0) < 0;
    const OwnerApproval approval(desk, QStringLiteral("负数附加费"), negative);
    if (negative && !approval) return;
    switch (AddExtraCharge(desk, FlatComboBox1->currentText(), FlatEdit2->text())) {
        case ChargeOutcome::Added:
            hide();
            break;
        case ChargeOutcome::NoMachine:
            FlatComboBox1->setFocus();
            break;
        case ChargeOutcome::NoAmount:
            FlatEdit2->setFocus();
            break;
        case ChargeOutcome::NotAdded:
            break;
    }
}

void TAddother::XP_Button2Click() { hide(); }
