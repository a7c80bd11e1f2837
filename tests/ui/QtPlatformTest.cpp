// The requester patterns of the seam as Qt name filters.
#include "QtPlatform.h"

#include <QTest>

using namespace hexaloom;

class QtPlatformTest : public QObject
{
    Q_OBJECT
private slots:
    void nameFilters_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("filters");
        QTest::newRow("one pair") << "*.res|*.res" << QStringList{"*.res (*.res)"};
        QTest::newRow("project, suffix without dot") << "*.hxlm|*hxlm" << QStringList{"*.hxlm (*hxlm)"};
        QTest::newRow("several patterns, two pairs")
            << "PureBasic Files (*.pb, *.pbi)|*.pb;*.pbi|All Files (*.*)|*.*"
            << QStringList{"PureBasic Files (*.pb, *.pbi) (*.pb *.pbi)", "All Files (*.*) (*)"};
        QTest::newRow("spaces and empty patterns") << "Text| *.txt ;;*.text" << QStringList{"Text (*.txt *.text)"};
        QTest::newRow("*.* is every file, with or without a dot") << "*.*|*.*" << QStringList{"*.* (*)"};
        QTest::newRow("a shown text without pattern is left out")
            << "Text|*.txt|dangling" << QStringList{"Text (*.txt)"};
        QTest::newRow("empty") << "" << QStringList();
    }
    void nameFilters()
    {
        QFETCH(QString, pattern);
        QTEST(NameFilters(pattern), "filters");
    }
};

QTEST_MAIN(QtPlatformTest)
#include "QtPlatformTest.moc"
