#include "ui/dark_palette.h"

#include "ui/palette.h"

namespace orbitreel {

// Every role the window's children or a dialog might use is set explicitly.
QPalette darkPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, Palette::paper());
    palette.setColor(QPalette::WindowText, Palette::ink());
    palette.setColor(QPalette::Base, Palette::surface());
    palette.setColor(QPalette::AlternateBase, Palette::surface2());
    palette.setColor(QPalette::Text, Palette::ink());
    palette.setColor(QPalette::Button, Palette::surface2());
    palette.setColor(QPalette::ButtonText, Palette::ink());
    palette.setColor(QPalette::BrightText, Palette::ink());
    palette.setColor(QPalette::PlaceholderText, Palette::ink3());
    palette.setColor(QPalette::Highlight, Palette::accent());
    palette.setColor(QPalette::HighlightedText, Palette::accentInk());
    palette.setColor(QPalette::ToolTipBase, Palette::surface());
    palette.setColor(QPalette::ToolTipText, Palette::ink());
    palette.setColor(QPalette::Light, Palette::surface2());
    palette.setColor(QPalette::Midlight, Palette::surface2());
    palette.setColor(QPalette::Mid, Palette::surface());
    palette.setColor(QPalette::Dark, Palette::paper());
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, Palette::ink3());
    palette.setColor(QPalette::Disabled, QPalette::Text, Palette::ink3());
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, Palette::ink3());
    return palette;
}

}  // namespace orbitreel
