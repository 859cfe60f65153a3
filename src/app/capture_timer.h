#pragma once

#include <QObject>
#include <QTimer>

#include "acquisition/cycle_driver.h"

namespace app {

// The capture timer (Timer1): enabled flag and interval in ms. Enabling a
// disabled timer, or changing the interval of an enabled one, starts a fresh countdown of the
// full interval; enabling an enabled timer or setting the interval it already has leaves the
// running countdown alone. Starts disabled at 1,000 ms. Window thread only.
class CaptureTimer : public QObject, public acquisition::TimerPort {
  Q_OBJECT

 public:
  explicit CaptureTimer(QObject* parent = nullptr);

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled) override;
  int Interval() const { return interval_; }
  void SetInterval(int interval_ms) override;
  // Milliseconds until the next tick; -1 while disabled.
  int RemainingTime() const { return enabled_ ? timer_.remainingTime() : -1; }

 signals:
  void Tick();

 private:
  QTimer timer_;
  bool enabled_ = false;
  int interval_ = 1000;
};

}  // namespace app
