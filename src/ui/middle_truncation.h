#pragma once
// Shortening a text in its middle so that it fits a field: "/home/ann/Pro…s/Report.txt".

#include <QString>
#include <functional>

class QWidget;

namespace qv::ui {

// The text unchanged when measure(text) <= width; otherwise the text with "…" appended loses,
// one at a time, the character just before its middle until head + "…" + tail fits, tail
// being the rest without the appended "…".
QString TruncatedString(const QString& text, int width,
                        const std::function<int(const QString&)>& measure);
// For a field: its width less 2 pixels, measured with its font.
QString TruncatedString(const QString& text, const QWidget& forObject);

}  // namespace qv::ui
