#pragma once
// The crop dialog's arithmetic, apart from its windows: fitting the source picture into the
// preview, holding the rubber band inside the picture, the four margin boxes, and turning
// preview margins into the even source margins the conversion crops by.
#include <string>

// A rectangle as left, top, width and height.
struct TCropRect {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    int Right() const { return Left + Width; }
    int Bottom() const { return Top + Height; }
    bool operator==(const TCropRect&) const = default;
};

struct TPictureFit {
    TCropRect Drawn;  // where the picture is stretched to, in the box's coordinates
    TCropRect Area;   // the picture area: Drawn shrunk by one pixel a side, in the dialog's
    bool Empty = true;  // a picture without area is not drawn
};

// A picture of pw x ph fitted into a box of bw x bh at (boxLeft, boxTop): the full width or
// the full height of the box, centred the other way.
TPictureFit FitPicture(int pw, int ph, int boxLeft, int boxTop, int bw, int bh);

// A preview margin in source pixels: scaled by source / area when they differ, rounded half
// to even, then made even (down).
int SourceMargin(int previewMargin, int sourceSize, int areaSize);
int EvenMargin(double scaled);

struct TCropMargins {
    int Top = 0;
    int Left = 0;
    int Bottom = 0;
    int Right = 0;
    bool operator==(const TCropMargins&) const = default;
};

// The margins in source pixels for the four box values, with the source video's size and the
// picture area's.
TCropMargins SourceMargins(const TCropMargins& preview, int videoWidth, int videoHeight, int areaWidth, int areaHeight);

// The crop dialog's hidden zoom list has the entries "Full screen" (0) and "Letterbox" (1).
// The entry a job's zoom mode selects, -1 for none: the modes the list cannot show select
// nothing, an unknown mode selects "Full screen".
int ZoomListIndex(const std::string& zoomMode);
// The job's zoom mode after "Ok" with the list at index: "full", "lbox", or unchanged.
std::string ZoomModeAfterOk(int index, const std::string& zoomMode);

// The rubber band over the picture area and the four margin boxes (up, down, left, right),
// kept in step: dragging the band sets the boxes, the boxes place the band. The band never
// leaves the area and never becomes narrower or lower than its minimum of 10 pixels.
class TCropSelection {
public:
    static constexpr int MinimumSize = 10;

    // The band on the area with the given margins in preview pixels (a job's stored values).
    void Place(const TCropRect& area, const TCropMargins& margins);
    // "Reset" and "Default": no margins, the band on the whole area.
    void Reset();

    // The band's bounds at a mouse press on it.
    void Pressed();
    // After the band's own drag step moved it to bounds: kept inside the area, the boxes set
    // from where it ends.
    void Dragged(const TCropRect& bounds);

    // A box changed to value; returns the value the box then shows (the remembered one when
    // the band is already at its minimum and the change would shrink it).
    int SetUp(int value);
    int SetDown(int value);
    int SetLeft(int value);
    int SetRight(int value);

    const TCropRect& Bounds() const { return FBounds; }
    const TCropRect& Area() const { return FArea; }
    const TCropMargins& Margins() const { return FMargins; }

private:
    void SetBounds(const TCropRect& r);
    void MarginsFromBounds();

    TCropRect FArea;
    TCropRect FBounds;
    TCropMargins FMargins;
    int FPressTop = 0;
    int FPressLeft = 0;
};
