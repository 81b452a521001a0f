#pragma once

#include <QIcon>
#include <QImage>

namespace tavlin::artwork {

// The program's built-in pictures, drawn for Tavlin.
QImage splashPicture();  // 400 × 300: the title above a strip of four photographs
QImage errorPicture();   // 400 × 150: "Error 42:" and "Unable to Load Picture"
QImage bannerPicture();  // 350 × 100: the About window's banner
QIcon windowIcon();

} // namespace tavlin::artwork
