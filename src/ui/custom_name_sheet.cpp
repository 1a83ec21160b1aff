#include "ui/custom_name_sheet.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/localization.h"
#include "ui/qt_text.h"
#include "ui/session_name_sheet.h"

namespace qv::ui {

using platform::GLS;

namespace {

// Patterns shown with the names they give today, so that the user sees how one is written.
constexpr const char* kSamplePatterns[] = {
    "'Copy of' kSrc yyyy-MM-dd",
    "kSrc yyyy-MM-dd",
    "yyyy-MM-dd HH.mm",
    "EEEE d MMMM yyyy",
};

}  // namespace

CustomNameSheet::CustomNameSheet(Sample sample, Check check, QWidget* parent)
    : QDialog(parent), sampleOf_(std::move(sample)), check_(std::move(check)) {
    setObjectName(QStringLiteral("customNameSheet"));
    setWindowTitle(Str(GLS("Sub-folder name")));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(
        Str(GLS("The name of the sub-folder is the date of each run written with this pattern; "
                "kSrc stands for the name of the source folder and text in apostrophes is "
                "copied as it is.")),
        this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto* form = new QFormLayout;
    pattern_ = new QLineEdit(this);
    pattern_->setObjectName(QStringLiteral("customNamePattern"));
    pattern_->setMinimumWidth(320);
    sample_ = new QLineEdit(this);
    sample_->setObjectName(QStringLiteral("customNameSample"));
    sample_->setReadOnly(true);
    form->addRow(Str(GLS("Pattern:")), pattern_);
    form->addRow(Str(GLS("Name today:")), sample_);
    layout->addLayout(form);

    auto* samples = new QLabel(this);
    samples->setObjectName(QStringLiteral("customNameSamples"));
    samples->setTextFormat(Qt::PlainText);
    QStringList lines{Str(GLS("Samples:"))};
    for (const char* p : kSamplePatterns) {
        lines << QStringLiteral("  %1  →  %2").arg(Str(p), Str(sampleOf_(p)));
    }
    samples->setText(lines.join(QLatin1Char('\n')));
    layout->addWidget(samples);

    AddOkCancel(this, layout, &ok_, &cancel_);

    connect(pattern_, &QLineEdit::textChanged, this,
            &CustomNameSheet::UpdateAskSubFolderResultField);
    connect(ok_, &QPushButton::clicked, this, &CustomNameSheet::Apply);
}

void CustomNameSheet::setPattern(const std::string& pattern) {
    pattern_->setText(Str(pattern));
    UpdateAskSubFolderResultField();
}

std::string CustomNameSheet::pattern() const { return pattern_->text().toStdString(); }

void CustomNameSheet::UpdateAskSubFolderResultField() {
    sample_->setText(Str(sampleOf_(pattern())));
}

void CustomNameSheet::Apply() {
    if (alert_) return;
    const std::string problem = check_(pattern());
    if (problem.empty()) {
        accept();
        return;
    }
    alert_ = OpenWarning(problem, "customNameAlert", this);
}

}  // namespace qv::ui
