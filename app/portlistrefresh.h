#pragma once

#include <QObject>
#include <QStringList>
#include <functional>

class QComboBox;

// Keeps the port list current: an adapter plugged in after the window opened appears the
// next time the operator opens the list. Watches the combo box for the presses that open its
// list and reads the ports again just before (only while the combo is enabled, that is while
// the window is idle). The chosen port stays chosen while it is still there. Every entry,
// and the closed combo, carries the port's description as its tooltip, since the combo's
// fixed width cuts long names.
class PortListRefresh : public QObject
{
    Q_OBJECT
public:
    using PortLister = std::function<QStringList()>;
    // The tooltips of the names given, in their order.
    using PortDescriber = std::function<QStringList(const QStringList &)>;

    PortListRefresh(QComboBox *combo, PortLister listPorts, PortDescriber describe);

    // Fills the combo with `names` (keeping the current choice if it is among them), each
    // with its tooltip.
    void fill(const QStringList &names);
    // Reads the ports again and fills the combo with them.
    void refresh();
    // Ports named outside the system's list (a path given by the operator) stay listed.
    void keep(const QString &name);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showChosenTooltip();

    QComboBox *combo;
    PortLister listPorts;
    PortDescriber describe;
    QStringList kept;
};
