#include "portlistrefresh.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QMouseEvent>

namespace {
// The presses with which a closed combo box opens its list.
bool opensList(const QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress)
        return static_cast<const QMouseEvent *>(event)->button() == Qt::LeftButton;
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto *key = static_cast<const QKeyEvent *>(event);
    switch (key->key()) {
    case Qt::Key_F4:
    case Qt::Key_Space:
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
        return key->modifiers() & Qt::AltModifier;
    default:
        return false;
    }
}
} // namespace

PortListRefresh::PortListRefresh(QComboBox *combo, PortLister listPorts, PortDescriber describe)
    : QObject(combo), combo(combo), listPorts(std::move(listPorts)), describe(std::move(describe))
{
    combo->installEventFilter(this);
    connect(combo, &QComboBox::currentIndexChanged, this, &PortListRefresh::showChosenTooltip);
}

void PortListRefresh::fill(const QStringList &names)
{
    const QString chosen = combo->currentText();
    QStringList all = names;
    for (const QString &name : std::as_const(kept)) {
        if (!all.contains(name))
            all << name;
    }
    const QSignalBlocker quiet(combo);
    combo->clear();
    const QStringList tooltips = describe(all);
    for (qsizetype i = 0; i < all.size(); ++i) {
        combo->addItem(all.at(i));
        combo->setItemData(combo->count() - 1, tooltips.value(i), Qt::ToolTipRole);
    }
    const int index = combo->findText(chosen);
    combo->setCurrentIndex(index >= 0 ? index : (combo->count() > 0 ? 0 : -1));
    showChosenTooltip();
}

void PortListRefresh::refresh()
{
    fill(listPorts());
}

void PortListRefresh::keep(const QString &name)
{
    if (!kept.contains(name))
        kept << name;
}

bool PortListRefresh::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == combo && combo->isEnabled() && opensList(event))
        refresh();
    return false;
}

void PortListRefresh::showChosenTooltip()
{
    const int index = combo->currentIndex();
    combo->setToolTip(index >= 0 ? combo->itemData(index, Qt::ToolTipRole).toString() : QString());
}
