#include <QtTest>

#include "platform/PointerConfine.h"

using namespace kino;

// The desktop's confinement on a real X server: the pointer's place is read back
// from the server after each step.
class TestPointerConfine : public QObject {
    Q_OBJECT
private slots:
    // Steps: "at x,y" puts the pointer there; "drag x,y" and "hover x,y" move it
    // there with the left button held or with none; "confine x,y,w,h"; "free".
    void pointerKeptInside_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QPoint>("pointer");
        const QString box = QStringLiteral("confine 100,100,200,150"); // right 299, bottom 249
        QTest::newRow("left of it") << QStringList{"at 150,150", box, "drag 20,180"} << QPoint(100, 180);
        QTest::newRow("past the far corner") << QStringList{"at 150,150", box, "drag 400,300"} << QPoint(299, 249);
        QTest::newRow("outside when confined") << QStringList{"at 10,10", box} << QPoint(100, 100);
        QTest::newRow("a new rectangle replaces")
            << QStringList{"at 150,150", box, "confine 120,120,10,10", "drag 200,200"} << QPoint(129, 129);
        QTest::newRow("freed") << QStringList{"at 150,150", box, "free", "drag 20,20"} << QPoint(20, 20);
        QTest::newRow("no button held frees")
            << QStringList{"at 150,150", box, "hover 20,20", "drag 10,10"} << QPoint(10, 10);
    }
    void pointerKeptInside()
    {
        QFETCH(QStringList, steps);
        QFETCH(QPoint, pointer);
        QObject receiver;
        for (const QString& step : steps) {
            const QString verb = step.section(' ', 0, 0);
            const QStringList n = step.section(' ', 1).split(',');
            if (verb == "confine") {
                PointerConfine().Confine(QRect(n[0].toInt(), n[1].toInt(), n[2].toInt(), n[3].toInt()));
            } else if (verb == "free") {
                PointerConfine().Free();
            } else {
                const QPointF p(n[0].toInt(), n[1].toInt());
                QCursor::setPos(p.toPoint());
                const Qt::MouseButtons held = verb == "drag" ? Qt::LeftButton : Qt::NoButton;
                QMouseEvent move(QEvent::MouseMove, p, p, Qt::NoButton, held, Qt::NoModifier);
                if (verb != "at")
                    QCoreApplication::sendEvent(&receiver, &move);
            }
        }
        const QPoint at = QCursor::pos();
        PointerConfine().Free();
        QCOMPARE(at, pointer);
    }
};

QTEST_MAIN(TestPointerConfine)
#include "test_pointerconfine.moc"
