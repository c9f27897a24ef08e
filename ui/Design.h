#pragma once

#include <QRect>
#include <QString>

// The main window's design: places and sizes in twips (1/1440 inch), as the design was
// drawn, turned into pixels at 96 dots per inch (15 twips to a pixel).
namespace docuflume::design {

inline const QString kProductName = QStringLiteral("Docuflume");

struct Place
{
    int left;
    int top;
    int width;
    int height;
};

constexpr int kTwipsPerPixel = 15;

constexpr int pixels(int twips)
{
    return twips / kTwipsPerPixel;
}

constexpr QRect pixels(const Place& place)
{
    return {pixels(place.left), pixels(place.top), pixels(place.width), pixels(place.height)};
}

constexpr bool wholePixels(const Place& place)
{
    return place.left % kTwipsPerPixel == 0 && place.top % kTwipsPerPixel == 0 &&
           place.width % kTwipsPerPixel == 0 && place.height % kTwipsPerPixel == 0;
}

constexpr int kClientWidth = 8040;
constexpr int kClientHeight = 6495;

// Window controls, top to bottom; the frames' controls are placed inside their frame.
constexpr Place kListView1{120, 120, 7800, 2535};
constexpr Place kPushButton1{120, 2760, 3840, 405};
constexpr Place kPushButton4{4080, 2760, 3840, 405};
constexpr Place kPushButton3{120, 3270, 3840, 405};
constexpr Place kPushButton5{4080, 3270, 3840, 405};
constexpr Place kFrame1{120, 3720, 7800, 735};
constexpr Place kOption1{240, 300, 1095, 255};
constexpr Place kOption2{1560, 300, 1140, 255};
constexpr Place kFrame2{120, 4530, 7800, 795};
constexpr Place kText1{240, 300, 6660, 345};
constexpr Place kPushButton7{6960, 300, 600, 345};
constexpr Place kPushButton2{120, 5445, 7800, 405};
constexpr Place kProgressBar1{120, 5970, 7800, 405};

static_assert(wholePixels(kListView1) && wholePixels(kPushButton1) && wholePixels(kPushButton4) &&
              wholePixels(kPushButton3) && wholePixels(kPushButton5) && wholePixels(kFrame1) &&
              wholePixels(kOption1) && wholePixels(kOption2) && wholePixels(kFrame2) &&
              wholePixels(kText1) && wholePixels(kPushButton7) && wholePixels(kPushButton2) &&
              wholePixels(kProgressBar1));

// The list's one column; 7000 twips is not a whole number of pixels and rounds down.
constexpr int kColumnWidth = 7000;

constexpr double kWindowFontPoints = 9;
constexpr double kListFontPoints = 9;
constexpr double kButtonFontPoints = 11.25;

} // namespace docuflume::design
