#include "edits/CropRules.h"

#include <algorithm>
#include <cmath>

TPictureFit FitPicture(int pw, int ph, int boxLeft, int boxTop, int bw, int bh) {
    TPictureFit fit;
    if (pw <= 0 || ph <= 0 || bw <= 0 || bh <= 0) return fit;
    const double a = double(pw) / bw, b = double(ph) / bh;
    if (a >= b) {
        const int c = int(std::nearbyint((bh - ph / a) / 2));
        fit.Drawn = {0, c, bw, bh - 2 * c};
    } else {
        const int c = int(std::nearbyint((bw - pw / b) / 2));
        fit.Drawn = {c, 0, bw - 2 * c, bh};
    }
    fit.Area = {boxLeft + fit.Drawn.Left + 1, boxTop + fit.Drawn.Top + 1, fit.Drawn.Width - 2, fit.Drawn.Height - 2};
    fit.Empty = false;
    return fit;
}

int EvenMargin(double scaled) { return int(std::nearbyint(scaled)) / 2 * 2; }

int SourceMargin(int previewMargin, int sourceSize, int areaSize) {
    double v = previewMargin;
    if (sourceSize != areaSize && areaSize != 0) v = previewMargin * (double(sourceSize) / areaSize);
    return EvenMargin(v);
}

TCropMargins SourceMargins(const TCropMargins& p, int vw, int vh, int aw, int ah) {
    return {SourceMargin(p.Top, vh, ah), SourceMargin(p.Left, vw, aw), SourceMargin(p.Bottom, vh, ah),
            SourceMargin(p.Right, vw, aw)};
}

int ZoomListIndex(const std::string& mode) {
    if (mode == "full") return 0;
    if (mode == "lbox") return 1;
    // Pan-and-scan and centred jobs keep their mode through the dialog, as the two older
    // names for them do; the list has no entry for either.
    if (mode == "orig" || mode == "cent" || mode == "pan" || mode == "center") return -1;
    return 0;
}

std::string ZoomModeAfterOk(int index, const std::string& mode) {
    if (index == 0) return "full";
    if (index == 1) return "lbox";
    return mode;
}

// ---------------------------------------------------------------- the band and the boxes

void TCropSelection::SetBounds(const TCropRect& r) {
    // The band's own size limits, as its control enforces them.
    FBounds = {r.Left, r.Top, std::max(r.Width, MinimumSize), std::max(r.Height, MinimumSize)};
}

void TCropSelection::Place(const TCropRect& area, const TCropMargins& m) {
    FArea = area;
    FMargins = m;
    SetBounds({area.Left + m.Left, area.Top + m.Top, area.Width - m.Right - m.Left, area.Height - m.Bottom - m.Top});
    FPressTop = FBounds.Top;
    FPressLeft = FBounds.Left;
}

void TCropSelection::Reset() { Place(FArea, {}); }

void TCropSelection::Pressed() {
    FPressTop = FBounds.Top;
    FPressLeft = FBounds.Left;
}

void TCropSelection::MarginsFromBounds() {
    const TCropRect& b = FBounds;
    const TCropRect& a = FArea;
    FMargins.Top = std::max(0, b.Top - a.Top);
    FMargins.Bottom = std::max(0, a.Top + a.Height - b.Top - b.Height);
    FMargins.Left = std::max(0, b.Left - a.Left);
    FMargins.Right = std::max(0, a.Left + a.Width - b.Left - b.Width);
}

void TCropSelection::Dragged(const TCropRect& bounds) {
    SetBounds(bounds);
    TCropRect r = FBounds;
    const TCropRect& a = FArea;
    // The band's inner rectangle lies two pixels inside its bounds.
    auto innerLeft = [&] { return r.Left + 2; };
    auto innerTop = [&] { return r.Top + 2; };
    auto innerRight = [&] { return r.Left + r.Width - 2; };
    auto innerBottom = [&] { return r.Top + r.Height - 2; };
    if (innerLeft() < a.Left + 3) r.Left = FMargins.Left + a.Left;  // back to the last accepted margin
    if (innerTop() < a.Top + 3) r.Top = a.Top;
    if (innerRight() - a.Left > a.Width && innerBottom() - a.Top > a.Height) {
        r.Top = FPressTop;
        r.Left = FPressLeft;
        r.Width = a.Left + a.Width - r.Left;
        r.Height = a.Top + a.Height - r.Top;
    }
    if (innerRight() - a.Left > a.Width) {
        r.Left = FPressLeft;
        r.Width = a.Left + a.Width - r.Left;
    }
    if (innerBottom() - a.Top > a.Height) {
        r.Top = FPressTop;
        r.Height = a.Top + a.Height - r.Top;
    }
    SetBounds(r);
    MarginsFromBounds();
}

int TCropSelection::SetUp(int v) {
    if (FBounds.Height <= MinimumSize && v >= FMargins.Top) return FMargins.Top;
    // A step of many pixels at once (page keys, the wheel) stops at the band's minimum.
    v = std::max(0, std::min(v, std::max(FMargins.Top, FArea.Height - FMargins.Bottom - MinimumSize)));
    FMargins.Top = v;
    const int top = v + FArea.Top;
    SetBounds({FBounds.Left, top, FBounds.Width, FArea.Top + FArea.Height - FMargins.Bottom - top});
    FPressTop = top;
    return v;
}

int TCropSelection::SetDown(int v) {
    if (FBounds.Height <= MinimumSize && v >= FMargins.Bottom) return FMargins.Bottom;
    // A step of many pixels at once (page keys, the wheel) stops at the band's minimum.
    v = std::max(0, std::min(v, std::max(FMargins.Bottom, FArea.Height - FMargins.Top - MinimumSize)));
    FMargins.Bottom = v;
    const int top = FMargins.Top + FArea.Top;
    SetBounds({FBounds.Left, top, FBounds.Width, FArea.Top + FArea.Height - v - top});
    FPressTop = top;
    return v;
}

int TCropSelection::SetLeft(int v) {
    if (FBounds.Width <= MinimumSize && v >= FMargins.Left) return FMargins.Left;
    // A step of many pixels at once (page keys, the wheel) stops at the band's minimum.
    v = std::max(0, std::min(v, std::max(FMargins.Left, FArea.Width - FMargins.Right - MinimumSize)));
    FMargins.Left = v;
    const int left = v + FArea.Left;
    SetBounds({left, FBounds.Top, FArea.Left + FArea.Width - FMargins.Right - left, FBounds.Height});
    FPressLeft = left;
    return v;
}

int TCropSelection::SetRight(int v) {
    if (FBounds.Width <= MinimumSize && v >= FMargins.Right) return FMargins.Right;
    // A step of many pixels at once (page keys, the wheel) stops at the band's minimum.
    v = std::max(0, std::min(v, std::max(FMargins.Right, FArea.Width - FMargins.Left - MinimumSize)));
    FMargins.Right = v;
    const int left = FMargins.Left + FArea.Left;
    SetBounds({left, FBounds.Top, FArea.Left + FArea.Width - v - left, FBounds.Height});
    FPressLeft = left;
    return v;
}
