#pragma once
// The seven colour skins. A skin is a palette applied to the whole application, so every
// window, including ones created later, takes the skin in force without asking.
#include <QColor>
#include <QPalette>
#include <QString>

namespace skin {

constexpr int SkinCount = 7;

// 0 "Default", 1 "Gray", 2 "Orange", 3 "Purple", 4 "Red", 5 "Green", 6 "Light blue".
QString SkinName(int index);
bool IsSkinIndex(int index);

QPalette SkinPalette(int index);

// Applies skin index to the application. An index outside 0..6 changes nothing.
void ApplySkin(int index);
// The skin applied last, or -1 while the built-in look is in force.
int CurrentSkin();

// The tint of every second row of lists, by skin; other indexes give a neutral grey.
QColor AlternateRowColor(int index);

}  // namespace skin
