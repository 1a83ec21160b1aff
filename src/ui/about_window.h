#pragma once
// The About window: the program's icon, name, version, licence and web site.

#include <QDialog>

class QLabel;
class QPushButton;

namespace qv::ui {

class AboutWindow : public QDialog {
    Q_OBJECT
  public:
    explicit AboutWindow(QWidget* parent);

    QLabel* versionLabel() const { return version_; }
    QLabel* webSiteLabel() const { return webSite_; }
    QPushButton* closeButton() const { return close_; }

  private:
    QLabel* version_ = nullptr;
    QLabel* webSite_ = nullptr;
    QPushButton* close_ = nullptr;
};

}  // namespace qv::ui
