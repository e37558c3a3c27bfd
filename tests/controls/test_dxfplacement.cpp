// Where the drop-down's popup opens and which corner carries its size grip, on a
// 1000 x 800 screen.
#include <QtTest>

#include "controls/dxfGripBar.h"
#include "controls/dxfPopupPlacement.h"

using kino::TRect;
using kino::TdxfCorner;

Q_DECLARE_METATYPE(TRect)
Q_DECLARE_METATYPE(kino::TdxfCorner)

namespace {

const QSize kScreen(1000, 800);

} // namespace

class TestDxfPlacement : public QObject {
    Q_OBJECT
private slots:
    // A control 20 pixels high at P asks for w x h.
    void popupRect_data()
    {
        QTest::addColumn<QPoint>("p");
        QTest::addColumn<QSize>("wanted");
        QTest::addColumn<TRect>("result");
        QTest::newRow("below") << QPoint(100, 100) << QSize(300, 150) << TRect{100, 120, 400, 270};
        QTest::newRow("below, ending at the screen's edge")
            << QPoint(100, 630) << QSize(300, 150) << TRect{100, 650, 400, 800};
        QTest::newRow("above") << QPoint(100, 700) << QSize(300, 150) << TRect{100, 550, 400, 700};
        QTest::newRow("above, starting at the screen's top")
            << QPoint(100, 720) << QSize(300, 720) << TRect{100, 0, 400, 720};
        QTest::newRow("neither side, more room above")
            << QPoint(100, 500) << QSize(300, 600) << TRect{100, 0, 400, 500};
        QTest::newRow("neither side, more room below")
            << QPoint(100, 200) << QSize(300, 700) << TRect{100, 220, 400, 800};
        QTest::newRow("neither side, a tie goes below")
            << QPoint(100, 390) << QSize(300, 500) << TRect{100, 410, 400, 800};
        QTest::newRow("past the right edge, shifted left")
            << QPoint(900, 100) << QSize(300, 150) << TRect{700, 120, 1000, 270};
        QTest::newRow("wider than the screen, then right")
            << QPoint(100, 100) << QSize(1200, 150) << TRect{0, 120, 1200, 270};
        QTest::newRow("control off the left edge") << QPoint(-50, 100) << QSize(300, 150) << TRect{0, 120, 300, 270};
    }
    void popupRect()
    {
        QFETCH(QPoint, p);
        QFETCH(QSize, wanted);
        QFETCH(TRect, result);
        const TRect r = kino::GetPopupRect(p, TRect{0, 0, wanted.width(), wanted.height()}, 20, kScreen);
        QCOMPARE(QRect(r.ToQRect()), result.ToQRect());
    }

    // The grip's corner for a control at (100, 100)-(400, 120) unless given.
    void cornerForRects_data()
    {
        QTest::addColumn<TRect>("control");
        QTest::addColumn<TRect>("popup");
        QTest::addColumn<TdxfCorner>("corner");
        const TRect control{100, 100, 400, 120};
        QTest::newRow("below") << control << TRect{100, 120, 400, 270} << kino::coBottomRight;
        QTest::newRow("above") << control << TRect{100, -50, 400, 100} << kino::coTopRight;
        QTest::newRow("bottoms level: not below") << control << TRect{100, 0, 400, 120} << kino::coTopRight;
        QTest::newRow("below, against the right edge") << control << TRect{700, 120, 1000, 270} << kino::coBottomLeft;
        QTest::newRow("above, against the right edge") << control << TRect{700, -50, 1000, 100} << kino::coTopLeft;
        QTest::newRow("one pixel short of the right edge")
            << control << TRect{699, 120, 999, 270} << kino::coBottomRight;
        QTest::newRow("below, left of the control")
            << TRect{500, 100, 800, 120} << TRect{100, 120, 500, 270} << kino::coBottomLeft;
        QTest::newRow("above, left of the control")
            << TRect{500, 100, 800, 120} << TRect{100, -50, 500, 100} << kino::coTopLeft;
        QTest::newRow("one pixel into the control's column")
            << TRect{500, 100, 800, 120} << TRect{101, 120, 501, 270} << kino::coBottomRight;
    }
    void cornerForRects()
    {
        QFETCH(TRect, control);
        QFETCH(TRect, popup);
        QFETCH(TdxfCorner, corner);
        QCOMPARE(int(kino::GetCornerForRects(control, popup, kScreen.width())), int(corner));
    }

    // The grip bar of a 300-pixel popup, at the bottom (y 130 to 148) or the top
    // (y 1 to 19), with 16-pixel scroll bars.
    void gripAndCloseButton_data()
    {
        QTest::addColumn<TdxfCorner>("corner");
        QTest::addColumn<TRect>("grip");
        QTest::addColumn<TRect>("hit");
        QTest::addColumn<TRect>("close");
        QTest::newRow("bottom right") << kino::coBottomRight << TRect{281, 130, 297, 146} << TRect{279, 130, 299, 148}
                                      << TRect{2, 132, 19, 147};
        QTest::newRow("bottom left") << kino::coBottomLeft << TRect{3, 130, 19, 146} << TRect{1, 130, 21, 148}
                                     << TRect{281, 132, 298, 147};
        QTest::newRow("top right") << kino::coTopRight << TRect{281, 3, 297, 19} << TRect{279, 1, 299, 19}
                                   << TRect{2, 2, 19, 17};
        QTest::newRow("top left") << kino::coTopLeft << TRect{3, 3, 19, 19} << TRect{1, 1, 21, 19}
                                  << TRect{281, 2, 298, 17};
    }
    void gripAndCloseButton()
    {
        QFETCH(TdxfCorner, corner);
        QFETCH(TRect, grip);
        QFETCH(TRect, hit);
        QFETCH(TRect, close);
        const TRect bar = kino::IsTopCorner(corner) ? TRect{1, 1, 299, 19} : TRect{1, 130, 299, 148};
        const TRect g = kino::SizeGripRect(bar, corner, 16, 16);
        QCOMPARE(g.ToQRect(), grip.ToQRect());
        QCOMPARE(kino::SizeGripHitRect(g, bar).ToQRect(), hit.ToQRect());
        QCOMPARE(kino::CloseButtonRect(bar, corner).ToQRect(), close.ToQRect());
    }
};

QTEST_APPLESS_MAIN(TestDxfPlacement)
#include "test_dxfplacement.moc"
