#pragma once

class QFont;
class QLabel;

namespace UiFont {

// The windows were laid out for the 9-point Japanese gothic of Windows; a proportional
// gothic of the same size keeps their captions inside their controls elsewhere too.
void applyDefault();

// A Japanese gothic of the given size, falling back to what the system has.
QFont gothic(double points, bool bold);

// Shrinks the label's font, half a point at a time down to 8 points, until its widest
// line fits the label.
void fitToWidth(QLabel *label);

} // namespace UiFont
