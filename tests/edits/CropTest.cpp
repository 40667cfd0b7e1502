// The crop dialog's parts that need no player: the picture fit, margins in source pixels, the
// band kept inside the picture and in step with the margin boxes, and the rubber-band widget.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>

#include <tuple>

#include "edits/CropRules.h"
#include "edits/RectTracker.h"
#include "tests/edits/EditsTestSupport.h"

namespace {

void Mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, QPointF(at), w->mapToGlobal(QPointF(at)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// A point on the handle of a hit code, for the tracker's current size.
QPoint Handle(const TRectTracker& t, int code) {
    const int w = t.width(), h = t.height(), mx = (w + 1) / 2 - 3 + 2, my = (h + 1) / 2 - 3 + 2;
    switch (code) {
    case 0: return {2, my};
    case 1: return {w - 3, my};
    case 2: return {mx, 2};
    case 3: return {mx, h - 3};
    case 4: return {2, 2};
    case 5: return {w - 3, 2};
    case 6: return {2, h - 3};
    case 7: return {w - 3, h - 3};
    default: return {w / 2, h / 2};
    }
}

// Presses at from (tracker coordinates), moves by (dx, dy) and lets go.
void DragBy(TRectTracker& t, QPoint from, int dx, int dy) {
    Mouse(&t, QEvent::MouseButtonPress, from, Qt::LeftButton);
    Mouse(&t, QEvent::MouseMove, from + QPoint(dx, dy), Qt::LeftButton);
    Mouse(&t, QEvent::MouseButtonRelease, from + QPoint(dx, dy), Qt::NoButton);
}

class Tracker : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApplication(); }
    void SetUp() override {
        parent.resize(400, 300);
        tracker = new TRectTracker(&parent);
        tracker->move(50, 40);
        tracker->OnChange = [this](TCustomRectTracker*, const QRect& inner) {
            ++changes;
            lastInner = inner;
        };
    }
    QWidget parent;
    TRectTracker* tracker = nullptr;
    int changes = 0;
    QRect lastInner;
};

}  // namespace

TEST(FitPicture, AWidePictureTakesTheBoxWidthAndATallOneItsHeight) {
    const TPictureFit wide = FitPicture(1920, 1080, 10, 20, 370, 253);
    ASSERT_FALSE(wide.Empty);
    // c = Round((253 - 1080 / (1920 / 370)) / 2) = Round(22.44)
    EXPECT_EQ(wide.Drawn, (TCropRect{0, 22, 370, 209}));
    EXPECT_EQ(wide.Area, (TCropRect{11, 43, 368, 207}));
    const TPictureFit tall = FitPicture(1080, 1920, 0, 0, 370, 253);
    EXPECT_EQ(tall.Drawn, (TCropRect{114, 0, 142, 253}));
    EXPECT_TRUE(FitPicture(0, 1080, 0, 0, 370, 253).Empty);
}

TEST(SourceMargins, PreviewMarginsAreScaledRoundedHalfToEvenAndMadeEven) {
    const TPictureFit fit = FitPicture(1920, 1080, 0, 0, 370, 253);
    // 10 x 1080 / 207 = 52.17
    EXPECT_EQ(SourceMargin(10, 1080, fit.Area.Height), 52);
    EXPECT_EQ(SourceMargin(10, 1920, fit.Area.Width), 52);
    EXPECT_EQ(EvenMargin(3.5), 4);
    EXPECT_EQ(EvenMargin(2.5), 2);
    EXPECT_EQ(SourceMargin(7, 100, 200), 4);  // 3.5
    EXPECT_EQ(SourceMargin(5, 100, 200), 2);  // 2.5
    EXPECT_EQ(SourceMargin(5, 368, 368), 4);  // same size: only made even
    const TCropMargins m = SourceMargins({10, 20, 0, 3}, 1920, 1080, 368, 207);
    EXPECT_EQ(m, (TCropMargins{52, 104, 0, 16}));  // 3 x 1920 / 368 = 15.65
    for (int v : {m.Top, m.Left, m.Bottom, m.Right}) EXPECT_EQ(v % 2, 0);
}

TEST(ZoomList, FullAndLetterboxAreShownOtherKnownModesAreKeptAndUnknownOnesBecomeFull) {
    for (auto [mode, index, after] : {std::tuple<const char*, int, const char*>{"full", 0, "full"},
                                      {"lbox", 1, "lbox"}, {"orig", -1, "orig"}, {"cent", -1, "cent"},
                                      {"pan", -1, "pan"}, {"center", -1, "center"}, {"wide", 0, "full"},
                                      {"", 0, "full"}}) {
        EXPECT_EQ(ZoomListIndex(mode), index) << mode;
        EXPECT_EQ(ZoomModeAfterOk(ZoomListIndex(mode), mode), after) << mode;
    }
}

TEST(CropSelection, TheMarginBoxesNeverShrinkTheBandBelowTenPixels) {
    TCropSelection s;
    const TCropRect area{11, 43, 368, 207};
    s.Place(area, {});
    EXPECT_EQ(s.Bounds(), area);
    EXPECT_EQ(s.SetDown(190), 190);
    EXPECT_EQ(s.Bounds().Height, 17);
    int shown = 0;
    for (int v = 1; v <= 20; ++v) shown = s.SetUp(v);
    EXPECT_EQ(s.Bounds().Height, 10);
    EXPECT_EQ(shown, 7);
    EXPECT_EQ(s.Margins().Top, 7);
    EXPECT_EQ(s.SetUp(6), 6);  // growing again is allowed
    EXPECT_EQ(s.Bounds().Height, 11);

    EXPECT_EQ(s.SetLeft(-4), 0);
    EXPECT_EQ(s.SetRight(358), 358);
    EXPECT_EQ(s.Bounds().Width, 10);
    EXPECT_EQ(s.SetRight(359), 358);
    EXPECT_EQ(s.SetLeft(1), 0);
    EXPECT_EQ(s.Bounds().Width, 10);

    s.Reset();
    EXPECT_EQ(s.Bounds(), area);
    EXPECT_EQ(s.Margins(), TCropMargins{});
}

TEST(CropSelection, ADragPastThePictureEdgesIsPutBackAndSetsTheBoxes) {
    TCropSelection s;
    const TCropRect area{11, 43, 368, 207};
    s.Place(area, {12, 15, 0, 0});  // top, left, bottom, right
    EXPECT_EQ(s.Bounds(), (TCropRect{26, 55, 353, 195}));
    s.Pressed();
    // The left edge dragged past the picture's left edge: back at the last accepted margin.
    s.Dragged({5, 55, 374, 195});
    EXPECT_EQ(s.Bounds().Left, 26);
    // The top edge past the top: exactly on the top.
    s.Pressed();
    s.Dragged({26, 30, 200, 100});
    EXPECT_EQ(s.Bounds().Top, 43);
    EXPECT_EQ(s.Margins().Top, 0);
    EXPECT_EQ(s.Margins().Left, 15);
    EXPECT_EQ(s.Margins().Right, 368 - 15 - 200);
    EXPECT_EQ(s.Margins().Bottom, 207 - 100);

    // Moved beyond the right and bottom edges: back to where the press found it, sized to
    // the picture's far edges.
    s.Place(area, {20, 30, 40, 50});
    s.Pressed();
    s.Dragged({100, 120, 288, 147});
    EXPECT_EQ(s.Bounds(), (TCropRect{41, 63, 379 - 41, 250 - 63}));
    EXPECT_EQ(s.Margins(), (TCropMargins{20, 30, 0, 0}));
}

TEST_F(Tracker, HandlesAreHitInTheirOrderAndTheInsideMoves) {
    EXPECT_EQ(tracker->size(), QSize(65, 65));
    struct {
        int x, y, code;
    } hits[] = {{0, 0, 4},   {64, 64, 7}, {0, 64, 6}, {64, 0, 5}, {2, 32, 0}, {62, 32, 1},
                {32, 2, 2},  {32, 62, 3}, {30, 30, 8}, {1, 20, 9}, {2, 20, 8}, {63, 20, 9}};
    for (auto h : hits) EXPECT_EQ(tracker->HitCode(h.x, h.y), h.code) << h.x << "," << h.y;
    tracker->resize(10, 10);
    EXPECT_EQ(tracker->HitCode(3, 0), 4);  // the corner comes before the top middle
    EXPECT_EQ(tracker->HitCode(6, 0), 5);
    EXPECT_EQ(TCustomRectTracker::CursorFor(8), Qt::SizeAllCursor);
    EXPECT_EQ(TCustomRectTracker::CursorFor(6), Qt::SizeBDiagCursor);
}

TEST_F(Tracker, DraggingAnEdgeResizesAndReportsTheInnerRectangleInTheParent) {
    DragBy(*tracker, {62, 32}, 20, 0);  // right middle
    EXPECT_EQ(tracker->geometry(), QRect(50, 40, 85, 65));
    ASSERT_EQ(changes, 1);
    EXPECT_EQ(lastInner, QRect(52, 42, 81, 61));
    EXPECT_EQ(tracker->DragMode(), TCustomRectTracker::NoDrag);

    DragBy(*tracker, {2, 32}, -10, 0);  // left middle: the origin moves
    EXPECT_EQ(tracker->geometry(), QRect(40, 40, 95, 65));
    DragBy(*tracker, {30, 30}, 7, 3);  // inside: moves
    EXPECT_EQ(tracker->geometry(), QRect(47, 43, 95, 65));
    DragBy(*tracker, {92, 62}, 5, 5);  // bottom-right corner
    EXPECT_EQ(tracker->geometry(), QRect(47, 43, 100, 70));
    EXPECT_EQ(changes, 4);

    Mouse(tracker, QEvent::MouseButtonPress, {30, 30}, Qt::LeftButton);
    Mouse(tracker, QEvent::MouseButtonRelease, {30, 30}, Qt::NoButton);
    EXPECT_EQ(changes, 4);  // a click without a move reports nothing
}

TEST_F(Tracker, NoDragMakesItNarrowerOrLowerThanTenPixels) {
    DragBy(*tracker, Handle(*tracker, 1), -100, 0);
    EXPECT_EQ(tracker->width(), 10);
    DragBy(*tracker, Handle(*tracker, 3), 0, -100);
    EXPECT_EQ(tracker->height(), 10);
    const QRect small = tracker->geometry();
    for (int code : {0, 2, 4, 5, 6}) {
        DragBy(*tracker, Handle(*tracker, code), code == 5 ? -4 : 4, code == 6 ? -4 : 4);
        EXPECT_EQ(tracker->geometry(), small) << code;  // at the minimum an inward drag moves nothing
    }
    tracker->resize(12, 30);
    DragBy(*tracker, Handle(*tracker, 0), 6, 0);
    EXPECT_GE(tracker->width(), 10);
    tracker->resize(40, 40);
    DragBy(*tracker, Handle(*tracker, 4), 60, 60);  // dragged far past the opposite corner
    EXPECT_GE(tracker->width(), 10);
    EXPECT_GE(tracker->height(), 10);
    tracker->resize(3, 3);
    EXPECT_EQ(tracker->size(), QSize(10, 10));  // nor by setting its size
}

TEST_F(Tracker, AnAttachedControlIsSurroundedAndFollowsFivePixelsInside) {
    parent.show();  // a hidden widget hears of its moves only when shown
    QWidget picture(&parent);
    picture.setGeometry(100, 80, 120, 90);
    tracker->SetAcControl(&picture);
    EXPECT_EQ(tracker->geometry(), QRect(95, 75, 130, 100));
    EXPECT_EQ(picture.geometry(), QRect(100, 80, 120, 90));
    tracker->setGeometry(60, 50, 200, 150);
    EXPECT_EQ(picture.geometry(), QRect(65, 55, 190, 140));
}
