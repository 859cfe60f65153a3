// k390sim: a stand-in for the K390 pulse-timing instrument, for tests, demonstrations and work
// without the hardware. It answers sample requests over TCP and streams time-stamp words over
// UDP or TCP from a seeded pulse model.

#include <QCommandLineParser>
#include <QCoreApplication>
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

k390sim::ServerOptions ReadOptions(const QCommandLineParser& parser) {
  constexpr int64_t kIntMax = std::numeric_limits<int>::max();
  k390sim::ServerOptions options;
  if (!options.bind_address.setAddress(parser.value("bind"))) {
    throw OptionError("--bind: '" + parser.value("bind").toStdString() + "' is not an IP address");
  }
  options.port = static_cast<quint16>(IntegerOption(parser, "port", 0, 65535));
  options.udp_port = static_cast<quint16>(IntegerOption(parser, "udp-port", 1, 65535));

  const double ch1_hz = RealOption(parser, "freq");
  options.model = k390sim::MakeModelConfig(
      ch1_hz, parser.isSet("ch2-freq") ? RealOption(parser, "ch2-freq") : ch1_hz,
      RealOption(parser, "jitter-ticks"), UnsignedOption(parser, "start-ticks"),
      UnsignedOption(parser, "seed"));
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
  return options;
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
  parser.addOptions({
      {"bind", "Address to listen on (default 127.0.0.1).", "ADDR", "127.0.0.1"},
      {"port", "TCP port to listen on; 0 picks a free port (default 38253).", "N", "38253"},
      {"freq",
       "Channel 1 pulses per second, 0.01 to 20000000; also the stream's word rate (default "
       "1000).",
       "HZ", "1000"},
      {"ch2-freq", "Channel 2 pulses per second (default: the --freq value).", "HZ"},
      {"jitter-ticks",
       "Standard deviation of the Gaussian pulse jitter, in ticks, 0 to one period (default 2).",
       "SD", "2"},
      {"seed", "Seed of the jitter's random generator (default 1).", "N", "1"},
      {"start-ticks",
       "Counter value one period before the first pulse (default 0); e.g. 4294900000 crosses "
       "the 32-bit wrap at the second pulse at 1000 Hz.",
       "N", "0"},
      {"stamp-bits",
       "Width of the counter in sample replies: 64, or 32 to send stamps modulo 2^32 "
       "(default 64). Stream words always carry the low 32 bits.",
       "N", "64"},
      {"udp-port",
       "Port that UDP stream datagrams are sent to, at the requester's address "
       "(default 38257).",
       "N", "38257"},
      {"words-per-datagram", "Stream words per UDP datagram (default 250).", "N", "250"},
      {"foreign-every",
       "Before every Nth UDP stream datagram, send a 16-byte datagram to the same port from "
       "another socket of this host (default 0: never).",
       "N", "0"},
      {"repeat-every", "Send every Nth stream word twice (default 0: never).", "N", "0"},
      {"drop-every", "Leave out every Nth pulse from the stream (default 0: never).", "N", "0"},
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
  });
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
