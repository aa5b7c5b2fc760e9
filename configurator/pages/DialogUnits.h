#pragma once

// Dialog units: the pages are laid out on a grid measured in quarters of the
// font's average character width and eighths of its height, so the layout
// keeps its proportions whatever font the desktop uses.

#include <QFont>
#include <QRect>
#include <QSize>

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int x(int dlu) const;
    int y(int dlu) const;
    // A rectangle given in dialog units; neighbouring rectangles share their
    // pixel edges exactly.
    QRect rect(int left, int top, int width, int height) const;
    QSize size(int width, int height) const;

private:
    double m_baseX = 6.0;  // pixels per 4 horizontal units
    double m_baseY = 13.0; // pixels per 8 vertical units
};
