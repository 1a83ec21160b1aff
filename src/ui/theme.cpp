#include "ui/theme.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QStyleOption>
#include <algorithm>
#include <cmath>
#include <QStyleFactory>

namespace qv::ui {

ThemeKind ChooseTheme(const QString& requested) {
    if (requested == QLatin1String("dark")) return ThemeKind::Dark;
    if (requested == QLatin1String("light")) return ThemeKind::Light;
    // The desktop's choice: the palette its platform theme gives Qt, or a GTK theme named dark
    // (the variant GNOME, Xfce, Cinnamon and MATE set for their dark looks).
    if (qEnvironmentVariable("GTK_THEME").endsWith(QLatin1String(":dark"))) {
        return ThemeKind::Dark;
    }
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
    p.setColor(QPalette::PlaceholderText, QColor(0x6b, 0x72, 0x80));
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
    p.setColor(QPalette::Highlight, QColor(0x25, 0x63, 0xeb));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, QColor(0xe5, 0xe7, 0xeb));
    p.setColor(QPalette::ToolTipText, QColor(0x1e, 0x20, 0x25));
    p.setColor(QPalette::PlaceholderText, QColor(0x9c, 0xa3, 0xaf));
    p.setColor(QPalette::Mid, QColor(0x3f, 0x44, 0x4e));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x6b, 0x72, 0x80));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x6b, 0x72, 0x80));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x6b, 0x72, 0x80));
    return p;
}

// Fusion draws the outline of a check box or a radio button a shade darker than the window:
// on a dark window nothing shows. A lighter ring is drawn over it there.
class VisibleIndicators : public QProxyStyle {
  public:
    using QProxyStyle::QProxyStyle;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        const bool box = element == PE_IndicatorCheckBox;
        if ((!box && element != PE_IndicatorRadioButton) ||
            option->palette.color(QPalette::Window).lightness() >= 128) {
            return;
        }
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        QColor ring = option->palette.color(QPalette::Text);
        ring.setAlphaF((option->state & State_Enabled) ? 0.55 : 0.25);
        painter->setPen(QPen(ring, 1));
        painter->setBrush(Qt::NoBrush);
        const QRectF r = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
        if (box) {
            painter->drawRoundedRect(r, 2, 2);
        } else {
            painter->drawEllipse(r);
        }
        painter->restore();
    }
};

}  // namespace

QPalette ThemePalette(ThemeKind kind) {
    return kind == ThemeKind::Dark ? DarkPalette() : LightPalette();
}

void ApplyTheme(QApplication& app, ThemeKind kind) {
    app.setStyle(new VisibleIndicators(QStyleFactory::create(QStringLiteral("Fusion"))));
    app.setPalette(ThemePalette(kind));
}

QColor PathColor(bool euidIsRoot) {
    const QPalette palette = QApplication::palette();
    if (!euidIsRoot) return palette.color(QPalette::Text);
    const bool dark = palette.color(QPalette::Base).lightness() < 128;
    return dark ? QColor(0x93, 0xc5, 0xfd) : QColor(0x1d, 0x4e, 0xd8);
}

double ContrastRatio(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace qv::ui
