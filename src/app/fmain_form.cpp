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

#include "app/channel_display.h"
#include "app/spin_edit.h"
#include "app/window_texts.h"
#include "presentation/chart_area_layout.h"
#include "presentation/histogram_chart.h"
#include "presentation/proving_chart.h"
#include "presentation/pulse_chart.h"
#include "presentation/spectrum_chart.h"
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
  // A style sheet (the red frame of figures that include missing pulses) makes a box resolve its
  // font again, from the application's rather than the window's: a box given its font keeps it,
  // and the figure its width.
  edit->setFont(WindowFont());
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
  QWidget* bar = regions_.bottom_bar;
  QLabel* address_caption = Caption(bar, "Label1", "IP", 8, 10);
  capture_.address = new QLineEdit(QStringLiteral("10.0.98.108"), bar);
  capture_.address->setGeometry(24, 6, 121, 21);
  SetNames(capture_.address, "Eip", QStringLiteral("IP"));
  address_caption->setBuddy(capture_.address);

  QLabel* port_caption = Caption(bar, "Label2", "Port", 159, 10);
  capture_.port = new QLineEdit(QString::number(acquisition::kInstrumentTcpPort), bar);
  capture_.port->setGeometry(185, 6, 41, 21);
  SetNames(capture_.port, "Eport", QStringLiteral("Port"));
  port_caption->setBuddy(capture_.port);

  // Starts a little left of its Tahoma place so that the wider fallback font ends before the box.
  QLabel* samples_caption = Caption(bar, "Label3", "Samples", 236, 10);
  capture_.samples = new SpinEdit(10, 3000, 1, 4, bar);
  capture_.samples->SetValue(50);
  capture_.samples->setGeometry(284, 6, 53, 22);
  SetNames(capture_.samples, "SEsamples", QStringLiteral("Samples"));
  samples_caption->setBuddy(capture_.samples);
}

void FmainForm::BuildScaleControls() {
  QWidget* bar = regions_.bottom_bar;
  scale_.scale_caption = new QLabel(QString::fromLatin1(texts::kVerticalScale), bar);
  scale_.scale_caption->setGeometry(340, 10, 104, 14);
  scale_.scale_caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  SetNames(scale_.scale_caption, "Lscale", scale_.scale_caption->text());
  scale_.scale = new SpinEdit(kBitsMinimum, kBitsMaximum, 1, 0, bar);
  scale_.scale->SetValue(25);
  scale_.scale->setGeometry(448, 6, 69, 22);
  SetNames(scale_.scale, "SEvscale", scale_.scale_caption->text());
  scale_.scale_caption->setBuddy(scale_.scale);

  scale_.bits = new QRadioButton(QStringLiteral("Bits/Hz"), bar);
  scale_.bits->setGeometry(525, 0, 64, 17);
  SetNames(scale_.bits, "RBbits", scale_.bits->text());
  scale_.percent = new QRadioButton(QStringLiteral("%"), bar);
  scale_.percent->setGeometry(525, 16, 60, 17);
  SetNames(scale_.percent, "RBpct", QStringLiteral("Percent"));

  scale_.filter_caption = Caption(bar, "Lfilter", "Filter", 593, 10);
  scale_.filter_caption->hide();
  scale_.filter = new SpinEdit(kFilterMinimum, kFilterMaximum, 2, 2, bar);
  scale_.filter->SetValue(1);
  scale_.filter->setGeometry(620, 6, 37, 22);
  SetNames(scale_.filter, "SEfilter", QStringLiteral("Filter"));
  scale_.filter->hide();
  scale_.filter_caption->setBuddy(scale_.filter);
}

void FmainForm::BuildCaptureControls() {
  QWidget* bar = regions_.bottom_bar;
  capture_.dual_channel = new QCheckBox(QStringLiteral("Dual Channel"), bar);
  capture_.dual_channel->setGeometry(676, 1, 95, 34);
  SetNames(capture_.dual_channel, "CBdual", capture_.dual_channel->text());
  capture_.stream = new QCheckBox(QStringLiteral("Stream"), bar);
  SetNames(capture_.stream, "CBstream", capture_.stream->text());
  capture_.lost_words = new QLabel(bar);
  capture_.lost_words->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  capture_.lost_words->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold"));
  SetNames(capture_.lost_words, "Llost", QStringLiteral("Lost stream words"));
  capture_.lost_words->hide();
  capture_.auto_sample = new QCheckBox(QStringLiteral("AutoSample"), bar);
  SetNames(capture_.auto_sample, "CBactive", capture_.auto_sample->text());
  capture_.sample = new QPushButton(QStringLiteral("Sample"), bar);
  SetNames(capture_.sample, "Bsample", capture_.sample->text());
}

// The channel averages: each channel's interval in seconds and its frequency in hertz.
void FmainForm::BuildTopBar() {
  QWidget* bar = regions_.top_bar;
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

  buttons_.resample = new QPushButton(QStringLiteral("Resample"), bar);
  SetNames(buttons_.resample, "Bftest", buttons_.resample->text());
  buttons_.resample->hide();
}

void FmainForm::BuildJitterFigures() {
  QWidget* column = regions_.right_column;
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
  QWidget* column = regions_.right_column;
  QLabel* flight_time_caption = Caption(column, "Label19", "Flight Time", 26, 324);
  flight_.time_ms = ColumnBox(column, "Eprove_ms", 12, 339, QStringLiteral("Flight Time ms"));
  flight_.time_ms->setEnabled(true);
  flight_.time_ms->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[0-9]*")), flight_.time_ms));
  flight_time_caption->setBuddy(flight_.time_ms);
  Caption(column, "Label20", "ms", 83, 342, QStringLiteral("milliseconds"));
  flight_.pulses = new QLabel(column);
  flight_.pulses->setGeometry(2, 364, 77 - 2, 14);
  flight_.pulses->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  SetNames(flight_.pulses, "Lpcycles", QStringLiteral("Flight Time pulses"));
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
  buttons_.peak_reset = button("Bpqfreset", "Peak Reset", 451);
  buttons_.load = button("Bload", "Load", 526);
  buttons_.save = button("Bsave", "Save", 557);
  buttons_.save->setEnabled(false);
  buttons_.print = button("Bprint", "Print", 588);
  buttons_.print->hide();
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
  regions_.bottom_bar = new QFrame(window);
  SetNames(regions_.bottom_bar, "Panel1", QStringLiteral("Capture settings"));
  regions_.top_bar = new QFrame(window);
  SetNames(regions_.top_bar, "Panel2", QStringLiteral("Channel averages"));
  regions_.right_column = new QFrame(window);
  SetNames(regions_.right_column, "Panel3", QStringLiteral("Jitter figures"));
  for (QFrame* panel : {regions_.bottom_bar, regions_.top_bar, regions_.right_column})
    panel->setFrameShape(QFrame::StyledPanel);
  charts_.area = new QWidget(window);
  SetNames(charts_.area, "ChartArea", QStringLiteral("Charts"));
}

void FmainForm::BuildChartArea() {
  histogram_chart_ = std::make_unique<presentation::HistogramChart>(charts_.area);
  charts_.histogram = histogram_chart_.get();
  SetNames(charts_.histogram->Widget(), "Chart2", charts_.histogram->Title());
  pulse_chart_ = std::make_unique<presentation::PulseChart>(charts_.area);
  charts_.pulse = pulse_chart_.get();
  SetNames(charts_.pulse->Widget(), "Chart1", charts_.pulse->Title());

  charts_.reply_log = new QPlainTextEdit(charts_.pulse->Widget());
  SetNames(charts_.reply_log, "Memo1", QStringLiteral("Reply log"));
  charts_.reply_log->setGeometry(560, 48, 333, 533);
  charts_.reply_log->setLineWrapMode(QPlainTextEdit::NoWrap);
  charts_.reply_log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  charts_.reply_log->setReadOnly(true);
  charts_.reply_log->hide();

  charts_.graph_selector = new QGroupBox(QStringLiteral("Graph"), charts_.area);
  SetNames(charts_.graph_selector, "RGgsel", charts_.graph_selector->title());
  charts_.graph_selector->setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(charts_.graph_selector);
  layout->setContentsMargins(4, 0, 2, 2);
  layout->setSpacing(0);
  charts_.graph_items = new QButtonGroup(charts_.graph_selector);
  AddGraphItem(analysis::GraphView::kInterval, QStringLiteral("Interval"));
  AddGraphItem(analysis::GraphView::kFrequency, QStringLiteral("Frequency"));
  GraphItem(analysis::GraphView::kInterval)->setChecked(true);
  SetPulseChartInFront(true);
}

// The items are named after their caption ("RGgsel_Histogram") and described as the selector.
void FmainForm::AddGraphItem(analysis::GraphView view, const QString& caption) {
  auto* radio = new QRadioButton(caption, charts_.graph_selector);
  radio->setObjectName(QStringLiteral("RGgsel_") + caption);
  radio->setAccessibleName(caption);
  radio->setAccessibleDescription(QStringLiteral("RGgsel"));
  {
    const QSignalBlocker block(charts_.graph_items);
    charts_.graph_items->addButton(radio, static_cast<int>(view));
  }
  charts_.graph_selector->layout()->addWidget(radio);
}

analysis::GraphView FmainForm::CheckedGraph() const {
  return static_cast<analysis::GraphView>(std::max(0, charts_.graph_items->checkedId()));
}

QRadioButton* FmainForm::GraphItem(analysis::GraphView view) const {
  return qobject_cast<QRadioButton*>(charts_.graph_items->button(static_cast<int>(view)));
}

void FmainForm::SetPulseChartInFront(bool in_front) {
  if (in_front) {
    charts_.histogram->Widget()->lower();
  } else {
    charts_.pulse->Widget()->lower();
  }
  charts_.graph_selector->raise();
}

bool FmainForm::PulseChartInFront() const {
  const QObjectList& order = charts_.area->children();
  return order.indexOf(charts_.pulse->Widget()) > order.indexOf(charts_.histogram->Widget());
}

QLineEdit* FmainForm::FigureBox(analysis::Figure figure) const {
  return figure_boxes_[analysis::FigureIndex(figure)];
}

void FmainForm::PlaceEdgeControls(QWidget* window) {
  const int w = window->width();
  const int h = window->height();
  regions_.top_bar->setGeometry(0, 0, w, kTopBarHeight);
  regions_.bottom_bar->setGeometry(0, h - kBottomBarHeight, w, kBottomBarHeight);
  const int middle = std::max(0, h - kTopBarHeight - kBottomBarHeight);
  regions_.right_column->setGeometry(w - kRightColumnWidth, kTopBarHeight, kRightColumnWidth,
                                     middle);
  charts_.area->setGeometry(0, kTopBarHeight, std::max(0, w - kRightColumnWidth), middle);

  capture_.stream->setGeometry(w - kStreamBoxRight, 0, 97, 33);
  capture_.lost_words->setGeometry(w - kStreamBoxRight - 104, 6, 100, 22);
  capture_.auto_sample->setGeometry(w - kAutoSampleRight, 1, 80, 34);
  capture_.sample->setGeometry(w - kSampleButtonRight, 6, 57, 23);
  buttons_.resample->setGeometry(w - kResampleRight, 4, 75, 25);

  // The strip takes the readout's width, less its margins.
  const int strip =
      AnalysisShown() ? channel_display_->StripHeight(std::max(0, charts_.area->width() - 8)) : 0;
  const presentation::ChartAreaLayout area = presentation::LayOutChartArea(
      charts_.area->size(), static_cast<int>(charts_.graph_items->buttons().size()),
      AnalysisShown(), strip);
  charts_.pulse->Widget()->setGeometry(area.charts);
  charts_.histogram->Widget()->setGeometry(area.charts);
  charts_.pulse->KeepRightFree(area.plot_free_right);
  charts_.histogram->KeepRightFree(area.plot_free_right);
  if (AnalysisShown()) {
    charts_.tie->Widget()->setGeometry(area.charts);
    charts_.stability->Widget()->setGeometry(area.charts);
    charts_.tie->KeepRightFree(area.plot_free_right);
    charts_.stability->KeepRightFree(area.plot_free_right);
    charts_.proving->Widget()->setGeometry(area.charts);
    charts_.spectrum->Widget()->setGeometry(area.charts);
    charts_.proving->KeepRightFree(area.plot_free_right);
    charts_.spectrum->KeepRightFree(area.plot_free_right);
    charts_.readout->setGeometry(area.readout);
    charts_.pulse_counts->setGeometry(area.pulses);
    charts_.run_line->setGeometry(area.run);
    channel_display_->Strip()->setGeometry(area.strip);
  }
  charts_.graph_selector->setGeometry(area.selector);
  charts_.graph_selector->raise();
}

void FmainForm::ShowAnalysis(QWidget* window) {
  if (AnalysisShown()) return;
  tie_chart_ = std::make_unique<presentation::TieChart>(charts_.area);
  charts_.tie = tie_chart_.get();
  SetNames(charts_.tie->Widget(), "Chart3", charts_.tie->Title());
  stability_chart_ = std::make_unique<presentation::StabilityChart>(charts_.area);
  charts_.stability = stability_chart_.get();
  SetNames(charts_.stability->Widget(), "Chart4", charts_.stability->Title());
  charts_.tie->Widget()->hide();
  charts_.stability->Widget()->hide();
  BuildRecordCharts();
  charts_.readout = new QLabel(charts_.area);
  SetNames(charts_.readout, "Lreadout", QStringLiteral("Timing jitter"));
  charts_.pulse_counts = new QLabel(charts_.area);
  SetNames(charts_.pulse_counts, "Lpulses", QStringLiteral("Window: missing and extra pulses"));
  charts_.pulse_counts->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold"));
  charts_.pulse_counts->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  charts_.pulse_counts->hide();
  charts_.run_line = new QLabel(charts_.area);
  SetNames(charts_.run_line, "Lrun", QStringLiteral("Whole run"));
  charts_.run_line->setStyleSheet(QStringLiteral("color: #00308c"));
  charts_.run_line->hide();
  channel_display_ =
      std::make_unique<ChannelDisplay>(charts_.area, *charts_.tie, *charts_.stability);
  QObject::connect(channel_display_.get(), &ChannelDisplay::StripResized, window,
                   [this, window] { PlaceEdgeControls(window); });
  AddGraphItem(analysis::GraphView::kTie, QString::fromLatin1(texts::kTieView));
  AddGraphItem(analysis::GraphView::kStability, QString::fromLatin1(texts::kStabilityView));
  AddGraphItem(analysis::GraphView::kProving, QString::fromLatin1(texts::kProvingView));
  AddGraphItem(analysis::GraphView::kSpectrum, QString::fromLatin1(texts::kSpectrumView));
  PlaceEdgeControls(window);
}

void FmainForm::BuildRecordCharts() {
  proving_chart_ = std::make_unique<presentation::ProvingChart>(charts_.area);
  charts_.proving = proving_chart_.get();
  SetNames(charts_.proving->Widget(), "Chart5", charts_.proving->Title());
  spectrum_chart_ = std::make_unique<presentation::SpectrumChart>(charts_.area);
  charts_.spectrum = spectrum_chart_.get();
  SetNames(charts_.spectrum->Widget(), "Chart6", charts_.spectrum->Title());
  charts_.proving->Widget()->hide();
  charts_.spectrum->Widget()->hide();
}

void FmainForm::ShowTimingChart(analysis::GraphView view) {
  if (!AnalysisShown()) return;
  charts_.tie->Widget()->setVisible(view == analysis::GraphView::kTie);
  charts_.stability->Widget()->setVisible(view == analysis::GraphView::kStability);
  if (view == analysis::GraphView::kTie) charts_.tie->Widget()->raise();
  if (view == analysis::GraphView::kStability) charts_.stability->Widget()->raise();
  charts_.proving->Widget()->setVisible(view == analysis::GraphView::kProving);
  charts_.spectrum->Widget()->setVisible(view == analysis::GraphView::kSpectrum);
  if (view == analysis::GraphView::kProving) charts_.proving->Widget()->raise();
  if (view == analysis::GraphView::kSpectrum) charts_.spectrum->Widget()->raise();
  charts_.graph_selector->raise();
}

void FmainForm::ShowReadout(const QString& figures, const QString& counts) const {
  if (!AnalysisShown()) return;
  charts_.readout->setText(figures);
  charts_.readout->setAccessibleName(figures);
  charts_.pulse_counts->setText(counts);
  charts_.pulse_counts->setAccessibleName(counts);
  charts_.pulse_counts->setVisible(!counts.isEmpty());
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
  charts_.run_line->setText(text);
  charts_.run_line->setAccessibleName(text.isEmpty() ? QStringLiteral("Whole run") : text);
  charts_.run_line->setVisible(!text.isEmpty());
}

acquisition::CycleInputs FmainForm::CycleInputs() const {
  acquisition::CycleInputs in;
  in.host = capture_.address->text().toStdString();
  in.port = capture_.port->text().toStdString();
  const QByteArray count = capture_.samples->text().toLatin1();
  in.samples_text.assign(count.constData(), static_cast<size_t>(count.size()));
  in.samples_value = capture_.samples->Value();
  in.dual = capture_.dual_channel->isChecked();
  in.auto_sample = capture_.auto_sample->isChecked();
  in.stream = capture_.stream->isChecked();
  return in;
}

void FmainForm::SetChartTitle(const QString& first_line) const {
  charts_.pulse->SetTitle(first_line);
  charts_.pulse->Widget()->setAccessibleName(first_line);
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
  capture_.lost_words->setText(lines.isEmpty() ? QString()
                                               : QStringLiteral("Lost %1").arg(counts.lost_words));
  capture_.lost_words->setToolTip(text);
  capture_.lost_words->setAccessibleName(lines.isEmpty() ? QStringLiteral("Lost stream words")
                                                         : text);
  capture_.lost_words->setVisible(!lines.isEmpty());
  capture_.stream->setToolTip(text);
}

}  // namespace app
