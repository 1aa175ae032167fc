#include "console/TPackageChoice.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "desk/Desk.h"
#include "record_store/Formats.h"

TPackageChoice::TPackageChoice(const QString& machine, const std::vector<Offer>& offers,
                               QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("PackageChoice"));
    setWindowTitle(QStringLiteral("上机：%1").arg(machine));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("请选择计费方式："), this));
    List = new QListWidget(this);
    List->setObjectName(QStringLiteral("PackageList"));
    List->addItem(QStringLiteral("按时计费"));
    m_names.push_back(QString());
    for (const Offer& o : offers) {
        QString price = CentsText(o.package->price);
        while (price.endsWith(QLatin1Char('0'))) price.chop(1);
        if (price.endsWith(QLatin1Char('.'))) price.chop(1);
        QString text = QStringLiteral("%1　%2　%3元").arg(o.package->name, PackageKindText(*o.package), price);
        if (o.why)
            text += o.why == NotSellable::WrongZone ? QStringLiteral("（本机区域不适用）")
                    : o.why == NotSellable::AlreadyHolds ? QStringLiteral("（本机已有包时）")
                                                         : QStringLiteral("（现在不出售）");
        List->addItem(text);
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
