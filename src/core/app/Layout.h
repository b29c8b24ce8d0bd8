#pragma once

#include <QString>

// The window's layout in twips (1/1440 inch), the unit in which it was designed, and the one
// place where twips become pixels.
namespace Layout {

constexpr int kTwipsPerPixel = 15;

int toPixels(int twips);
int toTwips(int pixels);

enum class Kind { Window, TabStrip, Frame, Button, Label, CheckBox, TextBox, ComboBox, ListBox };

struct Control
{
    const char* name;
    Kind kind;
    const char* container; // nullptr: directly on the window
    const char* caption;   // UTF-8
    int left, top, width, height;
    int tabIndex;
};

// Every control of the window at its design position, in the order of the tab index.
const Control* controls(int* count);
const Control& control(const char* name); // the control's row; asserts that it exists
// What a screen reader says of a control: its caption, or for a control without one what it
// holds. Empty for a label without a fixed caption, which is read by its text.
QString spokenName(const Control& c);

constexpr int kClientWidth = 6735;
constexpr int kClientHeight = 6105;
// What the window's frame and title bar add to its client height: the window's outer height,
// which the rows set, minus this is the client height.
constexpr int kNonClientHeight = 450;

constexpr int kRowTop0 = 450;   // row i stands at kRowTop0 + kRowPitch * i
constexpr int kRowPitch = 300;

// The heights that follow from the number of rows.
struct Fit
{
    int frameHeight;    // Frame1 and Frame2
    int tabStripHeight;
    int windowHeight;   // outer height of the window
    int exitTop;        // Top of CmdExit
    int textIpHeight;
    int listLogHeight;
    bool capped;        // the window stopped growing at maxWindowHeight
};

int rowTop(int row);

// Heights for the given number of rows (the highest row index). The frame is 850 + 300 * rows;
// everything else follows from it. If that makes the window taller than maxWindowHeight
// (> 0), the window takes that height instead and the rest follows from it.
Fit refit(int rows, int maxWindowHeight = 0);

} // namespace Layout
