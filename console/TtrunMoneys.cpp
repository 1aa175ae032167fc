#include "console/TtrunMoneys.h"

#include <QCollator>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>

#include "accounts/Accounts.h"
#include "billing/Transfer.h"
#include "console/FillMachineCombo.h"
#include "desk/Desk.h"
#include "packages/Packages.h"
#include "widgets/Themed.h"

namespace {

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
    auto* fromLabel = new QLabel(QStringLiteral("从"), group);
    fromLabel->move(12, 32);
    FlatComboBox1 = new QComboBox(group);
    FlatComboBox1->setObjectName(QStringLiteral("FlatComboBox1"));
    FlatComboBox1->setGeometry(32, 28, 105, 22);
    auto* toLabel = new QLabel(QStringLiteral("转到"), group);
    toLabel->move(146, 32);
    FlatComboBox2 = new QComboBox(group);
    FlatComboBox2->setObjectName(QStringLiteral("FlatComboBox2"));
    FlatComboBox2->setGeometry(178, 28, 105, 22);
    XP_Button1 =
        new FlatButton(QStringLiteral("转  账"), "XP_Button1", QRect(296, 26, 68, 26), group);
    NameField(fromLabel, FlatComboBox1);
    NameField(toLabel, FlatComboBox2);
    DialogKeys(this, XP_Button1);
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
    // A package sold for one zone goes to another only with the owner's word.
    const std::optional<QString> crossZone = CrossZoneMove(desk, source, target);
    const OwnerApproval approval(desk, crossZone.value_or(QString()), crossZone.has_value());
    if (crossZone && !approval) return;
    if (!TransferSession(desk, source, target, [this] { hide(); }))
        desk.prompts.message(QStringLiteral("转账不成功!"));
}
