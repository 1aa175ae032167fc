#include "console/TSettings.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "backups/Backup.h"
#include "billing/Prices.h"
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
    form->addRow(SaveButton);
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

    ShowDatabase();

    connect(SaveButton, &QPushButton::clicked, this, desk.Guarded([this] { SaveClick(); }));
    connect(ChooseButton, &QPushButton::clicked, this, desk.Guarded([this] { ChooseClick(); }));
    connect(BackupButton, &QPushButton::clicked, this, desk.Guarded([this] { BackupClick(); }));
    connect(RestoreButton, &QPushButton::clicked, this, desk.Guarded([this] { RestoreClick(); }));
    connect(CafeButton, &QPushButton::clicked, this, desk.Guarded([this] { CafeClick(); }));
    // Return saves what the focus is in: the café's name and paper, or else the prices.
    DialogKeys(this, [this, cafe]() -> QAbstractButton* {
        return cafe->isAncestorOf(focusWidget()) ? CafeButton : SaveButton;
    });
    SaveButton->setDefault(true);
    desk.Guard([this] {
        LoadPrices();
        CafeNameEdit->setText(CafeName(desk));
        PaperCombo->setCurrentIndex(PaperCombo->findData(PaperKey(Paper(desk))));
    });
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
