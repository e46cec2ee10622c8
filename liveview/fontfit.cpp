#include "fontfit.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>

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

// Room for text in the combo's field, editable or not (the relay combo turns editable when
// the unit has relay boards; its line edit keeps a small margin of its own).
int comboTextRoom(const QComboBox *combo, bool editable)
{
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = editable;
    const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                       QStyle::SC_ComboBoxEditField, combo);
    constexpr int lineEditMargins = 4;
    return field.width() - (editable ? lineEditMargins : 0);
}

// The port list is left out: device names have any length, and its tooltip gives them whole.
bool comboFits(const QComboBox *combo, const QString &family)
{
    const int room = qMin(comboTextRoom(combo, false), comboTextRoom(combo, true));
    for (int i = 0; i < combo->count(); ++i) {
        if (textWidth(combo, combo->itemText(i), family) > room)
            return false;
    }
    return true;
}

bool combosFit(const QWidget *window, const QString &family)
{
    const QList<QComboBox *> combos = window->findChildren<QComboBox *>();
    for (const QComboBox *combo : combos) {
        if (combo->objectName() != QLatin1String("com_port") && !comboFits(combo, family))
            return false;
    }
    return true;
}

bool labelFits(const QLabel *label, const QString &family)
{
    return textWidth(label, label->text(), family) <= label->contentsRect().width();
}

bool buttonFits(const QPushButton *button, const QString &family)
{
    const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
    return textWidth(button, button->text(), family) <= button->width() - 2 * margin;
}

bool labelsAndButtonsFit(const QWidget *window, const QString &family)
{
    const QList<QLabel *> labels = window->findChildren<QLabel *>();
    for (const QLabel *label : labels) {
        if (!labelFits(label, family))
            return false;
    }
    const QList<QPushButton *> buttons = window->findChildren<QPushButton *>();
    for (const QPushButton *button : buttons) {
        if (!buttonFits(button, family))
            return false;
    }
    return true;
}

bool everythingFits(const QWidget *window, const QString &family)
{
    return labelsAndButtonsFit(window, family) && combosFit(window, family);
}

using FitCheck = bool (*)(const QWidget *, const QString &);

// The first listed and installed family in which `fits` holds; empty when none does.
QString firstFamilyWhere(const QWidget *window, FitCheck fits)
{
    const QStringList installed = QFontDatabase::families();
    for (const char *family : candidates) {
        if (isInstalled(installed, QLatin1String(family)) && fits(window, QLatin1String(family)))
            return QLatin1String(family);
    }
    return QString();
}

// Steps the point size of `widget` down until `fits` holds for it or the size would go
// below a readable one.
template <class Widget, class Fits> void shrinkUntil(Widget *widget, Fits fits)
{
    constexpr qreal smallestPointSize = 7.0;
    constexpr qreal step = 0.5;
    QFont font = widget->font();
    while (!fits(widget, QString()) && font.pointSizeF() - step >= smallestPointSize) {
        font.setPointSizeF(font.pointSizeF() - step);
        widget->setFont(font);
    }
}

// A text that still does not fit (no listed face is narrow enough, or the desktop's point
// size is large) gets a smaller size of the same face: a whole "Не задано" or "Текущее
// значение:" reads better than a clipped one.
void shrinkToFit(QWidget *window)
{
    const QList<QComboBox *> combos = window->findChildren<QComboBox *>();
    for (QComboBox *combo : combos) {
        if (combo->objectName() != QLatin1String("com_port"))
            shrinkUntil(combo, comboFits);
    }
    const QList<QLabel *> labels = window->findChildren<QLabel *>();
    for (QLabel *label : labels)
        shrinkUntil(label, labelFits);
    const QList<QPushButton *> buttons = window->findChildren<QPushButton *>();
    for (QPushButton *button : buttons)
        shrinkUntil(button, buttonFits);
}

QString chooseFamily(QWidget *window)
{
    if (everythingFits(window, QString()))
        return window->font().family();
    // Whole labels and buttons matter more than a whole combo box item.
    QString family = firstFamilyWhere(window, everythingFits);
    if (family.isEmpty() && !labelsAndButtonsFit(window, QString()))
        family = firstFamilyWhere(window, labelsAndButtonsFit);
    if (family.isEmpty())
        return window->font().family();
    QFont font = window->font();
    font.setFamily(family);
    window->setFont(font); // controls with a point size of their own keep it
    return font.family();
}
} // namespace

QString fitFontFamily(QWidget *window)
{
    const QString family = chooseFamily(window);
    shrinkToFit(window);
    return family;
}

bool textsFit(const QWidget *window)
{
    return everythingFits(window, window->font().family());
}
