#include "app/fmain_form.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>

#include "app/spin_edit.h"
#include "app/window_texts.h"
#include "presentation/histogram_chart.h"
#include "presentation/pulse_chart.h"
#include "presentation/timing_charts.h"

namespace app {

using analysis::Figure;
namespace {

// The client area at its initial size and the fixed sizes of the regions.
constexpr int kClientWidth = 1148;
constexpr int kClientHeight = 703;
constexpr int kBottomBarHeight = 36;
constexpr int kTopBarHeight = 41;
constexpr int kRightColumnWidth = 103;

// Right-anchored controls keep their distance from the right edge of the initial layout.
constexpr int kStreamBoxRight = kClientWidth - 871;
constexpr int kAutoSampleRight = kClientWidth - 982;
constexpr int kSampleButtonRight = kClientWidth - 1065;
constexpr int kResampleRight = kClientWidth - 1058;
// The graph selector's distance from the chart area's right and bottom edges.
constexpr int kChartAreaWidth = kClientWidth - kRightColumnWidth;
constexpr int kChartAreaHeight = kClientHeight - kBottomBarHeight - kTopBarHeight;
constexpr int kGraphSelectorRight = kChartAreaWidth - 922;
constexpr int kGraphSelectorBottom = kChartAreaHeight - (544 - kTopBarHeight);
constexpr int kGraphItemHeight = 17;
constexpr int kReadoutHeight = 20;
constexpr int kPulsesWidth = 170;

// Tahoma where it is installed; otherwise the narrow DejaVu cut, whose widths come closest to it,
// so that the captions fit the places the layout gives them.
QFont WindowFont() {
  const QStringList families = QFontDatabase::families();
  QString family = QStringLiteral("DejaVu Sans");
  for (const char* wanted : {"Tahoma", "DejaVu Sans Condensed"}) {
    if (families.contains(QString::fromLatin1(wanted))) {
      family = QString::fromLatin1(wanted);
      break;
    }
  }
  QFont font(family);
  font.setPixelSize(11);
  return font;
}

void SetNames(QWidget* widget, const char* name, const QString& spoken) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setAccessibleName(spoken);
  widget->setAccessibleDescription(QString::fromLatin1(name));
}

QLabel* MakeLabel(QWidget* parent, const QString& text, int left, int top) {
  auto* label = new QLabel(text, parent);
  label->move(left, top);
  label->adjustSize();
  return label;
}

// A figure box: a read-only display that the pass fills.
QLineEdit* MakeFigureBox(QWidget* parent, int left, int top, int width, int height) {
  auto* edit = new QLineEdit(parent);
  edit->setGeometry(left, top, width, height);
  edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  edit->setEnabled(false);
  // The figures are what the operator reads: keep them dark although the box is disabled.
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Disabled, QPalette::Text,
                   palette.color(QPalette::Active, QPalette::Text));
  edit->setPalette(palette);
  return edit;
}

// A caption at its place in the layout, named after that place; `spoken`, when given, replaces
// the caption as the accessible name. The form keeps no handle to it: only its buddy changes.
QLabel* Caption(QWidget* parent, const char* name, const char* text, int left, int top,
                const QString& spoken = {}) {
  QLabel* label = MakeLabel(parent, QString::fromLatin1(text), left, top);
  SetNames(label, name, spoken.isEmpty() ? label->text() : spoken);
  return label;
}

QLineEdit* ColumnBox(QWidget* column, const char* name, int left, int top, const QString& spoken) {
  QLineEdit* box = MakeFigureBox(column, left, top, 65, 21);
  SetNames(box, name, spoken);
  return box;
}

}  // namespace

FmainForm::FmainForm() = default;
FmainForm::~FmainForm() = default;

void FmainForm::BuildConnectionControls() {
  QWidget* bar = bottom_bar;
  QLabel* address_caption = Caption(bar, "Label1", "IP", 8, 10);
  address = new QLineEdit(QStringLiteral("10.0.98.108"), bar);
  address->setGeometry(24, 6, 121, 21);
  SetNames(address, "Eip", QStringLiteral("IP"));
  address_caption->setBuddy(address);

  QLabel* port_caption = Caption(bar, "Label2", "Port", 159, 10);
  port = new QLineEdit(QString::number(acquisition::kInstrumentTcpPort), bar);
  port->setGeometry(185, 6, 41, 21);
  SetNames(port, "Eport", QStringLiteral("Port"));
  port_caption->setBuddy(port);

  // Starts a little left of its Tahoma place so that the wider fallback font ends before the box.
  QLabel* samples_caption = Caption(bar, "Label3", "Samples", 236, 10);
  samples = new SpinEdit(10, 3000, 1, 4, bar);
  samples->SetValue(50);
  samples->setGeometry(284, 6, 53, 22);
  SetNames(samples, "SEsamples", QStringLiteral("Samples"));
  samples_caption->setBuddy(samples);
}

void FmainForm::BuildScaleControls() {
  QWidget* bar = bottom_bar;
  scale_caption = new QLabel(QString::fromLatin1(texts::kVerticalScale), bar);
  scale_caption->setGeometry(340, 10, 104, 14);
  scale_caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  SetNames(scale_caption, "Lscale", scale_caption->text());
  scale = new SpinEdit(kBitsMinimum, kBitsMaximum, 1, 0, bar);
  scale->SetValue(25);
  scale->setGeometry(448, 6, 69, 22);
  SetNames(scale, "SEvscale", scale_caption->text());
  scale_caption->setBuddy(scale);

  bits = new QRadioButton(QStringLiteral("Bits/Hz"), bar);
  bits->setGeometry(525, 0, 64, 17);
  SetNames(bits, "RBbits", bits->text());
  percent = new QRadioButton(QStringLiteral("%"), bar);
  percent->setGeometry(525, 16, 60, 17);
  SetNames(percent, "RBpct", QStringLiteral("Percent"));

  filter_caption = Caption(bar, "Lfilter", "Filter", 593, 10);
  filter_caption->hide();
  filter = new SpinEdit(kFilterMinimum, kFilterMaximum, 2, 2, bar);
  filter->SetValue(1);
  filter->setGeometry(620, 6, 37, 22);
  SetNames(filter, "SEfilter", QStringLiteral("Filter"));
  filter->hide();
  filter_caption->setBuddy(filter);
}

void FmainForm::BuildCaptureControls() {
  QWidget* bar = bottom_bar;
  dual_channel = new QCheckBox(QStringLiteral("Dual Channel"), bar);
  dual_channel->setGeometry(676, 1, 95, 34);
  SetNames(dual_channel, "CBdual", dual_channel->text());
  stream = new QCheckBox(QStringLiteral("Stream"), bar);
  SetNames(stream, "CBstream", stream->text());
  lost_words = new QLabel(bar);
  lost_words->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lost_words->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold"));
  SetNames(lost_words, "Llost", QStringLiteral("Lost stream words"));
  lost_words->hide();
  auto_sample = new QCheckBox(QStringLiteral("AutoSample"), bar);
  SetNames(auto_sample, "CBactive", auto_sample->text());
  sample = new QPushButton(QStringLiteral("Sample"), bar);
  SetNames(sample, "Bsample", sample->text());
}

// The channel averages: each channel's interval in seconds and its frequency in hertz.
void FmainForm::BuildTopBar() {
  QWidget* bar = top_bar;
  auto box = [&](Figure figure, const char* name, int left, int width, const char* spoken) {
    Box(figure) = MakeFigureBox(bar, left, 11, width, 21);
    SetNames(Box(figure), name, QString::fromLatin1(spoken));
  };
  Caption(bar, "Label4", "Ch1", 16, 16);
  box(Figure::kCh1Seconds, "Eint1", 41, 93, "Ch1 interval s");
  Caption(bar, "Label6", "s", 140, 14, QStringLiteral("seconds"));
  box(Figure::kCh1Frequency, "Efreq1", 159, 75, "Ch1 frequency Hz");
  Caption(bar, "Label5", "Hz", 240, 14, QStringLiteral("hertz"));
  Caption(bar, "Label9", "Ch2", 307, 14);
  box(Figure::kCh2Seconds, "Eint2", 332, 93, "Ch2 interval s");
  Caption(bar, "Label7", "s", 431, 14, QStringLiteral("seconds"));
  box(Figure::kCh2Frequency, "Efreq2", 448, 75, "Ch2 frequency Hz");
  Caption(bar, "Label8", "Hz", 529, 14, QStringLiteral("hertz"));

  resample = new QPushButton(QStringLiteral("Resample"), bar);
  SetNames(resample, "Bftest", resample->text());
  resample->hide();
}

void FmainForm::BuildJitterFigures() {
  QWidget* column = right_column;
  auto box = [&](Figure figure, const char* name, int left, int top, const char* spoken) {
    Box(figure) = ColumnBox(column, name, left, top, QString::fromLatin1(spoken));
  };
  const QString percent_caption = QStringLiteral("percent");
  const QString peak_percent_caption = QStringLiteral("peak percent");
  Caption(column, "Label17", "Sample Avg", 23, 17);
  box(Figure::kAverageTicks, "Esampavg", 12, 36, "Sample Avg");
  Box(Figure::kAverageTicks)->resize(69, 21);
  Caption(column, "Label12", "Jibits P-P", 32, 73);
  box(Figure::kPeakPositive, "Epkpos", 13, 88, "Jibits P-P positive peak");
  box(Figure::kPeakNegative, "Epkneg", 13, 115, "Jibits P-P negative peak");
  box(Figure::kPeakToPeak, "Ejitpp", 12, 142, "Jibits P-P Tot");
  Caption(column, "Label18", "Tot", 80, 144);
  box(Figure::kPeakToPeakPercent, "Ejitpp_pct", 12, 169, "Jibits P-P %");
  Caption(column, "Label15", "%", 83, 172, percent_caption);
  box(Figure::kHeldPeakToPeakPercent, "Ejitpp_max", 12, 196, "Jibits P-P Pk%");
  Caption(column, "Label24", "Pk%", 79, 199, peak_percent_caption);
  Caption(column, "Label14", "Jibits RMS", 28, 232);
  box(Figure::kRms, "Ejitrms", 12, 251, "Jibits RMS");
  box(Figure::kRmsPercent, "Ejitrms_pct", 12, 278, "Jibits RMS %");
  Caption(column, "Label16", "%", 83, 281, percent_caption);
}

void FmainForm::BuildFlightTimeAndButtons() {
  QWidget* column = right_column;
  QLabel* flight_time_caption = Caption(column, "Label19", "Flight Time", 26, 324);
  flight_time_ms = ColumnBox(column, "Eprove_ms", 12, 339, QStringLiteral("Flight Time ms"));
  flight_time_ms->setEnabled(true);
  flight_time_ms->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[0-9]*")), flight_time_ms));
  flight_time_caption->setBuddy(flight_time_ms);
  Caption(column, "Label20", "ms", 83, 342, QStringLiteral("milliseconds"));
  flight_pulses = new QLabel(column);
  flight_pulses->setGeometry(2, 364, 77 - 2, 14);
  flight_pulses->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  SetNames(flight_pulses, "Lpcycles", QStringLiteral("Flight Time pulses"));
  Caption(column, "Label22", "Quality Factor", 9, 381);
  Box(Figure::kQualityFactor) =
      ColumnBox(column, "Eprove_err", 12, 397, QStringLiteral("Quality Factor %"));
  Caption(column, "Label21", "%", 83, 400, QStringLiteral("percent"));
  Box(Figure::kHeldQualityFactor) =
      ColumnBox(column, "Epqf", 12, 424, QStringLiteral("Quality Factor Pk%"));
  Caption(column, "Label23", "Pk%", 79, 427, QStringLiteral("peak percent"));

  auto button = [&](const char* name, const char* caption, int top) {
    auto* field = new QPushButton(QString::fromLatin1(caption), column);
    field->setGeometry(12, top, 65, 25);
    SetNames(field, name, field->text());
    return field;
  };
  peak_reset = button("Bpqfreset", "Peak Reset", 451);
  load = button("Bload", "Load", 526);
  save = button("Bsave", "Save", 557);
  save->setEnabled(false);
  print = button("Bprint", "Print", 588);
  print->hide();
}

void FmainForm::SetupUi(QWidget* window) {
  window->setObjectName(QStringLiteral("Fmain"));
  window->setWindowTitle(QString::fromLatin1(texts::kCaption));
  window->setAccessibleName(QString::fromLatin1(texts::kCaption));
  window->setAccessibleDescription(QStringLiteral("Fmain"));
  window->setFont(WindowFont());
  window->setAutoFillBackground(true);
  window->resize(kClientWidth, kClientHeight);

  BuildRegions(window);
  BuildConnectionControls();
  BuildScaleControls();
  BuildCaptureControls();
  BuildTopBar();
  BuildJitterFigures();
  BuildFlightTimeAndButtons();
  BuildChartArea();
  PlaceEdgeControls(window);
}

void FmainForm::BuildRegions(QWidget* window) {
  bottom_bar = new QFrame(window);
  SetNames(bottom_bar, "Panel1", QStringLiteral("Capture settings"));
  top_bar = new QFrame(window);
  SetNames(top_bar, "Panel2", QStringLiteral("Channel averages"));
  right_column = new QFrame(window);
  SetNames(right_column, "Panel3", QStringLiteral("Jitter figures"));
  for (QFrame* panel : {bottom_bar, top_bar, right_column})
    panel->setFrameShape(QFrame::StyledPanel);
  chart_area = new QWidget(window);
  SetNames(chart_area, "ChartArea", QStringLiteral("Charts"));
}

void FmainForm::BuildChartArea() {
  histogram_chart = std::make_unique<presentation::HistogramChart>(chart_area);
  SetNames(histogram_chart->Widget(), "Chart2", histogram_chart->Title());
  pulse_chart = std::make_unique<presentation::PulseChart>(chart_area);
  SetNames(pulse_chart->Widget(), "Chart1", pulse_chart->Title());

  reply_log = new QPlainTextEdit(pulse_chart->Widget());
  SetNames(reply_log, "Memo1", QStringLiteral("Reply log"));
  reply_log->setGeometry(560, 48, 333, 533);
  reply_log->setLineWrapMode(QPlainTextEdit::NoWrap);
  reply_log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  reply_log->setReadOnly(true);
  reply_log->hide();

  graph_selector = new QGroupBox(QStringLiteral("Graph"), chart_area);
  SetNames(graph_selector, "RGgsel", graph_selector->title());
  graph_selector->setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(graph_selector);
  layout->setContentsMargins(4, 0, 2, 2);
  layout->setSpacing(0);
  graph_items = new QButtonGroup(graph_selector);
  AddGraphItem(analysis::GraphView::kInterval, QStringLiteral("Interval"));
  AddGraphItem(analysis::GraphView::kFrequency, QStringLiteral("Frequency"));
  GraphItem(analysis::GraphView::kInterval)->setChecked(true);
  SetPulseChartInFront(true);
}

// The items are named after their caption ("RGgsel_Histogram") and described as the selector.
void FmainForm::AddGraphItem(analysis::GraphView view, const QString& caption) {
  auto* radio = new QRadioButton(caption, graph_selector);
  radio->setObjectName(QStringLiteral("RGgsel_") + caption);
  radio->setAccessibleName(caption);
  radio->setAccessibleDescription(QStringLiteral("RGgsel"));
  {
    const QSignalBlocker block(graph_items);
    graph_items->addButton(radio, static_cast<int>(view));
  }
  graph_selector->layout()->addWidget(radio);
}

analysis::GraphView FmainForm::CheckedGraph() const {
  return static_cast<analysis::GraphView>(std::max(0, graph_items->checkedId()));
}

QRadioButton* FmainForm::GraphItem(analysis::GraphView view) const {
  return qobject_cast<QRadioButton*>(graph_items->button(static_cast<int>(view)));
}

void FmainForm::SetPulseChartInFront(bool in_front) {
  if (in_front) {
    histogram_chart->Widget()->lower();
  } else {
    pulse_chart->Widget()->lower();
  }
  graph_selector->raise();
}

bool FmainForm::PulseChartInFront() const {
  const QObjectList& order = chart_area->children();
  return order.indexOf(pulse_chart->Widget()) > order.indexOf(histogram_chart->Widget());
}

QLineEdit* FmainForm::FigureBox(analysis::Figure figure) const {
  return figure_boxes_[analysis::FigureIndex(figure)];
}

void FmainForm::PlaceEdgeControls(QWidget* window) {
  const int w = window->width();
  const int h = window->height();
  top_bar->setGeometry(0, 0, w, kTopBarHeight);
  bottom_bar->setGeometry(0, h - kBottomBarHeight, w, kBottomBarHeight);
  const int middle = std::max(0, h - kTopBarHeight - kBottomBarHeight);
  right_column->setGeometry(w - kRightColumnWidth, kTopBarHeight, kRightColumnWidth, middle);
  chart_area->setGeometry(0, kTopBarHeight, std::max(0, w - kRightColumnWidth), middle);

  stream->setGeometry(w - kStreamBoxRight, 0, 97, 33);
  lost_words->setGeometry(w - kStreamBoxRight - 104, 6, 100, 22);
  auto_sample->setGeometry(w - kAutoSampleRight, 1, 80, 34);
  sample->setGeometry(w - kSampleButtonRight, 6, 57, 23);
  resample->setGeometry(w - kResampleRight, 4, 75, 25);

  QRect area = chart_area->rect();
  if (AnalysisShown()) {
    if (!run_line->isHidden()) {
      area.setHeight(std::max(0, area.height() - kReadoutHeight));
      run_line->setGeometry(4, area.height(), std::max(0, area.width() - 8), kReadoutHeight);
    }
    area.setHeight(std::max(0, area.height() - kReadoutHeight));
    readout->setGeometry(4, area.height(), std::max(0, area.width() - kPulsesWidth - 8),
                         kReadoutHeight);
    pulse_counts->setGeometry(area.width() - kPulsesWidth - 4, area.height(), kPulsesWidth,
                              kReadoutHeight);
    tie_chart->Widget()->setGeometry(area);
    stability_chart->Widget()->setGeometry(area);
  }
  pulse_chart->Widget()->setGeometry(area);
  histogram_chart->Widget()->setGeometry(area);
  // Each item past the first three takes one more line of the selector.
  const int extra_items = std::max<int>(0, static_cast<int>(graph_items->buttons().size()) - 3);
  const int height = 75 + extra_items * kGraphItemHeight;
  graph_selector->setGeometry(area.width() - kGraphSelectorRight,
                              area.height() - kGraphSelectorBottom - extra_items * kGraphItemHeight,
                              91, height);
  graph_selector->raise();
}

void FmainForm::ShowAnalysis(QWidget* window) {
  if (AnalysisShown()) return;
  tie_chart = std::make_unique<presentation::TieChart>(chart_area);
  SetNames(tie_chart->Widget(), "Chart3", tie_chart->Title());
  stability_chart = std::make_unique<presentation::StabilityChart>(chart_area);
  SetNames(stability_chart->Widget(), "Chart4", stability_chart->Title());
  tie_chart->Widget()->hide();
  stability_chart->Widget()->hide();
  readout = new QLabel(chart_area);
  SetNames(readout, "Lreadout", QStringLiteral("Timing jitter"));
  pulse_counts = new QLabel(chart_area);
  SetNames(pulse_counts, "Lpulses", QStringLiteral("Missing and extra pulses"));
  pulse_counts->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold"));
  pulse_counts->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  pulse_counts->hide();
  run_line = new QLabel(chart_area);
  SetNames(run_line, "Lrun", QStringLiteral("Whole run"));
  run_line->setStyleSheet(QStringLiteral("color: #00308c"));
  run_line->hide();
  AddGraphItem(analysis::GraphView::kTie, QString::fromLatin1(texts::kTieView));
  AddGraphItem(analysis::GraphView::kStability, QString::fromLatin1(texts::kStabilityView));
  PlaceEdgeControls(window);
}

void FmainForm::ShowTimingChart(analysis::GraphView view) {
  if (!AnalysisShown()) return;
  tie_chart->Widget()->setVisible(view == analysis::GraphView::kTie);
  stability_chart->Widget()->setVisible(view == analysis::GraphView::kStability);
  if (view == analysis::GraphView::kTie) tie_chart->Widget()->raise();
  if (view == analysis::GraphView::kStability) stability_chart->Widget()->raise();
  graph_selector->raise();
}

void FmainForm::ShowReadout(const QString& figures, const QString& counts) const {
  if (!AnalysisShown()) return;
  readout->setText(figures);
  readout->setAccessibleName(figures);
  pulse_counts->setText(counts);
  pulse_counts->setAccessibleName(counts);
  pulse_counts->setVisible(!counts.isEmpty());
}

void FmainForm::MarkFigures(const QString& note) const {
  static constexpr Figure kMarked[] = {
      Figure::kAverageTicks, Figure::kPeakPositive,      Figure::kPeakNegative,
      Figure::kPeakToPeak,   Figure::kPeakToPeakPercent, Figure::kHeldPeakToPeakPercent,
      Figure::kRms,          Figure::kRmsPercent,        Figure::kCh1Seconds,
      Figure::kCh1Frequency, Figure::kQualityFactor,     Figure::kHeldQualityFactor,
  };
  const QString frame =
      note.isEmpty() ? QString() : QStringLiteral("QLineEdit { border: 1px solid #c00000; }");
  for (Figure figure : kMarked) {
    QLineEdit* box = FigureBox(figure);
    if (!box || box->toolTip() == note) continue;
    box->setStyleSheet(frame);
    box->setToolTip(note);
    box->setAccessibleDescription(note);
  }
}

void FmainForm::ShowRunLine(const QString& text) {
  if (!AnalysisShown()) return;
  run_line->setText(text);
  run_line->setAccessibleName(text.isEmpty() ? QStringLiteral("Whole run") : text);
  if (run_line->isHidden() != text.isEmpty()) {
    run_line->setVisible(!text.isEmpty());
    PlaceEdgeControls(chart_area->parentWidget());  // the window
  }
}

acquisition::CycleInputs FmainForm::CycleInputs() const {
  acquisition::CycleInputs in;
  in.host = address->text().toStdString();
  in.port = port->text().toStdString();
  const QByteArray count = samples->text().toLatin1();
  in.samples_text.assign(count.constData(), static_cast<size_t>(count.size()));
  in.samples_value = samples->Value();
  in.dual = dual_channel->isChecked();
  in.auto_sample = auto_sample->isChecked();
  in.stream = stream->isChecked();
  return in;
}

void FmainForm::SetChartTitle(const QString& first_line) const {
  pulse_chart->SetTitle(first_line);
  pulse_chart->Widget()->setAccessibleName(first_line);
}

// A log with holes must not pass for a complete one: the count stays on screen, in red, from
// the first lost word until the next start. Refused datagrams and stray bytes are no holes in
// the log, but they say that something else reached the port; the tooltip names each count.
void FmainForm::ShowStreamCounts(const acquisition::StreamCounts& counts) {
  QStringList lines;
  if (counts.lost_words != 0) {
    lines << QStringLiteral("%1 stream words lost since streaming started").arg(counts.lost_words);
  }
  if (counts.foreign_datagrams != 0) {
    lines
        << QStringLiteral("%1 datagrams from other senders refused").arg(counts.foreign_datagrams);
  }
  if (counts.stray_bytes != 0) {
    lines << QStringLiteral("%1 bytes that made no whole word").arg(counts.stray_bytes);
  }
  const QString text = lines.join(QLatin1Char('\n'));
  lost_words->setText(lines.isEmpty() ? QString()
                                      : QStringLiteral("Lost %1").arg(counts.lost_words));
  lost_words->setToolTip(text);
  lost_words->setAccessibleName(lines.isEmpty() ? QStringLiteral("Lost stream words") : text);
  lost_words->setVisible(!lines.isEmpty());
  stream->setToolTip(text);
}

}  // namespace app
