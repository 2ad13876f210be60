#include "dialog/dialog_table.h"

#include "dialog/resource.h"

namespace {

using K = ControlKind;

// Main window. Tab indices give the order in which Tab visits the controls.
constexpr ControlTemplate kMainControls[] = {
    {IDC_PROGRAM, "IDC_PROGRAM", K::DefaultButton, "PROGRAM", {18, 134, 50, 14}, kStartsDisabled, 0},
    {-1, "ipLabel", K::Label, "IP Address:", {15, 19, 39, 10}, kStyleNone, -1},
    {IDC_OCTET1, "IDC_OCTET1", K::Edit, "", {61, 17, 24, 14}, kReadOnly | kDigitsOnly, 1},
    {-1, "dot1", K::Label, ".", {87, 23, 8, 8}, kStyleNone, -1},
    {IDC_OCTET2, "IDC_OCTET2", K::Edit, "", {95, 17, 24, 14}, kReadOnly | kDigitsOnly, 2},
    {-1, "dot2", K::Label, ".", {119, 23, 8, 8}, kStyleNone, -1},
    {-1, "dot2b", K::Label, ".", {119, 23, 8, 8}, kStyleNone, -1},
    {IDC_OCTET3, "IDC_OCTET3", K::Edit, "", {127, 17, 24, 14}, kReadOnly | kDigitsOnly, 3},
    {-1, "dot3", K::Label, ".", {153, 23, 8, 8}, kStyleNone, -1},
    {IDC_OCTET4, "IDC_OCTET4", K::Edit, "", {161, 17, 24, 14}, kReadOnly | kDigitsOnly, 4},
    {IDC_CONNECT, "IDC_CONNECT", K::Button, "CONNECT", {197, 18, 57, 14}, kStyleNone, 10},
    {IDC_DISCONNECT, "IDC_DISCONNECT", K::Button, "DISCONNECT", {264, 18, 63, 15}, kStartsDisabled, 11},
    {-1, "hardwareLabel", K::Label, "Hardware", {7, 41, 32, 8}, kStyleNone, -1},
    {IDC_HARDWARE, "IDC_HARDWARE", K::Edit, "", {61, 36, 41, 15}, kReadOnly, 13},
    {-1, "revLabel", K::Label, "REV", {109, 42, 16, 8}, kStyleNone, -1},
    {IDC_REV, "IDC_REV", K::Edit, "", {129, 37, 20, 14}, kStyleNone, 5},
    {-1, "commTypeLabel", K::Label, "Communication Type:", {192, 46, 74, 8}, kStyleNone, -1},
    {IDC_COMMTYPE, "IDC_COMMTYPE", K::Edit, "", {268, 43, 40, 14}, kReadOnly, 12},
    {-1, "serialLabel", K::Label, "Serial Number:", {7, 65, 47, 8}, kStyleNone, -1},
    {IDC_SERIAL, "IDC_SERIAL", K::Edit, "", {59, 62, 106, 14}, kStyleNone, 6},
    {-1, "fileNameLabel", K::Label, "File Name:", {7, 87, 34, 8}, kStyleNone, -1},
    {IDC_FILENAME, "IDC_FILENAME", K::Edit, "", {59, 86, 237, 14}, kStyleNone, 7},
    {IDC_BROWSE, "IDC_BROWSE", K::Button, "...", {305, 86, 22, 12}, kStyleNone, 8},
    {IDC_PROGRESS, "IDC_PROGRESS", K::Progress, "", {99, 124, 148, 14}, kBordered, -1},
    {IDC_EXIT, "IDC_EXIT", K::Button, "Exit", {269, 135, 50, 14}, kStyleNone, 9},
};

constexpr ControlTemplate kAboutControls[] = {
    // An icon keeps its own size in pixels; only its place is in dialog units.
    {IDR_MAINFRAME, "icon", K::Icon, "", {11, 17, 0, 0}, kStyleNone, -1},
    {-1, "versionLabel", K::Label, "Tovrin Version 3.0", {40, 10, 119, 8}, kStyleNone, -1},
    {-1, "purposeLabel", K::Label, "Flash programmer for Varnel boards", {40, 25, 119, 8}, kStyleNone, -1},
    {1, "IDOK", K::DefaultButton, "OK", {178, 7, 50, 14}, kStyleNone, 0},
};

const DialogTemplate kMain{{334, 167}, kMainControls,
                           "Tovrin - Flash Programmer for Varnel VR16 and VR32 Boards - Version 3.0"};
const DialogTemplate kAbout{{235, 55}, kAboutControls, "About Tovrin"};

}  // namespace

const DialogTemplate& MainDialogTemplate() { return kMain; }
const DialogTemplate& AboutDialogTemplate() { return kAbout; }
