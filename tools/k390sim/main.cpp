// k390sim: a stand-in for the K390 pulse-timing instrument, for tests, demonstrations and work
// without the hardware. It answers sample requests over TCP and streams time-stamp words over
// UDP or TCP from a seeded pulse model.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "server.h"

namespace {

struct OptionError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

int64_t IntegerOption(const QCommandLineParser& parser, const QString& name, int64_t low,
                      int64_t high) {
  bool ok = false;
  const qlonglong value = parser.value(name).toLongLong(&ok);
  if (!ok || value < low || value > high) {
    throw OptionError(QString("--%1: '%2' is not an integer from %3 to %4")
                          .arg(name, parser.value(name))
                          .arg(low)
                          .arg(high)
                          .toStdString());
  }
  return value;
}

uint64_t UnsignedOption(const QCommandLineParser& parser, const QString& name) {
  bool ok = false;
  const qulonglong value = parser.value(name).toULongLong(&ok);
  if (!ok || parser.value(name).startsWith('-')) {
    throw OptionError(QString("--%1: '%2' is not an unsigned 64-bit integer")
                          .arg(name, parser.value(name))
                          .toStdString());
  }
  return value;
}

double RealOption(const QCommandLineParser& parser, const QString& name) {
  bool ok = false;
  const double value = parser.value(name).toDouble(&ok);
  if (!ok) {
    throw OptionError(
        QString("--%1: '%2' is not a number").arg(name, parser.value(name)).toStdString());
  }
  return value;
}

// Options that mean nothing one without the other.
void RequireBoth(const QCommandLineParser& parser, const QString& a, const QString& b) {
  if (parser.isSet(a) != parser.isSet(b)) {
    throw OptionError(
        QString("--%1 and --%2 go together: give both or neither").arg(a, b).toStdString());
  }
}

// A fault every N pulses: 0 for none, never 1 (every pulse is no fault but another train).
int64_t EveryOption(const QCommandLineParser& parser, const QString& name) {
  const int64_t every = IntegerOption(parser, name, 0, std::numeric_limits<int64_t>::max());
  if (every == 1) throw OptionError(("--" + name + ": use 0 for none or 2 or more").toStdString());
  return every;
}

k390sim::MeterConfig ReadMeter(const QCommandLineParser& parser) {
  RequireBoth(parser, "pattern-positions", "pattern-pp-ticks");
  RequireBoth(parser, "sine-hz", "sine-ticks");
  RequireBoth(parser, "wander-pct", "wander-period-s");
  if (parser.isSet("extra-at") && !parser.isSet("ch1-extra-every") &&
      !parser.isSet("ch2-extra-every")) {
    throw OptionError("--extra-at needs --ch1-extra-every or --ch2-extra-every");
  }
  if (parser.isSet("swap-every") && !parser.isSet("ch2-phase")) {
    throw OptionError("--swap-every needs --ch2-phase: at phase 0 a pair has no order");
  }
  k390sim::MeterConfig meter;
  meter.shape.pattern_positions =
      IntegerOption(parser, "pattern-positions", 0, k390sim::kMaxPatternPositions);
  meter.shape.pattern_pp_ticks = RealOption(parser, "pattern-pp-ticks");
  meter.shape.sine_hz = RealOption(parser, "sine-hz");
  meter.shape.sine_ticks = RealOption(parser, "sine-ticks");
  meter.shape.wander_pct = RealOption(parser, "wander-pct");
  meter.shape.wander_period_s = RealOption(parser, "wander-period-s");
  meter.ch2_phase_deg = RealOption(parser, "ch2-phase");
  meter.ch2_phase_drift_deg_per_s = RealOption(parser, "ch2-phase-drift");
  meter.ch1_faults.drop_every = EveryOption(parser, "ch1-drop-every");
  meter.ch2_faults.drop_every = EveryOption(parser, "ch2-drop-every");
  meter.ch1_faults.extra_every = EveryOption(parser, "ch1-extra-every");
  meter.ch2_faults.extra_every = EveryOption(parser, "ch2-extra-every");
  meter.ch1_faults.extra_at = meter.ch2_faults.extra_at = RealOption(parser, "extra-at");
  meter.ch2_faults.swap_every = EveryOption(parser, "swap-every");
  return meter;
}

// Channel 2's rate comes from --ch2-freq or --ch2-ratio, never both; without either it is
// channel 1's.
k390sim::ModelConfig ReadModel(const QCommandLineParser& parser) {
  const double ch1_hz = RealOption(parser, "freq");
  double ch2_hz = ch1_hz;
  if (parser.isSet("ch2-freq") && parser.isSet("ch2-ratio")) {
    throw OptionError("--ch2-freq and --ch2-ratio both set channel 2's rate: give one");
  } else if (parser.isSet("ch2-freq")) {
    ch2_hz = RealOption(parser, "ch2-freq");
  } else if (parser.isSet("ch2-ratio")) {
    const double ratio = RealOption(parser, "ch2-ratio");
    if (!(ratio > 0) || !std::isfinite(ratio)) {
      throw OptionError("--ch2-ratio: '" + parser.value("ch2-ratio").toStdString() +
                        "' is not a number above 0");
    }
    ch2_hz = ratio * ch1_hz;
  }
  return k390sim::MakeModelConfig(ch1_hz, ch2_hz, RealOption(parser, "jitter-ticks"),
                                  UnsignedOption(parser, "start-ticks"),
                                  UnsignedOption(parser, "seed"), ReadMeter(parser));
}

k390sim::ServerOptions ReadOptions(const QCommandLineParser& parser) {
  constexpr int64_t kIntMax = std::numeric_limits<int>::max();
  k390sim::ServerOptions options;
  if (!options.bind_address.setAddress(parser.value("bind"))) {
    throw OptionError("--bind: '" + parser.value("bind").toStdString() + "' is not an IP address");
  }
  options.port = static_cast<quint16>(IntegerOption(parser, "port", 0, 65535));
  options.udp_port = static_cast<quint16>(IntegerOption(parser, "udp-port", 1, 65535));

  options.model = ReadModel(parser);
  try {
    k390sim::ValidateTrainConfig(options.model.ch1);
    k390sim::ValidateTrainConfig(options.model.ch2);
  } catch (const std::invalid_argument& e) {
    throw OptionError(e.what());
  }
  options.stamp_bits = static_cast<int>(IntegerOption(parser, "stamp-bits", 32, 64));
  if (options.stamp_bits != 32 && options.stamp_bits != 64) {
    throw OptionError("--stamp-bits: must be 32 or 64");
  }

  options.words_per_datagram =
      static_cast<int>(IntegerOption(parser, "words-per-datagram", 1, 16000));
  options.foreign_every = static_cast<int>(IntegerOption(parser, "foreign-every", 0, kIntMax));
  if (options.foreign_every == 1) {
    throw OptionError(
        "--foreign-every: 1 would come before the first datagram; use 0 for none or 2 or more");
  }
  options.shape.repeat_every = IntegerOption(parser, "repeat-every", 0, kIntMax);
  options.shape.drop_every = IntegerOption(parser, "drop-every", 0, kIntMax);
  if (options.shape.drop_every == 1) {
    throw OptionError("--drop-every: 1 would drop every word; use 0 for none or 2 or more");
  }
  options.shape.max_words = IntegerOption(parser, "words", 0, std::numeric_limits<int64_t>::max());
  options.log_words_path = parser.value("log-words");

  options.split_bytes = static_cast<int>(IntegerOption(parser, "split-bytes", 0, kIntMax));
  options.split_pause_ms = static_cast<int>(IntegerOption(parser, "split-pause-ms", 0, 60000));
  options.delay_ms = static_cast<int>(IntegerOption(parser, "delay-ms", 0, 600000));
  options.no_reply = parser.isSet("no-reply");
  options.close_after_reply = parser.isSet("close-after-reply");
  options.malformed = parser.isSet("malformed");
  options.close_after_replies = IntegerOption(parser, "close-after", 0, kIntMax);
  options.silent_after_replies = IntegerOption(parser, "silent-after", 0, kIntMax);
  if (parser.isSet("short-reply")) {
    options.short_reply_records = IntegerOption(parser, "short-reply", 0, k390sim::kMaxSamples);
  }
  return options;
}

// Where the instrument listens, and its pulse model: rates, phase, jitter, patterns, wander.
QList<QCommandLineOption> ModelOptions() {
  const QString tcp_port = QString::number(acquisition::kInstrumentTcpPort);
  return {
      {"bind", "Address to listen on (default 127.0.0.1).", "ADDR", "127.0.0.1"},
      {"port",
       QStringLiteral("TCP port to listen on; 0 picks a free port (default %1).").arg(tcp_port),
       "N", tcp_port},
      {"freq",
       "Channel 1 pulses per second, 0.01 to 20000000; also the stream's word rate (default "
       "1000).",
       "HZ", "1000"},
      {"ch2-freq", "Channel 2 pulses per second (default: the --freq value).", "HZ"},
      {"ch2-ratio",
       "Channel 2's rate as a multiple of channel 1's, e.g. 1, 0.5 or 2; instead of --ch2-freq.",
       "R"},
      {"ch2-phase",
       "Degrees of the channel 1 period that channel 2's pulses lie after their place on "
       "channel 1's pulse count, -180 to 180; positive: channel 2 lags (default 0).",
       "DEG", "0"},
      {"ch2-phase-drift",
       "Change of --ch2-phase in degrees per second since the counter start, either way, "
       "less than 180 degrees per channel 1 period (default 0).",
       "DEG_S", "0"},
      {"jitter-ticks",
       "Standard deviation of the Gaussian pulse jitter, in ticks, 0 to one period (default 2).",
       "SD", "2"},
      {"seed", "Seed of the jitter's random generator (default 1).", "N", "1"},
      {"start-ticks",
       "Counter value one period before the first pulse (default 0); e.g. 4294900000 crosses "
       "the 32-bit wrap at the second pulse at 1000 Hz.",
       "N", "0"},
      {"pattern-positions",
       "A rotor of B blades: the interval starting at pulse n (from 1) deviates from the "
       "period by deviation (n - 1) mod B, 2 to 100000. The B deviations are fixed, not seeded: "
       "the fractional parts of 1, 2 .. B times the golden ratio, less their mean, scaled to "
       "--pattern-pp-ticks; they sum to 0, so the mean rate holds. Both channels follow it.",
       "B", "0"},
      {"pattern-pp-ticks", "P-P of the B deviations in ticks, up to a channel 1 period.", "PP",
       "0"},
      {"sine-hz",
       "Sinusoidal jitter: each edge moves by --sine-ticks * sin(2 pi HZ t), t its time in "
       "seconds since the counter start.",
       "HZ", "0"},
      {"sine-ticks", "Peak of the sinusoidal jitter in ticks, up to a channel 1 period.", "A", "0"},
      {"wander-pct",
       "Slow rate wander, 0 to below 100: the local interval is the period times "
       "(1 - PCT / 100 * sin(2 pi t / --wander-period-s)), so the rate rises first and its "
       "mean holds over each wander period.",
       "PCT", "0"},
      {"wander-period-s", "Period of the rate wander in seconds, up to 1000000.", "S", "0"},
  };
}

// Pulses lost, gained or swapped, and the counter's width in replies.
QList<QCommandLineOption> PulseFaultOptions() {
  return {
      {"ch1-drop-every",
       "Channel 1 loses each pulse numbered a multiple of N (from 1 since the counter start), "
       "in sample replies and the stream alike (default 0: never).",
       "N", "0"},
      {"ch2-drop-every", "Channel 2 loses each pulse numbered a multiple of N (default 0).", "N",
       "0"},
      {"ch1-extra-every",
       "Channel 1 gains a pulse after each pulse numbered a multiple of N, --extra-at into the "
       "interval (default 0: never).",
       "N", "0"},
      {"ch2-extra-every",
       "Channel 2 gains a pulse after each pulse numbered a multiple of N "
       "(default 0).",
       "N", "0"},
      {"extra-at",
       "Where a gained pulse lies, as a fraction of the interval, 0 to 1 (neither "
       "included; default 0.5).",
       "F", "0.5"},
      {"swap-every",
       "Each channel 2 pulse numbered a multiple of N lies at minus --ch2-phase, so it leads "
       "its channel 1 partner where it should lag (default 0: never). Needs a phase between 0 "
       "and 180 degrees either way, and below 180 / ratio.",
       "N", "0"},
      {"stamp-bits",
       "Width of the counter in sample replies: 64, or 32 to send stamps modulo 2^32 "
       "(default 64). Stream words always carry the low 32 bits.",
       "N", "64"},
  };
}

// The stream, and the link's faults.
QList<QCommandLineOption> LinkOptions() {
  const QString udp_port = QString::number(acquisition::kStreamUdpPort);
  return {
      {"udp-port",
       QStringLiteral("Port that UDP stream datagrams are sent to, at the requester's address "
                      "(default %1).")
           .arg(udp_port),
       "N", udp_port},
      {"words-per-datagram", "Stream words per UDP datagram (default 250).", "N", "250"},
      {"foreign-every",
       "Before every Nth UDP stream datagram, send a 16-byte datagram to the same port from "
       "another socket of this host (default 0: never).",
       "N", "0"},
      {"repeat-every", "Send every Nth stream word twice (default 0: never).", "N", "0"},
      {"drop-every",
       "Leave out every Nth pulse from the stream only (default 0: never); --ch1-drop-every "
       "loses pulses from the replies too.",
       "N", "0"},
      {"words", "Stop a stream after N words on the wire (default 0: no limit).", "N", "0"},
      {"log-words", "Write every streamed word, in decimal, one per line, to FILE.", "FILE"},
      {"split-bytes",
       "Send each reply in pieces of N bytes (default 0: whole). A client that half-closes "
       "its side after the request gets only the first piece.",
       "N", "0"},
      {"split-pause-ms", "Pause between the pieces of --split-bytes (default 0).", "MS", "0"},
      {"delay-ms", "Wait this long before sending each reply (default 0).", "MS", "0"},
      {"no-reply", "Read requests but never answer or stream."},
      {"close-after-reply", "Close the connection after each reply."},
      {"malformed", "Give the middle record of each sample reply only two fields."},
      {"close-after",
       "Close the link right after the Nth sample reply, counted over every link (default 0: "
       "never): an instrument that goes away mid-run.",
       "N", "0"},
      {"silent-after",
       "Answer only the first N sample requests, counted over every link; read later ones but "
       "never answer (default 0: answer all).",
       "N", "0"},
      {"short-reply",
       "End each sample reply after N records while its header still announces the count "
       "asked for.",
       "N"},
  };
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("k390sim");

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Simulates a K390 pulse-timing instrument (40 MHz counter, 25 ns ticks).\n"
      "Answers sample requests over TCP with time stamps from a seeded pulse model, and\n"
      "streams 32-bit stamp words over UDP (mode 1) or on the TCP link (mode 2); a stream\n"
      "command is acknowledged with the digit 1 while a stream runs and 0 once stopped.\n"
      "The simulated counter advances only with the pulses it reports, so a run with the\n"
      "same options and requests gives the same stamps. Prints \"listening on ADDR:PORT\"\n"
      "as its first line and logs one line per request to standard error.");
  parser.addHelpOption();
  parser.addOptions(ModelOptions());
  parser.addOptions(PulseFaultOptions());
  parser.addOptions(LinkOptions());
  // parse() rather than process(): process() ends the program with status 1 on a bad option,
  // where every bad option is to exit 2.
  if (!parser.parse(QCoreApplication::arguments())) {
    std::fprintf(stderr, "k390sim: %s\n", qPrintable(parser.errorText()));
    return 2;
  }
  if (parser.isSet("help") ||
      (parser.optionNames().contains("help-all") && parser.isSet("help-all"))) {
    parser.showHelp(0);
  }
  if (!parser.positionalArguments().isEmpty()) {
    std::fprintf(stderr, "k390sim: unexpected argument '%s' (see --help)\n",
                 qPrintable(parser.positionalArguments().front()));
    return 2;
  }

  k390sim::ServerOptions options;
  try {
    options = ReadOptions(parser);
  } catch (const OptionError& e) {
    std::fprintf(stderr, "k390sim: %s\n", e.what());
    return 2;
  }

  k390sim::Server server(options);
  QString error;
  if (!server.Start(&error)) {
    std::fprintf(stderr, "k390sim: %s\n", qPrintable(error));
    return 1;
  }
  std::printf("listening on %s:%u\n", qPrintable(server.Address().toString()),
              static_cast<unsigned>(server.Port()));
  std::fflush(stdout);
  return app.exec();
}
