// The main window's form on its own: what setupUi builds and retranslateUi writes.
#include "ui_mainwindow.h"
#include "valuerules.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

#include <memory>

class TestMainWindowForm : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void window();
    void controls_data();
    void controls();
    void ownFontsOnlyWhereSet();
    void formPointersNameTheirControls();
    void properties();
    void ranges_data();
    void ranges();
    void tabOrder();
    void afterSetupUiAlone();
    void retranslateKeepsOneRelayItem();
    void nothingExtra();
    void screenReaderNames();

private:
    QWidget *control(const QString &name) const { return window_->findChild<QWidget *>(name); }
    std::unique_ptr<QMainWindow> window_;
    Ui_MainWindow ui{};
};

void TestMainWindowForm::init()
{
    window_ = std::make_unique<QMainWindow>();
    ui.setupUi(window_.get());
}

void TestMainWindowForm::cleanup()
{
    window_.reset();
}

void TestMainWindowForm::window()
{
    QMainWindow &w = *window_;
    QCOMPARE(w.objectName(), QString("MainWindow"));
    QCOMPARE(w.windowModality(), Qt::ApplicationModal);
    QCOMPARE(w.size(), QSize(391, 320));
    QCOMPARE(w.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(w.sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    QCOMPARE(w.sizePolicy().horizontalStretch(), 0);
    QCOMPARE(w.sizePolicy().verticalStretch(), 0);
    QCOMPARE(w.minimumSize(), QSize(391, 300));
    QCOMPARE(w.maximumSize(), QSize(391, 425));
    QCOMPARE(w.centralWidget(), ui.centralWidget);
    QVERIFY(!w.windowIcon().isNull());

    // Width is fixed, height moves between 300 and 425.
    w.resize(500, 1000);
    QCOMPARE(w.size(), QSize(391, 425));
    w.resize(100, 10);
    QCOMPARE(w.size(), QSize(391, 300));
}

void TestMainWindowForm::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<int>("pointSize"); // 0: no font of its own
    QTest::addColumn<QString>("text");  // label or button text, group box title

    auto row = [](const char *name, const char *cls, const char *parent, QRect geometry,
                  int pointSize, const QString &text = QString()) {
        QTest::newRow(name) << QString(name) << QString(cls) << QString(parent) << geometry
                            << pointSize << text;
    };
    row("groupBox", "QGroupBox", "centralWidget", {10, 60, 371, 251}, 0);
    row("label_3", "QLabel", "groupBox", {10, 10, 71, 21}, 9, "Плата входа");
    row("input", "QComboBox", "groupBox", {90, 10, 44, 22}, 0);
    row("line", "QFrame", "groupBox", {10, 32, 351, 16}, 0);
    row("groupBox_2", "QGroupBox", "groupBox", {10, 80, 351, 121}, 10, "Включить реле по тревоге");
    row("label_7", "QLabel", "groupBox_2", {24, 30, 73, 21}, 9, "Номер реле");
    row("output", "QComboBox", "groupBox_2", {100, 30, 86, 22}, 0);
    row("label_9", "QLabel", "groupBox_2", {162, 60, 41, 21}, 9, "(сек)");
    row("a_time", "QSpinBox", "groupBox_2", {100, 60, 61, 22}, 0);
    row("label_8", "QLabel", "groupBox_2", {24, 60, 61, 21}, 9, "На время");
    row("label_10", "QLabel", "groupBox_2", {162, 90, 31, 21}, 9, "(сек)");
    row("label_12", "QLabel", "groupBox_2", {24, 90, 71, 21}, 9, "С периодом");
    row("a_period", "QSpinBox", "groupBox_2", {100, 90, 61, 22}, 0);
    row("set_rele", "QPushButton", "groupBox_2", {230, 60, 101, 51}, 0, "Установить");
    row("reset_rele", "QPushButton", "groupBox_2", {230, 30, 101, 23}, 0, "Переключить");
    row("state", "QLabel", "groupBox", {146, 14, 211, 16}, 0, "Неисправность. Корпус вскрыт");
    row("current_value", "QPushButton", "groupBox", {10, 50, 351, 21}, 0, "Текущее значение");
    row("prog", "QPushButton", "groupBox", {250, 210, 111, 31}, 0, "Прошивка");
    row("version", "QLabel", "groupBox", {10, 216, 201, 20}, 0, "");
    row("label", "QLabel", "centralWidget", {10, 13, 61, 16}, 9, "COM-порт");
    row("com_port", "QComboBox", "centralWidget", {70, 10, 69, 22}, 0);
    row("start", "QPushButton", "centralWidget", {310, 10, 75, 23}, 0, "Старт");
    row("label_2", "QLabel", "centralWidget", {160, 13, 40, 13}, 9, "Адрес");
    row("addr", "QSpinBox", "centralWidget", {204, 10, 81, 22}, 0);
    row("line_2", "QFrame", "centralWidget", {10, 40, 371, 16}, 0);
}

void TestMainWindowForm::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);
    QFETCH(int, pointSize);
    QFETCH(QString, text);

    const QList<QWidget *> found = window_->findChildren<QWidget *>(name);
    QCOMPARE(found.size(), 1);
    QWidget *w = found.first();
    QCOMPARE(QString(w->metaObject()->className()), className);
    QVERIFY(w->parentWidget());
    QCOMPARE(w->parentWidget()->objectName(), parentName);
    QCOMPARE(w->geometry(), geometry);
    QCOMPARE(w->testAttribute(Qt::WA_SetFont), pointSize != 0);
    if (pointSize != 0)
        QCOMPARE(w->font().pointSize(), pointSize);

    if (auto *label = qobject_cast<QLabel *>(w))
        QCOMPARE(label->text(), text);
    else if (auto *button = qobject_cast<QAbstractButton *>(w))
        QCOMPARE(button->text(), text);
    else if (auto *box = qobject_cast<QGroupBox *>(w))
        QCOMPARE(box->title(), text);
}

void TestMainWindowForm::ownFontsOnlyWhereSet()
{
    // The relay group's controls without a font of their own take its 10 pt.
    for (QWidget *w : {static_cast<QWidget *>(ui.output), static_cast<QWidget *>(ui.a_time),
                       static_cast<QWidget *>(ui.a_period), static_cast<QWidget *>(ui.set_rele),
                       static_cast<QWidget *>(ui.reset_rele)}) {
        QCOMPARE(w->font().pointSize(), 10);
    }
}

void TestMainWindowForm::formPointersNameTheirControls()
{
    const QList<QPair<QWidget *, QString>> pointers = {
        {ui.centralWidget, "centralWidget"},
        {ui.groupBox, "groupBox"},
        {ui.label_3, "label_3"},
        {ui.input, "input"},
        {ui.line, "line"},
        {ui.groupBox_2, "groupBox_2"},
        {ui.label_7, "label_7"},
        {ui.output, "output"},
        {ui.label_9, "label_9"},
        {ui.a_time, "a_time"},
        {ui.label_8, "label_8"},
        {ui.label_10, "label_10"},
        {ui.label_12, "label_12"},
        {ui.a_period, "a_period"},
        {ui.set_rele, "set_rele"},
        {ui.reset_rele, "reset_rele"},
        {ui.state, "state"},
        {ui.current_value, "current_value"},
        {ui.prog, "prog"},
        {ui.version, "version"},
        {ui.label, "label"},
        {ui.com_port, "com_port"},
        {ui.start, "start"},
        {ui.label_2, "label_2"},
        {ui.addr, "addr"},
        {ui.line_2, "line_2"},
    };
    for (const auto &p : pointers) {
        QVERIFY2(p.first, qPrintable(p.second));
        QCOMPARE(p.first->objectName(), p.second);
        QCOMPARE(p.first->window(), window_.get());
    }
}

void TestMainWindowForm::properties()
{
    QCOMPARE(ui.groupBox->title(), QString());
    QCOMPARE(ui.groupBox->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(ui.groupBox->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(ui.groupBox->minimumSize(), QSize(371, 251));

    for (QFrame *rule : {ui.line, ui.line_2}) {
        QCOMPARE(rule->frameShape(), QFrame::HLine);
        QCOMPARE(rule->frameShadow(), QFrame::Sunken);
    }

    QVERIFY(!ui.set_rele->isEnabled());
    QVERIFY(ui.set_rele->autoFillBackground());
    QVERIFY(!ui.set_rele->autoDefault());
    QVERIFY(!ui.set_rele->isDefault());
    QVERIFY(!ui.set_rele->isFlat());

    QVERIFY(ui.state->autoFillBackground());
    QCOMPARE(ui.state->frameShape(), QFrame::Box);
    QCOMPARE(ui.state->alignment(), Qt::AlignCenter);
    QCOMPARE(ui.state->margin(), 0);

    for (QComboBox *combo : {ui.input, ui.output, ui.com_port})
        QVERIFY(!combo->isEditable());
}

void TestMainWindowForm::ranges_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("maximum");
    QTest::newRow("a_time") << "a_time" << 300;
    QTest::newRow("a_period") << "a_period" << 120;
    QTest::newRow("addr") << "addr" << 255;
}

void TestMainWindowForm::ranges()
{
    QFETCH(QString, name);
    QFETCH(int, maximum);
    auto *spin = window_->findChild<QSpinBox *>(name);
    QVERIFY(spin);
    QCOMPARE(spin->minimum(), 0);
    QCOMPARE(spin->maximum(), maximum);
    QCOMPARE(spin->value(), 0);
    QCOMPARE(spin->singleStep(), 1);
    QCOMPARE(spin->prefix(), QString());
    QCOMPARE(spin->suffix(), QString());
    spin->setValue(maximum + 1);
    QCOMPARE(spin->value(), maximum);
    spin->setValue(-1);
    QCOMPARE(spin->value(), 0);
    // The form's ranges are the unit's limits: what the spin boxes let through the rule takes.
    if (name == "a_time")
        QCOMPARE(maximum, unit::maxOnTime);
    if (name == "a_period")
        QCOMPARE(maximum, unit::maxPeriod);
}

void TestMainWindowForm::tabOrder()
{
    const QStringList expected = {"com_port", "addr",   "start",    "input",    "current_value",
                                  "output",   "a_time", "a_period", "set_rele", "prog"};
    // Walk the focus chain once round from com_port and note the tab-order controls met.
    QStringList met;
    QWidget *w = ui.com_port;
    do {
        if (expected.contains(w->objectName()) && !met.contains(w->objectName()))
            met << w->objectName();
        w = w->nextInFocusChain();
    } while (w && w != ui.com_port);
    QCOMPARE(met, expected);
}

void TestMainWindowForm::afterSetupUiAlone()
{
    QCOMPARE(window_->windowTitle(), QString("MainWindow"));
    const QList<QWidget *> all = ui.centralWidget->findChildren<QWidget *>();
    for (QWidget *w : all)
        QCOMPARE(w->isEnabled(), w != ui.set_rele);
    QCOMPARE(ui.output->count(), 1);
    QCOMPARE(ui.output->itemText(0), QString("Не задано"));
    QCOMPARE(ui.input->count(), 0);
    QCOMPARE(ui.com_port->count(), 0);
}

void TestMainWindowForm::retranslateKeepsOneRelayItem()
{
    ui.output->setItemText(0, "x");
    window_->setWindowTitle("other");
    ui.retranslateUi(window_.get());
    ui.retranslateUi(window_.get());
    QCOMPARE(ui.output->count(), 1);
    QCOMPARE(ui.output->itemText(0), QString("Не задано"));
    QCOMPARE(window_->windowTitle(), QString("MainWindow"));
}

void TestMainWindowForm::nothingExtra()
{
    QVERIFY(!window_->findChild<QMenuBar *>());
    QVERIFY(!window_->findChild<QStatusBar *>());
    QVERIFY(!window_->findChild<QToolBar *>());
    QVERIFY(!ui.centralWidget->layout());
    const QList<QWidget *> all = window_->findChildren<QWidget *>();
    for (QWidget *w : all) {
        QVERIFY2(w->toolTip().isEmpty(), qPrintable(w->objectName()));
        QVERIFY2(w->statusTip().isEmpty(), qPrintable(w->objectName()));
        QVERIFY2(w->styleSheet().isEmpty(), qPrintable(w->objectName()));
    }
}

// What a screen reader finds walking the window: every control under the name of the label
// beside it (the label its buddy, reported as the control's label), the buttons under their
// texts. A combo box's own name is its current text on Linux, where readers take the label.
void TestMainWindowForm::screenReaderNames()
{
    QHash<QString, QString> names;
    QHash<QString, QStringList> labels; // its own, and its group's
    const std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
        if (QObject *object = node->object()) {
            names.insert(object->objectName(), node->text(QAccessible::Name));
            for (const auto &[label, relation] : node->relations(QAccessible::Label))
                labels[object->objectName()] << label->text(QAccessible::Name);
        }
        for (int i = 0; i < node->childCount(); ++i)
            walk(node->child(i));
    };
    walk(QAccessible::queryAccessibleInterface(window_.get()));
    const QList<QPair<QString, QString>> labelled = {
        {"input", "Плата входа"}, {"output", "Номер реле"}, {"a_time", "На время"},
        {"a_period", "С периодом"}, {"com_port", "COM-порт"}, {"addr", "Адрес"},
    };
    for (const auto &[control, label] : labelled) {
        QVERIFY2(labels.value(control).contains(label),
                 qPrintable(control + ": " + labels.value(control).join(", ")));
        QVERIFY(window_->findChild<QWidget *>(control)->accessibleName().startsWith(label));
    }
    const QList<QPair<QString, QString>> named = {
        {"a_time", "На время, сек"},   {"a_period", "С периодом, сек"},
        {"addr", "Адрес"},             {"state", "Состояние платы входа"},
        {"version", "Версия прошивки"}, {"start", "Старт"},
        {"set_rele", "Установить"},    {"reset_rele", "Переключить"},
        {"current_value", "Текущее значение"}, {"prog", "Прошивка"},
    };
    for (const auto &[control, name] : named)
        QCOMPARE(names.value(control), name);
}

QTEST_MAIN(TestMainWindowForm)
#include "tst_mainwindowform.moc"
