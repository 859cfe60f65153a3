#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "acquisition/capture_cycle.h"
#include "analysis/figures.h"
#include "analysis/processing_pass.h"

class QButtonGroup;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace presentation {
class HistogramChart;
class PulseChart;
class StabilityChart;
class TieChart;
}  // namespace presentation

namespace app {

class SpinEdit;

// Limits of the scale box in each unit, and of the filter length.
inline constexpr int kBitsMinimum = 10;
inline constexpr int kBitsMaximum = 1000000;
inline constexpr int kPercentMinimum = 1;
inline constexpr int kPercentMaximum = 100;
inline constexpr int kFilterMinimum = 3;
inline constexpr int kFilterMaximum = 33;

// The main window's controls and their geometry, in the manner of a generated form: SetupUi
// builds every control as a child of the window, named after the control (object name and
// accessible description) and captioned for assistive technology (accessible name). It holds no
// handlers and no state of its own; the window wires them. Window thread only.
class FmainForm {
 public:
  FmainForm();
  ~FmainForm();
  FmainForm(const FmainForm&) = delete;
  FmainForm& operator=(const FmainForm&) = delete;

  void SetupUi(QWidget* window);
  // Lays out the regions and the controls anchored to the window's right edge for its size.
  void PlaceEdgeControls(QWidget* window);

  // Offers one more view in the graph selector; its button id is the view's value.
  void AddGraphItem(analysis::GraphView view, const QString& caption);
  analysis::GraphView CheckedGraph() const;
  QRadioButton* GraphItem(analysis::GraphView view) const;

  void SetPulseChartInFront(bool in_front);
  bool PulseChartInFront() const;

  // Builds the TIE and Stability charts and the readout line under the charts, and offers the
  // two views in the graph selector. Without it the chart area is laid out as before.
  void ShowAnalysis(QWidget* window);
  bool AnalysisShown() const { return tie_chart != nullptr; }
  // Puts the chart of a timing view in front of the others, or hides both for any other view.
  void ShowTimingChart(analysis::GraphView view);
  // The readout's figures, and "Missing N / Extra N" in red beside them (hidden when empty).
  void ShowReadout(const QString& figures, const QString& counts) const;
  // The Run line under the readout, which takes a line of the chart area while it has a text.
  void ShowRunLine(const QString& text);
  // The boxes of the channel 1 figures and of the quality factor, which take in every interval
  // of the pass: a red frame and `note` as their tooltip, or neither for an empty note.
  void MarkFigures(const QString& note) const;

  // The capture controls as a cycle event carries them: host, port, samples as typed and as a
  // value, Dual Channel, AutoSample and Stream.
  acquisition::CycleInputs CycleInputs() const;
  // The pulse chart's title, which is also its accessible name.
  void SetChartTitle(const QString& first_line) const;

  // "Lost N" in red beside the Stream box, with N, the datagrams from other senders refused and
  // the bytes that made no whole word in its tooltip and accessible name; hidden when all are 0.
  void ShowStreamCounts(const acquisition::StreamCounts& counts);

  // The box that shows a figure; none for the flight pulses, which are a label.
  QLineEdit* FigureBox(analysis::Figure figure) const;

  // The regions.
  QFrame* bottom_bar = nullptr;
  QFrame* top_bar = nullptr;
  QFrame* right_column = nullptr;
  QWidget* chart_area = nullptr;

  // Bottom bar: the connection, the capture and the chart scale.
  QLineEdit* address = nullptr;
  QLineEdit* port = nullptr;
  SpinEdit* samples = nullptr;
  QLabel* scale_caption = nullptr;
  SpinEdit* scale = nullptr;
  QRadioButton* bits = nullptr;
  QRadioButton* percent = nullptr;
  QLabel* filter_caption = nullptr;
  SpinEdit* filter = nullptr;
  QCheckBox* dual_channel = nullptr;
  QCheckBox* stream = nullptr;
  QLabel* lost_words = nullptr;  // stream words lost to a ring overflow, shown only when some were
  QCheckBox* auto_sample = nullptr;
  QPushButton* sample = nullptr;

  // Top bar and right column: the figure boxes are reached through FigureBox.
  QPushButton* resample = nullptr;
  QLineEdit* flight_time_ms = nullptr;
  QLabel* flight_pulses = nullptr;
  QPushButton* peak_reset = nullptr;
  QPushButton* load = nullptr;
  QPushButton* save = nullptr;
  QPushButton* print = nullptr;

  // Chart area: the pulse chart and the histogram chart fill it, one in front of the other; the
  // graph selector sits over its bottom right corner.
  std::unique_ptr<presentation::PulseChart> pulse_chart;
  std::unique_ptr<presentation::HistogramChart> histogram_chart;
  QPlainTextEdit* reply_log = nullptr;
  QGroupBox* graph_selector = nullptr;
  QButtonGroup* graph_items = nullptr;

  // With ANALYSIS only: the TIE chart and the Stability chart, shown in front in their views,
  // and the readout line under the charts.
  std::unique_ptr<presentation::TieChart> tie_chart;
  std::unique_ptr<presentation::StabilityChart> stability_chart;
  QLabel* readout = nullptr;
  QLabel* pulse_counts = nullptr;
  QLabel* run_line = nullptr;  // the whole run of a stream

 private:
  void BuildRegions(QWidget* window);
  void BuildConnectionControls();
  void BuildScaleControls();
  void BuildCaptureControls();
  void BuildTopBar();
  void BuildJitterFigures();
  void BuildFlightTimeAndButtons();
  void BuildChartArea();
  QLineEdit*& Box(analysis::Figure figure) { return figure_boxes_[analysis::FigureIndex(figure)]; }

  std::array<QLineEdit*, analysis::kFigureCount> figure_boxes_{};
};

}  // namespace app
