#include "persistence/window_settings.h"

#include "common/convert.h"
#include "common/error.h"
#include "persistence/ini_file.h"

namespace persistence {
namespace {

using acquisition::StreamTransport;

// Letter case does not matter for the stream transport, and only there.
std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

StreamTransport ParseTransport(const std::string& text) {
  const std::string upper = Upper(text);
  if (upper == "UDP") return StreamTransport::kUdp;
  if (upper == "TCP") return StreamTransport::kTcp;
  return StreamTransport::kNone;
}

}  // namespace

IntSetting::IntSetting(std::string_view text) {
  try {
    value_ = common::StrToInt(text);
  } catch (const common::Error& e) {
    error_ = e.Message();
  }
}

IntSetting::IntSetting(std::string_view text, int minimum, int maximum, std::string_view what)
    : IntSetting(text) {
  if (error_ || (value_ >= minimum && value_ <= maximum)) return;
  error_ = "'" + common::Printable(text) + "' is not a " + std::string(what) + " from " +
           std::to_string(minimum) + " to " + std::to_string(maximum);
}

IntSetting UdpPortSetting(std::string_view text) {
  return IntSetting(text, 1, 65535, "port number");
}

int IntSetting::Value() const {
  if (error_) throw common::Error(*error_);
  return value_;
}

WindowSettings ReadWindowSettings(const std::string& ini_path) {
  auto read = [&ini_path](std::string_view key, std::string_view default_value) {
    return ReadSetting(ini_path, kSettingsSection, key, default_value);
  };
  WindowSettings s;
  s.ip = read(kKeyIp, s.ip);
  s.port = read(kKeyPort, s.port);
  s.samples = IntSetting(read(kKeySamples, "50"));
  s.scale_bits = ReadUnitScale(ini_path, ScaleUnits::kBits);
  s.scale_percent = ReadUnitScale(ini_path, ScaleUnits::kPercent);
  s.units = read(kKeyScaleUnits, "BITS") == "BITS" ? ScaleUnits::kBits : ScaleUnits::kPercent;
  s.stream = ParseTransport(read("STREAM", ""));
  s.filter_length = IntSetting(read(kKeyFilterLength, "0"));
  const std::string dual = read(kKeyDualChannel, "");
  s.dual_shown = !dual.empty();
  s.dual_checked = dual == "TRUE";
  s.histogram = !read("HISTOGRAM", "").empty();
  s.resample = read("RESAMPLE", "FALSE") == "TRUE";
  s.analysis = read("ANALYSIS", "FALSE") == "TRUE";
  s.udp_port = UdpPortSetting(read(kKeyUdpPort, std::to_string(acquisition::kStreamUdpPort)));
  return s;
}

IntSetting ReadUnitScale(const std::string& ini_path, ScaleUnits units) {
  const bool bits = units == ScaleUnits::kBits;
  return IntSetting(ReadSetting(ini_path, kSettingsSection, bits ? kKeyScaleBits : kKeyScalePercent,
                                bits ? "100" : "10"));
}

void WriteWindowSetting(const std::string& ini_path, std::string_view key, std::string_view value) {
  WriteSetting(ini_path, kSettingsSection, key, value);
}

std::string_view UnitsText(ScaleUnits units) {
  return units == ScaleUnits::kBits ? "BITS" : "PERCENT";
}

}  // namespace persistence
