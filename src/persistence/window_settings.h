#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "acquisition/protocol.h"

// The window's settings file: every key, its default and the rule that turns its text into what
// the window shows. The file is next to the executable; section and key names match in any
// letter case (see ini_file.h).
namespace persistence {

inline constexpr char kSettingsFileName[] = "K390cap.ini";
inline constexpr char kSettingsSection[] = "SETTINGS";

// The keys the window writes back when a control changes.
inline constexpr char kKeyIp[] = "IP";
inline constexpr char kKeyPort[] = "PORT";
inline constexpr char kKeySamples[] = "SAMPLES";
inline constexpr char kKeyScaleBits[] = "VSCALE";
inline constexpr char kKeyScalePercent[] = "VSCALE%";
inline constexpr char kKeyScaleUnits[] = "VSCALEUNITS";
inline constexpr char kKeyFilterLength[] = "FILTERLEN";
inline constexpr char kKeyDualChannel[] = "DUALCHANNEL";
// Set by hand only.
inline constexpr char kKeyUdpPort[] = "UDPPORT";

enum class ScaleUnits { kBits, kPercent };

// An integer setting. A text that is not an integer stops the start-up only where the window
// uses the value, so the message waits until then.
class IntSetting {
 public:
  explicit IntSetting(std::string_view text);
  // An integer that must lie in minimum .. maximum to mean anything: "'<text>' is not a <what>
  // from <minimum> to <maximum>" otherwise.
  IntSetting(std::string_view text, int minimum, int maximum, std::string_view what);
  // The value; throws common::Error "'<text>' is not a valid integer value" when the text is not
  // an integer, or the range's message.
  int Value() const;

 private:
  int value_ = 0;
  std::optional<std::string> error_;
};

// The rule of UDPPORT: a port number, 1 to 65535.
IntSetting UdpPortSetting(std::string_view text);

// Default-constructed, the settings of a missing file: what the window shows when no key applies.
struct WindowSettings {
  std::string ip = "10.0.98.108";                                      // IP
  std::string port = std::to_string(acquisition::kInstrumentTcpPort);  // PORT
  IntSetting samples{"50"};                                            // SAMPLES
  IntSetting scale_bits{"100"};                                        // VSCALE
  IntSetting scale_percent{"10"};                                      // VSCALE%
  ScaleUnits units = ScaleUnits::kBits;  // VSCALEUNITS: BITS exactly, anything else is percent
  // STREAM: UDP or TCP in any letter case shows the Stream box with that transport.
  acquisition::StreamTransport stream = acquisition::StreamTransport::kNone;
  IntSetting filter_length{"0"};  // FILTERLEN: above 0 shows the Filter box
  // DUALCHANNEL: any value shows the Dual Channel box, checked for TRUE exactly.
  bool dual_shown = false;
  bool dual_checked = false;
  bool histogram = false;  // HISTOGRAM: any value, even FALSE, offers the Histogram view
  bool resample = false;   // RESAMPLE: TRUE exactly writes resampled.dat when streaming stops
  // ANALYSIS: TRUE exactly offers the TIE and Stability views and shows the timing readout.
  bool analysis = false;
  // UDPPORT: the port the UDP stream is received on, 1 to 65535.
  IntSetting udp_port = UdpPortSetting(std::to_string(acquisition::kStreamUdpPort));
};

// Reads every key of the settings file at `ini_path`; absent keys (or file) give the defaults.
// Throws common::Error for a file in a form it cannot read (see ReadSetting). Window thread.
WindowSettings ReadWindowSettings(const std::string& ini_path);

// The scale kept for `units` (VSCALE or VSCALE%) as the file holds it now: each unit keeps its
// own, so a switch of units brings back the other unit's last scale.
IntSetting ReadUnitScale(const std::string& ini_path, ScaleUnits units);

// Stores one of the window's keys in the settings section. Throws common::Error "Unable to
// write to <path>" on failure.
void WriteWindowSetting(const std::string& ini_path, std::string_view key, std::string_view value);

// The VSCALEUNITS text of a unit: BITS or PERCENT.
std::string_view UnitsText(ScaleUnits units);

}  // namespace persistence
