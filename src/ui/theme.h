#pragma once
// The application's look: the Fusion style with a light or a dark palette, and the few
// colours the console uses beyond the palette.

#include <QColor>
#include <QPalette>
#include <QString>

class QApplication;

namespace qv::ui {

enum class ThemeKind { Light, Dark };

// "light", "dark", or anything else for the desktop's own choice (a dark window colour).
ThemeKind ChooseTheme(const QString& requested);
// The palette of each look, as ApplyTheme sets it.
QPalette ThemePalette(ThemeKind kind);
void ApplyTheme(QApplication& app, ThemeKind kind);

// Path text: blue while running as root (a blue that reads on the palette's base), otherwise
// the palette's text colour.
QColor PathColor(bool euidIsRoot);

// The contrast of two colours as the accessibility guidelines measure it, from 1 to 21; text
// wants 4.5 at least.
double ContrastRatio(const QColor& a, const QColor& b);

}  // namespace qv::ui
