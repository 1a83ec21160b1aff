#pragma once
// A number field with a stepper beside it. The text stays the user's, even when it is no
// number: the row editors' checks say what is wrong with it, and the stepper asks its owner
// for the next value.

#include <QAbstractSpinBox>
#include <QLineEdit>
#include <functional>

namespace qv::ui {

class StepperField : public QAbstractSpinBox {
  public:
    StepperField(std::function<void(int)> onStep, QWidget* parent)
        : QAbstractSpinBox(parent), onStep_(std::move(onStep)) {
        setButtonSymbols(QAbstractSpinBox::UpDownArrows);
        setAlignment(Qt::AlignRight);
    }
    QLineEdit* edit() const { return lineEdit(); }
    void stepBy(int steps) override { onStep_(steps); }

  protected:
    StepEnabled stepEnabled() const override {
        return isEnabled() ? (StepUpEnabled | StepDownEnabled) : StepNone;
    }

  private:
    std::function<void(int)> onStep_;
};

}  // namespace qv::ui
