#pragma once

#include <QDialog>
#include <optional>

#include "packages/Packages.h"

class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QLabel;

// 上机 on an idle machine when the café sells packages: "按时计费" (first and highlighted, so
// Return keeps the described start) or one of the packages, each with its kind and price; one
// that cannot be sold now says why beside it.
class TPackageChoice : public QDialog {
    Q_OBJECT
  public:
    TPackageChoice(const QString& machine, const std::vector<Offer>& offers, QWidget* parent);
    // The package chosen; empty for 按时计费; nullopt when cancelled.
    std::optional<QString> Chosen() const;

    QListWidget* List;

  private:
    std::vector<QString> m_names;
};

// Installs the choice on the desk's 上机: nothing is shown while the catalogue is empty.
void OfferPackagesAtStart(Desk& desk, QWidget* parent);

// 包时 on a machine (the grid's pop-up): its package now, and what may be done with it: buy one
// (also for a machine already in a session), extend it by another package or by minutes for
// money, or void it with a reason. Each button does one thing and says so in its box.
class TPackageDesk : public QDialog {
    Q_OBJECT
  public:
    TPackageDesk(Desk& desk, const QString& machine, QWidget* parent);

    QLabel* Current;
    QListWidget* List;
    QPushButton* Buy;
    QPushButton* ExtendByPackage;
    QSpinBox* Minutes;
    QLineEdit* Money;
    QPushButton* ExtendByMinutes;
    QLineEdit* Reason;
    QPushButton* Void;

  private:
    void Reload();
    QString SelectedName() const;
    Desk& desk;
    QString machine;
    std::optional<Catalogue> catalogue;
    SaleContext where;
};
