#include "ui/preferences_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <limits>

#include "app/main_app.h"
#include "platform/file_io.h"
#include "platform/localization.h"
#include "schedule/log_mail.h"
#include "sessions/email_settings.h"
#include "sessions/preference_labels.h"
#include "ui/error_alert.h"
#include "ui/middle_truncation.h"
#include "ui/path_table.h"
#include "ui/qt_text.h"

namespace qv::ui {

using platform::GLS;
using sessions::PreferenceControl;
using sessions::PreferenceLabel;

PreferencesWindow::PreferencesWindow(app::MainApp& app, QWidget* parent)
    : QDialog(parent), app_(app) {
    setWindowTitle(Str(GLS("Preferences")));
    auto* outer = new QVBoxLayout(this);
    tabs_ = new QTabWidget(this);
    outer->addWidget(tabs_);
    for (const char* identifier : sessions::kPreferenceTabs) BuildTab(identifier);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(Str(GLS("OK")), QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton(Str(GLS("Cancel")), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { PrefApply(kApplyTag); });
    connect(cancel, &QPushButton::clicked, this, [this] { PrefApply(kCancelTag); });
    outer->addWidget(buttons);
    PrefSet();
}

PreferencesWindow::~PreferencesWindow() {
    testMailStop_ = true;
    if (testMailThread_.joinable()) testMailThread_.join();
}

void PreferencesWindow::BuildEmailExtras(QWidget* page, QFormLayout* form) {
    emailPassword_ = new QLineEdit(page);
    emailPassword_->setObjectName(QStringLiteral("mSendEmailPassword"));
    emailPassword_->setEchoMode(QLineEdit::Password);
    connect(emailPassword_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (!filling_) editor_->setEmailPassword(text.toStdString());
    });
    form->addRow(Str(GLS("Password:")), emailPassword_);
    testMail_ = new QPushButton(Str(GLS("Send Test Email")), page);
    testMail_->setObjectName(QStringLiteral("sendTestEmail"));
    connect(testMail_, &QPushButton::clicked, this, &PreferencesWindow::SendTestMail);
    form->addRow(QString(), testMail_);
}

void PreferencesWindow::SendTestMail() {
    if (testMailThread_.joinable()) {  // the button reads "Interrupt" while one is sent
        testMailStop_ = true;
        return;
    }
    const plist::Value settings = editor_->emailSettings();
    std::string problem = sessions::CheckSendEmailDict(settings);
    if (problem.empty()) problem = sessions::CheckEmailFields(settings);
    if (!problem.empty()) {
        ShowWarning(problem, emailPassword_);
        return;
    }
    testMailStop_ = false;
    testMail_->setText(Str(GLS("Interrupt")));
    testMailThread_ = std::thread([this, settings] {
        const schedule::LogMailed mailed = schedule::SendTestMail(settings, &testMailStop_);
        const bool ok = mailed.ok();
        QMetaObject::invokeMethod(
            this,
            [this, ok] {
                if (testMailThread_.joinable()) testMailThread_.join();
                testMail_->setText(Str(GLS("Send Test Email")));
                testMailAlert_ = OpenAlert(
                    this, ok ? QMessageBox::Information : QMessageBox::Critical,
                    GLS(ok ? "Test Email Properly Sent" : "Cannot Send Test Email"),
                    GLS(ok ? "The test email has been properly sent."
                           : "The test email has not been sent. Please check your parameters."),
                    QStringLiteral("testMailAlert"));
                emit testMailEnded();
            },
            Qt::QueuedConnection);
    });
}

void PreferencesWindow::BuildTab(const char* identifier) {
    auto* page = new QWidget(tabs_);
    page->setObjectName(QString::fromLatin1(identifier));
    auto* form = new QFormLayout(page);
    for (const PreferenceLabel& row : sessions::PreferenceLabels()) {
        if (std::string_view(row.tab) != identifier) continue;
        const std::string key = row.key;
        const QString label = Str(GLS(row.label));
        QWidget* control = nullptr;
        switch (row.control) {
            case PreferenceControl::Checkbox: {
                auto* box = new QCheckBox(label, page);
                connect(box, &QCheckBox::toggled, this, [this, key](bool on) {
                    if (!filling_) editor_->setValue(key, on ? 1 : 0);
                    ControlChanged(key);
                });
                form->addRow(box);
                control = box;
                break;
            }
            case PreferenceControl::PopUp: {
                auto* pop = new QComboBox(page);
                for (const sessions::PreferenceChoice& choice : row.choices) {
                    pop->addItem(Str(GLS(choice.title)), QVariant::fromValue(choice.value));
                }
                connect(pop, &QComboBox::currentIndexChanged, this, [this, key, pop](int) {
                    if (!filling_) editor_->setValue(key, pop->currentData().toLongLong());
                    ControlChanged(key);
                });
                control = pop;
                break;
            }
            case PreferenceControl::Number: {
                auto* field = new QSpinBox(page);
                // Any number may be typed; the check on applying says what is refused.
                field->setRange(0, std::numeric_limits<int>::max());
                connect(field, &QSpinBox::valueChanged, this, [this, key](int value) {
                    if (!filling_) editor_->setValue(key, value);
                });
                control = field;
                break;
            }
            case PreferenceControl::Path: {
                auto* holder = new QWidget(page);
                auto* line = new QHBoxLayout(holder);
                line->setContentsMargins(0, 0, 0, 0);
                logFolderField_ = new QLabel(holder);
                logFolderField_->setMinimumWidth(220);
                logFolderField_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
                auto* choose = new QPushButton(Str(GLS("Choose")) + QStringLiteral("…"), holder);
                auto* open = new QPushButton(Str(GLS("Open")), holder);
                openLogFolder_ = open;
                connect(choose, &QPushButton::clicked, this,
                        &PreferencesWindow::PrefChooseLogFolder);
                connect(open, &QPushButton::clicked, this, &PreferencesWindow::PrefOpenLogFolder);
                line->addWidget(logFolderField_, 1);
                line->addWidget(choose);
                line->addWidget(open);
                control = holder;
                break;
            }
            case PreferenceControl::Text: {
                auto* field = new QLineEdit(page);
                connect(field, &QLineEdit::textEdited, this, [this, key](const QString& text) {
                    if (!filling_) editor_->setText(key, text.toStdString());
                });
                control = field;
                break;
            }
        }
        control->setObjectName(Str(key));
        controls_[key] = control;
        if (row.control != PreferenceControl::Checkbox) {
            auto* name = new QLabel(label, page);
            name->setBuddy(control);
            labels_[key] = name;
            form->addRow(name, control);
        }
    }
    if (std::string_view(identifier) == "E-mail") BuildEmailExtras(page, form);
    tabs_->addTab(page, Str(GLS(identifier)));
}

QWidget* PreferencesWindow::control(const std::string& key) const {
    const auto it = controls_.find(key);
    return it == controls_.end() ? nullptr : it->second;
}

QCheckBox* PreferencesWindow::checkbox(const std::string& key) const {
    return qobject_cast<QCheckBox*>(control(key));
}

void PreferencesWindow::PrefSet() {
    editor_ = std::make_unique<sessions::PreferencesEditor>(app_.preferences().mPrefDict);
    rootAtOpening_ = editor_->value("prefRoot");
    filling_ = true;
    for (const PreferenceLabel& row : sessions::PreferenceLabels()) {
        QWidget* widget = control(row.key);
        switch (row.control) {
            case PreferenceControl::Checkbox:
                static_cast<QCheckBox*>(widget)->setChecked(editor_->value(row.key) != 0);
                break;
            case PreferenceControl::PopUp: {
                auto* pop = static_cast<QComboBox*>(widget);
                // A stored value that is no choice selects nothing, and is kept unless changed.
                pop->setCurrentIndex(pop->findData(QVariant::fromValue(editor_->value(row.key))));
                break;
            }
            case PreferenceControl::Number:
                static_cast<QSpinBox*>(widget)->setValue(static_cast<int>(std::clamp<std::int64_t>(
                    editor_->value(row.key), 0, std::numeric_limits<int>::max())));
                break;
            case PreferenceControl::Path:
                SetLogFolderInUse(editor_->text(row.key));
                break;
            case PreferenceControl::Text:
                static_cast<QLineEdit*>(widget)->setText(Str(editor_->text(row.key)));
                break;
        }
    }
    if (emailPassword_ != nullptr) {
        emailPassword_->setText(Str(editor_->emailSettings().stringAt("mSendEmailPassword")));
    }
    filling_ = false;
    for (int i = 0; i < tabs_->count(); ++i) {
        if (tabs_->widget(i)->objectName() == Str(editor_->tab())) tabs_->setCurrentIndex(i);
    }
    ApplyEnablingRules();
}

void PreferencesWindow::ControlChanged(const std::string& /*key*/) {
    if (!filling_) ApplyEnablingRules();
}

void PreferencesWindow::ApplyEnablingRules() {
    for (const auto& [key, widget] : controls_) {
        const bool enabled = editor_->IsEnabled(key);
        widget->setEnabled(enabled);
        if (const auto label = labels_.find(key); label != labels_.end()) {
            label->second->setEnabled(enabled);
        }
    }
}

void PreferencesWindow::SetLogFolderInUse(const std::string& path) {
    if (!filling_) editor_->setText("prefPathLogFolder", path);
    logFolderField_->setProperty("fullPath", Path(path));
    logFolderField_->setToolTip(Path(path));
    logFolderField_->setText(TruncatedString(Path(path), *logFolderField_));
    openLogFolder_->setEnabled(!path.empty());
}

QString PreferencesWindow::shownLogFolder() const {
    return logFolderField_->property("fullPath").toString();
}

void PreferencesWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (logFolderField_ != nullptr) {
        logFolderField_->setText(TruncatedString(shownLogFolder(), *logFolderField_));
    }
}

void PreferencesWindow::PrefChooseLogFolder() {
    const std::string inUse = editor_->text("prefPathLogFolder");
    const QString start = platform::IsExistingFolder(inUse) ? Path(inUse) : QDir::currentPath();
    delete chooser_;
    chooser_ = new QFileDialog(this, Str(GLS("Choose the log folder")), start);
    chooser_->setFileMode(QFileDialog::Directory);
    chooser_->setOption(QFileDialog::ShowDirsOnly, true);
    connect(chooser_, &QFileDialog::fileSelected, this,
            [this](const QString& folder) { SetLogFolderInUse(PathBytes(folder)); });
    chooser_->open();
}

void PreferencesWindow::PrefOpenLogFolder() {
    const QString folder = shownLogFolder();
    if (!folder.isEmpty()) OpenWithDesktop(PathBytes(folder), this);
}

void PreferencesWindow::ShowWarning(const std::string& message, QWidget* focus) {
    delete warning_;
    warning_ = new QMessageBox(QMessageBox::Warning, Str(GLS("Warning:")), Lines(message),
                               QMessageBox::NoButton, this);
    warning_->addButton(Str(GLS("OK")), QMessageBox::AcceptRole);
    warning_->setWindowModality(Qt::WindowModal);
    if (focus != nullptr) {
        connect(warning_, &QMessageBox::finished, focus, [focus] { focus->setFocus(); });
    }
    warning_->open();
}

void PreferencesWindow::PrefApply(int tag) {
    if (tag == kCancelTag) {
        done(kCancelTag);
        return;
    }
    editor_->setTab(tabs_->currentWidget()->objectName().toStdString());
    std::string message;
    if (!editor_->Apply(app_.preferences(), &message)) {
        // The prune check sets the field to 1: the control shows it, selected.
        auto* prune = static_cast<QSpinBox*>(control("prefDeleteLogsField"));
        const bool pruneRefused = editor_->value("prefDeleteLogsField") != prune->value();
        QWidget* focus = nullptr;
        if (pruneRefused) {
            filling_ = true;
            prune->setValue(static_cast<int>(editor_->value("prefDeleteLogsField")));
            filling_ = false;
            prune->selectAll();
            focus = prune;
        }
        ShowWarning(message, focus);
        return;
    }
    const std::int64_t root = editor_->value("prefRoot");
    done(kApplyTag);
    if (root != rootAtOpening_) emit runAsRootChanged(root != 0);
}

}  // namespace qv::ui
