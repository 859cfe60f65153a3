#pragma once

// The window's fixed texts and the names of the files it keeps next to the executable.
namespace app::texts {

inline constexpr char kApplicationName[] = "K390cap";  // also the error box's title
inline constexpr char kCaption[] = "K390 Vantrix  -  Brantel Ltd  -  V1.0.15";
inline constexpr char kChartTitle[] = "K390 Jitter Data";
inline constexpr char kLiveChartTitle[] = "K390 Jitter Data [Live]";
inline constexpr char kWaitingChartTitle[] = "K390 Jitter Data [waiting for the instrument]";
inline constexpr char kVerticalScale[] = "Vertical Scale +/-";
inline constexpr char kHorizontalScale[] = "Horizontal Scale";
inline constexpr char kStreamUdp[] = "Stream-UDP";
inline constexpr char kStreamTcp[] = "Stream-TCP";
inline constexpr char kFileFilter[] = "Jibit Data (*.JIT)";
inline constexpr char kFileSuffix[] = "JIT";
// A reply kept as received, both channels' stamps (k390tool capture --dual); Load only.
inline constexpr char kReplyFilter[] = "Instrument reply (*.reply)";
inline constexpr char kTieView[] = "TIE";
inline constexpr char kStabilityView[] = "Stability";
inline constexpr char kProvingView[] = "Proving";
inline constexpr char kSpectrumView[] = "Spectrum";

inline constexpr char kStreamLogFile[] = "stream.dat";
inline constexpr char kResampledFile[] = "resampled.dat";

}  // namespace app::texts
