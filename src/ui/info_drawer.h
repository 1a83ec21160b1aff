#pragma once
// The console's information drawer: the item in hand during a copy (what is done to it, its
// source and destination, its size and the bytes of it copied), the rate and the time left.

#include <QFrame>
#include <QString>

#include "app/progress_meter.h"

class QLabel;

namespace qv::ui {

class InfoDrawer : public QFrame {
    Q_OBJECT
  public:
    explicit InfoDrawer(QWidget* parent);

    // Shows the figures of a copy, or with nothing an idle drawer.
    void Show(const app::ProgressFigures* figures);
    // Its lines, one per label (for tests).
    QString text() const;

  private:
    QLabel* icon_ = nullptr;
    QLabel* action_ = nullptr;
    QLabel* source_ = nullptr;
    QLabel* dest_ = nullptr;
    QLabel* size_ = nullptr;
    QLabel* copied_ = nullptr;
    QLabel* rate_ = nullptr;
    QLabel* left_ = nullptr;
};

}  // namespace qv::ui
