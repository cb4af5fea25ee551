#pragma once

#include <QColor>
#include <QtGlobal>

// A 32-bit colour value: with the top bit clear a plain colour 00BBGGRR (red in the
// low byte); with it set an index into the system colour table, resolved when needed.
using TColor = quint32;

constexpr TColor clBlack = 0x000000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clPurple = 0x800080;
constexpr TColor clWindowFrame = 0x80000006;
constexpr TColor clWindowText = 0x80000008;
constexpr TColor clBtnFace = 0x8000000F;
constexpr TColor clBtnShadow = 0x80000010;
constexpr TColor clBtnHighlight = 0x80000014;
constexpr TColor cl3DDkShadow = 0x80000015;
constexpr TColor clGradientActiveCaption = 0x8000001B;

constexpr TColor rgbColour(int r, int g, int b) {
    return TColor(r & 255) | (TColor(g & 255) << 8) | (TColor(b & 255) << 16);
}

// The plain colour of a value; system colours come from the application palette.
QColor resolveColour(TColor value);
