#pragma once
// The application's look: the Fusion style with a light or a dark palette, and the few
// colours the console uses beyond the palette.

#include <QColor>
#include <QString>

class QApplication;

namespace qv::ui {

enum class ThemeKind { Light, Dark };

// "light", "dark", or anything else for the desktop's own choice (a dark window colour).
ThemeKind ChooseTheme(const QString& requested);
void ApplyTheme(QApplication& app, ThemeKind kind);

// Path text: blue while running as root, otherwise the palette's text colour.
QColor PathColor(bool euidIsRoot);

}  // namespace qv::ui
