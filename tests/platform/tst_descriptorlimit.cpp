#include <QTest>

#include "platform/descriptorlimit.h"
#include "testfiles.h"
#include "testmain.h"

using namespace Qt::StringLiterals;

class TestDescriptorLimit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A quarter of the limit stays free, at least 8 and at most 32.
    void refusal_data()
    {
        QTest::addColumn<qint64>("inUse");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<int>("wanted");
        QTest::addColumn<QString>("reason"); // "" when granted
        QTest::newRow("plenty") << 20LL << 1024LL << 2 << QString();
        QTest::newRow("the reserve exactly left") << 990LL << 1024LL << 2 << QString();
        QTest::newRow("one into the reserve")
            << 991LL << 1024LL << 2
            << u"Too many open files: 991 of 1024 file descriptors are in use, and 32 are kept "
               u"free for storing the list and finishing the tracks"_s;
        QTest::newRow("into a quarter of a small limit")
            << 44LL << 60LL << 2 << u"44 of 60 file descriptors are in use, and 15 are kept"_s;
        QTest::newRow("into eight of a tiny limit")
            << 11LL << 20LL << 2 << u"11 of 20 file descriptors are in use, and 8 are kept"_s;
        // Claims may promise more than the limit holds.
        QTest::newRow("promised beyond the limit")
            << 70LL << 60LL << 1 << u"60 of 60 file descriptors are in use"_s;
    }
    void refusal()
    {
        QFETCH(qint64, inUse);
        QFETCH(qint64, limit);
        QFETCH(int, wanted);
        QFETCH(QString, reason);
        const std::optional<QString> refusal = DescriptorLimit::refusal(inUse, limit, wanted);
        QCOMPARE(refusal.has_value(), !reason.isEmpty());
        if (refusal)
            QVERIFY2(refusal->contains(reason), qPrintable(*refusal));
    }

    // Descriptors claimed count as taken until released.
    void claims()
    {
        const qint64 free = DescriptorLimit::softLimit() - *DescriptorLimit::openCount();
        const int reserve = DescriptorLimit::reserveFor(DescriptorLimit::softLimit());
        DescriptorLimit::Claim claim(int(free) - reserve - 1);
        QVERIFY(!DescriptorLimit::refusal(1));
        QVERIFY(DescriptorLimit::refusal(2));
        DescriptorLimit::Claim moved = std::move(claim);
        claim.release(); // released by its new holder only
        QVERIFY(DescriptorLimit::refusal(2));
        moved.release();
        QVERIFY(!DescriptorLimit::refusal(2));
    }

    void raisesTheSoftLimitToTheHardOne()
    {
        const auto restore = lowerLimit(RLIMIT_NOFILE, 64);
        rlimit hard{};
        getrlimit(RLIMIT_NOFILE, &hard);
        DescriptorLimit::raiseSoftLimit();
        QCOMPARE(DescriptorLimit::softLimit(), qint64(std::min(hard.rlim_max, rlim_t(1) << 20)));
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestDescriptorLimit)
#include "tst_descriptorlimit.moc"
