#pragma once

#include <QSize>
#include <QString>
#include <optional>

class QWidget;

namespace presentation {

enum class PictureFormat { kPng, kPdf, kSvg };

// The picture format a file name asks for by its extension, in any letter case: ".png", ".pdf"
// or ".svg"; none for any other.
std::optional<PictureFormat> PictureFormatOf(const QString& path);

// The size in pixels at which a chart is drawn on screen: its plot, without the legend column of
// the pulse chart. Empty for a widget that holds no chart.
QSize ShownChartSize(const QWidget* chart);

// Draws a chart (the Widget() of a chart adapter) into `path` as a picture of `size` pixels,
// in the format its extension names (a PDF page has one point per pixel). A chart whose series
// are listed only beside the plot gets a legend of its shown series in the picture. Throws
// common::Error for another extension, an empty size, a widget without a chart, or a file that
// cannot be written. Window thread only.
void SaveChartPicture(QWidget* chart, const QString& path, QSize size);

}  // namespace presentation
