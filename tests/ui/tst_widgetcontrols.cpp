// The adapters between Qt widgets and the form the field engine binds to.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include "ui/widgetcontrols.h"

using namespace Qt::StringLiterals;

class TestWidgetControls : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsNumbersFromText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::newRow("number") << u"42"_s << 42;
        QTest::newRow("leading number") << u"15 min"_s << 15;
        QTest::newRow("not a number") << u"soon"_s << 0;
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("negative") << u"-5"_s << -5;
    }
    void readsNumbersFromText()
    {
        QFETCH(QString, text);
        QFETCH(int, number);
        QComboBox box;
        box.setEditable(true);
        ComboControl control(&box);
        control.setStringValue(text);
        QCOMPARE(control.intValue(), number);
        QCOMPARE(control.doubleValue(), double(number));
    }

    void checkBoxStates()
    {
        QCheckBox box;
        CheckControl control(&box);
        control.setState(ButtonControl::On);
        QVERIFY(box.isChecked());
        QCOMPARE(control.state(), ButtonControl::On);
        control.setState(ButtonControl::Mixed);
        QCOMPARE(control.state(), ButtonControl::Mixed);
        control.setState(ButtonControl::Off);
        QCOMPARE(control.state(), ButtonControl::Off);
    }

    void findsControlsByOutletName()
    {
        QWidget root;
        auto *station = new QLineEdit(&root);
        station->setObjectName(u"stationField"_s);
        auto *daily = new QCheckBox(&root);
        daily->setObjectName(u"dailyButton"_s);
        auto *monday = new QPushButton(&root);
        monday->setObjectName(u"monButton"_s);
        monday->setCheckable(true);
        WidgetForm form(&root);
        auto *value = dynamic_cast<ValueControl *>(form.controlNamed("stationField"));
        QVERIFY(value);
        value->setStringValue(u"http://radio.example/"_s);
        QCOMPARE(station->text(), u"http://radio.example/"_s);
        QCOMPARE(form.controlNamed("stationField"), value);
        QVERIFY(dynamic_cast<ButtonControl *>(form.controlNamed("dailyButton")));
        auto *toggle = dynamic_cast<ButtonControl *>(form.controlNamed("monButton"));
        QVERIFY(toggle);
        toggle->setState(ButtonControl::Mixed);
        QVERIFY(monday->isChecked());
        QCOMPARE(form.controlNamed("noSuchOutlet"), nullptr);
    }

    void fixedComboSelectsByText()
    {
        QComboBox box;
        box.addItems({u"AM"_s, u"PM"_s});
        ComboControl control(&box);
        control.setStringValue(u"PM"_s);
        QCOMPARE(box.currentIndex(), 1);
        control.setStringValue(u"noon"_s);
        QCOMPARE(box.currentIndex(), -1);
    }
};

QTEST_MAIN(TestWidgetControls)
#include "tst_widgetcontrols.moc"
