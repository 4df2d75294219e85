#pragma once

#include <QIcon>
#include <QImage>
#include <filesystem>

namespace quendelin::IconLoader {

// Decodes a PNG file with its alpha channel. A missing, unreadable or damaged file gives a
// null image: a picture the program cannot show leaves its place empty and nothing else.
QImage load(const std::filesystem::path& file);

// Smooth resampling of all four channels, alpha included; a null image stays null.
QImage scaled(const QImage& image, int width, int height);

// load(), then scaled() to the given size.
QImage loadScaled(const std::filesystem::path& file, int width, int height);

// The picture as a button face; a null image gives an empty face.
QIcon toIcon(const QImage& image);

// The program's own window icon, compiled into the binary so that the title bars never lack
// it, whatever the working directory holds.
QIcon applicationIcon();

} // namespace quendelin::IconLoader
