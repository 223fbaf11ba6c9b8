#pragma once

class QWidget;

namespace app {

// Pixels per dialog unit: x px = dlu_x * averageCharWidth / 4, y px = dlu_y * charHeight / 8.
// averageCharWidth starts as the mean advance of the 52 letters A-Z and a-z of the dialog's font
// and is raised as far as needed for every text of the form to fit its control, since fonts
// differ in how wide their punctuation and capitals run against that mean; charHeight is the
// font's line height.
struct DialogBaseUnits {
    double averageCharWidth = 4;
    int charHeight = 8;
};

// Measures the base units for dialog, whose children still hold their geometry in dialog units.
DialogBaseUnits measureDialogBaseUnits(const QWidget& dialog);

// Turns a form laid out in dialog units into pixels for the dialog's own font. The .ui forms
// hold every geometry in dialog units (pixels for a reference font of 4 x 8 pixels); this
// scales the dialog's size and every descendant's geometry once, right after setupUi, and fixes
// the size.
void applyDialogUnits(QWidget& dialog);

} // namespace app
