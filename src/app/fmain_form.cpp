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
#include "presentation/histogram_chart.h"
#include "presentation/pulse_chart.h"
#include "presentation/timing_charts.h"

namespace app {
namespace {

// The client area at its initial size and the fixed sizes of the regions.
constexpr int kClientWidth = 1148;
constexpr int kClientHeight = 703;
constexpr int kBottomBarHeight = 36;
constexpr int kTopBarHeight = 41;
constexpr int kRightColumnWidth = 103;

// Right-anchored controls keep their distance from the right edge of the initial layout.
constexpr int kCBstreamRight = kClientWidth - 871;
constexpr int kCBactiveRight = kClientWidth - 982;
constexpr int kBsampleRight = kClientWidth - 1065;
constexpr int kBftestRight = kClientWidth - 1058;
// The graph selector's distance from the chart area's right and bottom edges.
constexpr int kChartAreaWidth = kClientWidth - kRightColumnWidth;
constexpr int kChartAreaHeight = kClientHeight - kBottomBarHeight - kTopBarHeight;
constexpr int kRGgselRight = kChartAreaWidth - 922;
constexpr int kRGgselBottom = kChartAreaHeight - (544 - kTopBarHeight);
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

// A caption of the right column; `spoken` replaces the caption as the accessible name.
void ColumnLabel(QWidget* column, QLabel*& field, const char* name, const char* text, int left,
                 int top, const QString& spoken) {
  field = MakeLabel(column, QString::fromLatin1(text), left, top);
  SetNames(field, name, spoken.isEmpty() ? field->text() : spoken);
}

void ColumnBox(QWidget* column, QLineEdit*& field, const char* name, int left, int top,
               const QString& spoken) {
  field = MakeFigureBox(column, left, top, 65, 21);
  SetNames(field, name, spoken);
}

}  // namespace

FmainForm::FmainForm() = default;
FmainForm::~FmainForm() = default;

void FmainForm::BuildConnectionControls() {
  QWidget* bar = Panel1;
  Label1 = MakeLabel(bar, QStringLiteral("IP"), 8, 10);
  SetNames(Label1, "Label1", Label1->text());
  Eip = new QLineEdit(QStringLiteral("10.0.98.108"), bar);
  Eip->setGeometry(24, 6, 121, 21);
  SetNames(Eip, "Eip", QStringLiteral("IP"));
  Label1->setBuddy(Eip);

  Label2 = MakeLabel(bar, QStringLiteral("Port"), 159, 10);
  SetNames(Label2, "Label2", Label2->text());
  Eport = new QLineEdit(QString::number(acquisition::kInstrumentTcpPort), bar);
  Eport->setGeometry(185, 6, 41, 21);
  SetNames(Eport, "Eport", QStringLiteral("Port"));
  Label2->setBuddy(Eport);

  // Starts a little left of its Tahoma place so that the wider fallback font ends before the box.
  Label3 = MakeLabel(bar, QStringLiteral("Samples"), 236, 10);
  SetNames(Label3, "Label3", Label3->text());
  SEsamples = new SpinEdit(10, 3000, 1, 4, bar);
  SEsamples->SetValue(50);
  SEsamples->setGeometry(284, 6, 53, 22);
  SetNames(SEsamples, "SEsamples", QStringLiteral("Samples"));
  Label3->setBuddy(SEsamples);
}

void FmainForm::BuildScaleControls() {
  QWidget* bar = Panel1;
  Lscale = new QLabel(QString::fromLatin1(texts::kVerticalScale), bar);
  Lscale->setGeometry(340, 10, 104, 14);
  Lscale->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  SetNames(Lscale, "Lscale", Lscale->text());
  SEvscale = new SpinEdit(kBitsMinimum, kBitsMaximum, 1, 0, bar);
  SEvscale->SetValue(25);
  SEvscale->setGeometry(448, 6, 69, 22);
  SetNames(SEvscale, "SEvscale", Lscale->text());
  Lscale->setBuddy(SEvscale);

  RBbits = new QRadioButton(QStringLiteral("Bits/Hz"), bar);
  RBbits->setGeometry(525, 0, 64, 17);
  SetNames(RBbits, "RBbits", RBbits->text());
  RBpct = new QRadioButton(QStringLiteral("%"), bar);
  RBpct->setGeometry(525, 16, 60, 17);
  SetNames(RBpct, "RBpct", QStringLiteral("Percent"));

  Lfilter = MakeLabel(bar, QStringLiteral("Filter"), 593, 10);
  SetNames(Lfilter, "Lfilter", Lfilter->text());
  Lfilter->hide();
  SEfilter = new SpinEdit(kFilterMinimum, kFilterMaximum, 2, 2, bar);
  SEfilter->SetValue(1);
  SEfilter->setGeometry(620, 6, 37, 22);
  SetNames(SEfilter, "SEfilter", QStringLiteral("Filter"));
  SEfilter->hide();
  Lfilter->setBuddy(SEfilter);
}

void FmainForm::BuildCaptureControls() {
  QWidget* bar = Panel1;
  CBdual = new QCheckBox(QStringLiteral("Dual Channel"), bar);
  CBdual->setGeometry(676, 1, 95, 34);
  SetNames(CBdual, "CBdual", CBdual->text());
  CBstream = new QCheckBox(QStringLiteral("Stream"), bar);
  SetNames(CBstream, "CBstream", CBstream->text());
  Llost = new QLabel(bar);
  Llost->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Llost->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold"));
  SetNames(Llost, "Llost", QStringLiteral("Lost stream words"));
  Llost->hide();
  CBactive = new QCheckBox(QStringLiteral("AutoSample"), bar);
  SetNames(CBactive, "CBactive", CBactive->text());
  Bsample = new QPushButton(QStringLiteral("Sample"), bar);
  SetNames(Bsample, "Bsample", Bsample->text());
}

void FmainForm::BuildTopBar() {
  QWidget* bar = Panel2;
  Label4 = MakeLabel(bar, QStringLiteral("Ch1"), 16, 16);
  Eint1 = MakeFigureBox(bar, 41, 11, 93, 21);
  Label6 = MakeLabel(bar, QStringLiteral("s"), 140, 14);
  Efreq1 = MakeFigureBox(bar, 159, 11, 75, 21);
  Label5 = MakeLabel(bar, QStringLiteral("Hz"), 240, 14);
  Label9 = MakeLabel(bar, QStringLiteral("Ch2"), 307, 14);
  Eint2 = MakeFigureBox(bar, 332, 11, 93, 21);
  Label7 = MakeLabel(bar, QStringLiteral("s"), 431, 14);
  Efreq2 = MakeFigureBox(bar, 448, 11, 75, 21);
  Label8 = MakeLabel(bar, QStringLiteral("Hz"), 529, 14);
  SetNames(Label4, "Label4", Label4->text());
  SetNames(Label6, "Label6", QStringLiteral("seconds"));
  SetNames(Label5, "Label5", QStringLiteral("hertz"));
  SetNames(Label9, "Label9", Label9->text());
  SetNames(Label7, "Label7", QStringLiteral("seconds"));
  SetNames(Label8, "Label8", QStringLiteral("hertz"));
  SetNames(Eint1, "Eint1", QStringLiteral("Ch1 interval s"));
  SetNames(Efreq1, "Efreq1", QStringLiteral("Ch1 frequency Hz"));
  SetNames(Eint2, "Eint2", QStringLiteral("Ch2 interval s"));
  SetNames(Efreq2, "Efreq2", QStringLiteral("Ch2 frequency Hz"));

  Bftest = new QPushButton(QStringLiteral("Resample"), bar);
  SetNames(Bftest, "Bftest", Bftest->text());
  Bftest->hide();
}

void FmainForm::BuildJitterFigures() {
  QWidget* column = Panel3;
  ColumnLabel(column, Label17, "Label17", "Sample Avg", 23, 17, {});
  ColumnBox(column, Esampavg, "Esampavg", 12, 36, QStringLiteral("Sample Avg"));
  Esampavg->resize(69, 21);
  ColumnLabel(column, Label12, "Label12", "Jibits P-P", 32, 73, {});
  ColumnBox(column, Epkpos, "Epkpos", 13, 88, QStringLiteral("Jibits P-P positive peak"));
  ColumnBox(column, Epkneg, "Epkneg", 13, 115, QStringLiteral("Jibits P-P negative peak"));
  ColumnBox(column, Ejitpp, "Ejitpp", 12, 142, QStringLiteral("Jibits P-P Tot"));
  ColumnLabel(column, Label18, "Label18", "Tot", 80, 144, {});
  ColumnBox(column, Ejitpp_pct, "Ejitpp_pct", 12, 169, QStringLiteral("Jibits P-P %"));
  ColumnLabel(column, Label15, "Label15", "%", 83, 172, QStringLiteral("percent"));
  ColumnBox(column, Ejitpp_max, "Ejitpp_max", 12, 196, QStringLiteral("Jibits P-P Pk%"));
  ColumnLabel(column, Label24, "Label24", "Pk%", 79, 199, QStringLiteral("peak percent"));
  ColumnLabel(column, Label14, "Label14", "Jibits RMS", 28, 232, {});
  ColumnBox(column, Ejitrms, "Ejitrms", 12, 251, QStringLiteral("Jibits RMS"));
  ColumnBox(column, Ejitrms_pct, "Ejitrms_pct", 12, 278, QStringLiteral("Jibits RMS %"));
  ColumnLabel(column, Label16, "Label16", "%", 83, 281, QStringLiteral("percent"));
}

void FmainForm::BuildFlightTimeAndButtons() {
  QWidget* column = Panel3;
  ColumnLabel(column, Label19, "Label19", "Flight Time", 26, 324, {});
  ColumnBox(column, Eprove_ms, "Eprove_ms", 12, 339, QStringLiteral("Flight Time ms"));
  Eprove_ms->setEnabled(true);
  Eprove_ms->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), Eprove_ms));
  Label19->setBuddy(Eprove_ms);
  ColumnLabel(column, Label20, "Label20", "ms", 83, 342, QStringLiteral("milliseconds"));
  Lpcycles = new QLabel(column);
  Lpcycles->setGeometry(2, 364, 77 - 2, 14);
  Lpcycles->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  SetNames(Lpcycles, "Lpcycles", QStringLiteral("Flight Time pulses"));
  ColumnLabel(column, Label22, "Label22", "Quality Factor", 9, 381, {});
  ColumnBox(column, Eprove_err, "Eprove_err", 12, 397, QStringLiteral("Quality Factor %"));
  ColumnLabel(column, Label21, "Label21", "%", 83, 400, QStringLiteral("percent"));
  ColumnBox(column, Epqf, "Epqf", 12, 424, QStringLiteral("Quality Factor Pk%"));
  ColumnLabel(column, Label23, "Label23", "Pk%", 79, 427, QStringLiteral("peak percent"));

  auto button = [&](QPushButton*& field, const char* name, const char* caption, int top) {
    field = new QPushButton(QString::fromLatin1(caption), column);
    field->setGeometry(12, top, 65, 25);
    SetNames(field, name, field->text());
  };
  button(Bpqfreset, "Bpqfreset", "Peak Reset", 451);
  button(Bload, "Bload", "Load", 526);
  button(Bsave, "Bsave", "Save", 557);
  Bsave->setEnabled(false);
  button(Bprint, "Bprint", "Print", 588);
  Bprint->hide();
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
  figure_boxes_ = {Esampavg, Epkpos, Epkneg, Ejitpp, Ejitpp_pct, Ejitpp_max, Ejitrms, Ejitrms_pct,
                   Eint1,    Efreq1, Eint2,  Efreq2, nullptr,    Eprove_err, Epqf};
}

void FmainForm::BuildRegions(QWidget* window) {
  Panel1 = new QFrame(window);
  SetNames(Panel1, "Panel1", QStringLiteral("Capture settings"));
  Panel2 = new QFrame(window);
  SetNames(Panel2, "Panel2", QStringLiteral("Channel averages"));
  Panel3 = new QFrame(window);
  SetNames(Panel3, "Panel3", QStringLiteral("Jitter figures"));
  for (QFrame* panel : {Panel1, Panel2, Panel3}) panel->setFrameShape(QFrame::StyledPanel);
  ChartArea = new QWidget(window);
  SetNames(ChartArea, "ChartArea", QStringLiteral("Charts"));
}

void FmainForm::BuildChartArea() {
  Chart2 = std::make_unique<presentation::HistogramChart>(ChartArea);
  SetNames(Chart2->Widget(), "Chart2", Chart2->Title());
  Chart1 = std::make_unique<presentation::PulseChart>(ChartArea);
  SetNames(Chart1->Widget(), "Chart1", Chart1->Title());

  Memo1 = new QPlainTextEdit(Chart1->Widget());
  SetNames(Memo1, "Memo1", QStringLiteral("Reply log"));
  Memo1->setGeometry(560, 48, 333, 533);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setReadOnly(true);
  Memo1->hide();

  RGgsel = new QGroupBox(QStringLiteral("Graph"), ChartArea);
  SetNames(RGgsel, "RGgsel", RGgsel->title());
  RGgsel->setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(RGgsel);
  layout->setContentsMargins(4, 0, 2, 2);
  layout->setSpacing(0);
  RGgselGroup = new QButtonGroup(RGgsel);
  AddGraphItem(analysis::GraphView::kInterval, QStringLiteral("Interval"));
  AddGraphItem(analysis::GraphView::kFrequency, QStringLiteral("Frequency"));
  GraphItem(analysis::GraphView::kInterval)->setChecked(true);
  SetPulseChartInFront(true);
}

// The items are named after their caption ("RGgsel_Histogram") and described as the selector.
void FmainForm::AddGraphItem(analysis::GraphView view, const QString& caption) {
  auto* radio = new QRadioButton(caption, RGgsel);
  radio->setObjectName(QStringLiteral("RGgsel_") + caption);
  radio->setAccessibleName(caption);
  radio->setAccessibleDescription(QStringLiteral("RGgsel"));
  {
    const QSignalBlocker block(RGgselGroup);
    RGgselGroup->addButton(radio, static_cast<int>(view));
  }
  RGgsel->layout()->addWidget(radio);
}

analysis::GraphView FmainForm::CheckedGraph() const {
  return static_cast<analysis::GraphView>(std::max(0, RGgselGroup->checkedId()));
}

QRadioButton* FmainForm::GraphItem(analysis::GraphView view) const {
  return qobject_cast<QRadioButton*>(RGgselGroup->button(static_cast<int>(view)));
}

void FmainForm::SetPulseChartInFront(bool in_front) {
  if (in_front) {
    Chart2->Widget()->lower();
  } else {
    Chart1->Widget()->lower();
  }
  RGgsel->raise();
}

bool FmainForm::PulseChartInFront() const {
  const QObjectList& order = ChartArea->children();
  return order.indexOf(Chart1->Widget()) > order.indexOf(Chart2->Widget());
}

QLineEdit* FmainForm::FigureBox(analysis::Figure figure) const {
  return figure_boxes_[analysis::FigureIndex(figure)];
}

void FmainForm::PlaceEdgeControls(QWidget* window) {
  const int w = window->width();
  const int h = window->height();
  Panel2->setGeometry(0, 0, w, kTopBarHeight);
  Panel1->setGeometry(0, h - kBottomBarHeight, w, kBottomBarHeight);
  const int middle = std::max(0, h - kTopBarHeight - kBottomBarHeight);
  Panel3->setGeometry(w - kRightColumnWidth, kTopBarHeight, kRightColumnWidth, middle);
  ChartArea->setGeometry(0, kTopBarHeight, std::max(0, w - kRightColumnWidth), middle);

  CBstream->setGeometry(w - kCBstreamRight, 0, 97, 33);
  Llost->setGeometry(w - kCBstreamRight - 104, 6, 100, 22);
  CBactive->setGeometry(w - kCBactiveRight, 1, 80, 34);
  Bsample->setGeometry(w - kBsampleRight, 6, 57, 23);
  Bftest->setGeometry(w - kBftestRight, 4, 75, 25);

  QRect area = ChartArea->rect();
  if (AnalysisShown()) {
    if (const int strip = Channels->StripHeight(); strip > 0) {
      area.setHeight(std::max(0, area.height() - strip));
      Channels->Strip()->setGeometry(4, area.height(), std::max(0, area.width() - 8), strip);
    }
    if (!Lrun->isHidden()) {
      area.setHeight(std::max(0, area.height() - kReadoutHeight));
      Lrun->setGeometry(4, area.height(), std::max(0, area.width() - 8), kReadoutHeight);
    }
    area.setHeight(std::max(0, area.height() - kReadoutHeight));
    Lreadout->setGeometry(4, area.height(), std::max(0, area.width() - kPulsesWidth - 8),
                          kReadoutHeight);
    Lpulses->setGeometry(area.width() - kPulsesWidth - 4, area.height(), kPulsesWidth,
                         kReadoutHeight);
    Chart3->Widget()->setGeometry(area);
    Chart4->Widget()->setGeometry(area);
  }
  Chart1->Widget()->setGeometry(area);
  Chart2->Widget()->setGeometry(area);
  // Each item past the first three takes one more line of the selector.
  const int extra_items = std::max<int>(0, static_cast<int>(RGgselGroup->buttons().size()) - 3);
  const int height = 75 + extra_items * kGraphItemHeight;
  RGgsel->setGeometry(area.width() - kRGgselRight,
                      area.height() - kRGgselBottom - extra_items * kGraphItemHeight, 91, height);
  RGgsel->raise();
}

void FmainForm::ShowAnalysis(QWidget* window) {
  if (AnalysisShown()) return;
  Chart3 = std::make_unique<presentation::TieChart>(ChartArea);
  SetNames(Chart3->Widget(), "Chart3", Chart3->Title());
  Chart4 = std::make_unique<presentation::StabilityChart>(ChartArea);
  SetNames(Chart4->Widget(), "Chart4", Chart4->Title());
  Chart3->Widget()->hide();
  Chart4->Widget()->hide();
  Lreadout = new QLabel(ChartArea);
  SetNames(Lreadout, "Lreadout", QStringLiteral("Timing jitter"));
  Lpulses = new QLabel(ChartArea);
  SetNames(Lpulses, "Lpulses", QStringLiteral("Missing and extra pulses"));
  Lpulses->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold"));
  Lpulses->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Lpulses->hide();
  Lrun = new QLabel(ChartArea);
  SetNames(Lrun, "Lrun", QStringLiteral("Whole run"));
  Lrun->setStyleSheet(QStringLiteral("color: #00308c"));
  Lrun->hide();
  Channels = std::make_unique<ChannelDisplay>(ChartArea, *Chart3, *Chart4);
  QObject::connect(Channels.get(), &ChannelDisplay::StripResized, window,
                   [this, window] { PlaceEdgeControls(window); });
  AddGraphItem(analysis::GraphView::kTie, QString::fromLatin1(texts::kTieView));
  AddGraphItem(analysis::GraphView::kStability, QString::fromLatin1(texts::kStabilityView));
  PlaceEdgeControls(window);
}

void FmainForm::ShowTimingChart(analysis::GraphView view) {
  if (!AnalysisShown()) return;
  Chart3->Widget()->setVisible(view == analysis::GraphView::kTie);
  Chart4->Widget()->setVisible(view == analysis::GraphView::kStability);
  if (view == analysis::GraphView::kTie) Chart3->Widget()->raise();
  if (view == analysis::GraphView::kStability) Chart4->Widget()->raise();
  RGgsel->raise();
}

void FmainForm::ShowReadout(const QString& figures, const QString& pulse_counts) const {
  if (!AnalysisShown()) return;
  Lreadout->setText(figures);
  Lreadout->setAccessibleName(figures);
  Lpulses->setText(pulse_counts);
  Lpulses->setAccessibleName(pulse_counts);
  Lpulses->setVisible(!pulse_counts.isEmpty());
}

void FmainForm::MarkFigures(const QString& note) const {
  using analysis::Figure;
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
  Lrun->setText(text);
  Lrun->setAccessibleName(text.isEmpty() ? QStringLiteral("Whole run") : text);
  if (Lrun->isHidden() != text.isEmpty()) {
    Lrun->setVisible(!text.isEmpty());
    PlaceEdgeControls(ChartArea->parentWidget());  // the window
  }
}

acquisition::CycleInputs FmainForm::CycleInputs() const {
  acquisition::CycleInputs in;
  in.host = Eip->text().toStdString();
  in.port = Eport->text().toStdString();
  const QByteArray count = SEsamples->text().toLatin1();
  in.samples_text.assign(count.constData(), static_cast<size_t>(count.size()));
  in.samples_value = SEsamples->Value();
  in.dual = CBdual->isChecked();
  in.auto_sample = CBactive->isChecked();
  in.stream = CBstream->isChecked();
  return in;
}

void FmainForm::SetChartTitle(const QString& first_line) const {
  Chart1->SetTitle(first_line);
  Chart1->Widget()->setAccessibleName(first_line);
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
  Llost->setText(lines.isEmpty() ? QString() : QStringLiteral("Lost %1").arg(counts.lost_words));
  Llost->setToolTip(text);
  Llost->setAccessibleName(lines.isEmpty() ? QStringLiteral("Lost stream words") : text);
  Llost->setVisible(!lines.isEmpty());
  CBstream->setToolTip(text);
}

}  // namespace app
