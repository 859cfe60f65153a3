#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "analysis/pass_view.h"

namespace analysis {

// A window stand-in: holds box texts, records every call in order and lets a test supply the
// stream window, the chart feed and the histogram step.
class FakePassView : public PassView {
 public:
  int graph_index = 0;
  bool stream_checked = false;
  bool dual_enabled_unchecked = false;

  std::map<Box, std::string> boxes;
  std::vector<std::string> calls;  // "Esampavg", "TimerOff", "FeedChart", "EndSteps", ...
  std::vector<Box> written;        // boxes in the order they were written
  std::string left_axis_title;
  std::string series2_title;
  int end_steps = 0;
  int timer_off = 0;
  int chart_feeds = 0;
  int histogram_builds = 0;
  double fed_centre_interval = 0;
  double fed_centre_frequency = 0;

  std::function<void(acquisition::PulseData&)> stream_window;
  std::function<void(const ChartInput&)> on_feed;

  int GraphIndex() const override { return graph_index; }
  bool StreamChecked() const override { return stream_checked; }
  bool DualEnabledUnchecked() const override { return dual_enabled_unchecked; }
  std::string BoxText(Box box) const override {
    const auto it = boxes.find(box);
    return it == boxes.end() ? std::string() : it->second;
  }

  void SetBoxText(Box box, const std::string& text) override {
    boxes[box] = text;
    written.push_back(box);
    calls.emplace_back(BoxName(box));
  }
  void SetLeftAxisTitle(const std::string& title) override {
    left_axis_title = title;
    calls.emplace_back("SetLeftAxisTitle");
  }
  void SetSeries2Title(const std::string& title) override {
    series2_title = title;
    calls.emplace_back("SetSeries2Title");
  }
  void TimerOff() override {
    ++timer_off;
    calls.emplace_back("TimerOff");
  }
  void TakeStreamWindow(acquisition::PulseData& data) override {
    calls.emplace_back("TakeStreamWindow");
    if (stream_window) stream_window(data);
  }
  void FeedChart(const ChartInput& input) override {
    ++chart_feeds;
    fed_centre_interval = input.CentreInterval;
    fed_centre_frequency = input.CentreFrequency;
    calls.emplace_back("FeedChart");
    if (on_feed) on_feed(input);
  }
  void BuildHistogram(const acquisition::PulseData& /*data*/) override {
    ++histogram_builds;
    calls.emplace_back("BuildHistogram");
  }
  void EndSteps() override {
    ++end_steps;
    calls.emplace_back("EndSteps");
  }

  bool Wrote(Box box) const { return boxes.count(box) != 0; }
};

}  // namespace analysis
