#include <QtTest>

#include "platform/PointerConfine.h"
#include "region/SelShape.h"

using namespace kino;

namespace {

constexpr int RX = SelOptBit(TSelOptSet::ResizeX), RY = SelOptBit(TSelOptSet::ResizeY);
constexpr int MX = SelOptBit(TSelOptSet::MoveX), MY = SelOptBit(TSelOptSet::MoveY), All = kSelOptAll;

// Writes confinement requests into the log the shape's events also write to.
class ConfineRecorder : public IPointerConfine {
public:
    QRect expected; // a request for it is logged as plain "confine"
    explicit ConfineRecorder(QStringList& log) : log_(log) { SetPointerConfine(this); }
    ~ConfineRecorder() override { SetPointerConfine(nullptr); }
    void Confine(const QRect& r) override
    {
        log_ << (r == expected ? QStringLiteral("confine") : QStringLiteral("confine elsewhere"));
    }
    void Free() override { log_ << QStringLiteral("free"); }

private:
    QStringList& log_;
};

} // namespace

class TestSelShape : public QObject {
    Q_OBJECT
private slots:
    void hoverPicksZoneAndCursor_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("options");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<int>("zone");
        QTest::addColumn<int>("cursor");
        using M = TSelMode;
        auto row = [](const char* name, QSize size, int options, QPoint at, M zone, Qt::CursorShape c) {
            QTest::newRow(name) << size << options << at << int(zone) << int(c);
        };
        const QSize s(100, 80), narrow(8, 80);
        row("left band's inner pixel", s, All, {5, 40}, M::SelW, Qt::SizeHorCursor);
        row("past the left band", s, All, {6, 40}, M::SelM, Qt::ArrowCursor);
        row("right band's inner pixel", s, All, {95, 40}, M::SelE, Qt::SizeHorCursor);
        row("before the right band", s, All, {94, 40}, M::SelM, Qt::ArrowCursor);
        row("top band's inner pixel", s, All, {40, 5}, M::SelN, Qt::SizeVerCursor);
        row("bottom band's inner pixel", s, All, {40, 75}, M::SelS, Qt::SizeVerCursor);
        row("top-left corner", s, All, {0, 0}, M::SelNW, Qt::SizeFDiagCursor);
        row("bottom-left corner", s, All, {5, 79}, M::SelSW, Qt::SizeBDiagCursor);
        row("narrow: 5 is the left edge", narrow, All, {5, 40}, M::SelW, Qt::SizeHorCursor);
        row("narrow: 6 is the right edge", narrow, All, {6, 40}, M::SelE, Qt::SizeHorCursor);
        row("fixed width: corner is top", s, RY | MX | MY, {95, 5}, M::SelN, Qt::SizeVerCursor);
        row("fixed height: corner is right", s, RX | MX | MY, {95, 5}, M::SelE, Qt::SizeHorCursor);
        row("fixed size: corner moves", s, MX | MY, {95, 5}, M::SelM, Qt::ArrowCursor);
    }
    void hoverPicksZoneAndCursor()
    {
        QFETCH(QSize, size);
        QFETCH(int, options);
        QFETCH(QPoint, at);
        TSelShape shape;
        shape.resize(size);
        shape.setCursor(Qt::SizeAllCursor);
        shape.SetSelOption(TSelOpt(options));
        shape.MouseMove({}, at.x(), at.y());
        QTEST(int(shape.SelMode()), "zone");
        QTEST(int(shape.cursor().shape()), "cursor");
    }

    // A 200 × 100 parent; the shape has minimum size 16 × 16. The pointer hovers and
    // presses at the path's first point, moves through the rest and is released at
    // the last; points are in the parent's coordinates, as a real pointer's are.
    void dragFollowsPointerWithinLimits_data()
    {
        QTest::addColumn<QRect>("start");
        QTest::addColumn<int>("options");
        QTest::addColumn<QList<int>>("limits"); // MinTop, MinLeft, MaxBottom, MaxRight
        QTest::addColumn<QList<QPoint>>("path");
        QTest::addColumn<QRect>("expected");
        using P = QList<QPoint>;
        const QRect r(20, 20, 60, 40);
        const QList<int> none{0, 0, 0, 0};
        QTest::newRow("right edge in two steps")
            << r << All << none << P{{79, 40}, {84, 40}, {89, 40}} << QRect(20, 20, 70, 40);
        QTest::newRow("bottom past parent and back")
            << r << All << none << P{{50, 59}, {50, 300}, {50, 70}} << QRect(20, 20, 60, 51);
        QTest::newRow("bottom stops at MaxBottom")
            << r << All << QList<int>{0, 0, 50, 0} << P{{50, 59}, {50, 90}} << QRect(20, 20, 60, 30);
        QTest::newRow("MaxRight at MinLeft: parent")
            << r << All << QList<int>{0, 30, 0, 30} << P{{79, 40}, {300, 40}} << QRect(20, 20, 180, 40);
        QTest::newRow("top stops at MinTop")
            << r << All << QList<int>{4, 0, 0, 0} << P{{50, 20}, {50, -30}} << QRect(20, 4, 60, 56);
        QTest::newRow("top down 3, then 5 dropped whole")
            << QRect(20, 20, 60, 20) << All << none << P{{50, 20}, {50, 23}, {50, 28}} << QRect(20, 23, 60, 17);
        QTest::newRow("top-left corner") << r << All << none << P{{20, 20}, {10, 5}} << QRect(10, 5, 70, 55);
        QTest::newRow("move to the wall and back")
            << r << All << none << P{{50, 40}, {60, 45}, {300, 45}, {60, 45}} << QRect(30, 25, 60, 40);
        QTest::newRow("move stops at MaxRight")
            << r << All << QList<int>{0, 0, 0, 120} << P{{50, 40}, {300, 40}} << QRect(60, 20, 60, 40);
        QTest::newRow("taller than parent: far limit wins")
            << QRect(20, 0, 60, 150) << All << none << P{{50, 50}, {50, 49}} << QRect(20, -50, 60, 150);
        QTest::newRow("no resizing: edge moves")
            << r << (MX | MY) << none << P{{79, 40}, {89, 45}} << QRect(30, 25, 60, 40);
        QTest::newRow("horizontal moves only")
            << r << (RX | RY | MX) << none << P{{50, 40}, {60, 50}} << QRect(30, 20, 60, 40);
        QTest::newRow("nothing allowed") << r << 0 << none << P{{79, 40}, {99, 50}} << r;
    }
    void dragFollowsPointerWithinLimits()
    {
        QFETCH(QRect, start);
        QFETCH(int, options);
        QFETCH(QList<int>, limits);
        QFETCH(QList<QPoint>, path);
        QStringList log;
        ConfineRecorder recorder(log);
        QWidget parent;
        parent.resize(200, 100);
        recorder.expected = QRect(parent.mapToGlobal(QPoint(0, 0)), parent.size());
        TSelShape shape(&parent);
        shape.setGeometry(start);
        shape.SetMinWidth(16);
        shape.SetMinHeight(16);
        shape.SetSelOption(TSelOpt(options));
        shape.SetMinTop(limits[0]);
        shape.SetMinLeft(limits[1]);
        shape.SetMaxBottom(limits[2]);
        shape.SetMaxRight(limits[3]);
        auto local = [&](QPoint p) { return p - shape.pos(); };
        shape.MouseMove({}, local(path[0]).x(), local(path[0]).y());
        shape.MouseDown(Qt::LeftButton, {}, local(path[0]).x(), local(path[0]).y());
        for (const QPoint& p : path.mid(1))
            shape.MouseMove({}, local(p).x(), local(p).y());
        shape.MouseUp(Qt::LeftButton, {}, local(path.last()).x(), local(path.last()).y());
        QTEST(shape.geometry(), "expected");
        QCOMPARE(log, (QStringList{"confine", "free"}));
    }

    // Pointer input through the window: "hover x,y", "press B x,y", "move x,y",
    // "release B x,y" (B one of L, R, M; points in the parent's coordinates; a press or
    // release away from the last move comes with a move there first, as from a real
    // pointer), "hide". After each release, "held" is logged while the drag still runs.
    void dragWithAnyButtonConfinesAndFrees_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("left leaves the band and the shape, released outside")
            << QStringList{"hover 79,40", "press L 79,40", "move 150,40", "release L 150,90"}
            << QStringList{"down L", "confine", "up L", "free"} << QRect(20, 20, 131, 40);
        QTest::newRow("right moves, released outside the shape")
            << QStringList{"hover 50,40", "press R 50,40", "move 60,45", "release R 190,95"}
            << QStringList{"down R", "confine", "up R", "free"} << QRect(140, 60, 60, 40);
        QTest::newRow("second button joins, last release ends")
            << QStringList{"hover 50,20", "press M 50,20",   "move 50,15", "press L 50,15",
                           "move 50,10",  "release M 50,10", "move 50,5",  "release L 50,5"}
            << QStringList{"down M", "confine", "down L", "up M", "held", "up L", "free"} << QRect(20, 5, 60, 55);
        QTest::newRow("hidden mid-drag frees at once, and once")
            << QStringList{"hover 50,40", "press L 50,40", "hide", "release L 50,40"}
            << QStringList{"down L", "confine", "free", "up L"} << QRect(20, 20, 60, 40);
    }
    void dragWithAnyButtonConfinesAndFrees()
    {
        QFETCH(QStringList, script);
        QWidget window;
        window.resize(260, 160);
        auto* parent = new QWidget(&window);
        parent->setGeometry(20, 30, 200, 100);
        auto* shape = new TSelShape(parent);
        shape->setGeometry(20, 20, 60, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QStringList log;
        ConfineRecorder recorder(log);
        recorder.expected = QRect(parent->mapToGlobal(QPoint(0, 0)), QSize(200, 100));
        const QMap<QString, Qt::MouseButton> buttons{
            {"L", Qt::LeftButton}, {"R", Qt::RightButton}, {"M", Qt::MiddleButton}};
        auto name = [&](Qt::MouseButton b) { return buttons.key(b); };
        shape->OnMouseDown = [&](TSelShape*, Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
            log << "down " + name(b);
        };
        shape->OnMouseUp = [&](TSelShape*, Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
            log << "up " + name(b);
        };
        QWindow* w = window.windowHandle();
        for (const QString& line : script) {
            const QStringList parts = line.split(' ');
            const QStringList xy = parts.last().split(',');
            const QPoint at = parent->pos() + QPoint(xy.value(0).toInt(), xy.value(1).toInt());
            if (parts[0] == "hide") {
                window.hide();
            } else if (parts[0] == "press") {
                QTest::mousePress(w, buttons[parts[1]], {}, at);
                QCOMPARE(QWidget::mouseGrabber(), shape);
            } else if (parts[0] == "release") {
                QTest::mouseRelease(w, buttons[parts[1]], {}, at);
                if (shape->Dragging())
                    log << "held";
            } else {
                QTest::mouseMove(w, at);
            }
        }
        QTEST(log, "log");
        QTEST(shape->geometry(), "expected");
        QCOMPARE(QWidget::mouseGrabber(), nullptr);
    }

    void outlineOnEverySideNoFill_data()
    {
        QTest::addColumn<int>("penWidth");
        for (int w : {1, 2, 3})
            QTest::addRow("pen %d", w) << w;
    }
    void outlineOnEverySideNoFill()
    {
        QFETCH(int, penWidth);
        QWidget parent;
        parent.resize(60, 50);
        parent.setAutoFillBackground(true);
        parent.setPalette(QPalette(Qt::black, Qt::black));
        auto* shape = new TSelShape(&parent);
        shape->setGeometry(10, 10, 30, 20);
        const QColor aqua(0, 255, 255);
        shape->SetPen(QPen(aqua, penWidth));
        QImage image(parent.size(), QImage::Format_RGB32);
        image.fill(Qt::red);
        parent.render(&image);
        for (QPoint edge : {QPoint(25, 10), QPoint(25, 29), QPoint(10, 20), QPoint(39, 20)})
            QCOMPARE(image.pixelColor(edge), aqua);
        for (QPoint off : {QPoint(25, 20), QPoint(25, 9), QPoint(25, 30), QPoint(9, 20), QPoint(40, 20)})
            QCOMPARE(image.pixelColor(off), QColor(Qt::black));
    }
};

QTEST_MAIN(TestSelShape)
#include "test_selshape.moc"
