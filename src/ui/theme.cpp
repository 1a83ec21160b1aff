#include "ui/theme.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace qv::ui {

ThemeKind ChooseTheme(const QString& requested) {
    if (requested == QLatin1String("dark")) return ThemeKind::Dark;
    if (requested == QLatin1String("light")) return ThemeKind::Light;
    return QApplication::palette().color(QPalette::Window).lightness() < 128 ? ThemeKind::Dark
                                                                             : ThemeKind::Light;
}

namespace {

QPalette LightPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(0xf3, 0xf4, 0xf6));
    p.setColor(QPalette::WindowText, QColor(0x1f, 0x29, 0x37));
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::AlternateBase, QColor(0xf9, 0xfa, 0xfb));
    p.setColor(QPalette::Text, QColor(0x1a, 0x1a, 0x1a));
    p.setColor(QPalette::Button, QColor(0xfa, 0xfa, 0xfb));
    p.setColor(QPalette::ButtonText, QColor(0x1f, 0x29, 0x37));
    p.setColor(QPalette::Highlight, QColor(0x25, 0x63, 0xeb));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, QColor(0x1f, 0x29, 0x37));
    p.setColor(QPalette::ToolTipText, Qt::white);
    p.setColor(QPalette::PlaceholderText, QColor(0x9c, 0xa3, 0xaf));
    p.setColor(QPalette::Mid, QColor(0xd1, 0xd5, 0xdb));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x9c, 0xa3, 0xaf));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x9c, 0xa3, 0xaf));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x9c, 0xa3, 0xaf));
    return p;
}

QPalette DarkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x1e, 0x20, 0x25));
    p.setColor(QPalette::WindowText, QColor(0xe5, 0xe7, 0xeb));
    p.setColor(QPalette::Base, QColor(0x2a, 0x2d, 0x34));
    p.setColor(QPalette::AlternateBase, QColor(0x25, 0x28, 0x2e));
    p.setColor(QPalette::Text, QColor(0xe5, 0xe7, 0xeb));
    p.setColor(QPalette::Button, QColor(0x2f, 0x33, 0x3b));
    p.setColor(QPalette::ButtonText, QColor(0xe5, 0xe7, 0xeb));
    p.setColor(QPalette::Highlight, QColor(0x3b, 0x82, 0xf6));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, QColor(0xe5, 0xe7, 0xeb));
    p.setColor(QPalette::ToolTipText, QColor(0x1e, 0x20, 0x25));
    p.setColor(QPalette::PlaceholderText, QColor(0x8b, 0x93, 0xa1));
    p.setColor(QPalette::Mid, QColor(0x3f, 0x44, 0x4e));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x6b, 0x72, 0x80));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x6b, 0x72, 0x80));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x6b, 0x72, 0x80));
    return p;
}

}  // namespace

void ApplyTheme(QApplication& app, ThemeKind kind) {
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    app.setPalette(kind == ThemeKind::Dark ? DarkPalette() : LightPalette());
}

QColor PathColor(bool euidIsRoot) {
    return euidIsRoot ? QColor(0x25, 0x63, 0xeb) : QApplication::palette().color(QPalette::Text);
}

}  // namespace qv::ui
