#include "console/TSettings.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QComboBox>
#include <QGroupBox>
#include <QListWidget>
#include <QSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "accounts/Accounts.h"
#include "backups/Backup.h"
#include "ledger/Journal.h"
#include "billing/Prices.h"
#include "console/TPackageEditor.h"
#include "console/TPlanEditor.h"
#include "desk/Desk.h"
#include "ledger/CafeName.h"
#include "widgets/Themed.h"

TSettings::TSettings(Desk& deskRef, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::Dialog), desk(deskRef) {
    setObjectName(QStringLiteral("settings"));
    setWindowTitle(QStringLiteral("设置"));
    setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 12));
    auto* layout = new QVBoxLayout(this);

    auto* prices = new QGroupBox(QStringLiteral("价格"), this);
    auto* form = new QFormLayout(prices);
    HourlyEdit = new QLineEdit(prices);
    OvernightEdit = new QLineEdit(prices);
    form->addRow(QStringLiteral("上网单价(&H)（元/小时）："), HourlyEdit);
    form->addRow(QStringLiteral("通宵价(&N)（元）："), OvernightEdit);
    SaveButton = new FlatButton(QStringLiteral("保存价格"), prices);
    PlanButton = new FlatButton(QStringLiteral("价格方案与试算…"), prices);
    PackagesButton = new FlatButton(QStringLiteral("包时套餐…"), prices);
    auto* priceButtons = new QHBoxLayout;
    priceButtons->addWidget(SaveButton);
    priceButtons->addWidget(PlanButton);
    priceButtons->addWidget(PackagesButton);
    priceButtons->addStretch();
    form->addRow(priceButtons);
    layout->addWidget(prices);

    auto* cafe = new QGroupBox(QStringLiteral("网吧和小票"), this);
    auto* cafeForm = new QFormLayout(cafe);
    CafeNameEdit = new QLineEdit(cafe);
    CafeNameEdit->setToolTip(QStringLiteral("印在营业报表和小票上；每台前台都一样"));
    PaperCombo = new QComboBox(cafe);
    for (const ReceiptPaper paper : {ReceiptPaper::Roll58, ReceiptPaper::Roll80, ReceiptPaper::A4})
        PaperCombo->addItem(PaperName(paper), PaperKey(paper));
    PaperCombo->setToolTip(QStringLiteral("这台前台的小票打印机用的纸"));
    cafeForm->addRow(QStringLiteral("网吧名称(&C)："), CafeNameEdit);
    cafeForm->addRow(QStringLiteral("小票纸(&R)："), PaperCombo);
    CafeButton = new FlatButton(QStringLiteral("保存名称和小票纸"), cafe);
    cafeForm->addRow(CafeButton);
    layout->addWidget(cafe);

    auto* database = new QGroupBox(QStringLiteral("数据库"), this);
    auto* dbLayout = new QVBoxLayout(database);
    DatabaseLabel = new QLabel(database);
    DatabaseLabel->setTextFormat(Qt::RichText);
    DatabaseLabel->setWordWrap(true);
    DatabaseLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    dbLayout->addWidget(DatabaseLabel);
    auto* buttons = new QHBoxLayout;
    ChooseButton = new FlatButton(QStringLiteral("选择数据库…"), database);
    BackupButton = new FlatButton(QStringLiteral("立即备份"), database);
    RestoreButton = new FlatButton(QStringLiteral("从备份恢复…"), database);
    for (QPushButton* b : {ChooseButton, BackupButton, RestoreButton}) {
        b->setMinimumWidth(90);
        buttons->addWidget(b);
    }
    buttons->addStretch();
    dbLayout->addLayout(buttons);
    auto* hint = new QLabel(
        QStringLiteral("每天第一次启动时自动备份到数据库旁的 backup 文件夹，保留最近 14 份。"
                       "要恢复，按“从备份恢复…”选择一份备份：现在的数据库先另存一份，恢复记入营业记录。"),
        database);
    hint->setWordWrap(true);
    dbLayout->addWidget(hint);
    layout->addWidget(database);

    auto* operators = new QGroupBox(QStringLiteral("操作员"), this);
    auto* opLayout = new QVBoxLayout(operators);
    SignInLabel = new QLabel(operators);
    SignInLabel->setWordWrap(true);
    opLayout->addWidget(SignInLabel);
    AccountList = new QListWidget(operators);
    AccountList->setObjectName(QStringLiteral("AccountList"));
    AccountList->setMaximumHeight(90);
    opLayout->addWidget(AccountList);
    auto* opForm = new QFormLayout;
    AccountNameEdit = new QLineEdit(operators);
    RoleBox = new QComboBox(operators);
    RoleBox->addItem(RoleName(Role::Cashier), Role::Cashier);
    RoleBox->addItem(RoleName(Role::Owner), Role::Owner);
    PinEdit = new QLineEdit(operators);
    PinAgainEdit = new QLineEdit(operators);
    for (QLineEdit* e : {PinEdit, PinAgainEdit}) e->setEchoMode(QLineEdit::Password);
    opForm->addRow(QStringLiteral("名字："), AccountNameEdit);
    opForm->addRow(QStringLiteral("角色："), RoleBox);
    opForm->addRow(QStringLiteral("PIN/密码："), PinEdit);
    opForm->addRow(QStringLiteral("再输一次："), PinAgainEdit);
    IdleMinutesBox = new QSpinBox(operators);
    IdleMinutesBox->setRange(0, 1440);
    IdleMinutesBox->setSuffix(QStringLiteral(" 分钟"));
    opForm->addRow(QStringLiteral("无人操作自动锁定："), IdleMinutesBox);
    opLayout->addLayout(opForm);
    auto* opButtons = new QGridLayout;
    EnableButton = new FlatButton(QStringLiteral("打开操作员登录"), operators);
    DisableButton = new FlatButton(QStringLiteral("关闭操作员登录"), operators);
    AddAccountButton = new FlatButton(QStringLiteral("添加操作员"), operators);
    ToggleButton = new FlatButton(QStringLiteral("停用/启用"), operators);
    ResetPinButton = new FlatButton(QStringLiteral("重设PIN/密码"), operators);
    SealButton = new FlatButton(QStringLiteral("店主封账"), operators);
    IdleSaveButton = new FlatButton(QStringLiteral("保存锁定时间"), operators);
    int cell = 0;
    for (QPushButton* b : {EnableButton, DisableButton, AddAccountButton, ToggleButton,
                           ResetPinButton, SealButton, IdleSaveButton}) {
        opButtons->addWidget(b, cell / 4, cell % 4);
        ++cell;
    }
    opLayout->addLayout(opButtons);
    layout->addWidget(operators);
    connect(EnableButton, &QPushButton::clicked, this, Owned([this] { EnableClick(); }));
    connect(DisableButton, &QPushButton::clicked, this, Owned([this] { DisableClick(); }));
    connect(AddAccountButton, &QPushButton::clicked, this,
            Owned([this] { AddAccountClick(); }));
    connect(ToggleButton, &QPushButton::clicked, this, Owned([this] { ToggleClick(); }));
    connect(ResetPinButton, &QPushButton::clicked, this, Owned([this] { ResetPinClick(); }));
    connect(SealButton, &QPushButton::clicked, this, Owned([this] { SealClick(); }));
    connect(IdleSaveButton, &QPushButton::clicked, this, Owned([this] { IdleSaveClick(); }));

    ShowDatabase();

    connect(SaveButton, &QPushButton::clicked, this, Owned([this] { SaveClick(); }));
    // The plan's window goes on with the owner's approval 设置 was opened with.
    connect(PlanButton, &QPushButton::clicked, this, [this] {
        if (TPlanEditor::planEditor) TPlanEditor::planEditor->deleteLater();
        TPlanEditor::planEditor = new TPlanEditor(desk, parentWidget());
        TPlanEditor::planEditor->approverId = approverId;
        TPlanEditor::planEditor->show();
    });
    // So does the packages' window; without a plan it says why and does not open.
    connect(PackagesButton, &QPushButton::clicked, this,
            [this] { TPackageEditor::Open(desk, parentWidget(), approverId); });
    connect(ChooseButton, &QPushButton::clicked, this, Owned([this] { ChooseClick(); }));
    connect(BackupButton, &QPushButton::clicked, this, Owned([this] { BackupClick(); }));
    connect(RestoreButton, &QPushButton::clicked, this, Owned([this] { RestoreClick(); }));
    connect(CafeButton, &QPushButton::clicked, this, Owned([this] { CafeClick(); }));
    // Return saves what the focus is in: the café's name and paper, or else the prices.
    DialogKeys(this, [this, cafe]() -> QAbstractButton* {
        return cafe->isAncestorOf(focusWidget()) ? CafeButton : SaveButton;
    });
    SaveButton->setDefault(true);
    desk.Guard([this] {
        LoadPrices();
        LoadAccounts();
        CafeNameEdit->setText(CafeName(desk));
        PaperCombo->setCurrentIndex(PaperCombo->findData(PaperKey(Paper(desk))));
    });
}

std::function<void()> WithApprover(Desk& desk, const QString& approverId,
                                   std::function<void()> command) {
    return desk.Guarded([&desk, &approverId, command] {
        const ApprovedBy approved(desk, approverId);
        command();
    });
}

std::function<void()> TSettings::Owned(std::function<void()> command) {
    return WithApprover(desk, approverId, std::move(command));
}

void TSettings::LoadAccounts() {
    const bool on = SignInOn(desk);
    SignInLabel->setText(
        on ? QStringLiteral("操作员登录已打开：每次启动、锁定和交班后都要选择操作员并输入PIN。")
           : QStringLiteral("操作员登录没有打开。要打开，填写店主的名字和密码（至少8个字符，两次），"
                            "按“打开操作员登录”；从下次启动起，各前台都要登录。"));
    EnableButton->setEnabled(!on);
    for (QPushButton* b : {DisableButton, AddAccountButton, ToggleButton, ResetPinButton,
                           SealButton, IdleSaveButton})
        b->setEnabled(on);
    AccountList->clear();
    if (const auto accounts = ReadAccounts(desk))
        for (const Account& a : *accounts) {
            auto* item = new QListWidgetItem(
                QStringLiteral("%1（%2）%3").arg(a.name, RoleName(a.role),
                                              a.enabled ? QString() : QStringLiteral("　已停用")),
                AccountList);
            item->setData(Qt::UserRole, a.name);
            item->setData(Qt::UserRole + 1, a.enabled);
        }
    IdleMinutesBox->setValue(IdleLockMinutes(desk));
}

QString TSettings::SelectedAccount() const {
    const QListWidgetItem* item = AccountList->currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

std::optional<QString> TSettings::TypedTwice() {
    QString first = PinEdit->text();
    const QString second = PinAgainEdit->text();
    PinEdit->clear();
    PinAgainEdit->clear();
    if (first != second) {
        desk.prompts.message(QStringLiteral("两次输入的不一样，请重新输入。"));
        return std::nullopt;
    }
    return first;
}

void TSettings::EnableClick() {
    std::optional<QString> typed = TypedTwice();
    if (!typed) return;
    const Secret password(*typed);
    QString why;
    QString fingerprint;
    if (!EnableSignIn(desk, AccountNameEdit->text(), password, &why, &fingerprint)) {
        desk.prompts.message(why);
        return;
    }
    LoadAccounts();
    desk.prompts.message(
        QStringLiteral("操作员登录已打开，从下次启动起生效。\n店主封账公钥的指纹：%1\n"
                       "请把它抄在纸上保管：以后核对封账时，指纹变了就说明公钥被人换过。")
            .arg(fingerprint));
}

void TSettings::DisableClick() {
    std::optional<QString> typed =
        desk.prompts.secret(QStringLiteral("关闭操作员登录要店主密码："));
    if (!typed) return;
    const Secret password(*typed);
    QString why;
    if (!DisableSignIn(desk, password, &why)) {
        desk.prompts.message(why);
        return;
    }
    LoadAccounts();
    desk.prompts.message(QStringLiteral("操作员登录已关闭，从下次启动起不用登录。"));
}

void TSettings::AddAccountClick() {
    std::optional<QString> typed = TypedTwice();
    if (!typed) return;
    const Secret pin(*typed);
    QString why;
    if (!AddAccount(desk, AccountNameEdit->text(), RoleBox->currentData().toString(), pin, &why)) {
        desk.prompts.message(why);
        return;
    }
    AccountNameEdit->clear();
    LoadAccounts();
}

void TSettings::ToggleClick() {
    const QListWidgetItem* item = AccountList->currentItem();
    if (!item) {
        desk.prompts.message(QStringLiteral("请先在列表中选中一个操作员。"));
        return;
    }
    QString why;
    if (!SetAccountEnabled(desk, SelectedAccount(), !item->data(Qt::UserRole + 1).toBool(), &why))
        desk.prompts.message(why);
    LoadAccounts();
}

void TSettings::ResetPinClick() {
    const QString name = SelectedAccount();
    if (name.isEmpty()) {
        desk.prompts.message(QStringLiteral("请先在列表中选中一个操作员。"));
        return;
    }
    std::optional<QString> typed = TypedTwice();
    if (!typed) return;
    const Secret pin(*typed);
    QString why;
    const std::optional<Account> account = FindAccount(desk, name);
    if (account && account->role == Role::Owner) {
        // The seal key comes from the owner's password: the old one vouches for the new key.
        std::optional<QString> old =
            desk.prompts.secret(QStringLiteral("修改店主密码要原来的店主密码："));
        if (!old) return;
        const Secret oldPassword(*old);
        QString fingerprint;
        if (!ChangeOwnerPassword(desk, oldPassword, pin, &why, &fingerprint)) {
            desk.prompts.message(why);
            return;
        }
        desk.prompts.message(
            QStringLiteral("店主密码已修改。\n新的封账公钥指纹：%1\n请把它抄在纸上保管，"
                           "替换原来的指纹：以前的封账仍用原来的公钥核对。")
                .arg(fingerprint));
        return;
    }
    if (!ResetPin(desk, name, pin, &why)) {
        desk.prompts.message(why);
        return;
    }
    desk.prompts.message(QStringLiteral("“%1”的PIN已重设。").arg(name));
}

void TSettings::SealClick() {
    std::optional<QString> typed = desk.prompts.secret(QStringLiteral("店主封账要店主密码："));
    if (!typed) return;
    const Secret password(*typed);
    QString why;
    QString fingerprint;
    JournalMark sealed;
    if (!SealJournal(desk, password, &why, &sealed, &fingerprint)) {
        desk.prompts.message(why);
        return;
    }
    desk.prompts.message(
        QStringLiteral("已封账：到第%1条为止的营业记录都已封住。\n公钥指纹：%2（应与纸上记的相同）")
            .arg(sealed.id)
            .arg(fingerprint));
}

void TSettings::IdleSaveClick() {
    QString why;
    if (!SetIdleLockMinutes(desk, IdleMinutesBox->value(), &why)) {
        desk.prompts.message(why);
        return;
    }
    emit desk.idleLockChanged(IdleMinutesBox->value());
}

void TSettings::LoadPrices() {
    if (const std::optional<Prices> prices = ReadPrices(desk)) {
        HourlyEdit->setText(prices->hourly);
        OvernightEdit->setText(prices->overnight);
    }
}

void TSettings::ShowDatabase(const QString& next) {
    QString text =
        QStringLiteral("正在使用：%1")
            .arg(desk.DataModule1.engine().Describe(desk.DataModule1.ConnectionString()));
    if (!next.isEmpty()) text += QStringLiteral("\n下次启动时使用：%1").arg(next);
    DatabaseLabel->setText(KeepParenthesesTogether(text));
}

ReceiptPaper TSettings::Paper(Desk& desk) {
    return PaperFromKey(desk.settings.value(QStringLiteral("receiptPaper")));
}

void TSettings::SaveClick() {
    // Every pass prices a normal session again from its start: a new rate changes the bills
    // of the machines running now, which the operator should know before it happens.
    const int repriced = SessionsRepricedBy(desk, HourlyEdit->text());
    if (repriced > 0 &&
        !desk.prompts.confirm(
            QStringLiteral("正在上机的 %1 台机器将按新价格从上机时起重新计费。\n确定保存新价格吗？")
                .arg(repriced)))
        return;
    if (!SetPrices(desk, HourlyEdit->text(), OvernightEdit->text())) return;
    LoadPrices();  // as stored: "2.50" becomes 2.5
    desk.prompts.message(QStringLiteral("价格已保存，下一次计费（30秒之内）起按新价格计算。"));
}

void TSettings::ChooseClick() {
    const std::optional<QString> chosen = desk.chooser.chooseDatabaseFile();
    if (!chosen) return;
    QString why;
    if (!IsUsableDatabaseFile(chosen->trimmed(), &why)) {
        desk.prompts.message(QStringLiteral("不能使用这个文件：%1").arg(why));
        return;
    }
    if (!desk.settings.writeDatapath(*chosen)) {
        desk.prompts.message(QStringLiteral("设置没有能保存（%1），数据库没有更换。")
                                 .arg(desk.settings.LastWriteError()));
        return;
    }
    ShowDatabase(*chosen);
    desk.prompts.message(
        QStringLiteral("已选择“%1”，下次启动本软件时使用这个数据库。").arg(*chosen));
}

void TSettings::BackupClick() {
    if (!desk.DataModule1.engine().IsFile()) {
        desk.prompts.message(
            QStringLiteral("数据库在服务器上，这里不能复制。请在服务器上用 pg_dump 备份，例如：\n"
                           "pg_dump -Fc -f cafe-备份.dump 数据库名"));
        return;
    }
    const std::optional<QString> target = desk.chooser.chooseSaveFile(
        QStringLiteral("count-%1.db")
            .arg(desk.clock.nowDateTime().toString(QStringLiteral("yyyyMMdd-HHmm"))),
        QStringLiteral("数据库文件 (*.db)"));
    if (!target) return;
    QString why;
    if (!BackupDatabase(desk.DataModule1.connectionName(), *target, &why)) {
        desk.prompts.message(QStringLiteral("备份没有成功：%1").arg(why));
        return;
    }
    desk.prompts.message(QStringLiteral("已备份到“%1”。").arg(*target));
}

void TSettings::RestoreClick() {
    const std::optional<QString> chosen = desk.chooser.chooseDatabaseFile();
    if (chosen && RestoreBackup(desk, chosen->trimmed())) LoadPrices();  // the backup's prices
}

void TSettings::CafeClick() {
    if (!SetCafeName(desk, CafeNameEdit->text())) return;
    desk.settings.setValue(QStringLiteral("receiptPaper"), PaperCombo->currentData().toString());
    CafeNameEdit->setText(CafeName(desk));
    desk.prompts.message(QStringLiteral("已保存：网吧名称“%1”，小票纸 %2。")
                             .arg(CafeNameEdit->text(), PaperCombo->currentText()));
}
