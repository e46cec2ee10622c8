#include "fontfit.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace {
// Metric-compatible stand-ins for the faces the layout was drawn with, then narrower ones.
const char *const candidates[] = {
    "Nimbus Sans",        "Liberation Sans",       "Arial",
    "Helvetica",          "DejaVu Sans Condensed", "Liberation Sans Narrow",
    "Nimbus Sans Narrow", "Arial Narrow"};

// Font families are listed with their foundry when two provide one: "Nimbus Sans [urw]".
bool isInstalled(const QStringList &families, const QString &family)
{
    for (const QString &listed : families) {
        if (listed == family || listed.startsWith(family + QLatin1String(" [")))
            return true;
    }
    return false;
}

// Width of `text` in the widget's font, drawn in `family` (empty: the widget's own).
int textWidth(const QWidget *w, const QString &text, const QString &family)
{
    QFont font = w->font();
    if (!family.isEmpty())
        font.setFamily(family);
    return QFontMetrics(font).horizontalAdvance(text);
}

bool everythingFits(const QWidget *window, const QString &family)
{
    const QList<QLabel *> labels = window->findChildren<QLabel *>();
    for (const QLabel *label : labels) {
        if (textWidth(label, label->text(), family) > label->contentsRect().width())
            return false;
    }
    const QList<QPushButton *> buttons = window->findChildren<QPushButton *>();
    for (const QPushButton *button : buttons) {
        const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
        if (textWidth(button, button->text(), family) > button->width() - 2 * margin)
            return false;
    }
    return true;
}
} // namespace

QString fitFontFamily(QWidget *window)
{
    if (everythingFits(window, QString()))
        return window->font().family();
    const QStringList installed = QFontDatabase::families();
    for (const char *family : candidates) {
        if (isInstalled(installed, QLatin1String(family)) &&
            everythingFits(window, QLatin1String(family))) {
            QFont font = window->font();
            font.setFamily(QLatin1String(family));
            window->setFont(font); // controls with a point size of their own keep it
            return font.family();
        }
    }
    return window->font().family();
}
