#include "ui/middle_truncation.h"

#include <QFontMetrics>
#include <QWidget>

namespace qv::ui {

QString TruncatedString(const QString& text, int width,
                        const std::function<int(const QString&)>& measure) {
    if (measure(text) <= width) return text;
    // Whole code points, so that a character outside the basic plane is never cut in two.
    QList<uint> chars = text.toUcs4();
    const uint ellipsis = 0x2026;
    chars.append(ellipsis);
    while (chars.size() > 1) {
        const qsizetype middle = chars.size() / 2;
        QList<uint> candidate = chars.mid(0, middle);
        candidate.append(ellipsis);
        candidate.append(chars.mid(middle, chars.size() - middle - 1));
        const QString shown = QString::fromUcs4(reinterpret_cast<const char32_t*>(candidate.data()),
                                                candidate.size());
        if (measure(shown) <= width) return shown;
        chars.remove(middle - 1);
    }
    return QString(QChar(ellipsis));
}

QString TruncatedString(const QString& text, const QWidget& forObject) {
    const QFontMetrics metrics(forObject.font());
    return TruncatedString(text, forObject.width() - 2,
                           [&metrics](const QString& s) { return metrics.horizontalAdvance(s); });
}

}  // namespace qv::ui
