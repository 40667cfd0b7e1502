#include "skin/Skin.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

namespace skin {

namespace {

struct TSkinColours {
    const char* Name;
    QRgb Window;     // background of windows and panels
    QRgb Button;     // buttons, headers, menus
    QRgb Accent;     // selection and focus
    QRgb Alternate;  // every second row of a list
};

constexpr TSkinColours Skins[SkinCount] = {
    {"Default", 0xEDF0F8, 0xE2E7F4, 0x3D6AB8, 0xE2E6F6},
    {"Gray", 0xEDEDED, 0xE1E1E1, 0x6B6B6B, 0xECECEC},
    {"Orange", 0xF8F1E2, 0xF1E3C6, 0xD4761C, 0xF8F2E0},
    {"Purple", 0xF5EAF2, 0xEBD6E5, 0x8A4D96, 0xF6E6F1},
    {"Red", 0xF6E6E6, 0xEDD2D2, 0xB83A3A, 0xF7E1E1},
    {"Green", 0xE8F5E7, 0xD5EBD3, 0x3E8E3A, 0xE2F7E1},
    {"Light blue", 0xE6F2F8, 0xD2E7F1, 0x2F86BD, 0xE1F0F7},
};

int FCurrent = -1;

}  // namespace

bool IsSkinIndex(int index) { return index >= 0 && index < SkinCount; }

QString SkinName(int index) { return IsSkinIndex(index) ? QString::fromLatin1(Skins[index].Name) : QString(); }

QPalette SkinPalette(int index) {
    if (!IsSkinIndex(index)) return QApplication::style() ? QApplication::style()->standardPalette() : QPalette();
    const TSkinColours& c = Skins[index];
    const QColor window(c.Window), button(c.Button), accent(c.Accent);
    const QColor text(0x1E, 0x22, 0x2A);
    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::AlternateBase, QColor(c.Alternate));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, QColor(0xFF, 0xFD, 0xE8));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Link, accent.darker(115));
    p.setColor(QPalette::Light, button.lighter(120));
    p.setColor(QPalette::Midlight, button.lighter(108));
    p.setColor(QPalette::Mid, button.darker(130));
    p.setColor(QPalette::Dark, button.darker(160));
    p.setColor(QPalette::Shadow, button.darker(260));
    p.setColor(QPalette::PlaceholderText, QColor(0x80, 0x84, 0x8C));
    // Disabled controls read as greyed out in every skin.
    const QColor greyText(0x9A, 0x9C, 0xA2);
    p.setColor(QPalette::Disabled, QPalette::WindowText, greyText);
    p.setColor(QPalette::Disabled, QPalette::Text, greyText);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, greyText);
    p.setColor(QPalette::Disabled, QPalette::Base, window.lighter(103));
    p.setColor(QPalette::Disabled, QPalette::Button, window);
    p.setColor(QPalette::Disabled, QPalette::Highlight, accent.lighter(150));
    return p;
}

void ApplySkin(int index) {
    if (!IsSkinIndex(index)) return;
    QApplication::setPalette(SkinPalette(index));
    FCurrent = index;
}

int CurrentSkin() { return FCurrent; }

QColor AlternateRowColor(int index) { return IsSkinIndex(index) ? QColor(Skins[index].Alternate) : QColor(0xEBEBEB); }

}  // namespace skin
