#pragma once

#include <QDialog>
#include <optional>

#include "packages/Packages.h"

class QListWidget;

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
