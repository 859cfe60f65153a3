#include "app/capture_timer.h"

namespace app {

CaptureTimer::CaptureTimer(QObject* parent) : QObject(parent) {
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &CaptureTimer::Tick);
}

void CaptureTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;  // an enabled timer keeps its running countdown
  enabled_ = enabled;
  if (enabled) {
    timer_.start(interval_);
  } else {
    timer_.stop();
  }
}

void CaptureTimer::SetInterval(int interval_ms) {
  if (interval_ms == interval_) return;
  interval_ = interval_ms;
  if (enabled_) timer_.start(interval_);
}

}  // namespace app
