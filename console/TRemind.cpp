#include "console/TRemind.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimeEdit>

#include "billing/Reminders.h"
#include "desk/Desk.h"
#include "widgets/Themed.h"

TRemind::TRemind(Desk& deskRef, const QString& machine, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::Dialog), Machine(machine), desk(deskRef) {
    setObjectName(QStringLiteral("remind"));
    setWindowTitle(QStringLiteral("定时提醒"));
    setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 12));
    auto* grid = new QGridLayout(this);
    MachineLabel = new QLabel(QStringLiteral("机器号：%1").arg(machine), this);
    grid->addWidget(MachineLabel, 0, 0, 1, 2);
    AtButton = new QRadioButton(QStringLiteral("到时刻(&A)"), this);
    AtEdit = new QTimeEdit(desk.clock.now().addSecs(3600), this);
    AtEdit->setDisplayFormat(QStringLiteral("H:mm"));
    InButton = new QRadioButton(QStringLiteral("几分钟后(&M)"), this);
    MinutesEdit = new QSpinBox(this);
    MinutesEdit->setRange(1, 24 * 60);
    MinutesEdit->setValue(60);
    MinutesEdit->setSuffix(QStringLiteral(" 分钟"));
    InButton->setChecked(true);
    grid->addWidget(AtButton, 1, 0);
    grid->addWidget(AtEdit, 1, 1);
    grid->addWidget(InButton, 2, 0);
    grid->addWidget(MinutesEdit, 2, 1);
    MessageBox = new QCheckBox(QStringLiteral("时间到时给客户机发消息“您的上网时间到了”"), this);
    grid->addWidget(MessageBox, 3, 0, 1, 2);
    SetButton = new FlatButton(QStringLiteral("设  定"), this);
    BackButton = new FlatButton(QStringLiteral("返  回"), this);
    grid->addWidget(SetButton, 4, 0);
    grid->addWidget(BackButton, 4, 1);
    connect(AtEdit, &QTimeEdit::timeChanged, this, [this] { AtButton->setChecked(true); });
    connect(MinutesEdit, &QSpinBox::valueChanged, this, [this] { InButton->setChecked(true); });
    DialogKeys(this, SetButton);
    connect(SetButton, &QPushButton::clicked, this, desk.Guarded([this] { SetClick(); }));
    connect(BackButton, &QPushButton::clicked, this, &QWidget::hide);
}

void TRemind::SetClick() {
    const bool set =
        AtButton->isChecked()
            ? SetReminder(desk, Machine, AtEdit->time(), MessageBox->isChecked())
            : SetReminderIn(desk, Machine, MinutesEdit->value(), MessageBox->isChecked());
    if (set) hide();
}
