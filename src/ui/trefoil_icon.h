// The window's icon: a yellow three-bladed trefoil on a transparent
// background, painted in code at 32x32 and 16x16 pixels.
#pragma once

#include <QIcon>
#include <QImage>

namespace tollbook::ui {

// The trefoil at size x size pixels.
QImage TrefoilImage(int size);

// The icon with the 32x32 and 16x16 images.
QIcon TrefoilIcon();

}  // namespace tollbook::ui
