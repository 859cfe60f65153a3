#include "app/tfmain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <exception>

#include "analysis/histogram.h"
#include "analysis/resample.h"
#include "app/capture_timer.h"
#include "app/instrument_link.h"
#include "app/spin_edit.h"
#include "app/udp_receiver.h"
#include "common/convert.h"
#include "common/error.h"
#include "common/text_forms.h"
#include "persistence/ini_file.h"
#include "persistence/jit_file.h"
#include "persistence/text_file.h"
#include "presentation/chart_feed.h"
#include "presentation/chart_maths.h"
#include "presentation/feed_steps.h"
#include "presentation/histogram_chart.h"
#include "presentation/pulse_chart.h"

namespace app {
namespace {

constexpr const char* kApplicationName = "K390cap";
constexpr const char* kCaption = "K390 Vantrix  -  Brantel Ltd  -  V1.0.15";
constexpr const char* kSettingsFile = "K390cap.ini";
constexpr const char* kSection = "SETTINGS";
constexpr const char* kChartTitle = "K390 Jitter Data";
constexpr const char* kVerticalScale = "Vertical Scale +/-";
constexpr const char* kHorizontalScale = "Horizontal Scale";
constexpr const char* kFileFilter = "Jibit Data (*.JIT)";

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

// Units of the vertical scale: limits and the key that keeps each unit's scale.
constexpr int kBitsMinimum = 10;
constexpr int kBitsMaximum = 1000000;
constexpr int kPercentMinimum = 1;
constexpr int kPercentMaximum = 100;

constexpr int kFilterMinimum = 3;
constexpr int kFilterMaximum = 33;

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

QString DefaultExeDir() { return QCoreApplication::applicationDirPath() + QLatin1Char('/'); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction and layout

TFmain::TFmain(QString exe_dir, Hooks hooks, QWidget* parent)
    : QWidget(parent),
      exe_dir_((exe_dir.isEmpty() ? DefaultExeDir() : exe_dir).toStdString()),
      hooks_(std::move(hooks)) {
  cycle_ = std::make_unique<CaptureCycle>(*this, pass_, exe_dir_);
  BuildLayout();
  WireHandlers();
  Guarded([this] { FormCreate(); });
}

TFmain::~TFmain() = default;

void TFmain::SetNames(QWidget* widget, const char* name, const QString& spoken) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setAccessibleName(spoken);
  widget->setAccessibleDescription(QString::fromLatin1(name));
}

void TFmain::BuildLayout() {
  setObjectName(QStringLiteral("Fmain"));
  setWindowTitle(QString::fromLatin1(kCaption));
  setAccessibleName(QString::fromLatin1(kCaption));
  setAccessibleDescription(QStringLiteral("Fmain"));
  setFont(WindowFont());
  setAutoFillBackground(true);
  resize(kClientWidth, kClientHeight);

  Panel1 = new QFrame(this);
  SetNames(Panel1, "Panel1", QStringLiteral("Capture settings"));
  Panel2 = new QFrame(this);
  SetNames(Panel2, "Panel2", QStringLiteral("Channel averages"));
  Panel3 = new QFrame(this);
  SetNames(Panel3, "Panel3", QStringLiteral("Jitter figures"));
  for (QFrame* panel : {Panel1, Panel2, Panel3}) panel->setFrameShape(QFrame::StyledPanel);
  ChartArea = new QWidget(this);
  SetNames(ChartArea, "ChartArea", QStringLiteral("Charts"));

  BuildBottomBar();
  BuildTopBar();
  BuildRightColumn();
  BuildChartArea();
  PlaceEdgeControls();
  figure_boxes_ = {Esampavg, Epkpos, Epkneg, Ejitpp, Ejitpp_pct, Ejitpp_max, Ejitrms, Ejitrms_pct,
                   Eint1,    Efreq1, Eint2,  Efreq2, nullptr,    Eprove_err, Epqf};
}

namespace {

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

}  // namespace

void TFmain::BuildBottomBar() {
  QWidget* bar = Panel1;
  Label1 = MakeLabel(bar, QStringLiteral("IP"), 8, 10);
  SetNames(Label1, "Label1", Label1->text());
  Eip = new QLineEdit(QStringLiteral("10.0.98.108"), bar);
  Eip->setGeometry(24, 6, 121, 21);
  SetNames(Eip, "Eip", QStringLiteral("IP"));
  Label1->setBuddy(Eip);

  Label2 = MakeLabel(bar, QStringLiteral("Port"), 159, 10);
  SetNames(Label2, "Label2", Label2->text());
  Eport = new QLineEdit(QStringLiteral("38253"), bar);
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

  Lscale = new QLabel(QString::fromLatin1(kVerticalScale), bar);
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

void TFmain::BuildTopBar() {
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

void TFmain::BuildRightColumn() {
  QWidget* column = Panel3;
  auto label = [&](QLabel*& field, const char* name, const char* text, int left, int top,
                   const QString& spoken) {
    field = MakeLabel(column, QString::fromLatin1(text), left, top);
    SetNames(field, name, spoken.isEmpty() ? field->text() : spoken);
  };
  auto box = [&](QLineEdit*& field, const char* name, int left, int top, const QString& spoken) {
    field = MakeFigureBox(column, left, top, 65, 21);
    SetNames(field, name, spoken);
  };

  label(Label17, "Label17", "Sample Avg", 23, 17, {});
  box(Esampavg, "Esampavg", 12, 36, QStringLiteral("Sample Avg"));
  Esampavg->resize(69, 21);
  label(Label12, "Label12", "Jibits P-P", 32, 73, {});
  box(Epkpos, "Epkpos", 13, 88, QStringLiteral("Jibits P-P positive peak"));
  box(Epkneg, "Epkneg", 13, 115, QStringLiteral("Jibits P-P negative peak"));
  box(Ejitpp, "Ejitpp", 12, 142, QStringLiteral("Jibits P-P Tot"));
  label(Label18, "Label18", "Tot", 80, 144, {});
  box(Ejitpp_pct, "Ejitpp_pct", 12, 169, QStringLiteral("Jibits P-P %"));
  label(Label15, "Label15", "%", 83, 172, QStringLiteral("percent"));
  box(Ejitpp_max, "Ejitpp_max", 12, 196, QStringLiteral("Jibits P-P Pk%"));
  label(Label24, "Label24", "Pk%", 79, 199, QStringLiteral("peak percent"));
  label(Label14, "Label14", "Jibits RMS", 28, 232, {});
  box(Ejitrms, "Ejitrms", 12, 251, QStringLiteral("Jibits RMS"));
  box(Ejitrms_pct, "Ejitrms_pct", 12, 278, QStringLiteral("Jibits RMS %"));
  label(Label16, "Label16", "%", 83, 281, QStringLiteral("percent"));
  label(Label19, "Label19", "Flight Time", 26, 324, {});
  box(Eprove_ms, "Eprove_ms", 12, 339, QStringLiteral("Flight Time ms"));
  Eprove_ms->setEnabled(true);
  Eprove_ms->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), Eprove_ms));
  Label19->setBuddy(Eprove_ms);
  label(Label20, "Label20", "ms", 83, 342, QStringLiteral("milliseconds"));
  Lpcycles = new QLabel(column);
  Lpcycles->setGeometry(2, 364, 77 - 2, 14);
  Lpcycles->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  SetNames(Lpcycles, "Lpcycles", QStringLiteral("Flight Time pulses"));
  label(Label22, "Label22", "Quality Factor", 9, 381, {});
  box(Eprove_err, "Eprove_err", 12, 397, QStringLiteral("Quality Factor %"));
  label(Label21, "Label21", "%", 83, 400, QStringLiteral("percent"));
  box(Epqf, "Epqf", 12, 424, QStringLiteral("Quality Factor Pk%"));
  label(Label23, "Label23", "Pk%", 79, 427, QStringLiteral("peak percent"));

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

void TFmain::BuildChartArea() {
  chart2_ = std::make_unique<presentation::HistogramChart>(ChartArea);
  SetNames(chart2_->Widget(), "Chart2", chart2_->Title());
  chart1_ = std::make_unique<presentation::PulseChart>(ChartArea);
  SetNames(chart1_->Widget(), "Chart1", chart1_->Title());

  Memo1 = new QPlainTextEdit(chart1_->Widget());
  SetNames(Memo1, "Memo1", QStringLiteral("Reply log"));
  Memo1->setGeometry(560, 48, 333, 533);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setReadOnly(true);
  Memo1->hide();
  Memo1->installEventFilter(this);

  RGgsel = new QGroupBox(QStringLiteral("Graph"), ChartArea);
  SetNames(RGgsel, "RGgsel", RGgsel->title());
  RGgsel->setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(RGgsel);
  layout->setContentsMargins(4, 0, 2, 2);
  layout->setSpacing(0);
  rggsel_group_ = new QButtonGroup(RGgsel);
  for (const char* item : {"Interval", "Frequency"}) {
    auto* radio = new QRadioButton(QString::fromLatin1(item), RGgsel);
    radio->setObjectName(QStringLiteral("RGgsel_") + QString::fromLatin1(item));
    radio->setAccessibleName(radio->text());
    radio->setAccessibleDescription(QStringLiteral("RGgsel"));
    rggsel_group_->addButton(radio, static_cast<int>(rggsel_items_.size()));
    layout->addWidget(radio);
    rggsel_items_.push_back(radio);
  }
  rggsel_items_[0]->setChecked(true);
  SetChart1InFront(true);
}

void TFmain::PlaceEdgeControls() {
  const int w = width();
  const int h = height();
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

  const QRect area = ChartArea->rect();
  chart1_->Widget()->setGeometry(area);
  chart2_->Widget()->setGeometry(area);
  RGgsel->setGeometry(area.width() - kRGgselRight, area.height() - kRGgselBottom, 91, 75);
  RGgsel->raise();
}

void TFmain::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceEdgeControls();
}

void TFmain::closeEvent(QCloseEvent* event) {
  Guarded([this] { FormClose(); });
  event->accept();
}

// ---------------------------------------------------------------------------------------------
// Handler wiring and the error display

void TFmain::WireHandlers() {
  Attach(Eip, &TFmain::EipChange);
  Attach(Eport, &TFmain::EportChange);
  Attach(Eprove_ms, &TFmain::Eprove_msChange);
  Attach(SEsamples, &TFmain::SEsamplesChange);
  Attach(SEvscale, &TFmain::SEvscaleChange);
  Attach(SEfilter, &TFmain::SEfilterChange);
  Attach(RBbits, &TFmain::RBbitsClick);
  Attach(RBpct, &TFmain::RBpctClick);
  Attach(CBdual, &TFmain::CBdualClick);
  Attach(CBstream, &TFmain::CBstreamClick);
  Attach(CBactive, &TFmain::CBactiveClick);
  Attach(RGgsel, &TFmain::RGgselClick);

  for (QLineEdit* edit : {Eip, Eport, Eprove_ms}) {
    connect(edit, &QLineEdit::textEdited, this, [this, edit] { RunAttached(edit); });
  }
  for (SpinEdit* box : {SEsamples, SEvscale, SEfilter}) {
    connect(box, &SpinEdit::UserChanged, this, [this, box] { RunAttached(box); });
  }
  // Check boxes run their handler on every change of state, radio buttons when they become
  // checked. Changes from code block these signals and call the handler themselves.
  for (QCheckBox* box : {CBdual, CBstream, CBactive}) {
    connect(box, &QCheckBox::toggled, this, [this, box] { RunAttached(box); });
  }
  for (QRadioButton* radio : {RBbits, RBpct}) {
    connect(radio, &QRadioButton::toggled, this, [this, radio](bool checked) {
      if (checked) RunAttached(radio);
    });
  }
  connect(rggsel_group_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (checked) RunAttached(RGgsel);
  });

  auto click = [this](QPushButton* button, Handler handler) {
    connect(button, &QPushButton::clicked, this,
            [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  };
  click(Bsample, &TFmain::BsampleClick);
  click(Bftest, &TFmain::BftestClick);
  click(Bpqfreset, &TFmain::BpqfresetClick);
  click(Bload, &TFmain::BloadClick);
  click(Bsave, &TFmain::BsaveClick);

  connect(
      chart1_.get(), &presentation::PulseChart::PointClicked, this,
      [this](int series, int index) { Guarded([=, this] { Chart1ClickSeries(series, index); }); });

  connect(&cycle_->Timer1(), &CaptureTimer::Tick, this,
          [this] { Guarded([this] { Timer1Timer(); }); });
  connect(&cycle_->ClientSocket1(), &InstrumentLink::Readable, this,
          [this] { Guarded([this] { ClientSocket1Read(); }); });
  connect(&cycle_->IdUDPServer1(), &UdpReceiver::Datagram, this, [this](const QByteArray& bytes) {
    Guarded([this, &bytes] {
      IdUDPServer1UDPRead(std::span<const uint8_t>(
          reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())));
    });
  });
}

void TFmain::Guarded(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& error) {
    ShowError(QString::fromStdString(error.what()));
  }
}

void TFmain::RunAttached(const QObject* control) {
  Guarded([this, control] { RunHandler(control); });
}

void TFmain::RunHandler(const QObject* control) {
  const auto found = handlers_.constFind(control);
  if (found != handlers_.constEnd()) (this->*found.value())();
}

QString TFmain::ErrorText(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.') return message + QLatin1Char('.');
  return message;
}

void TFmain::ShowError(const QString& message) {
  if (hooks_.show_error) {
    hooks_.show_error(ErrorText(message));
    return;
  }
  QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kApplicationName), ErrorText(message),
                  QMessageBox::Ok, this);
  box.exec();
}

void TFmain::ReportError(const QString& message) { ShowError(message); }

QString TFmain::ChooseFile(FileDialog dialog) {
  if (hooks_.choose_file) return hooks_.choose_file(dialog);
  QFileDialog chooser(this);
  chooser.setObjectName(dialog == FileDialog::kSave ? QStringLiteral("SaveDialog1")
                                                    : QStringLiteral("OpenDialog1"));
  chooser.setNameFilter(QString::fromLatin1(kFileFilter));
  chooser.setDefaultSuffix(QStringLiteral("JIT"));
  if (dialog == FileDialog::kSave) {
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    chooser.setFileMode(QFileDialog::AnyFile);
    chooser.setOption(QFileDialog::DontConfirmOverwrite);
  } else {
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(QFileDialog::AnyFile);
  }
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return {};
  return chooser.selectedFiles().constFirst();
}

void TFmain::SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }

// ---------------------------------------------------------------------------------------------
// Changes from code

void TFmain::SetText(QLineEdit* edit, const QString& text) {
  if (edit->text() == text) return;
  {
    const QSignalBlocker block(edit);
    edit->setText(text);
  }
  RunHandler(edit);
}

void TFmain::SetChecked(QAbstractButton* button, bool checked) {
  if (button->isChecked() == checked) return;
  {
    const QSignalBlocker block(button);
    button->setChecked(checked);
  }
  if (button->isChecked() != checked) return;  // an exclusive group refused to uncheck it
  const bool radio = qobject_cast<QRadioButton*>(button) != nullptr;
  if (!radio || checked) RunHandler(button);
}

void TFmain::SetValue(SpinEdit* box, int value) {
  if (box->SetValue(value)) RunHandler(box);
}

void TFmain::SetItemIndex(int index) {
  if (index < 0 || index >= static_cast<int>(rggsel_items_.size()) ||
      index == static_cast<int>(Graph())) {
    return;
  }
  {
    const QSignalBlocker block_group(rggsel_group_);
    const QSignalBlocker block_item(rggsel_items_[index]);
    rggsel_items_[index]->setChecked(true);
  }
  RunHandler(RGgsel);
}

// ---------------------------------------------------------------------------------------------
// Settings

std::string TFmain::ReadSetting(const char* key, const char* default_value) const {
  return persistence::ReadSetting(ini_path_, kSection, key, default_value);
}

void TFmain::WriteSetting(const char* key, const std::string& value) const {
  persistence::WriteSetting(ini_path_, kSection, key, value);
}

// ---------------------------------------------------------------------------------------------
// Start-up and close

void TFmain::FormCreate() {
  cycle_->ResetRing();
  ini_path_ = exe_dir_ + kSettingsFile;
  SetText(Eip, QString::fromStdString(ReadSetting("IP", "10.0.98.108")));
  SetText(Eport, QString::fromStdString(ReadSetting("PORT", "38253")));
  SetValue(SEsamples, common::StrToInt(ReadSetting("SAMPLES", "50")));
  SetValue(SEvscale, common::StrToInt(ReadSetting("VSCALE", "100")));

  cycle_->SetStreamTransport(0);
  auto upper = [](std::string text) {
    for (char& c : text) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
  };
  if (upper(ReadSetting("STREAM", "")) == "UDP") {
    cycle_->SetStreamTransport(1);
    CBstream->setText(QStringLiteral("Stream-UDP"));
  }
  if (upper(ReadSetting("STREAM", "")) == "TCP") {
    cycle_->SetStreamTransport(2);
    CBstream->setText(QStringLiteral("Stream-TCP"));
  }
  CBstream->setAccessibleName(CBstream->text());
  SetChecked(CBstream, false);
  CBstream->setVisible(cycle_->StreamTransport() != 0);

  int filter_length = common::StrToInt(ReadSetting("FILTERLEN", "0"));
  if (filter_length > 0) {
    Lfilter->show();
    SEfilter->show();
    SetValue(SEfilter, filter_length);
    // A stored 1 or 2 shows as 3 without a change of the box, so no handler runs; the filter
    // follows the box so that what the operator sees is what smooths.
    filter_length = SEfilter->Value();
  }
  pass_.Filter().SetLength(filter_length);

  if (ReadSetting("VSCALEUNITS", "BITS") == "BITS") {
    SetChecked(RBbits, true);
    RBbitsClick();
  } else {
    SetChecked(RBpct, true);
    RBpctClick();
  }

  if (!ReadSetting("DUALCHANNEL", "").empty()) {
    CBdual->show();
    CBdual->setEnabled(true);
    SetChecked(CBdual, ReadSetting("DUALCHANNEL", "TRUE") == "TRUE");
  } else {
    CBdual->hide();
    Detach(CBdual);
    SetChecked(CBdual, false);
  }

  SetChart1InFront(true);

  if (!ReadSetting("HISTOGRAM", "").empty()) {
    auto* radio = new QRadioButton(QStringLiteral("Histogram"), RGgsel);
    radio->setObjectName(QStringLiteral("RGgsel_Histogram"));
    radio->setAccessibleName(radio->text());
    radio->setAccessibleDescription(QStringLiteral("RGgsel"));
    {
      const QSignalBlocker block(rggsel_group_);
      rggsel_group_->addButton(radio, static_cast<int>(rggsel_items_.size()));
    }
    RGgsel->layout()->addWidget(radio);
    rggsel_items_.push_back(radio);
  }

  pass_.Data().Ch1Average = 0;
  pass_.Data().Ch2Average = 0;
  const double scale = SEvscale->Value();
  chart1_->SetLeftAxisMaximum(scale + pass_.Data().Ch1Average);
  chart1_->SetLeftAxisMinimum(pass_.Data().Ch1Average - scale);
}

void TFmain::FormClose() { cycle_->FormClose(); }

void TFmain::LockFileButtons() {
  Bload->setEnabled(false);
  Bsave->setEnabled(false);
  Bsample->setEnabled(false);
}

void TFmain::UnlockFileButtons() {
  Bload->setEnabled(true);
  Bsave->setEnabled(true);
  Bsample->setEnabled(!CBstream->isChecked());
}

// ---------------------------------------------------------------------------------------------
// Handlers of the settings controls

void TFmain::EipChange() { WriteSetting("IP", Eip->text().toStdString()); }

void TFmain::EportChange() { WriteSetting("PORT", Eport->text().toStdString()); }

void TFmain::SEsamplesChange() { WriteSetting("SAMPLES", common::IntText(SEsamples->Value())); }

void TFmain::SEvscaleChange() {
  if (RBbits->isChecked()) {
    WriteSetting("VSCALE", common::IntText(SEvscale->Value()));
  } else if (RBpct->isChecked()) {
    WriteSetting("VSCALE%", common::IntText(SEvscale->Value()));
  }
}

void TFmain::CBdualClick() { WriteSetting("DUALCHANNEL", CBdual->isChecked() ? "TRUE" : "FALSE"); }

void TFmain::SEfilterChange() {
  // Setting the box below runs this handler again from within itself when the shown value
  // changes; the inner run settles the box, the file and the filter first.
  const int value = SEfilter->Value();
  if (value % 2 == 0) SetValue(SEfilter, value + 1);
  if (SEfilter->Value() > kFilterMaximum) {
    SetValue(SEfilter, kFilterMaximum);
  } else if (SEfilter->Value() < kFilterMinimum) {
    SetValue(SEfilter, kFilterMinimum);
  }
  WriteSetting("FILTERLEN", common::IntText(SEfilter->Value()));
  pass_.Filter().SetLength(SEfilter->Value());
}

void TFmain::RBbitsClick() { ApplyUnits(true); }

void TFmain::RBpctClick() { ApplyUnits(false); }

void TFmain::ApplyUnits(bool bits) {
  SetChecked(bits ? RBbits : RBpct, true);
  WriteSetting("VSCALEUNITS", bits ? "BITS" : "PERCENT");
  const int maximum = bits ? kBitsMaximum : kPercentMaximum;
  SEvscale->SetLimits(bits ? kBitsMinimum : kPercentMinimum, maximum);
  SetValue(SEvscale,
           common::StrToInt(bits ? ReadSetting("VSCALE", "100") : ReadSetting("VSCALE%", "10")));
  if (SEvscale->Value() > maximum) SetValue(SEvscale, maximum);
  ProcessSamples();
}

// ---------------------------------------------------------------------------------------------
// Handlers of the display controls

void TFmain::SetChart1InFront(bool in_front) {
  if (in_front) {
    chart2_->Widget()->lower();
  } else {
    chart1_->Widget()->lower();
  }
  RGgsel->raise();
}

bool TFmain::PulseChartInFront() const {
  const QObjectList& order = ChartArea->children();
  return order.indexOf(chart1_->Widget()) > order.indexOf(chart2_->Widget());
}

void TFmain::RGgselClick() {
  const bool histogram = Graph() == analysis::GraphView::kHistogram;
  SetChart1InFront(!histogram);
  Lscale->setText(QString::fromLatin1(histogram ? kHorizontalScale : kVerticalScale));
  SEvscale->setAccessibleName(Lscale->text());
  Lscale->setAccessibleName(Lscale->text());
  ProcessSamples();
}

void TFmain::Chart1ClickSeries(int series, int index) {
  for (int j = 0; j < chart1_->PointCount(series); ++j) {
    chart1_->SetPointLabelVisible(series, j, false);
  }
  chart1_->SetPointLabelVisible(series, index, true);
}

void TFmain::Chart1MouseMove() {}

void TFmain::Eprove_msChange() {
  using analysis::Figure;
  const analysis::FlightTexts texts{FigureText(Figure::kEint1).toStdString(),
                                    Eprove_ms->text().toStdString(),
                                    FigureText(Figure::kEjitpp_pct).toStdString()};
  ApplyFlightFigures(analysis::ComputeFlightFigures(texts, pass_.Held().quality));
}

void TFmain::BpqfresetClick() {
  pass_.ResetPeaks();
  SetFigureText(analysis::Figure::kEpqf, "");
  SetFigureText(analysis::Figure::kEjitpp_max, "");
}

void TFmain::BftestClick() {
  analysis::ResampleLog(exe_dir_ + "stream.dat", exe_dir_ + "resampled.dat");
}

// ---------------------------------------------------------------------------------------------
// Capture handlers: the cycle owns their state

void TFmain::CBstreamClick() { cycle_->CBstreamClick(); }
void TFmain::CBactiveClick() { cycle_->CBactiveClick(); }
void TFmain::BsampleClick() { cycle_->BsampleClick(); }
void TFmain::Timer1Timer() { cycle_->Timer1Timer(); }
void TFmain::ClientSocket1Read() { cycle_->ClientSocket1Read(); }
void TFmain::IdUDPServer1UDPRead(std::span<const uint8_t> datagram) {
  cycle_->IdUDPServer1UDPRead(datagram);
}

// ---------------------------------------------------------------------------------------------
// Load and Save

void TFmain::BsaveClick() {
  const QString name = ChooseFile(FileDialog::kSave);
  if (name.isEmpty()) return;
  const analysis::GraphView view = Graph();
  std::vector<double> values;
  if (view != analysis::GraphView::kHistogram) {
    const int count = chart1_->PointCount(presentation::kSeriesCh1);
    values.reserve(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k)
      values.push_back(chart1_->PointValue(presentation::kSeriesCh1, k));
  } else {
    // The histogram view saves the frequencies of the intervals last drawn, so the values always
    // match the frequency header whichever view drew the pulse chart last.
    values.reserve(drawn_intervals_.size());
    for (double interval : drawn_intervals_)
      values.push_back(presentation::PulseFrequency(interval));
  }
  persistence::WriteTextFile(
      name.toStdString(), persistence::FormatJit(values, view == analysis::GraphView::kInterval));
}

void TFmain::BloadClick() {
  SetChartTitle(QString::fromLatin1(kChartTitle));
  const QString name = ChooseFile(FileDialog::kOpen);
  if (name.isEmpty()) return;
  for (QLineEdit* box : {Esampavg, Ejitpp, Ejitpp_pct, Ejitrms, Ejitrms_pct}) SetText(box, {});

  const persistence::JitList loaded =
      persistence::ParseJit(persistence::ReadTextFile(name.toStdString()));
  cycle_->RxBuffer() = loaded.list;
  if (loaded.error) throw common::Error(*loaded.error);

  const QString title =
      QString::fromLatin1(kChartTitle) + QStringLiteral("  [") + QFileInfo(name).fileName() + ']';
  if (loaded.form == persistence::JitForm::kInterval) {
    SetItemIndex(0);
    SetChartTitle(title);
  } else if (loaded.form == persistence::JitForm::kFrequency) {
    SetItemIndex(1);
    SetChartTitle(title);
  }
  cycle_->SetFromFile(true);
  ProcessSamples();
}

// ---------------------------------------------------------------------------------------------
// The processing pass and what it needs of the window

void TFmain::ProcessSamples() {
  const std::string rx_copy = cycle_->RxBuffer();
  // Laying out a 3000-line reply log takes most of a pass, and the log is hidden: it is filled
  // from the pass's lines only when it is shown.
  memo_stale_ = true;
  const analysis::PassOptions options = CurrentPassOptions();
  // The axis follows the view even when the input then fails to decode.
  const std::string_view title = analysis::LeftAxisTitle(options.view);
  chart1_->SetLeftAxisTitle(
      QString::fromLatin1(title.data(), static_cast<qsizetype>(title.size())));
  cycle_->Timer1().SetEnabled(false);
  // From here on the end steps run however the pass ends; an error then goes on to the caller.
  try {
    if (pass_.Decode(rx_copy, cycle_->FromFile())) {
      if (StreamChecked() && pass_.Data().Ch1Count == 0) cycle_->TakeStreamWindow(pass_.Data());
      ApplyPassResult(analysis::Compute(pass_.Data(), options), options.view);
    }
  } catch (...) {
    EndSteps();
    throw;
  }
  EndSteps();
}

analysis::PassOptions TFmain::CurrentPassOptions() const {
  analysis::PassOptions options;
  options.view = Graph();
  options.smooth = CBdual->isEnabled() && !CBdual->isChecked();
  options.filter = &pass_.Filter();
  options.flight_ms = Eprove_ms->text().toStdString();
  options.held = pass_.Held();
  return options;
}

// The boxes known before the chart feed keep their new texts when the feed refuses its limits;
// the later ones, the flight-time figures and the histogram then keep their old state.
void TFmain::ApplyPassResult(const analysis::PassResult& result, analysis::GraphView view) {
  using analysis::Figure;
  if (!result.series2_title) return;
  chart1_->SetSeriesTitle(presentation::kSeriesCh2, QString::fromStdString(*result.series2_title));
  if (result.outcome != analysis::PassOutcome::kFigures) return;
  const size_t fed = analysis::FigureIndex(Figure::kEint1);
  const size_t flight = analysis::FigureIndex(Figure::kLpcycles);
  for (size_t f = 0; f < fed; ++f) SetFigureText(Figure(f), result.texts[f]);
  pass_.Hold({result.held.pp_percent, pass_.Held().quality});
  if (view != analysis::GraphView::kHistogram) FeedChart(result.chart);
  for (size_t f = fed; f < flight; ++f) SetFigureText(Figure(f), result.texts[f]);
  ApplyFlightFigures(result.flight);
  if (view == analysis::GraphView::kHistogram) BuildHistogram(*result.chart.data);
}

void TFmain::ApplyFlightFigures(const analysis::FlightFigures& flight) {
  using analysis::Figure;
  SetFigureText(Figure::kLpcycles, flight.pulses);
  SetFigureText(Figure::kEprove_err, flight.quality);
  if (flight.error) throw common::Error(*flight.error);
  if (flight.quality_peak) SetFigureText(Figure::kEpqf, *flight.quality_peak);
  pass_.Hold({pass_.Held().pp_percent, flight.held_quality});
}

void TFmain::FillMemo() {
  if (!memo_stale_) return;
  QStringList lines;
  for (const std::string& line : pass_.Memo()) lines << QString::fromStdString(line);
  Memo1->setPlainText(lines.join(QLatin1Char('\n')));
  memo_stale_ = false;
}

bool TFmain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Memo1 && event->type() == QEvent::ShowToParent) FillMemo();
  return QWidget::eventFilter(watched, event);
}

analysis::GraphView TFmain::Graph() const {
  return static_cast<analysis::GraphView>(std::max(0, rggsel_group_->checkedId()));
}

bool TFmain::StreamChecked() const { return CBstream->isChecked(); }

QLineEdit* TFmain::FigureBox(analysis::Figure figure) const {
  return figure_boxes_[analysis::FigureIndex(figure)];
}

QString TFmain::FigureText(analysis::Figure figure) const {
  if (figure == analysis::Figure::kLpcycles) return Lpcycles->text();
  return FigureBox(figure)->text();
}

void TFmain::SetFigureText(analysis::Figure figure, const std::string& text) {
  if (figure == analysis::Figure::kLpcycles) {
    Lpcycles->setText(QString::fromStdString(text));
    return;
  }
  SetText(FigureBox(figure), QString::fromStdString(text));
}

void TFmain::FeedChart(const analysis::ChartInput& input) {
  presentation::FeedPulseChart(*chart1_, input, Graph() == analysis::GraphView::kInterval,
                               !RBbits->isChecked(), SEvscale->Value());
  KeepDrawnIntervals(*input.data);
}

void TFmain::BuildHistogram(const acquisition::PulseData& data) {
  const analysis::HistogramBars bars =
      analysis::ComputeHistogram(data, SEvscale->Value(), SEsamples->Value());
  presentation::DrawHistogram(*chart2_, bars);
  KeepDrawnIntervals(data);
}

void TFmain::KeepDrawnIntervals(const acquisition::PulseData& data) {
  const int64_t last = std::min<int64_t>(data.Ch1Count - 1, acquisition::kMaxIntervals);
  drawn_intervals_.assign(data.Ch1Intervals.begin() + 1,
                          data.Ch1Intervals.begin() + 1 + std::max<int64_t>(0, last));
}

void TFmain::EndSteps() {
  if (!CBactive->isChecked() && !CBstream->isChecked()) UnlockFileButtons();
  cycle_->SetClearRxOnNext(true);
  cycle_->Timer1().SetEnabled(true);
}

// ---------------------------------------------------------------------------------------------
// What the capture cycle needs of the window

QString TFmain::HostText() const { return Eip->text(); }
QString TFmain::PortText() const { return Eport->text(); }
QString TFmain::SamplesText() const { return SEsamples->text(); }
int TFmain::SamplesValue() const { return SEsamples->Value(); }
bool TFmain::DualChecked() const { return CBdual->isChecked(); }
bool TFmain::AutoSampleChecked() const { return CBactive->isChecked(); }
void TFmain::SetAutoSampleChecked(bool checked) { SetChecked(CBactive, checked); }
void TFmain::SetAutoSampleEnabled(bool enabled) { CBactive->setEnabled(enabled); }
void TFmain::SetSampleEnabled(bool enabled) { Bsample->setEnabled(enabled); }
void TFmain::SetStreamEnabled(bool enabled) { CBstream->setEnabled(enabled); }

void TFmain::SetChartTitle(const QString& first_line) {
  chart1_->SetTitle(first_line);
  chart1_->Widget()->setAccessibleName(first_line);
}

void TFmain::Beep() { QApplication::beep(); }

// A log with holes must not pass for a complete one: the count stays on screen, in red, from
// the first lost word until the next start.
void TFmain::ShowLostWords(uint64_t lost) {
  const QString text =
      lost == 0 ? QString()
                : QStringLiteral("%1 stream words lost since streaming started").arg(lost);
  Llost->setText(lost == 0 ? QString() : QStringLiteral("Lost %1").arg(lost));
  Llost->setToolTip(text);
  Llost->setAccessibleName(lost == 0 ? QStringLiteral("Lost stream words") : text);
  Llost->setVisible(lost != 0);
  CBstream->setToolTip(text);
}

}  // namespace app
