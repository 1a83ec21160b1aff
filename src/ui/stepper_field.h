#pragma once
// A number field with a stepper beside it. The text stays the user's, even when it is no
// number: the row editors' checks say what is wrong with it, and the stepper asks its owner
// for the next value.

#include <QAbstractSpinBox>
#include <QLineEdit>
#include <cstdint>
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

// The widths of the steppers of a time or a date: two digits, or a year's four.
inline constexpr int kStepperWidth = 50;
inline constexpr int kYearStepperWidth = 70;

// The whole number a field holds, spaces around it aside, or fallback when it holds none.
inline std::int64_t FieldNumber(const QLineEdit* edit, std::int64_t fallback) {
    bool ok = false;
    const qlonglong n = edit->text().trimmed().toLongLong(&ok);
    return ok ? static_cast<std::int64_t>(n) : fallback;
}

}  // namespace qv::ui
