#include <QJsonObject>
#include <QTest>

#include "fakeform.h"
#include "model/uivaluemanager.h"

// A record type of the tests' own, to drive the engine beyond what the
// recording's table exercises.
struct Sample
{
    QString label;
    QString note;
    bool enabled = false;
    bool flagged = false;
    qint32 count = 0;
    double gain = 0.0;
    QString secret;

    static FieldDirectory<Sample> fieldDirectory();
};

namespace {
using Field = FieldEntry<Sample>;
const Field sampleFields[] = {
    Field::of("label", &Sample::label),     Field::of("note", &Sample::note),
    Field::of("enabled", &Sample::enabled), Field::of("flagged", &Sample::flagged),
    Field::of("count", &Sample::count),     Field::of("gain", &Sample::gain),
    Field::of("secret", &Sample::secret),   Field::opaque("history", "@\"NSMutableString\""),
};

constexpr ValueInfo sampleTable[] = {
    {"label", "labelField", nullptr, 0.0, 0},
    {"note", "noteField", "remember", 0.0, ValueFlags::keepWhitespace},
    {"enabled", "enabledButton", nullptr, 1.0, 0},
    {"flagged", nullptr, nullptr, 0.0, 0},
    {"count", "countField", nullptr, 600.0, 0},
    {"gain", "gainField", nullptr, 0.5, 0},
    {"secret", nullptr, "hidden", 0.0, ValueFlags::notArchived},
};

const UIValueManager<Sample> &engine()
{
    static const UIValueManager<Sample> manager(sampleTable, std::size(sampleTable));
    return manager;
}

// Runs the operation and answers the description it failed with, or "".
template<class Operation> QString failureOf(Operation operation)
{
    try {
        operation();
    } catch (const InternalInconsistency &failure) {
        return failure.description();
    }
    return QString();
}
} // namespace

FieldDirectory<Sample> Sample::fieldDirectory()
{
    return sampleFields;
}

class TestUIValueManager : public QObject
{
    Q_OBJECT

private:
    static void fillForm(FakeForm &form)
    {
        form.add<FakeTextField>("labelField");
        form.add<FakeTextField>("noteField");
        form.add<FakeButton>("enabledButton");
        form.add<FakeTextField>("countField");
        form.add<FakeTextField>("gainField");
        // A control named like a field without a uiName must never be touched.
        form.add<FakeButton>("flagged");
    }

private Q_SLOTS:
    void defaultsComeFromTheTable()
    {
        Sample s;
        s.flagged = true;
        engine().initObject(s);
        QVERIFY(!s.label.isNull());
        QCOMPARE(s.label, QString());
        QCOMPARE(s.note, QStringLiteral("remember"));
        QCOMPARE(s.enabled, true);
        QCOMPARE(s.flagged, false);
        QCOMPARE(s.count, 600);
        QCOMPARE(s.gain, 0.5);
    }

    void copySharesValuesThatThenDiverge()
    {
        Sample source;
        engine().initObject(source);
        source.label = QStringLiteral("Jazz");
        source.count = 7;
        Sample copy;
        engine().copyObject(copy, source);
        QCOMPARE(copy.label, source.label);
        QCOMPARE(copy.count, 7);

        FakeForm form;
        fillForm(form);
        engine().loadObject(copy, form);
        form.field("labelField")->setStringValue(QStringLiteral("Blues"));
        engine().saveUI(form, copy);
        QCOMPARE(copy.label, QStringLiteral("Blues"));
        QCOMPARE(source.label, QStringLiteral("Jazz"));
    }

    void archiveSkipsNotArchivedAndDefaultsMissingKeys()
    {
        Sample s;
        engine().initObject(s);
        s.label = QStringLiteral("Morning");
        s.secret = QStringLiteral("changed");
        s.count = 42;
        KeyedArchiver archiver;
        engine().encodeObject(s, archiver);
        QVERIFY(!archiver.object().contains(QStringLiteral("secret")));
        QCOMPARE(archiver.object().value(QStringLiteral("count")).toInt(), 42);

        QJsonObject stored = archiver.object();
        stored.remove(QStringLiteral("gain"));
        stored.insert(QStringLiteral("secret"), QStringLiteral("from file"));
        stored.insert(QStringLiteral("enabled"), QStringLiteral("not a bool"));
        Sample read;
        engine().decodeObject(read, KeyedUnarchiver(stored));
        QCOMPARE(read.label, QStringLiteral("Morning"));
        QCOMPARE(read.count, 42);
        QCOMPARE(read.gain, 0.5);
        QCOMPARE(read.secret, QStringLiteral("hidden"));
        QCOMPARE(read.enabled, true); // a mistyped value keeps the default

        Sample empty;
        engine().decodeObject(empty, KeyedUnarchiver(QJsonObject()));
        QCOMPARE(empty.note, QStringLiteral("remember"));
        QCOMPARE(empty.count, 600);
    }

    void savingTrimsInlineWhitespaceOnly()
    {
        FakeForm form;
        fillForm(form);
        Sample s;
        engine().initObject(s);
        form.field("labelField")->setStringValue(QStringLiteral("  Late  Show\t"));
        form.field("noteField")->setStringValue(QStringLiteral("  kept  "));
        form.field("countField")->setStringValue(QStringLiteral("12 items"));
        form.field("gainField")->setStringValue(QStringLiteral("none"));
        form.button("enabledButton")->setState(ButtonControl::Mixed);
        form.button("flagged")->setState(ButtonControl::On);
        engine().saveUI(form, s);
        QCOMPARE(s.label, QStringLiteral("Late  Show"));
        QCOMPARE(s.note, QStringLiteral("  kept  "));
        QCOMPARE(s.count, 12);
        QCOMPARE(s.gain, 0.0);
        QCOMPARE(s.enabled, false); // mixed saves NO
        QCOMPARE(s.flagged, false);

        form.field("labelField")->setStringValue(QStringLiteral("Line\n"));
        engine().saveUI(form, s);
        QCOMPARE(s.label, QStringLiteral("Line\n"));
    }

    void loadingShowsEveryBoundField()
    {
        FakeForm form;
        fillForm(form);
        Sample s;
        engine().initObject(s);
        s.label = QStringLiteral("Night");
        engine().loadObject(s, form);
        QCOMPARE(form.field("labelField")->stringValue(), QStringLiteral("Night"));
        QCOMPARE(form.field("countField")->stringValue(), QStringLiteral("600"));
        QCOMPARE(form.button("enabledButton")->state(), int(ButtonControl::On));
        QCOMPARE(form.button("flagged")->state(), int(ButtonControl::Off));
    }

    void failuresNameTheProblem()
    {
        Sample s;
        // A field the record does not have.
        constexpr ValueInfo missingField[] = {{"volume", nullptr, nullptr, 0.0, 0}};
        const UIValueManager<Sample> missing(missingField, 1);
        QCOMPARE(failureOf([&] { missing.initObject(s); }),
                 QStringLiteral("Instance variable volume not found"));

        // A type the engine cannot move: defaulting raises, releasing does not.
        constexpr ValueInfo opaqueField[] = {{"history", nullptr, nullptr, 0.0, 0}};
        const UIValueManager<Sample> opaque(opaqueField, 1);
        QCOMPARE(failureOf([&] { opaque.initObject(s); }),
                 QStringLiteral("Unknown type: @\"NSMutableString\""));
        QCOMPARE(failureOf([&] { opaque.deallocObject(s); }), QString());
        KeyedArchiver archiver;
        QCOMPARE(failureOf([&] { opaque.encodeObject(s, archiver); }),
                 QStringLiteral("Unknown type: @\"NSMutableString\""));

        FakeForm form;
        constexpr ValueInfo noControl[] = {{"label", "nowhere", nullptr, 0.0, 0}};
        const UIValueManager<Sample> unbound(noControl, 1);
        QCOMPARE(failureOf([&] { unbound.loadObject(s, form); }),
                 QStringLiteral("UI Instance variable not found"));

        form.add<FakeButton>("labelButton");
        form.add<FakeTextField>("enabledField");
        constexpr ValueInfo wrongKinds[] = {{"label", "labelButton", nullptr, 0.0, 0},
                                            {"enabled", "enabledField", nullptr, 0.0, 0}};
        const UIValueManager<Sample> stringOnButton(wrongKinds, 1);
        QCOMPARE(failureOf([&] { stringOnButton.saveUI(form, s); }),
                 QStringLiteral("Value for button should be BOOL, is actually @\"NSString\""));
        const UIValueManager<Sample> boolOnText(wrongKinds + 1, 1);
        QCOMPARE(failureOf([&] { boolOnText.loadObject(s, form); }),
                 QStringLiteral("Unknown type: c"));
    }

    void failureStopsAtTheFailingRow()
    {
        constexpr ValueInfo rows[] = {{"count", nullptr, nullptr, 5.0, 0},
                                      {"volume", nullptr, nullptr, 0.0, 0},
                                      {"gain", nullptr, nullptr, 2.0, 0}};
        const UIValueManager<Sample> partial(rows, 3);
        Sample s;
        try {
            partial.initObject(s);
            QFAIL("expected a failure");
        } catch (const InternalInconsistency &failure) {
            QCOMPARE(failure.operation(), QStringLiteral("initObject"));
        }
        QCOMPARE(s.count, 5);
        QCOMPARE(s.gain, 0.0);
    }
};

QTEST_GUILESS_MAIN(TestUIValueManager)
#include "tst_uivaluemanager.moc"
