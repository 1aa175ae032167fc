#include "console/TPackageChoice.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "desk/Desk.h"
#include "record_store/Formats.h"
#include "widgets/Themed.h"

namespace {

QString Yuan(qint64 fen) {
    QString price = CentsText(fen);
    while (price.endsWith(QLatin1Char('0'))) price.chop(1);
    if (price.endsWith(QLatin1Char('.'))) price.chop(1);
    return price;
}

// A package on offer: its name, kind and price, and why it cannot be sold now.
QString OfferText(const Offer& o) {
    QString text = QStringLiteral("%1　%2　%3元").arg(o.package->name, PackageKindText(*o.package),
                                                     Yuan(o.package->price));
    if (o.why)
        text += o.why == NotSellable::WrongZone      ? QStringLiteral("（本机区域不适用）")
                : o.why == NotSellable::AlreadyHolds ? QStringLiteral("（本机已有包时）")
                                                     : QStringLiteral("（现在不出售）");
    return text;
}

}  // namespace

TPackageChoice::TPackageChoice(const QString& machine, const std::vector<Offer>& offers,
                               QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("PackageChoice"));
    setWindowTitle(QStringLiteral("上机：%1").arg(machine));
    // The window's font: full-width brackets in the fallback font came out as half-width.
    setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 12));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("请选择计费方式："), this));
    List = new QListWidget(this);
    List->setObjectName(QStringLiteral("PackageList"));
    List->addItem(QStringLiteral("按时计费"));
    m_names.push_back(QString());
    for (const Offer& o : offers) {
        List->addItem(OfferText(o));
        m_names.push_back(o.package->name);
    }
    List->setCurrentRow(0);
    layout->addWidget(List);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("上机"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(List, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    layout->addWidget(buttons);
    resize(360, 240);
}

std::optional<QString> TPackageChoice::Chosen() const {
    if (result() != QDialog::Accepted) return std::nullopt;
    const int row = List->currentRow();
    return row > 0 && size_t(row) < m_names.size() ? m_names[size_t(row)] : QString();
}

void OfferPackagesAtStart(Desk& desk, QWidget* parent) {
    desk.offerStart = [&desk, parent](const QString& machine) {
        const std::optional<Catalogue> catalogue = StoredCatalogue(desk);
        if (!catalogue || catalogue->packages.empty()) return false;
        const SaleContext where = SaleContextFor(desk, machine);
        TPackageChoice choice(machine, Offers(*catalogue, where, desk.clock.nowDateTime(), false),
                              parent);
        choice.exec();
        const std::optional<QString> chosen = choice.Chosen();
        if (!chosen) return true;              // cancelled: nothing starts
        if (chosen->isEmpty()) return false;  // 按时计费: the described start
        SellPackage(desk, machine, *chosen, where);
        return true;
    };
}

TPackageDesk::TPackageDesk(Desk& desk, const QString& machine, QWidget* parent)
    : QDialog(parent), desk(desk), machine(machine) {
    setObjectName(QStringLiteral("PackageDesk"));
    setWindowTitle(QStringLiteral("包时：%1").arg(machine));
    setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 12));
    auto* layout = new QVBoxLayout(this);
    Current = new QLabel(this);
    Current->setObjectName(QStringLiteral("Current"));
    layout->addWidget(Current);
    List = new QListWidget(this);
    List->setObjectName(QStringLiteral("PackageList"));
    layout->addWidget(List);
    auto* buttons = new QHBoxLayout;
    Buy = new FlatButton(QStringLiteral("买包时(&B)"), this);
    ExtendByPackage = new FlatButton(QStringLiteral("用所选包时续时(&P)"), this);
    buttons->addWidget(Buy);
    buttons->addWidget(ExtendByPackage);
    layout->addLayout(buttons);
    auto* form = new QFormLayout;
    auto* byMinutes = new QHBoxLayout;
    Minutes = new QSpinBox(this);
    Minutes->setRange(1, 10080);
    Minutes->setValue(60);
    Minutes->setSuffix(QStringLiteral(" 分钟"));
    Money = new QLineEdit(this);
    Money->setPlaceholderText(QStringLiteral("收款（元）"));
    ExtendByMinutes = new FlatButton(QStringLiteral("按分钟续时(&M)"), this);
    byMinutes->addWidget(Minutes);
    byMinutes->addWidget(Money);
    byMinutes->addWidget(ExtendByMinutes);
    form->addRow(QStringLiteral("续时："), byMinutes);
    auto* voiding = new QHBoxLayout;
    Reason = new QLineEdit(this);
    Reason->setPlaceholderText(QStringLiteral("作废原因（必填）"));
    Void = new FlatButton(QStringLiteral("作废(&V)"), this);
    voiding->addWidget(Reason);
    voiding->addWidget(Void);
    form->addRow(QStringLiteral("作废："), voiding);
    layout->addLayout(form);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
    close->button(QDialogButtonBox::Close)->setText(QStringLiteral("关闭"));
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(close);

    connect(Buy, &QPushButton::clicked, this, [this] {
        if (!SelectedName().isEmpty()) SellPackage(this->desk, this->machine, SelectedName(), where);
        Reload();
    });
    connect(ExtendByPackage, &QPushButton::clicked, this, [this] {
        if (!SelectedName().isEmpty())
            ExtendPackage(this->desk, this->machine, {SelectedName(), 0, 0}, where);
        Reload();
    });
    connect(ExtendByMinutes, &QPushButton::clicked, this, [this] {
        ExtendPackage(this->desk, this->machine,
                      {{}, Minutes->value(), ParseCents(Money->text().trimmed()).value_or(0)}, where);
        Reload();
    });
    connect(Void, &QPushButton::clicked, this, [this] {
        if (VoidPackage(this->desk, this->machine, Reason->text())) Reason->clear();
        Reload();
    });
    // Return does what the field with the focus is for: minutes and money extend, a reason
    // voids, the list buys (or extends by) the package chosen. Never a money button that the
    // dialog happened to make its default.
    for (QPushButton* b : findChildren<QPushButton*>()) {
        b->setAutoDefault(false);
        b->setDefault(false);
        b->setMinimumWidth(b->sizeHint().width() + 16);  // the flat face has no margin of its own
    }
    DialogKeys(this, [this]() -> QAbstractButton* {
        QWidget* at = focusWidget();
        if (at == Money || Minutes->isAncestorOf(at) || at == Minutes) return ExtendByMinutes;
        if (at == Reason) return Void;
        if (at == List) return Buy->isEnabled() ? Buy : ExtendByPackage;
        return nullptr;
    });
    resize(520, 360);
    Reload();
}

QString TPackageDesk::SelectedName() const {
    const int row = List->currentRow();
    if (!catalogue || row < 0 || size_t(row) >= catalogue->packages.size()) return {};
    return catalogue->packages[size_t(row)].name;
}

void TPackageDesk::Reload() {
    where = SaleContextFor(desk, machine);
    catalogue = StoredCatalogue(desk);
    bool failed = false;
    const std::optional<SoldPackage> running = RunningPackage(desk, machine, &failed);
    Current->setText(
        failed ? QStringLiteral("读不到该机的包时。")
        : running
            ? QStringLiteral("当前包时：%1（%2），%3 售出，到 %4 结束，已收 %5 元。")
                  .arg(running->package.name, PackageKindText(running->package),
                       running->sold.toString(QStringLiteral("H:mm")),
                       running->ends.toString(QStringLiteral("M月d日 H:mm")), Yuan(running->paid))
            : QStringLiteral("该机没有包时。"));
    const int row = List->currentRow();
    List->clear();
    if (catalogue)
        for (const Offer& o : Offers(*catalogue, where, desk.clock.nowDateTime(), running.has_value()))
            List->addItem(OfferText(o));
    List->setCurrentRow(std::min(row, List->count() - 1));
    Buy->setEnabled(!running);
    ExtendByPackage->setEnabled(running.has_value());
    ExtendByMinutes->setEnabled(running.has_value());
    Void->setEnabled(running.has_value());
}
